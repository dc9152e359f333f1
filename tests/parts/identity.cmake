# Tests of this area; included by tests/CMakeLists.txt.
target_sources(orba_unit_tests PRIVATE
  unit/IdentityFileTest.cpp
  unit/UuidTest.cpp
)
if(WIN32)
  target_sources(orba_unit_tests PRIVATE win32/IdentityStoreWin32Test.cpp)
else()
  target_sources(orba_unit_tests PRIVATE unit/IdentityStorePosixTest.cpp)
endif()
