# Where `cmake --install` puts the programs and their desktop files, in the standard places.
include(GNUInstallDirs)

install(TARGETS rfcfgtool rfcfgtool-oem rfcfgtool-demo rfmodule-sim
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/rfcfgtool.desktop packaging/rfcfgtool-oem.desktop
              packaging/rfcfgtool-demo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/rfcfgtool.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES packaging/org.rfcfgtool.rfcfgtool.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES docs/man/rfmodule-sim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
