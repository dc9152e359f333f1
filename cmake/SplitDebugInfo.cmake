# Install-time step: moves the debug information of the installed library ORBA_LIBRARY into
# ORBA_LIBRARY.debug, strips the library and links it to that file.
if(NOT ORBA_OBJCOPY OR NOT ORBA_STRIP)
  message(WARNING "objcopy or strip unknown: ${ORBA_LIBRARY} is installed unstripped")
  return()
endif()
get_filename_component(_orba_debug_name "${ORBA_LIBRARY}.debug" NAME)
get_filename_component(_orba_folder "${ORBA_LIBRARY}" DIRECTORY)
message(STATUS "Splitting debug information: ${ORBA_LIBRARY}.debug")
foreach(_orba_step
    "${ORBA_OBJCOPY};--only-keep-debug;${ORBA_LIBRARY};${ORBA_LIBRARY}.debug"
    "${ORBA_STRIP};--strip-unneeded;${ORBA_LIBRARY}"
    # objcopy names the link by the path it is given, so it runs beside the files.
    "${ORBA_OBJCOPY};--add-gnu-debuglink=${_orba_debug_name};${ORBA_LIBRARY}")
  execute_process(COMMAND ${_orba_step} WORKING_DIRECTORY "${_orba_folder}"
                  RESULT_VARIABLE _orba_result)
  if(NOT _orba_result EQUAL 0)
    message(FATAL_ERROR "'${_orba_step}' failed: ${_orba_result}")
  endif()
endforeach()
# The rewritten library keeps the permissions the install gave it.
file(CHMOD "${ORBA_LIBRARY}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
