# Where `cmake --install` puts the programs, their desktop files, man pages and documentation,
# in the standard places.
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

# Man pages and the changelog are installed compressed, as Debian wants them. -n leaves the
# file name and time out of the archive, so the same source gives the same bytes.
find_program(GZIP gzip REQUIRED)
set(RFCFGTOOL_MAN_PAGES rfcfgtool rfcfgtool-oem rfcfgtool-demo rfmodule-sim rfcfg)
set(_rfcfgtool_compressed)
function(rfcfgtool_compress source output)
    add_custom_command(OUTPUT ${output}
                       COMMAND ${GZIP} -9n -c ${source} > ${output}
                       DEPENDS ${source}
                       COMMENT "Compressing ${source}"
                       VERBATIM)
endfunction()
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man ${PROJECT_BINARY_DIR}/doc)
foreach(page IN LISTS RFCFGTOOL_MAN_PAGES)
    set(compressed ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
    rfcfgtool_compress(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${compressed})
    list(APPEND _rfcfgtool_compressed ${compressed})
    install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
# The package is native (its version has no Debian revision), so its changelog is changelog.gz.
set(_rfcfgtool_changelog ${PROJECT_BINARY_DIR}/doc/changelog.gz)
rfcfgtool_compress(${PROJECT_SOURCE_DIR}/packaging/changelog ${_rfcfgtool_changelog})
add_custom_target(rfcfgtool_compressed_docs ALL DEPENDS ${_rfcfgtool_compressed}
                  ${_rfcfgtool_changelog})
install(FILES ${_rfcfgtool_changelog} packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Wireshark dissector and the live-capture entry, in the folders Wireshark loads them from
# (tshark -G folders: "Global Lua Plugins" and "Extcap path").
set(RFCFGTOOL_WIRESHARK_DIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark" CACHE STRING
    "Wireshark's library folder, relative to the prefix")
install(FILES packaging/wireshark/rfmodule.lua DESTINATION ${RFCFGTOOL_WIRESHARK_DIR}/plugins)
install(PROGRAMS packaging/wireshark/rfmodule-extcap DESTINATION ${RFCFGTOOL_WIRESHARK_DIR}/extcap)
