# Tests of this area; included by tests/CMakeLists.txt.
target_sources(orba_unit_tests PRIVATE
  unit/NetworkProcessTest.cpp
  unit/StringEncodingTest.cpp
)
if(WIN32)
  target_sources(orba_unit_tests PRIVATE win32/NetworkProcessWin32Test.cpp)
  target_link_libraries(orba_unit_tests PRIVATE ws2_32)
  # A program that carries a version resource, run by the tests to read its own version.
  add_executable(orba_versioned_app win32/VersionedApp.cpp win32/VersionedApp.rc)
  target_include_directories(orba_versioned_app PRIVATE ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(orba_versioned_app PRIVATE orba_tracker)
  orba_set_warnings(orba_versioned_app)
  add_dependencies(orba_unit_tests orba_versioned_app)
else()
  target_sources(orba_unit_tests PRIVATE unit/NetworkProcessLinuxTest.cpp)
  set_source_files_properties(unit/NetworkProcessLinuxTest.cpp PROPERTIES
    COMPILE_DEFINITIONS ORBA_UTILITIES_FIXTURES_DIR="${CMAKE_CURRENT_SOURCE_DIR}/fixtures")
endif()
