# SPDX-License-Identifier: Zlib
# `cpack -G DEB` in the build folder: a Debian package of the install tree
# (sfxpack, every stub built, the manual page, the bash completion) under
# /usr, with the copyright, changelog and checker overrides a distribution
# asks for. `lintian` on it reports no error and no warning.
set(SFX_PACKAGE_MAINTAINER "sfx authors <sfx-authors@example.org>"
    CACHE STRING "The package's Maintainer field: a name and an address")

set(CPACK_PACKAGE_NAME sfx)
set(CPACK_PACKAGE_VENDOR "The sfx authors")
set(CPACK_PACKAGE_CONTACT "${SFX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds and checks self-extracting archives for consoles")
# Below the summary line; lines are kept as written, so they stay short.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "sfxpack packs directories and files into one executable file: a small\n"
       "extractor program in front, then the archive. Whoever receives the file\n"
       "runs it, and it recreates every directory and file in the folder it is\n"
       "run in, with no tool of their own. Extractors for Linux and for 32- and\n"
       "64-bit Windows consoles are included. sfxpack also lists, checks and\n"
       "extracts such a file without running it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SFX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Depends from what sfxpack is really linked against (dpkg-shlibdeps, in
# dpkg-dev); the stubs need nothing.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  message(STATUS "dpkg-shlibdeps not found (Debian: dpkg-dev): the package's Depends are a guess")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  if(SFX_PACKER_COMPRESSES)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", liblzma5")
  endif()
endif()
set(CPACK_STRIP_FILES ON)

# The Debian files: configured here, compressed reproducibly (gzip -n keeps
# no name or date), put into the package's tree only by cpack.
set(debian_folder ${CMAKE_BINARY_DIR}/debian)
if(NOT GZIP_PROGRAM)
  message(STATUS "gzip not found: the Debian package gets no copyright or changelog")
  include(CPack)
  return()
endif()
configure_file(cmake/debian/copyright.in ${debian_folder}/copyright @ONLY)
configure_file(cmake/debian/changelog.in ${debian_folder}/changelog @ONLY)
add_custom_command(
  OUTPUT ${debian_folder}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -DINPUT=${debian_folder}/changelog -DOUTPUT=${debian_folder}/changelog.gz
          -P ${CMAKE_SOURCE_DIR}/cmake/gzip-file.cmake
  DEPENDS ${debian_folder}/changelog ${CMAKE_SOURCE_DIR}/cmake/gzip-file.cmake
  VERBATIM)
add_custom_target(debian_files ALL DEPENDS ${debian_folder}/changelog.gz)
configure_file(cmake/debian/package-extras.cmake.in ${debian_folder}/package-extras.cmake @ONLY)
set(CPACK_INSTALL_SCRIPTS ${debian_folder}/package-extras.cmake)

include(CPack)
