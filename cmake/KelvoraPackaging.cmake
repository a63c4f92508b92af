# Installation rules and the Debian packages (CPack):
#   kelvora         the client: program, export template, desktop entry, icons, the MIME type of
#                   series files (*.kvf), the question bank converter, manual pages
#   kelvora-server  the poll server: program, systemd service with its own user, manual page
# "cmake --install <build>" installs both; "cpack" in the build folder makes both packages.
# Included from the root CMakeLists.txt after every target exists.

include(GNUInstallDirs)

set(KELVORA_DEB_MAINTAINER "Kelvora maintainers <maintainers@kelvora.example>"
    CACHE STRING "Maintainer field of the Debian packages: Name <address>")
# systemd units of packages lie below the prefix's lib folder (Debian: /usr/lib/systemd/system).
set(KELVORA_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Folder of the server's systemd unit, relative to the installation prefix")

set(pkg_src ${PROJECT_SOURCE_DIR}/packaging)
set(pkg_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${pkg_out})

# Manual pages and the changelog go into the packages compressed, as Debian wants them: gzip -9
# without name and time stamp, so that the same sources give the same bytes. Done at configure
# time; CMake configures again when one of the sources changes.
configure_file(${pkg_src}/changelog.in ${pkg_out}/changelog @ONLY)
find_program(KELVORA_GZIP gzip)
function(kelvora_gzip source target)
  if(KELVORA_GZIP)
    execute_process(COMMAND ${KELVORA_GZIP} -9 -n -c ${source} OUTPUT_FILE ${target} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "gzip ${source} failed")
    endif()
  else()
    file(ARCHIVE_CREATE OUTPUT ${target} PATHS ${source} FORMAT raw COMPRESSION GZip)
  endif()
endfunction()
kelvora_gzip(${pkg_out}/changelog ${pkg_out}/changelog.gz)
kelvora_gzip(${pkg_src}/kelvora.1 ${pkg_out}/kelvora.1.gz)
kelvora_gzip(${pkg_src}/kelvora-server.1 ${pkg_out}/kelvora-server.1.gz)
kelvora_gzip(${pkg_src}/kelvora-convert.1 ${pkg_out}/kelvora-convert.1.gz)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${pkg_src}/kelvora.1 ${pkg_src}/kelvora-server.1 ${pkg_src}/kelvora-convert.1)

set(rw_r_r OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# ---- the client -----------------------------------------------------------------------------------
if(TARGET kelvora)
  install(TARGETS kelvora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
  # Data files: the program reads them from ../share/kelvora/ beside its folder (core/data_files.h).
  install(FILES ${PROJECT_SOURCE_DIR}/data/xmlheader.txt
          DESTINATION ${CMAKE_INSTALL_DATADIR}/kelvora PERMISSIONS ${rw_r_r} COMPONENT client)
  # The association of series files for every user: desktop entry and MIME package. The shared
  # MIME database, the desktop database and the icon cache are brought up to date by the dpkg
  # triggers of shared-mime-info, desktop-file-utils and hicolor-icon-theme.
  install(FILES ${pkg_src}/kelvora.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications PERMISSIONS ${rw_r_r} COMPONENT client)
  install(FILES ${pkg_src}/kelvora-series.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages PERMISSIONS ${rw_r_r} COMPONENT client)
  foreach(size 16 32 48 64 128 256)
    set(png ${PROJECT_SOURCE_DIR}/data/icons/kelvora-${size}.png)
    set(dir ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size})
    install(FILES ${png} DESTINATION ${dir}/apps RENAME kelvora.png PERMISSIONS ${rw_r_r} COMPONENT client)
    install(FILES ${png} DESTINATION ${dir}/mimetypes RENAME application-x-kelvora-series.png
            PERMISSIONS ${rw_r_r} COMPONENT client)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/data/kelvora.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          PERMISSIONS ${rw_r_r} COMPONENT client)
  install(FILES ${pkg_out}/kelvora.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 PERMISSIONS ${rw_r_r}
          COMPONENT client)
  # The question bank converter, for lecturers who move whole banks and for scripts.
  install(TARGETS kelvora-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
  install(FILES ${pkg_out}/kelvora-convert.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 PERMISSIONS ${rw_r_r}
          COMPONENT client)
  install(FILES ${pkg_src}/copyright ${pkg_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelvora
          PERMISSIONS ${rw_r_r} COMPONENT client)
endif()

# ---- the server -----------------------------------------------------------------------------------
if(TARGET kelvora-server)
  install(TARGETS kelvora-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
  # The unit names the program by its installed path, known only when installing: the prefix of
  # "cmake --install --prefix", or /usr for the package (CPack installs with DESTDIR).
  install(CODE "
    set(KELVORA_SERVER_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/kelvora-server\")
    set(unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${KELVORA_SYSTEMD_UNIT_DIR}/kelvora-server.service\")
    message(STATUS \"Installing: \${unit}\")
    configure_file(\"${pkg_src}/kelvora-server.service.in\" \"\${unit}\" @ONLY)
    file(CHMOD \"\${unit}\" PERMISSIONS ${rw_r_r})
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${unit}\")" COMPONENT server)
  install(FILES ${pkg_out}/kelvora-server.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 PERMISSIONS ${rw_r_r}
          COMPONENT server)
  install(FILES ${pkg_src}/copyright ${pkg_out}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelvora-server PERMISSIONS ${rw_r_r} COMPONENT server)
  # The reverse proxies in front of it, as server/README.md explains them.
  install(FILES ${pkg_src}/examples/kelvora-server.nginx ${pkg_src}/examples/Caddyfile
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelvora-server/examples PERMISSIONS ${rw_r_r} COMPONENT server)
  # The lecturers' help document, where the server looks for it when it is installed.
  if(TARGET kelvora-help-pdf)
    install(FILES ${CMAKE_BINARY_DIR}/bin/Dozenten_Hilfe.pdf DESTINATION ${CMAKE_INSTALL_DATADIR}/kelvora-server
            PERMISSIONS ${rw_r_r} COMPONENT server)
  endif()
endif()

# ---- CPack: one Debian package per component ----------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvora)
set(CPACK_PACKAGE_VENDOR "The Kelvora developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KELVORA_DEB_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON) # install scripts see the real prefix (/usr), see the server's unit
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL client server)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KELVORA_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SOURCE kelvora)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Maintainer scripts 0755, control files 0644, as dpkg and lintian expect.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME kelvora)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION education)
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "fonts-liberation2, qt6-translations-l10n, xdg-utils")
# The first line is the synopsis; CPack indents the lines after it.
set(CPACK_COMPONENT_CLIENT_DESCRIPTION
   "lecturer's client of the Kelvora audience response system
Kelvora presents a series of multiple-choice questions in the lecture hall
and opens a live poll for each on a Kelvora poll server; the audience votes
from their phones, and the result is shown as bars. It also runs instant
polls, edits series files (*.kvf) and exports the stored results as a
spreadsheet. kelvora-convert moves question banks of learning platforms
(GIFT, Moodle XML, Aiken) into series files and back.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME kelvora-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser, libpq5")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${pkg_src}/debian-server/postinst ${pkg_src}/debian-server/prerm ${pkg_src}/debian-server/postrm)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
   "self-hosted poll server of the Kelvora audience response system
kelvora-server keeps the polls of the Kelvora client, counts the audience's
votes and serves the page the audience votes on, with accounts, polls and
results in one SQLite database. The package runs it as a systemd service
under its own user, with its database in /var/lib/kelvora-server.")

include(CPack)
