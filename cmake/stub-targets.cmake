# Where the stubs go: every target has a folder of its own under lib/sfx/, in
# the install tree and in the build folder alike, so sfxpack finds them
# relative to its own file wherever the tree is moved.
#   PREFIX/bin/sfxpack
#   PREFIX/lib/sfx/linux-x86_64/sfxstub
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
  if(processor STREQUAL "AMD64" OR processor STREQUAL "amd64")
    set(processor x86_64)
  endif()
  set(SFX_NATIVE_TARGET "${system_name}-${processor}")
endif()
