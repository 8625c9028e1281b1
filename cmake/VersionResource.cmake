# keep_version_resource(TARGET DESCRIPTION): gives a Windows program the suite's version resource.
function(keep_version_resource target description)
  set(KEEP_RC_DESCRIPTION "${description}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()
