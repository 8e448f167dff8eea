# Install rules for the programs and their data; the Debian package is made
# from them by debian/rules (`make package`). Bundles and the platform library
# install themselves (cmake/R2740.cmake, platform/CMakeLists.txt).

foreach(t R2740Helper R2740XPCService)
  r2740_install_rpath(${t} ${R2740_PKGLIBEXECDIR})
  install(TARGETS ${t} RUNTIME DESTINATION ${R2740_PKGLIBEXECDIR})
endforeach()
set(man_pages r2740-pde-cli.1 R2740Helper.8 R2740XPCService.8)
foreach(t r2740-pde-cli r2740-print-dialog)
  if(TARGET ${t})
    r2740_install_rpath(${t} ${CMAKE_INSTALL_BINDIR})
    install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# The print agent: every user's, started with the desktop session; the
# command that makes an ask queue is the administrator's.
if(TARGET r2740-print-agent)
  r2740_install_rpath(r2740-print-agent ${CMAKE_INSTALL_BINDIR})
  install(TARGETS r2740-print-agent RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  r2740_install_rpath(r2740-setup-queue ${CMAKE_INSTALL_SBINDIR})
  install(TARGETS r2740-setup-queue RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
  install(FILES packaging/r2740-print-agent.desktop DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart)
  list(APPEND man_pages r2740-print-agent.1 r2740-setup-queue.8)
endif()
# The print server's filter goes where cupsd runs filters from: its
# ServerBin's filter folder, /usr/lib/cups/filter on Debian (not the
# multiarch library folder, where cupsd never looks).
set(R2740_CUPS_FILTERDIR lib/cups/filter CACHE STRING "CUPS filter folder (ServerBin/filter), relative to the prefix")
if(TARGET r2740-filter)
  r2740_install_rpath(r2740-filter ${R2740_CUPS_FILTERDIR})
  install(TARGETS r2740-filter RUNTIME DESTINATION ${R2740_CUPS_FILTERDIR})
endif()
if(TARGET r2740-print-dialog)
  list(APPEND man_pages r2740-print-dialog.1)
  install(FILES packaging/r2740-print-dialog.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

install(FILES data/ppd/R2740.ppd data/ppd/R2740Mono.ppd DESTINATION ${R2740_PPDDIR})
install(DIRECTORY data/icons/ DESTINATION ${R2740_PKGDATADIR}/icons)

set(pkg ${CMAKE_BINARY_DIR}/packaging)
foreach(unit r2740-xpc.service r2740-xpc.socket r2740-refresh-profiles.service r2740-refresh-profiles.timer)
  configure_file(packaging/${unit} ${pkg}/${unit} @ONLY)
  install(FILES ${pkg}/${unit} DESTINATION ${R2740_SYSTEMD_UNITDIR})
endforeach()

# Man pages uncompressed: the Debian package (debian/) compresses them.
foreach(page ${man_pages})
  configure_file(packaging/man/${page}.in ${pkg}/${page} @ONLY)
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES ${pkg}/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

# What the install rules take, without the tests and benchmarks: the
# package build (debian/rules) builds only this when it runs no tests.
add_custom_target(r2740_installed)
get_property(bundles GLOBAL PROPERTY R2740_BUNDLES)
foreach(t r2740platform R2740Helper R2740XPCService r2740-pde-cli r2740-print-dialog
          r2740-print-agent r2740-setup-queue r2740-filter ${bundles})
  if(TARGET ${t} AND NOT t MATCHES "^TestPanel")
    add_dependencies(r2740_installed ${t})
  endif()
endforeach()

# The installed folders, for scripts (stage-root, the demos, the install test).
file(CONFIGURE OUTPUT ${pkg}/layout.env CONTENT [=[
R2740_FULL_PKGLIBDIR='@R2740_FULL_PKGLIBDIR@'
R2740_FULL_PKGLIBEXECDIR='@R2740_FULL_PKGLIBEXECDIR@'
R2740_FULL_PPDDIR='@R2740_FULL_PPDDIR@'
R2740_FULL_PROFILEDIR='@R2740_FULL_PROFILEDIR@'
R2740_BINDIR='@CMAKE_INSTALL_FULL_BINDIR@'
R2740_SYSTEMD_UNITDIR='@R2740_SYSTEMD_UNITDIR@'
]=] @ONLY)
