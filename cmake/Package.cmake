# Install rules for the programs and their data, and the Debian package made
# from this build by CPack (`make package`). Bundles and the platform library
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
if(TARGET r2740-print-dialog)
  list(APPEND man_pages r2740-print-dialog.1)
  install(FILES packaging/r2740-print-dialog.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

install(FILES data/ppd/R2740.ppd data/ppd/R2740Mono.ppd DESTINATION ${R2740_PPDDIR})
install(DIRECTORY data/icons/ DESTINATION ${R2740_PKGDATADIR}/icons)

set(pkg ${CMAKE_BINARY_DIR}/packaging)
foreach(unit r2740-xpc.service r2740-xpc.socket)
  configure_file(packaging/${unit} ${pkg}/${unit} @ONLY)
  install(FILES ${pkg}/${unit} DESTINATION ${R2740_SYSTEMD_UNITDIR})
endforeach()

# Man pages and the changelog are installed compressed, as Debian wants
# them (gzip -n: no time stamp, so the same build gives the same bytes).
set(R2740_MAINTAINER "R2740 driver maintainers <r2740-maintainers@lists.orvessa.example>")
set(CPACK_DEBIAN_VERSION ${PROJECT_VERSION}-1)
configure_file(packaging/debian/changelog.in ${pkg}/changelog.Debian @ONLY)
set(gz ${pkg}/changelog.Debian.gz)
foreach(page ${man_pages})
  configure_file(packaging/man/${page}.in ${pkg}/${page} @ONLY)
  list(APPEND gz ${pkg}/${page}.gz)
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES ${pkg}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
foreach(f ${gz})
  string(REGEX REPLACE "\\.gz$" "" from ${f})
  add_custom_command(OUTPUT ${f} COMMAND gzip -9nc ${from} > ${f} DEPENDS ${from} VERBATIM)
endforeach()
add_custom_target(r2740_compressed_docs ALL DEPENDS ${gz})
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/r2740)
install(FILES packaging/debian/copyright ${pkg}/changelog.Debian.gz DESTINATION ${docdir})
install(FILES packaging/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
  RENAME r2740)

# The maintainer scripts name the state folder the build compiled in.
set(R2740_STATEDIR ${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/lib/r2740)
foreach(script postinst prerm postrm)
  configure_file(packaging/debian/${script} ${pkg}/debian/${script} @ONLY)
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

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME r2740)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${R2740_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print dialog extensions for R2740 printers")
set(CPACK_PACKAGE_DESCRIPTION [=[
Printer-specific panels for the print dialog of the R2740 family of
networked multifunction printers: Color Options (with the colour profiles
stored on the printer) and Security (secure print, user authentication,
section management). The package holds the two plug-ins, the PPDs for
CUPS, a Qt print dialog and a command-line host that show them, and the
profile service that keeps each user's profile file, started by a systemd
socket unit for every user.]=])
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups")
# Files under /etc are the administrator's once installed.
file(WRITE ${pkg}/debian/conffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart/r2740-print-agent.desktop\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${pkg}/debian/postinst ${pkg}/debian/prerm ${pkg}/debian/postrm
  ${pkg}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Absolute destinations (the systemd units) need the real prefix under DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
include(CPack)
