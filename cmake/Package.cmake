# The Debian package, built by ./scripts/package (cpack -G DEB). Its dependencies are worked
# out from the installed binaries by dpkg-shlibdeps, not listed here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rfcfgtool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "rfcfgtool developers <developers@rfcfgtool.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration and test tool for a serial radio module")
# The extended description: lines of at most 80 characters, as dpkg shows them. CPack strips
# the last line, so it must not be one of the indented (verbatim) list lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A desktop tool for a radio module attached to a serial port: read and write its
parameters, read its version, reset it, keep its whitelist, search routes and
send data to other nodes, with every frame shown as hex and decoded.
.
The package holds:
 - rfcfgtool, the window;
 - rfcfgtool-oem, the same window branded for the TQ-520M module;
 - rfcfgtool-demo, the window with a virtual module inside, for trying it
   without hardware;
 - rfmodule-sim, the virtual module on a pseudo-terminal;
 - rfcfg, the command line for scripts, production lines and link tests.
.
Captures open in Wireshark: the package adds a dissector for the module's
frames and a live-capture entry that lists the serial ports.
.
The windows are in Chinese, or in English for any other system language.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Control files 0644 whatever the umask, as dpkg and lintian expect.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Loaded at run time, so no binary names them: the X11 platform plugin, Qt's own Chinese
# texts, and a font with Chinese glyphs (without one the Chinese window shows boxes).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins, qt6-translations-l10n, fonts-wqy-microhei")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
