# zw_app_manifest(TARGET): links the application manifest
# (platform/win32/zeitwache.manifest: asInvoker, Windows 10 and 11,
# longPathAware) into a Windows executable.
include_guard(GLOBAL)
enable_language(RC)

function(zw_app_manifest target)
  set(zw_manifest_file ${PROJECT_SOURCE_DIR}/platform/win32/zeitwache.manifest)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_manifest.rc)
  configure_file(${PROJECT_SOURCE_DIR}/platform/win32/manifest.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${zw_manifest_file})
endfunction()
