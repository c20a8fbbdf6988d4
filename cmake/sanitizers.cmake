# SPDX-License-Identifier: Zlib
# Builds for finding memory and undefined-behaviour faults. Each goes in a
# build folder of its own; the plain build is never instrumented.
#   -DSFX_SANITIZE=ON  everything under AddressSanitizer + UndefinedBehaviorSanitizer
#   -DSFX_FUZZ=ON      the same, plus the fuzzers (clang++ only);
#                      configure it with -DBUILD_TESTING=OFF, as clang links its
#                      sanitizer runtimes statically and the stub no longer fits

# Pointer arithmetic that wraps around is left to AddressSanitizer, which
# catches any access through such a pointer: the undefined behaviour
# sanitizer's check on every pointer step alone would push the stub past
# ARCHIVE_START.
set(SFX_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize=pointer-overflow
                        -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(${SFX_SANITIZER_FLAGS})
add_link_options(-fsanitize=address,undefined)

# With musl the stub is built without the sanitizers (cmake/musl-stub.cmake).
# Without it the instrumented stub must still fit before the layout
# declaration, or no test archive can be built from it (it no longer does
# since the stub reads compressed containers): position-dependent code drops the relocations
# of the sanitizers' many descriptors, unused sections go, and the stub alone
# is stripped and packed without page-aligned code padding. Optimizing for size
# (whatever the build type) leaves room for the stub to grow.
add_compile_options(-Os -fno-pie -ffunction-sections -fdata-sections)
# Globals are left without red zones: padding every string and table took a
# third of the stub's room, and the checks' file names, which grow with the
# checkout's path, ate the rest. Heap and stack accesses are still checked.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(--param=asan-globals=0)
endif()
add_link_options(-no-pie -Wl,--gc-sections)
set(SFX_STUB_LINK_OPTIONS -s -Wl,-z,noseparate-code)

if(SFX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "SFX_FUZZ needs clang++ (libFuzzer): -DCMAKE_CXX_COMPILER=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
