# What "cmake --install" puts where, and the Debian package "cpack -G DEB" makes of it: the
# program, its desktop entry, icon and man page, the service unit and an example udev rule. The
# package's dependencies are those of the libraries the program links, found by dpkg-shlibdeps,
# plus the Qt translations the window loads.
include(GNUInstallDirs)

install(TARGETS linograf RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES dist/linograf.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES dist/linograf.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
configure_file(dist/linograf.1 ${CMAKE_CURRENT_BINARY_DIR}/linograf.1 @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/linograf.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The unit goes where Debian keeps the units of packages, whatever the prefix.
install(FILES "dist/linograf-capture@.service" DESTINATION lib/systemd/system)
# An example only: a rule needs the adapter's own vendor, product and serial number.
install(FILES dist/99-linograf.rules DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/linograf/examples)

set(CPACK_PACKAGE_NAME linograf)
set(CPACK_PACKAGE_VENDOR "Linograf")
set(CPACK_PACKAGE_CONTACT "Linograf maintainers <linograf@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Linograf logs the text lines a serial device sends into .xls and .xlsx\nworkbooks, from its window or as a systemd service.")
# The debugging information of a RelWithDebInfo build is no part of what an operator installs.
set(CPACK_STRIP_FILES ON)
include(CPack)
