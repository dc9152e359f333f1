# Sources and settings of this area; included by the top-level CMakeLists.txt.
# The persisted install identity and UUIDs.
target_sources(orba_objects PRIVATE
  src/platform/IdentityFile.cpp
  src/platform/Uuid.cpp
  src/platform/${ORBA_PLATFORM_DIR}/IdentityStore.cpp
)
if(WIN32)
  # ole32: CoCreateGuid; bcrypt: the random source behind it; advapi32: the registry.
  target_link_libraries(orba_objects PUBLIC ole32 bcrypt advapi32)
endif()
