# Sources and settings of this area; included by the top-level CMakeLists.txt.
# Main-window size and the text channel between processes.
target_sources(orba_objects PRIVATE
  src/platform/MainWindow.cpp
  src/platform/MessageBlock.cpp
  src/platform/MessageChannel.cpp
  src/platform/${ORBA_PLATFORM_DIR}/MessageTransport.cpp
  src/platform/${ORBA_PLATFORM_DIR}/TopLevelWindows.cpp
)
if(WIN32)
  target_link_libraries(orba_objects PUBLIC user32)
else()
  # The channel's receiver runs on a thread of its own.
  find_package(Threads REQUIRED)
  target_link_libraries(orba_objects PUBLIC Threads::Threads)
endif()
