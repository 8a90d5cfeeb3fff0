# The Debian package, made by scripts/package from an existing build tree:
# everything cmake --install puts under /usr, with stripped executables.
set(TELLMARO_PACKAGE_CONTACT "Tellmaro developers <tellmaro@localhost>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tellmaro)
set(CPACK_PACKAGE_CONTACT ${TELLMARO_PACKAGE_CONTACT})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "call-through relay for a mobile phone over an ISDN line or a SIP account")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Tellmaro turns a PC with an ISDN line into a call-through relay for one
registered mobile phone. The owner calls the PC's ISDN number, keys in a
number or a speed-dial code as DTMF tones, and the PC dials it on its second
B channel and relays both calls. The PC reaches the line through CAPI 2.0
(libcapi20). Included: the desktop program (tellmaro), the relay as a
console program and systemd user service (tellmaro-console), a SIP account
as the CAPI line, for a provider or a home router's IP-phone account
(tellmaro-sip, also a systemd user service), and a line simulator for
trying it without ISDN hardware (tellmaro-sim).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# dpkg-shlibdeps finds the Qt 6, C++ and SIP (libre0, librem0) libraries the
# executables link; libcapi20 is loaded with dlopen, and Qt's German texts
# (the file dialog, a text box's menu) are data files, so both are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcapi20-3, qt6-translations-l10n")
# The windows' layout is measured with DejaVu Sans.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, gnome-shell-extension-appindicator")

# Installed with DESTDIR into the staging folder and the prefix /usr, so that
# the files written at install time name /usr, not the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

include(CPack)
