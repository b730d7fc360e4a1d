# Run by CPack on the staging tree of the .deb, after the install rules and
# before packing. Debian keeps manual pages and the package's changelog
# compressed, with gzip -9n so that the package does not depend on the time
# it was built.
set(zw_root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT IS_DIRECTORY "${zw_root}/${CPACK_ZW_DEB_DOCDIR}")
  message(FATAL_ERROR "staging tree without ${CPACK_ZW_DEB_DOCDIR}: ${zw_root}")
endif()

set(zw_changelog "${zw_root}/${CPACK_ZW_DEB_DOCDIR}/changelog")
file(COPY_FILE "${CPACK_ZW_DEB_CHANGELOG}" "${zw_changelog}")
# The copy keeps the permissions of a file in the build tree, which follow
# the umask; documentation is 0644 in a package.
file(CHMOD "${zw_changelog}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(GLOB_RECURSE zw_compress
     "${zw_root}/share/man/*.[1-9]" "${zw_root}/${CPACK_ZW_DEB_DOCDIR}/changelog")
foreach(file IN LISTS zw_compress)
  execute_process(COMMAND gzip -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
