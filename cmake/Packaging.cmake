# Installation, the CMake package a consumer finds, and the release archive of this target.
#
#   cmake --install BUILD --prefix DIR    headers, library, package files, tools, docs, notices
#   cpack --config BUILD/CPackConfig.cmake    the same as one archive (TGZ on Linux, ZIP for Windows)
include(CMakePackageConfigHelpers)

set(ORBA_INSTALL_CMAKE_DIR lib/cmake/OrbaTracker)
set(ORBA_INSTALL_DOC_DIR share/doc/OrbaTracker)

install(TARGETS orba_tracker EXPORT OrbaTrackerTargets
  RUNTIME DESTINATION bin
  LIBRARY DESTINATION lib
  ARCHIVE DESTINATION lib)
# The whole folder, so that a new public header ships without a change here.
install(DIRECTORY include/orba DESTINATION include)

# The installed library goes out stripped; its debug information stays in a file beside it that
# debuggers find through the library's debug link. The build tree keeps the full library.
if(WIN32)
  set(_orba_library_dir bin)
else()
  set(_orba_library_dir lib)
endif()
install(CODE "
  set(ORBA_LIBRARY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${_orba_library_dir}/$<TARGET_FILE_NAME:orba_tracker>\")
  set(ORBA_OBJCOPY \"${CMAKE_OBJCOPY}\")
  set(ORBA_STRIP \"${CMAKE_STRIP}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/SplitDebugInfo.cmake\")")

if(WIN32)
  # An import library for MSVC's and LLVM's linkers beside mingw's libOrbaTracker.dll.a, made
  # after each link from the DLL's own export table.
  find_program(ORBA_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14
               DOC "llvm-dlltool, for the MSVC-style import library")
  if(ORBA_DLLTOOL)
    set(ORBA_IMPORT_DEF ${CMAKE_BINARY_DIR}/import/OrbaTracker.def)
    set(ORBA_IMPORT_LIB ${CMAKE_BINARY_DIR}/import/OrbaTracker.lib)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/import)
    add_custom_command(TARGET orba_tracker POST_BUILD
      COMMAND ${CMAKE_CURRENT_LIST_DIR}/make-import-library.sh ${CMAKE_OBJDUMP} ${ORBA_DLLTOOL}
              $<TARGET_FILE:orba_tracker> ${ORBA_IMPORT_DEF} ${ORBA_IMPORT_LIB}
      BYPRODUCTS ${ORBA_IMPORT_DEF} ${ORBA_IMPORT_LIB}
      COMMENT "Import library OrbaTracker.lib for MSVC-style linkers"
      VERBATIM)
    install(FILES ${ORBA_IMPORT_LIB} DESTINATION lib)
  else()
    message(WARNING "llvm-dlltool not found: the package will lack lib/OrbaTracker.lib "
                    "(install Debian's llvm)")
  endif()
endif()

install(EXPORT OrbaTrackerTargets
  NAMESPACE OrbaTracker::
  FILE OrbaTrackerTargets.cmake
  DESTINATION ${ORBA_INSTALL_CMAKE_DIR})
configure_package_config_file(cmake/OrbaTrackerConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/OrbaTrackerConfig.cmake
  INSTALL_DESTINATION ${ORBA_INSTALL_CMAKE_DIR})
# 0.x releases promise nothing across minor versions.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/OrbaTrackerConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${CMAKE_BINARY_DIR}/package/OrbaTrackerConfig.cmake
  ${CMAKE_BINARY_DIR}/package/OrbaTrackerConfigVersion.cmake
  DESTINATION ${ORBA_INSTALL_CMAKE_DIR})

install(TARGETS orba-host RUNTIME DESTINATION bin)
if(TARGET orba-collector)
  install(TARGETS orba-collector RUNTIME DESTINATION bin)
endif()
install(FILES tools/orba-host/sample-session.txt DESTINATION ${ORBA_INSTALL_DOC_DIR}/examples)
install(FILES README.md DESTINATION ${ORBA_INSTALL_DOC_DIR})
# Laid out as in the source tree, so that the README's links and the docs' own index hold.
install(DIRECTORY docs/ DESTINATION ${ORBA_INSTALL_DOC_DIR}/docs
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
if(WIN32)
  install(DIRECTORY LICENSES/ DESTINATION ${ORBA_INSTALL_DOC_DIR}/LICENSES)
else()
  # The Linux library links the GCC and system runtimes dynamically and ships none of them.
  install(DIRECTORY LICENSES/ DESTINATION ${ORBA_INSTALL_DOC_DIR}/LICENSES
          PATTERN gcc-runtime-library-exception.txt EXCLUDE PATTERN mingw-w64-runtime.txt EXCLUDE)
endif()

set(CPACK_PACKAGE_NAME OrbaTracker)
set(CPACK_PACKAGE_VENDOR ORBA)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ORBA tracker plug-in for PC games")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x64)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
