# SPDX-License-Identifier: Zlib
# Builds the stubs for other targets beside the native one, each in a build of
# its own with its cross toolchain (only the stub target), and puts them in the
# build folder's lib/sfx/TARGET/, from where they are installed. A cross build
# makes only its own stub.
#
# The Windows stubs (win32, win64): on by default when both MinGW-w64 cross
# compilers are there. The Linux stubs for other processors: each one whose
# cross compiler and musl are there; a missing one is said in one line and
# left out.
#
# Sets SFX_LINUX_CROSS_STUBS_BUILT to "TARGET;EMULATOR" pairs, the Linux stubs
# built here and the user-mode emulator that runs each in the tests.

if(CMAKE_CROSSCOMPILING)
  return()
endif()

include(ExternalProject)
# Recursive make shares the parent's job slots; other generators are driven
# through cmake.
if(CMAKE_GENERATOR MATCHES "Make")
  set(stub_build_command "$(MAKE)" sfxstub)
else()
  set(stub_build_command ${CMAKE_COMMAND} --build <BINARY_DIR> --target sfxstub)
endif()

# Builds the stub for `target` in BUILD/stub-TARGET/ with the cmake options
# that follow, copies its `stub_file` to BUILD/lib/sfx/TARGET/ and installs it.
function(sfx_add_cross_stub target stub_file)
  set(stub_folder ${CMAKE_BINARY_DIR}/${SFX_STUB_FOLDER}/${target})
  # Always handed to the sub-build, which finds out itself what changed.
  ExternalProject_Add(sfxstub_${target}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/stub-${target}
    PREFIX ${CMAKE_BINARY_DIR}/stub-${target}/external
    CMAKE_ARGS ${ARGN} -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
    BUILD_COMMAND ${stub_build_command}
    INSTALL_COMMAND ${CMAKE_COMMAND} -E make_directory ${stub_folder}
            COMMAND ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/${stub_file} ${stub_folder}/
    BUILD_ALWAYS ON)
  install(PROGRAMS ${stub_folder}/${stub_file} DESTINATION ${SFX_STUB_FOLDER}/${target})
endfunction()

find_program(SFX_MINGW_I686_CXX i686-w64-mingw32-g++)
find_program(SFX_MINGW_X86_64_CXX x86_64-w64-mingw32-g++)
if(SFX_MINGW_I686_CXX AND SFX_MINGW_X86_64_CXX)
  set(mingw_found ON)
else()
  set(mingw_found OFF)
endif()
option(SFX_WINDOWS_STUBS "Also build and install the Windows stubs (needs the MinGW-w64 compilers)"
       ${mingw_found})

if(SFX_WINDOWS_STUBS)
  if(NOT mingw_found)
    message(FATAL_ERROR "SFX_WINDOWS_STUBS needs i686-w64-mingw32-g++ and x86_64-w64-mingw32-g++ "
                        "(Debian: g++-mingw-w64-i686 g++-mingw-w64-x86-64)")
  endif()
  message(STATUS "Windows stubs: built (win32, win64)")
  foreach(target_and_arch "win32;i686" "win64;x86_64")
    list(GET target_and_arch 0 target)
    list(GET target_and_arch 1 arch)
    sfx_add_cross_stub(${target} sfxstub.exe
                       -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-${arch}.cmake)
  endforeach()
else()
  message(STATUS "Windows stubs: not built (SFX_WINDOWS_STUBS is OFF)")
endif()

option(SFX_LINUX_CROSS_STUBS "Also build and install the Linux stubs for other processors" ON)

# One Linux target a line: its name, its processor, the cross compiler's
# prefix, the Debian architecture of its musl, the emulator of the tests.
set(linux_cross_targets
    "linux-i686 i686 i686-linux-gnu i386 qemu-i386-static"
    "linux-aarch64 aarch64 aarch64-linux-gnu arm64 qemu-aarch64-static"
    "linux-armv7 armv7 arm-linux-gnueabihf armhf qemu-arm-static")

set(SFX_LINUX_CROSS_STUBS_BUILT "")
if(SFX_LINUX_CROSS_STUBS)
  foreach(line ${linux_cross_targets})
    separate_arguments(fields UNIX_COMMAND "${line}")
    list(GET fields 0 target)
    list(GET fields 1 processor)
    list(GET fields 2 prefix)
    list(GET fields 3 debian_arch)
    list(GET fields 4 emulator)
    if(target STREQUAL SFX_NATIVE_TARGET)
      continue()
    endif()
    find_program(SFX_CROSS_CXX_${processor} ${prefix}-g++)
    sfx_find_musl(${processor} musl_include musl_library)
    if(NOT SFX_CROSS_CXX_${processor})
      message(STATUS "Linux stub ${target}: not built, ${prefix}-g++ is missing "
                     "(Debian: g++-${prefix})")
    elseif(NOT musl_include OR NOT musl_library)
      message(STATUS "Linux stub ${target}: not built, musl for ${processor} is missing "
                     "(Debian: dpkg --add-architecture ${debian_arch}; musl-dev:${debian_arch})")
    else()
      message(STATUS "Linux stub ${target}: built")
      sfx_add_cross_stub(${target} sfxstub
                         -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/linux-cross.cmake
                         -DSFX_CROSS_PROCESSOR=${processor} -DSFX_CROSS_PREFIX=${prefix})
      list(APPEND SFX_LINUX_CROSS_STUBS_BUILT ${target} ${emulator})
    endif()
  endforeach()
else()
  message(STATUS "Linux stubs for other processors: not built (SFX_LINUX_CROSS_STUBS is OFF)")
endif()
