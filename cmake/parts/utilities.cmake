# Sources and settings of this area; included by the top-level CMakeLists.txt.
target_sources(orba_objects PRIVATE
  src/core/StringEncoding.cpp
  src/platform/NetworkProcess.cpp
  src/platform/${ORBA_PLATFORM_DIR}/NetworkProcess.cpp
)
if(WIN32)
  target_link_libraries(orba_objects PUBLIC iphlpapi version ws2_32)
endif()
