# Installation as a Linux program (GNU layout) and the Debian package built by CPack.
# An installed copy has no "evtrak.portable" marker beside it, so it keeps its settings
# and event files in the user's XDG folders.
set(EVTRAK_LINUX ${PROJECT_SOURCE_DIR}/resources/linux)
set(EVTRAK_GEN ${PROJECT_BINARY_DIR}/linux)

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

configure_file(${EVTRAK_LINUX}/evtrak.1 ${EVTRAK_GEN}/evtrak.1 @ONLY)
install(FILES ${EVTRAK_GEN}/evtrak.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The systemd user unit for unattended capture.
install(FILES ${EVTRAK_LINUX}/evtrak-headless.service DESTINATION lib/systemd/user)

# The licence of the fonts built into the program.
install(FILES ${EVTRAK_FONT_LICENSE} DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME LiberationSans-LICENSE)

# Debian package: cmake --build build --target package
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME evtrak)
set(CPACK_PACKAGE_VENDOR "Evtrak")
set(CPACK_PACKAGE_CONTACT "Evtrak <evtrak@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "enregistreur d'évènements sur les entrées du port parallèle")
set(CPACK_PACKAGE_DESCRIPTION
    "Evtrak lit les 13 entrées du port parallèle d'un PC et enregistre chaque changement\n"
    "d'état : liste, fichiers journaliers, rapport PDF, exports CSV et VCD, service\n"
    "d'acquisition sans fenêtre.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's French texts; the platform plugins come with libqt6gui6.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sigrok-cli, libreoffice-calc")
set(CPACK_STRIP_FILES ON)
include(CPack)
