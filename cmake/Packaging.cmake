# Installing, and the Debian packages. `cmake --install BUILD` puts the
# programs, the server and the page assets under the prefix; `cpack -G DEB`
# in the build folder makes two packages from the same rules, without
# compiling anything (build first):
#   heartpage         the program, heartpage-cli, their desktop entry, icons,
#                     AppStream metadata and manual pages
#   heartpage-server  the server, the page assets, its systemd service
# scripts/package.sh makes them from a clean Release build. What only the
# packages need (the service, /etc/default, the copyright files) is excluded
# from a plain `cmake --install`.
include(GNUInstallDirs)

# What the programs say they are: --version, and the desktop's name for them.
set(HEARTPAGE_APP_ID io.github.heartpage.HeartPage)
add_library(heartpage_identity INTERFACE)
target_compile_definitions(heartpage_identity INTERFACE
  HEARTPAGE_VERSION="${PROJECT_VERSION}" HEARTPAGE_APP_ID="${HEARTPAGE_APP_ID}")

if(HEARTPAGE_FUZZ)
  return()
endif()

set(HEARTPAGE_HOMEPAGE "https://github.com/heartpage/heartpage" CACHE STRING
    "The project's home page, named in the packages and the AppStream metadata")
set(HEARTPAGE_PACKAGE_MAINTAINER "HeartPage developers <heartpage@example.org>" CACHE STRING
    "The Maintainer of the Debian packages")

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${PROJECT_BINARY_DIR}/packaging)
set(HEARTPAGE_VERSION ${PROJECT_VERSION})
set(HEARTPAGE_SCREENSHOTS ${HEARTPAGE_HOMEPAGE}/raw/main/docs/screenshots)

# Manual pages and changelogs go compressed, with neither name nor time in
# the gzip header, so that the same text makes the same bytes.
function(heartpage_gzipped source output)
  configure_file(${source} ${output}.in @ONLY)
  execute_process(COMMAND gzip -9nc ${output}.in OUTPUT_FILE ${output} COMMAND_ERROR_IS_FATAL ANY)
endfunction()
# The server is a daemon with its operator's commands: section 8, as Debian
# files them.
foreach(page heartpage.1 heartpage-cli.1 heartpage-server.8)
  heartpage_gzipped(${packaging}/man/${page} ${generated}/${page}.gz)
endforeach()
heartpage_gzipped(${packaging}/changelog ${generated}/changelog.gz)
configure_file(${packaging}/${HEARTPAGE_APP_ID}.metainfo.xml.in
               ${generated}/${HEARTPAGE_APP_ID}.metainfo.xml @ONLY)

# heartpage: the executables are installed by app/.
install(FILES ${generated}/heartpage.1.gz ${generated}/heartpage-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
install(FILES ${packaging}/${HEARTPAGE_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT program)
install(FILES ${generated}/${HEARTPAGE_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT program)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${packaging}/icons/${size}x${size}/heartpage.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${HEARTPAGE_APP_ID}.png COMPONENT program)
endforeach()
install(FILES ${packaging}/icons/heartpage.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${HEARTPAGE_APP_ID}.svg COMPONENT program)
install(FILES ${packaging}/copyright ${generated}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/heartpage COMPONENT program EXCLUDE_FROM_ALL)
install(FILES ${packaging}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME heartpage
        COMPONENT program EXCLUDE_FROM_ALL)

# heartpage-server: the executable is installed by server/, the page assets
# by pages/.
install(FILES ${generated}/heartpage-server.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/server/deploy/nginx.conf
              ${PROJECT_SOURCE_DIR}/server/deploy/nginx-balanced.conf
              ${PROJECT_SOURCE_DIR}/server/deploy/heartpage-server@.service
              ${PROJECT_SOURCE_DIR}/server/deploy/heartpage-server.env
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/heartpage-server/examples COMPONENT server)
install(FILES ${packaging}/server/copyright ${generated}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/heartpage-server
        COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${packaging}/server/heartpage-server.service
        DESTINATION lib/systemd/system COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${packaging}/server/heartpage-server.default
        DESTINATION /etc/default RENAME heartpage-server COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${packaging}/server/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME heartpage-server
        COMPONENT server EXCLUDE_FROM_ALL)

# cpack packages what the build made; it must not start a build of its own
# (in a shared build folder, or in a test).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME heartpage)
set(CPACK_PACKAGE_VENDOR "HeartPage developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${HEARTPAGE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL program server)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${HEARTPAGE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${HEARTPAGE_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME heartpage)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION web)
# libcurl is opened at run time, so shlibdeps cannot see it; the fonts show
# the Chinese text and the hearts and faces typed into the fields.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "libcurl4, fonts-noto-cjk, fonts-noto-color-emoji")
# The preview opens the desktop's browser; Qt's own Chinese texts.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_RECOMMENDS "xdg-utils, qt6-translations-l10n")
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SUGGESTS "heartpage-server")
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION
    "make a love-declaration web page and publish it
HeartPage turns a few lines of personal text into a finished Chinese
love-declaration web page in one of eight animated styles, shows it in the
browser, and publishes it to a publishing server under a short name of
your choosing; then it shows the page's address, copies it and draws its
QR code.
.
This package holds the desktop program and heartpage-cli, which builds,
previews and publishes the same pages from the command line.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME heartpage-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION httpd)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "nginx, postgresql")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${packaging}/server/postinst ${packaging}/server/prerm ${packaging}/server/postrm
    ${packaging}/server/conffiles)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "publishing site for HeartPage love-declaration pages
heartpage-server is the site that HeartPage and heartpage-cli publish pages
to: it claims names for the senders' machines, stores and serves their
pages, previews and files, and serves the pages' scripts, pictures and
music. Pages are kept in SQLite, or in PostgreSQL shared by several
servers; it speaks HTTP and HTTPS, or stands behind nginx.
.
Installing starts it as a hardened systemd service of its own user,
listening on 127.0.0.1:8936 with its data in /var/lib/heartpage-server;
settings are in /etc/default/heartpage-server.")

include(CPack)
