# SPDX-License-Identifier: Zlib
# The Linux stubs run on any Linux of their processor, whatever C library the
# recipient's system has: each is linked statically against musl, a C library
# small enough to fit in front of the archive, so it has no program
# interpreter and no dynamic section. Only the stub is built this way; the
# packer, the tests and the fuzzer keep the system's toolchain. The stub's
# sources are C++ but use only the C library: they are compiled with
# libstdc++'s headers (for <cstdio> and the like) over musl's C headers,
# without exceptions or RTTI, so no C++ runtime is linked.
#
# Sets SFX_STUB_IS_STATIC to ON when the stub is built so. A sanitizer build
# keeps the system's C library: the sanitizer runtimes need it. A cross build
# (see cmake/linux-cross.cmake) makes nothing but the static stub, so there a
# missing musl ends the configuration.

option(SFX_STATIC_STUB "Link the Linux stub statically against musl (Debian: musl-tools)" ON)

# musl's multiarch folder name for a processor as CMAKE_SYSTEM_PROCESSOR
# names it; empty for a processor the project has no stub for.
function(sfx_musl_triplet processor out_var)
  set(triplet "")
  if(processor MATCHES "^(x86_64|AMD64|amd64)$")
    set(triplet x86_64-linux-musl)
  elseif(processor MATCHES "^i[3-6]86$")
    set(triplet i386-linux-musl)
  elseif(processor MATCHES "^(aarch64|arm64)$")
    set(triplet aarch64-linux-musl)
  elseif(processor MATCHES "^armv7")
    set(triplet arm-linux-musleabihf)
  endif()
  set(${out_var} "${triplet}" PARENT_SCOPE)
endfunction()

# Finds musl's headers and static library for `processor`: sets
# `include_var` and `library_var` to their folders, or to NOTFOUND values.
# Debian installs a foreign architecture's musl (musl-dev:ARCH) in the same
# multiarch folders as the native one.
function(sfx_find_musl processor include_var library_var)
  sfx_musl_triplet("${processor}" triplet)
  set(include_dir ${include_var}-NOTFOUND)
  set(library_dir ${library_var}-NOTFOUND)
  if(triplet)
    set(include_candidates /usr/include/${triplet})
    set(library_candidates /usr/lib/${triplet})
    # musl installed from its own sources, for the native processor only.
    if(NOT CMAKE_CROSSCOMPILING AND processor STREQUAL CMAKE_SYSTEM_PROCESSOR)
      list(APPEND include_candidates /usr/lib/musl/include)
      list(APPEND library_candidates /usr/lib/musl/lib)
    endif()
    foreach(dir ${include_candidates})
      if(NOT include_dir AND EXISTS ${dir}/stdio.h)
        set(include_dir ${dir})
      endif()
    endforeach()
    foreach(dir ${library_candidates})
      if(NOT library_dir AND EXISTS ${dir}/libc.a AND EXISTS ${dir}/crt1.o
         AND EXISTS ${dir}/crti.o AND EXISTS ${dir}/crtn.o)
        set(library_dir ${dir})
      endif()
    endforeach()
  endif()
  set(${include_var} ${include_dir} PARENT_SCOPE)
  set(${library_var} ${library_dir} PARENT_SCOPE)
endfunction()

set(SFX_STUB_IS_STATIC OFF)
if(SFX_STATIC_STUB AND NOT SFX_FUZZ AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  sfx_find_musl("${CMAKE_SYSTEM_PROCESSOR}" SFX_MUSL_INCLUDE_DIR SFX_MUSL_LIBRARY_DIR)
  sfx_musl_triplet("${CMAKE_SYSTEM_PROCESSOR}" musl_triplet)
  if(CMAKE_CROSSCOMPILING)
    set(lacking FATAL_ERROR)
  else()
    set(lacking WARNING)
  endif()
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR NOT musl_triplet)
    message(${lacking} "The static Linux stub needs g++ for x86-64, i686, aarch64 or armv7; "
                       "the stub uses the system's C library")
  elseif(NOT SFX_MUSL_INCLUDE_DIR OR NOT SFX_MUSL_LIBRARY_DIR)
    message(${lacking} "musl for ${CMAKE_SYSTEM_PROCESSOR} not found (Debian: musl-tools, or "
                       "musl-dev:ARCH for another processor); the stub uses the system's C "
                       "library and runs only where it is as new")
  else()
    set(SFX_STUB_IS_STATIC ON)
  endif()
