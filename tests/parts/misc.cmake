# Tests of this area; included by tests/CMakeLists.txt.

# Operating-system, processor and memory information.
target_sources(orba_unit_tests PRIVATE unit/SystemInfoTest.cpp)
set_source_files_properties(unit/SystemInfoTest.cpp PROPERTIES
  COMPILE_DEFINITIONS "ORBA_FIXTURE_DIR=\"${CMAKE_CURRENT_SOURCE_DIR}/fixtures\"")
if(WIN32)
  target_sources(orba_unit_tests PRIVATE win32/SystemInfoWin32Test.cpp)
endif()
