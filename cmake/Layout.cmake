# Where an install keeps each part (GNUInstallDirs). The same folders are
# compiled into the platform's path table (platform/system/layout.cpp.in), so
# a build is made for one prefix: /usr unless told otherwise, because CUPS
# finds PPDs only under /usr/share/ppd (or /usr/local/share/ppd).
# A cache that already found libcups (an earlier configure) without this
# file's mark was made when /usr/local was the default nobody chose.
if(NOT R2740_PREFIX_CHOSEN)
  if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT OR
     (DEFINED CACHE{CUPS_INCLUDE_DIR} AND CMAKE_INSTALL_PREFIX STREQUAL "/usr/local"))
    set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install path prefix" FORCE)
  endif()
  set(R2740_PREFIX_CHOSEN ON CACHE INTERNAL "")
endif()
include(GNUInstallDirs)

# Relative to the prefix (install rules); the FULL forms go into the table.
set(R2740_PKGLIBDIR ${CMAKE_INSTALL_LIBDIR}/r2740)          # PDEs/ (bundles), lib/ (platform library)
set(R2740_PKGLIBEXECDIR ${CMAKE_INSTALL_LIBEXECDIR}/r2740)  # helper and service
set(R2740_PKGDATADIR ${CMAKE_INSTALL_DATADIR}/r2740)        # icons
set(R2740_PPDDIR ${CMAKE_INSTALL_DATADIR}/ppd/r2740)
foreach(v PKGLIBDIR PKGLIBEXECDIR PKGDATADIR PPDDIR)
  set(R2740_FULL_${v} ${CMAKE_INSTALL_PREFIX}/${R2740_${v}})
endforeach()
set(R2740_FULL_PROFILEDIR ${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/lib/r2740/profiles)
# The ICC profiles a user browses for: the shared colour folder.
set(R2740_FULL_ICCDIR ${CMAKE_INSTALL_FULL_DATADIR}/color/icc)
# Not under the prefix: a socket path must stay short (108 bytes), and
# /run is where systemd's socket unit makes it.
set(R2740_RUNDIR /run/r2740 CACHE PATH "Folder of the profile service's socket")
set(R2740_SYSTEMD_UNITDIR /lib/systemd/system CACHE PATH "systemd system unit folder")

# Programs and libraries a package ships are linked read-only after
# relocation and resolved at load (the service runs as root).
add_link_options(LINKER:-z,relro,-z,now)

# Run paths that find the platform library from where each part is installed,
# relative to $ORIGIN so that an unpacked or relocated install works too.
function(r2740_install_rpath target from)
  file(RELATIVE_PATH rel ${CMAKE_INSTALL_PREFIX}/${from} ${CMAKE_INSTALL_PREFIX}/${R2740_PKGLIBDIR}/lib)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${rel}")
endfunction()
