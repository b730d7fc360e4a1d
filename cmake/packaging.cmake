# Packages, made with CPack in a configured build directory:
#   Linux:   cpack -G DEB   -> zeitwache_<version>_<arch>.deb
#   Windows: cpack -G ZIP   -> zeitwache-<version>-win64.zip (one flat folder)
# Both pack exactly what the install rules name.
include_guard(GLOBAL)

set(ZW_PACKAGE_CONTACT "ZEITWACHE maintainers <zeitwache@example.org>" CACHE STRING
    "Maintainer of the packages, as \"Name <address>\"")

set(CPACK_PACKAGE_NAME zeitwache)
set(CPACK_PACKAGE_VENDOR zeitwache)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ZW_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "process run-time watchdog")
# Debug symbols stay in the build tree.
set(CPACK_STRIP_FILES ON)
# Packs come from the install rules alone, never from a stray source tree.
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps (dpkg-dev) computes Depends from the linked libraries.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
ZEITWACHE reads a watch list of program names, each with a maximum run
time, and terminates the processes of those programs that run longer than
allowed, together with the suite's companion program SAMMLER. It polls
until none of the watched programs runs, then exits with code 100; it is
meant to be started by a systemd timer or cron.]=])
  # The package's own changelog and the compressed manual page are Debian's
  # business: they are added to the staging tree before it is packed, so
  # `cmake --install` gives the plain layout.
  configure_file(${PROJECT_SOURCE_DIR}/doc/debian/changelog.in
                 ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
  set(CPACK_ZW_DEB_CHANGELOG ${PROJECT_BINARY_DIR}/debian/changelog)
  set(CPACK_ZW_DEB_DOCDIR ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb_finish.cmake)
endif()

include(CPack)