endif()

# Builds `target` from `main_source` and the sources of the given libraries,
# compiled and linked against musl.
function(sfx_add_static_stub target main_source)
  set(sources ${main_source})
  foreach(library ${ARGN})
    get_target_property(library_sources ${library} SOURCES)
    get_target_property(library_dir ${library} SOURCE_DIR)
    foreach(source ${library_sources})
      list(APPEND sources ${library_dir}/${source})
    endforeach()
  endforeach()
  add_executable(${target} ${sources})
  # A sanitized build instruments everything else, but not the stub: with the
  # sanitizers' checks it no longer ends before the layout declaration, and no
  # test archive could be built from it. The stub's code is still checked in
  # the tests' own processes and by the fuzzers.
  if(SFX_SANITIZE)
    foreach(property COMPILE_OPTIONS LINK_OPTIONS)
      get_target_property(options ${target} ${property})
      if(options)
        list(FILTER options EXCLUDE
             REGEX "^-fsanitize|^-fno-sanitize|^--param=asan|^-fno-omit-frame-pointer$")
        set_target_properties(${target} PROPERTIES ${property} "${options}")
      endif()
    endforeach()
  endif()
  foreach(library ${ARGN})
    target_include_directories(${target}
                               PRIVATE $<TARGET_PROPERTY:${library},INTERFACE_INCLUDE_DIRECTORIES>)
  endforeach()

  # libstdc++'s headers from the compiler's own search list, GCC's own
  # (stdarg.h, stddef.h), then musl's C headers instead of the system's.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=include
                  OUTPUT_VARIABLE gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(header_options -nostdinc)
  foreach(dir ${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES})
    if(dir MATCHES "/c\\+\\+/")
      list(APPEND header_options "SHELL:-isystem ${dir}")
    endif()
  endforeach()
  list(APPEND header_options "SHELL:-isystem ${SFX_MUSL_INCLUDE_DIR}" "SHELL:-isystem ${gcc_include}")
  target_compile_options(${target} PRIVATE ${header_options}
    # libstdc++'s configuration asks for glibc's version; musl is no glibc.
    "-include${PROJECT_SOURCE_DIR}/cmake/musl-glibc-version.h"
    -Os -fno-pie -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
    -ffunction-sections -fdata-sections -flto)
  # aarch64: the whole program lies within 1 MiB, so an address takes one
  # instruction instead of two.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    target_compile_options(${target} PRIVATE -mcmodel=tiny)
  endif()

  # musl's start files around the program, its libc and libgcc (for the
  # compiler's helper routines) after it; nothing of the system's. The data
  # follows the code in the file after at most 63 bytes of padding instead of
  # up to a page (64 KiB on aarch64): without RELRO, which guards a dynamic
  # program's relocated data and has none to guard here, and with its start
  # aligned to 64 bytes instead of a page. The kernel still maps it on a page
  # boundary of its own, as the offset in the file and the address agree
  # modulo the largest page size.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                  OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
  # The stub's sources are optimized as one program at link time (-flto).
  target_link_options(${target} PRIVATE -static -nostdlib -no-pie -s -Os -flto -Wl,--gc-sections
                      -Wl,-z,noseparate-code -Wl,-z,norelro -Wl,-z,common-page-size=64
                      -Wl,--build-id=none
                      ${SFX_MUSL_LIBRARY_DIR}/crt1.o ${SFX_MUSL_LIBRARY_DIR}/crti.o)
  target_link_libraries(${target} PRIVATE ${SFX_MUSL_LIBRARY_DIR}/libc.a ${libgcc}
                        ${SFX_MUSL_LIBRARY_DIR}/crtn.o)
endfunction()
