# The Debian package, built with CPack from the install rules (scripts/package; checked by
# scripts/check-package). dpkg-shlibdeps works out the libraries' packages from the binary, so
# the Depends line follows whatever Qt the package was built against; the one dependency it
# cannot see is the font the window's Chinese captions need.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zeva-relay-test)
set(CPACK_PACKAGE_CONTACT "ZEVA relay test developers <zeva-relay-test@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The long description, one line of the control file per line here, as Debian wraps it.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "A desktop tool for testing two-channel relay boards driven over a serial"
  "line. Pick a port (COM1 to COM4), open it, press buttons that send"
  "editable hexadecimal command frames switching each channel on, off or to"
  "its other state, and watch every command and every reply byte in a log."
  "The line runs at 9600 baud, 8 data bits, no parity, 1 stop bit."
  "A simulated board built into the program lets the tool be tried without"
  "hardware. The window's texts are in Simplified Chinese.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-arphic-uming)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
