# Installation as a Linux program (GNU layout) and the Debian package built by CPack.
# An installed copy has no "evtrak.portable" marker beside it, so it keeps its settings
# and event files in the user's XDG folders.
set(EVTRAK_LINUX ${PROJECT_SOURCE_DIR}/resources/linux)
set(EVTRAK_GEN ${PROJECT_BINARY_DIR}/linux)
# The package's maintainer (the .invalid domain is reserved: set the real address).
set(EVTRAK_PACKAGE_CONTACT "Evtrak <evtrak@evtrak.invalid>" CACHE STRING
    "Maintainer of the Debian package: Name <address>")

install(TARGETS evtrak RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/A_Lire.txt ${PROJECT_SOURCE_DIR}/resources/evtrak.html
        DESTINATION ${CMAKE_INSTALL_DATADIR}/evtrak)

install(FILES ${EVTRAK_LINUX}/evtrak.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${EVTRAK_LINUX}/evtrak.metainfo.xml ${EVTRAK_GEN}/fr.evtrak.Evtrak.metainfo.xml @ONLY)
install(FILES ${EVTRAK_GEN}/fr.evtrak.Evtrak.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/svg/evtrak.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 128)
  install(FILES ${EVTRAK_LINUX}/icons/evtrak-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME evtrak.png)
endforeach()

# The manual page and the changelog are installed compressed, as Debian wants them
# (gzip -n: no name or date inside, so the package is reproducible).
configure_file(${EVTRAK_LINUX}/evtrak.1 ${EVTRAK_GEN}/evtrak.1 @ONLY)
configure_file(${EVTRAK_LINUX}/changelog.in ${EVTRAK_GEN}/changelog @ONLY)
foreach(doc evtrak.1 changelog)
  add_custom_command(OUTPUT ${EVTRAK_GEN}/${doc}.gz
    COMMAND gzip -9n -c ${EVTRAK_GEN}/${doc} > ${EVTRAK_GEN}/${doc}.gz
    DEPENDS ${EVTRAK_GEN}/${doc} VERBATIM)
endforeach()
add_custom_target(evtrak_docs ALL DEPENDS ${EVTRAK_GEN}/evtrak.1.gz ${EVTRAK_GEN}/changelog.gz)
install(FILES ${EVTRAK_GEN}/evtrak.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${EVTRAK_GEN}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The systemd user units for unattended capture and for the site's collector.
install(FILES ${EVTRAK_LINUX}/evtrak-headless.service ${EVTRAK_LINUX}/evtrak-collect.service
        DESTINATION lib/systemd/user)

# The licence of the fonts built into the program.
install(FILES ${EVTRAK_FONT_LICENSE} DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME LiberationSans-LICENSE)

# The package's copyright file, machine-readable: Evtrak's own terms, then the fonts'
# holders and licence as their Debian package states them.
file(READ ${EVTRAK_FONT_LICENSE} font_copyright)
string(REGEX MATCH "\nCopyright:[^\n]*\n( [^\n]*\n)+" font_holders "${font_copyright}")
string(REGEX REPLACE "^\nCopyright:" "" EVTRAK_FONT_HOLDERS "${font_holders}")
string(REGEX MATCH "\nLicense: [^\n]*\n( [^\n]*\n)+" EVTRAK_FONT_LICENCE "${font_copyright}")
string(STRIP "${EVTRAK_FONT_HOLDERS}" EVTRAK_FONT_HOLDERS)
set(EVTRAK_FONT_HOLDERS "\n ${EVTRAK_FONT_HOLDERS}")
string(REGEX REPLACE "(\n \\.)+\n$" "\n" EVTRAK_FONT_LICENCE "${EVTRAK_FONT_LICENCE}")
string(STRIP "${EVTRAK_FONT_LICENCE}" EVTRAK_FONT_LICENCE)
if(EVTRAK_FONT_LICENCE STREQUAL "")
  set(EVTRAK_FONT_LICENCE "License: OFL-1.1\n See /usr/share/doc/evtrak/LiberationSans-LICENSE.")
endif()
configure_file(${EVTRAK_LINUX}/copyright.in ${EVTRAK_GEN}/copyright @ONLY)
install(FILES ${EVTRAK_GEN}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Debian package: cmake --build build --target package
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME evtrak)
set(CPACK_PACKAGE_VENDOR "Evtrak")
set(CPACK_PACKAGE_CONTACT "${EVTRAK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "enregistreur d'évènements sur les entrées du port parallèle")
# One string (a list would put ";" into the text), lines within 80 columns.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Evtrak lit les 13 entrées du port parallèle d'un PC et enregistre chaque\n"
    "changement d'état : liste, fichiers journaliers, rapport PDF, exports CSV et\n"
    "VCD, service d'acquisition sans fenêtre.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's French texts; the platform plugins come with libqt6gui6.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sigrok-cli, libreoffice-calc")
set(CPACK_STRIP_FILES ON)
include(CPack)
