# Tests of this area; included by tests/CMakeLists.txt.
target_sources(orba_unit_tests PRIVATE unit/HmacTest.cpp)
target_sources(orba_test_support PRIVATE support/Collector.cpp)

# End-to-end tests against the local collector (tools/collector), which runs on the Linux host
# for both targets. Further end-to-end suites add their sources to this binary.
add_executable(orba_e2e_tests
  e2e/TrackerE2ETest.cpp
  e2e/TransportE2ETest.cpp
)
target_link_libraries(orba_e2e_tests PRIVATE orba_test_support GTest::gtest_main)
if(NOT TARGET GTest::gtest_main)
  target_link_libraries(orba_e2e_tests PRIVATE gtest_main)
endif()
orba_set_warnings(orba_e2e_tests)
add_dependencies(orba_e2e_tests orba_tracker fake_steam)

set(ORBA_WITH_COLLECTOR ${CMAKE_CURRENT_SOURCE_DIR}/scripts/with-collector.sh)
# A second run against a server certificate signed through an intermediate authority, which the
# WinHTTP back end's own chain check must follow.
set(_orba_chain_filter
    --gtest_filter=TransportE2ETest.SignedPost*:TransportE2ETest.UntrustedServerGetsNothing)
# A third against a chain whose intermediate is marked as no authority, which must be refused.
set(_orba_not_ca_filter --gtest_filter=TransportChainE2ETest.*)
if(CMAKE_CROSSCOMPILING)
  # The collector is a Linux program: take it from a Linux build, by default the usual sibling
  # build tree when one has been built (looked for again at each configure).
  set(ORBA_COLLECTOR_EXECUTABLE "" CACHE FILEPATH
      "orba-collector of a Linux build, for the Windows end-to-end tests")
  set(_orba_collector ${ORBA_COLLECTOR_EXECUTABLE})
  if(NOT _orba_collector AND EXISTS ${CMAKE_SOURCE_DIR}/build/linux/bin/orba-collector)
    set(_orba_collector ${CMAKE_SOURCE_DIR}/build/linux/bin/orba-collector)
  endif()
  if(_orba_collector)
    message(STATUS "Windows end-to-end tests use ${_orba_collector}")
    add_test(NAME e2e_tests_windows
             COMMAND ${ORBA_WITH_COLLECTOR} ${_orba_collector} --
                     ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh $<TARGET_FILE:orba_e2e_tests>)
    add_test(NAME e2e_tests_intermediate_windows
             COMMAND ${ORBA_WITH_COLLECTOR} ${_orba_collector} --intermediate --
                     ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh $<TARGET_FILE:orba_e2e_tests>
                     ${_orba_chain_filter})
    add_test(NAME e2e_tests_not_ca_windows
             COMMAND ${ORBA_WITH_COLLECTOR} ${_orba_collector} --intermediate-not-ca --
                     ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh $<TARGET_FILE:orba_e2e_tests>
                     ${_orba_not_ca_filter})
    set_tests_properties(e2e_tests_windows e2e_tests_intermediate_windows e2e_tests_not_ca_windows
                         PROPERTIES
                         FIXTURES_REQUIRED wine ENVIRONMENT ORBA_BUILD_DIR=${CMAKE_BINARY_DIR})
  else()
    message(STATUS "Windows end-to-end tests not registered: set ORBA_COLLECTOR_EXECUTABLE to "
                   "the orba-collector of a Linux build")
  endif()
else()
  add_test(NAME e2e_tests
           COMMAND ${ORBA_WITH_COLLECTOR} $<TARGET_FILE:orba-collector> --
                   $<TARGET_FILE:orba_e2e_tests>)
  add_test(NAME e2e_tests_intermediate
           COMMAND ${ORBA_WITH_COLLECTOR} $<TARGET_FILE:orba-collector> --intermediate --
                   $<TARGET_FILE:orba_e2e_tests> ${_orba_chain_filter})
  add_test(NAME e2e_tests_not_ca
           COMMAND ${ORBA_WITH_COLLECTOR} $<TARGET_FILE:orba-collector> --intermediate-not-ca --
                   $<TARGET_FILE:orba_e2e_tests> ${_orba_not_ca_filter})
endif()
