# The Debian package, built by ./scripts/package (cpack -G DEB). Its dependencies are worked
# out from the installed binaries by dpkg-shlibdeps, not listed here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rfcfgtool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "rfcfgtool developers <rfcfgtool@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration and test tool for a serial radio module")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A desktop tool for a radio module attached to a serial port: read and write its
parameters, read its version, reset it, keep its whitelist, search routes and
send data to other nodes. Includes a branded build, a demo with a virtual module,
and rfmodule-sim, the virtual module on a pseudo-terminal.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no binary names them: the X11 platform plugin, and Qt's own Chinese
# texts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins, qt6-translations-l10n")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
