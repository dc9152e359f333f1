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
