# What `cmake --install` puts on a Linux machine beside the command (src/cli installs the
# command, its manual page and its bash completion), and the Debian package that CPack makes
# of it (scripts/package).
include(GNUInstallDirs)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
              ${CMAKE_CURRENT_LIST_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The README's link to the command guide resolves beside it.
install(FILES ${PROJECT_SOURCE_DIR}/docs/command.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tollan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send and receive files over serial lines")
set(CPACK_PACKAGE_DESCRIPTION
    "tollan moves files over a serial line, directly or through a Hayes modem, with ZModem, "
    "XModem, XModem-1K, YModem or an ACK/NAK protocol. It runs over a serial device or over "
    "its standard input and output, inside a remote shell or a terminal program.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tollan developers")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
include(CPack)
