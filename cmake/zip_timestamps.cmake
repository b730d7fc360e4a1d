# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) on the staged files before they are
# zipped: every file and folder gets the time of the last commit, so that the
# zip does not tell when it was built. SOURCE_DATE_EPOCH, when set, wins; with
# neither, the files keep their own times.
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
  execute_process(COMMAND git -C "${CPACK_ZW_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    set(epoch "")
  endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  message(WARNING "no commit time: the zip carries the build's time stamps")
  return()
endif()
execute_process(COMMAND find "${CPACK_TEMPORARY_DIRECTORY}" -exec touch -h -d "@${epoch}" {} +
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot set the time stamps in ${CPACK_TEMPORARY_DIRECTORY}")
endif()
