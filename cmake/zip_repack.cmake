# Run by cpack (CPACK_POST_BUILD_SCRIPTS) on the zip it made: packs the staged
# folder again with Info-ZIP, without the extra fields in which libarchive
# records each file's access and inode-change times (the time of the build),
# with its files in name order and DOS times in UTC. Two builds of one commit
# then give the same bytes.
get_filename_component(parent "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY)
get_filename_component(top "${CPACK_TEMPORARY_DIRECTORY}" NAME)
file(GLOB_RECURSE files RELATIVE "${parent}" "${CPACK_TEMPORARY_DIRECTORY}/*")
list(SORT files)
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  if(NOT zip MATCHES "\\.zip$")
    continue()
  endif()
  file(REMOVE "${zip}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC zip -X -q "${zip}" "${top}/" ${files}
                  WORKING_DIRECTORY "${parent}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot pack ${zip} again (is zip installed?)")
  endif()
endforeach()
