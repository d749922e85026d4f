# The Debian package (scripts/package runs cpack): telvane_VERSION_ARCH.deb installing under /usr.
# Library dependencies are computed from the binaries by dpkg-shlibdeps; what is only loaded at
# run time (fonts, platform integration, the PostScript converter) is listed here. Test peers
# never appear.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME telvane)
set(CPACK_PACKAGE_VERSION ${TELVANE_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR "Telvane")
set(CPACK_PACKAGE_CONTACT "Telvane developers <telvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop fax program for fax modems")
set(CPACK_PACKAGE_DESCRIPTION
    "Telvane composes faxes with cover sheets and rich-text documents, keeps outgoing and\n"
    "incoming logs, and sends and receives faxes through a fax modem on a serial port\n"
    "(Class 1, Class 2 and Class 2.0). It comes with command-line tools to convert\n"
    "documents to fax files, to fax from scripts and to inspect its tables.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, qt6-qpa-plugins, qt6-wayland, ghostscript")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
