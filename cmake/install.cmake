# What `cmake --install` puts in place, and the Debian package CPack makes of it
# (scripts/package.sh): the two programs, the desktop entry, the icons, the
# file types with KOLT as their handler, the AppStream metainfo, the manual
# pages and the shell completion.
include(GNUInstallDirs)

set(KOLT_APP_ID org.kolt.KOLT)
set(KOLT_RELEASE_DATE 2026-12-09) # of PROJECT_VERSION; the manual pages and the metainfo show it
set(KOLT_HOMEPAGE "" CACHE STRING
    "Where KOLT is published (https://...); the metainfo then names it and its screenshot there")
set(KOLT_MAINTAINER "KOLT developers <kolt-dev@kolt.org>" CACHE STRING "The package's maintainer")

set(res ${PROJECT_SOURCE_DIR}/resources)
set(gen ${PROJECT_BINARY_DIR}/install)

install(TARGETS kolt-headless RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(KOLT_FRONTEND)
    install(TARGETS kolt RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${res}/desktop/${KOLT_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

# AppStream asks for a web address for a screenshot; without one the metainfo has none.
set(KOLT_METAINFO_WEB "")
if(KOLT_HOMEPAGE)
    string(CONCAT KOLT_METAINFO_WEB
        "  <url type=\"homepage\">${KOLT_HOMEPAGE}</url>\n"
        "  <screenshots>\n"
        "    <screenshot type=\"default\">\n"
        "      <caption>The main window with the built-in program</caption>\n"
        "      <image>${KOLT_HOMEPAGE}/docs/images/kolt-x2.png</image>\n"
        "    </screenshot>\n"
        "  </screenshots>\n")
endif()
configure_file(${res}/desktop/${KOLT_APP_ID}.metainfo.xml.in ${gen}/${KOLT_APP_ID}.metainfo.xml @ONLY)
install(FILES ${gen}/${KOLT_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${res}/desktop/kolt.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)

# The icon: our SVG, and PNGs rendered from it (scripts/icons.sh).
install(FILES ${res}/icons/kolt.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
    install(FILES ${res}/icons/hicolor/kolt-${size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME kolt.png)
endforeach()

# Manual pages, compressed as Debian installs them.
set(pages)
foreach(page kolt kolt-headless)
    configure_file(${res}/man/${page}.1.in ${gen}/${page}.1 @ONLY)
    add_custom_command(OUTPUT ${gen}/${page}.1.gz
        COMMAND gzip -9 -n -c ${gen}/${page}.1 > ${gen}/${page}.1.gz
        DEPENDS ${gen}/${page}.1 VERBATIM)
    list(APPEND pages ${gen}/${page}.1.gz)
endforeach()
add_custom_target(kolt_manual_pages ALL DEPENDS ${pages})
install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${res}/completion/kolt ${res}/completion/kolt-headless
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${res}/roms-readme.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/kolt/roms RENAME README)
add_custom_command(OUTPUT ${gen}/changelog.gz
    COMMAND gzip -9 -n -c ${res}/debian/changelog > ${gen}/changelog.gz
    DEPENDS ${res}/debian/changelog VERBATIM)
add_custom_target(kolt_changelog ALL DEPENDS ${gen}/changelog.gz)
install(FILES ${res}/debian/copyright ${gen}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kolt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KOLT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "emulator of the VZ200 and VZ300 home computers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "KOLT runs the software of the VZ200 and VZ300 home computers: the Z80
processor, the MC6847 video chip, the one-bit speaker and cassette, with
the optional hardware of those machines (banked memory, extended graphics,
an SN76489 sound chip, floppy drives and a printer). It has states, rewind
and a debugger, and kolt-headless runs the machine from scripts.

It runs your own images of the machine's ROMs, which are not included.")
# Plugins Qt loads at run time, which the libraries' dependencies do not show:
# the window system's, and the SVG icon engine's.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
if(KOLT_HOMEPAGE)
    set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KOLT_HOMEPAGE}")
endif()
include(CPack)
