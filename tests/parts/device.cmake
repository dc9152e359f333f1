# Tests of this area; included by tests/CMakeLists.txt.

# Device identity, graphics adapters, locale and advertising.
target_sources(orba_unit_tests PRIVATE
  unit/DeviceCachesTest.cpp
  unit/HresultErrorTest.cpp
  unit/LocaleTagTest.cpp
  unit/WinRtActivationTest.cpp
)
if(NOT WIN32)
  target_sources(orba_unit_tests PRIVATE unit/DeviceIdentityTest.cpp unit/SysfsDevicesTest.cpp)
  set_source_files_properties(unit/SysfsDevicesTest.cpp PROPERTIES
    COMPILE_DEFINITIONS "ORBA_DEVICE_FIXTURE_DIR=\"${CMAKE_CURRENT_SOURCE_DIR}/fixtures\"")
endif()
if(WIN32)
  target_sources(orba_unit_tests PRIVATE win32/DeviceIdentityWin32Test.cpp)
  # The stand-in for the Windows Runtime classes Wine does not register, beside the test program
  # under "Windows.dll", the last name the activation fallback derives from each class name.
  # (A "Windows.Globalization.dll" would not do: Wine loads its own of that name.)
  add_library(orba_fake_windows_runtime SHARED win32/FakeWindowsRuntime.cpp)
  target_include_directories(orba_fake_windows_runtime PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(orba_fake_windows_runtime PRIVATE runtimeobject)
  set_target_properties(orba_fake_windows_runtime PROPERTIES OUTPUT_NAME Windows PREFIX "")
  add_dependencies(orba_unit_tests orba_fake_windows_runtime)
endif()
