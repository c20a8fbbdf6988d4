# SPDX-License-Identifier: Zlib
# Cross-compiles the Linux stub for another processor with Debian's cross
# compilers (g++-PREFIX) over that architecture's musl (musl-dev:ARCH):
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-cross.cmake \
#         -DSFX_CROSS_PROCESSOR=aarch64 -DSFX_CROSS_PREFIX=aarch64-linux-gnu
#   cmake --build build-aarch64 --target sfxstub
# cmake/cross-stubs.cmake does this for every Linux target it finds the tools of.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${SFX_CROSS_PROCESSOR})

set(CMAKE_C_COMPILER ${SFX_CROSS_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${SFX_CROSS_PREFIX}-g++)
# The compiler checks' own builds read this file again.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SFX_CROSS_PROCESSOR SFX_CROSS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${SFX_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
