# `cpack -G DEB` in the build folder: a Debian package of the install tree
# (sfxpack, every stub built, the manual page) under /usr.
set(CPACK_PACKAGE_NAME sfx)
set(CPACK_PACKAGE_VENDOR "sfx developers")
set(CPACK_PACKAGE_CONTACT "sfx developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds and checks self-extracting archives for consoles")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "sfx developers")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# sfxpack is linked against the C and C++ runtimes; the stubs need nothing.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
include(CPack)
