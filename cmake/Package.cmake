# The Debian package (scripts/package runs cpack): telvane_VERSION_ARCH.deb installing under /usr.
# Library dependencies are computed from the binaries by dpkg-shlibdeps; what is only loaded at
# run time (fonts, platform integration, the PostScript converter) is listed here. Test peers
# never appear.
# telvane_dist builds only what is installed (scripts/package configures with
# CMAKE_SKIP_INSTALL_ALL_DEPENDENCY so that cpack does not build the tests and benchmarks).
add_custom_target(telvane_dist)
get_property(installed_programs GLOBAL PROPERTY TELVANE_INSTALLED_PROGRAMS)
add_dependencies(telvane_dist ${installed_programs})
if(TARGET telvane_data)
  add_dependencies(telvane_dist telvane_data)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME telvane)
set(CPACK_PACKAGE_VERSION ${TELVANE_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR "Telvane")
set(TELVANE_PACKAGE_MAINTAINER "Telvane developers <packages@telvane.example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${TELVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop fax program for fax modems")
set(CPACK_PACKAGE_DESCRIPTION
    "Telvane composes faxes with cover sheets and rich-text documents, keeps\n"
    "outgoing and incoming logs, and sends and receives faxes through a fax modem\n"
    "on a serial port (Class 1, Class 2 and Class 2.0). Command-line tools convert\n"
    "documents (PDF, PostScript, RTF, text, images) to fax files, fax from\n"
    "scripts and inspect the program's tables.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://telvane.example.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, qt6-qpa-plugins, qt6-wayland, ghostscript, cups-daemon, cups-client")
# The print queue "Telvane" is made on installation (when CUPS runs) and removed with the package.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_SOURCE_DIR}/data/debian/postinst;${CMAKE_SOURCE_DIR}/data/debian/prerm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
