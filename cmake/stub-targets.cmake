# SPDX-License-Identifier: Zlib
# Where the stubs go: every target has a folder of its own under lib/sfx/, in
# the install tree and in the build folder alike, so sfxpack finds them
# relative to its own file wherever the tree is moved.
#   PREFIX/bin/sfxpack
#   PREFIX/lib/sfx/linux-x86_64/sfxstub
#   PREFIX/lib/sfx/linux-i686/sfxstub      (also linux-aarch64, linux-armv7)
#   PREFIX/lib/sfx/win32/sfxstub.exe
#   PREFIX/lib/sfx/win64/sfxstub.exe

set(SFX_STUB_FOLDER lib/sfx)

# The target name of the system being built for: the default of sfxpack and
# the folder of the stub this build makes.
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(SFX_NATIVE_TARGET win64)
  else()
    set(SFX_NATIVE_TARGET win32)
  endif()
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}" system_name)
  set(processor "${CMAKE_SYSTEM_PROCESSOR}")
  # One name per processor, as a cross build names it (cmake/cross-stubs.cmake).
  if(processor MATCHES "^(AMD64|amd64)$")
    set(processor x86_64)
  elseif(processor MATCHES "^i[3-6]86$")
    set(processor i686)
  elseif(processor STREQUAL "arm64")
    set(processor aarch64)
  elseif(processor MATCHES "^armv7")
    set(processor armv7)
  endif()
  set(SFX_NATIVE_TARGET "${system_name}-${processor}")
endif()
