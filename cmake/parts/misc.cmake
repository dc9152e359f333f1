# Sources and settings of this area; included by the top-level CMakeLists.txt.

# Operating-system, processor and memory information.
target_sources(orba_objects PRIVATE
  src/platform/SystemInfo.cpp
  src/platform/${ORBA_PLATFORM_DIR}/SystemInfo.cpp
)
if(WIN32)
  # version.dll: the kernel32.dll version resource that dates systems before Windows 10.
  target_link_libraries(orba_objects PUBLIC version)
endif()
