# The Debian package: `cpack` in the build directory writes zorvjtag_<version>_<arch>.deb there.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvjtag)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "zorvjtag maintainers <maintainers@zorvjtag.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write NAND and NOR flash on ZORV boards by JTAG boundary scan")
# Long description lines wrapped as a control file wants them (under 80 columns).
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "zorvjtag writes NAND and NOR flash on boards built around the ZORV"
       "system-on-chip products (OBRIN, TQR2400, IKA, VESKAR) purely by JTAG boundary"
       "scan through a parallel-port cable, reads a chip's JTAG ID and toggles every"
       "boundary pin for board bring-up. It comes as a command line program and a Qt"
       "window, and carries a virtual board to try everything without hardware.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Depends as dpkg-shlibdeps finds them: Qt, libstdc++, libc
# The about box and the menu entry are in Korean: without a font that has Hangul they show boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-nanum | fonts-noto-cjk")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
