# Tests of this area; included by tests/CMakeLists.txt.
target_sources(orba_unit_tests PRIVATE
  unit/MainWindowTest.cpp
  unit/MessageBlockTest.cpp
  unit/MessageChannelTest.cpp
)
if(WIN32)
  target_sources(orba_unit_tests PRIVATE
    win32/MainWindowWin32Test.cpp
    win32/MessageChannelWin32Test.cpp
  )
  target_link_libraries(orba_unit_tests PRIVATE user32)
  # A receiving process for the channel tests: a host that loads the DLL and owns one window.
  add_executable(orba_ipc_peer win32/IpcPeer.cpp)
  target_link_libraries(orba_ipc_peer PRIVATE orba_tracker user32)
  target_include_directories(orba_ipc_peer PRIVATE ${PROJECT_SOURCE_DIR}/include)
  orba_set_warnings(orba_ipc_peer)
  add_dependencies(orba_unit_tests orba_ipc_peer)
else()
  target_sources(orba_unit_tests PRIVATE unit/PosixMessageTransportTest.cpp)
endif()
