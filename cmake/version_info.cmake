# zw_version_info(TARGET DESCRIPTION): links a VERSIONINFO resource with the
# project's version into a Windows executable (compiled by windres).
include_guard(GLOBAL)
enable_language(RC)

function(zw_version_info target description)
  set(zw_rc_name ${target})
  set(zw_rc_description "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/platform/win32/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
