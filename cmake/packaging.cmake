# The Windows zip, made with CPack in a configured cross build directory:
#   cpack -G ZIP   -> zeitwache-<version>-win64.zip (one flat folder)
# It packs exactly what the install rules name. The Debian package is built
# by debhelper from debian/ (scripts/package.sh deb).
include_guard(GLOBAL)

if(NOT WIN32)
  return()
endif()

set(CPACK_PACKAGE_NAME zeitwache)
set(CPACK_PACKAGE_VENDOR "the ZEITWACHE authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "process run-time watchdog")
# The executables come stripped from the linker (see CMakeLists.txt), which
# keeps the PE header free of a time stamp; strip(1) would add one.
set(CPACK_STRIP_FILES OFF)
# Packs come from the install rules alone, never from a stray source tree.
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_GENERATOR ZIP)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Reproducible: the staged files get the time of the last commit, and the
# zip is packed again without build-time fields, in name order (the
# executables carry no link time; see CMakeLists.txt).
set(CPACK_ZW_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/zip_timestamps.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/zip_repack.cmake)

include(CPack)
