# What `cmake --install` and the Debian package put in place besides the programs.
include(GNUInstallDirs)

# A manual page: the version filled in, compressed as Debian keeps them (no name or time stamp in
# the gzip header, so the package is the same from one build to the next).
function(vexalo_install_manual_page source section)
  get_filename_component(name ${source} NAME)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${name})
  configure_file(${source} ${page} @ONLY)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${page} ${page}.tmp
    COMMAND gzip -9nf ${page}.tmp
    COMMAND ${CMAKE_COMMAND} -E rename ${page}.tmp.gz ${page}.gz
    DEPENDS ${page} VERBATIM)
  add_custom_target(manual_${name} ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
