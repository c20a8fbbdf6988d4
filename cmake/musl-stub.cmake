# The Linux stub runs on any x86-64 Linux, whatever C library the recipient's
# system has: it is linked statically against musl, a C library small enough
# to fit in front of the archive, so it has no program interpreter and no
# dynamic section. Only the stub is built this way; the packer, the tests and
# the fuzzer keep the system's toolchain. The stub's sources are C++ but use
# only the C library: they are compiled with libstdc++'s headers (for
# <cstdio> and the like) over musl's C headers, without exceptions or RTTI, so
# no C++ runtime is linked.
#
# Sets SFX_STUB_IS_STATIC to ON when the stub is built so. A sanitizer build
# keeps the system's C library: the sanitizer runtimes need it.

option(SFX_STATIC_STUB "Link the Linux stub statically against musl (Debian: musl-tools)" ON)

set(SFX_STUB_IS_STATIC OFF)
if(SFX_STATIC_STUB AND NOT SFX_SANITIZE AND NOT SFX_FUZZ AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  find_path(SFX_MUSL_INCLUDE_DIR stdio.h
            PATHS /usr/include/x86_64-linux-musl /usr/lib/musl/include NO_DEFAULT_PATH)
  find_path(SFX_MUSL_LIBRARY_DIR libc.a
            PATHS /usr/lib/x86_64-linux-musl /usr/lib/musl/lib NO_DEFAULT_PATH)
  foreach(start_file crt1.o crti.o crtn.o)
    if(NOT EXISTS ${SFX_MUSL_LIBRARY_DIR}/${start_file})
      set(SFX_MUSL_LIBRARY_DIR SFX_MUSL_LIBRARY_DIR-NOTFOUND)
    endif()
  endforeach()
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR NOT CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
    message(WARNING "The static Linux stub needs g++ for x86-64; the stub uses the system's C library")
  elseif(NOT SFX_MUSL_INCLUDE_DIR OR NOT SFX_MUSL_LIBRARY_DIR)
    message(WARNING "musl not found (Debian: apt-get install musl-tools); "
                    "the stub uses the system's C library and runs only where it is as new")
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
    -Os -fno-pie -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections -fdata-sections)

  # musl's start files around the program, its libc and libgcc (for the
  # compiler's helper routines) after it; nothing of the system's.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                  OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
  target_link_options(${target} PRIVATE -static -nostdlib -no-pie -s -Wl,--gc-sections
                      -Wl,-z,noseparate-code -Wl,--build-id=none
                      ${SFX_MUSL_LIBRARY_DIR}/crt1.o ${SFX_MUSL_LIBRARY_DIR}/crti.o)
  target_link_libraries(${target} PRIVATE ${SFX_MUSL_LIBRARY_DIR}/libc.a ${libgcc}
                        ${SFX_MUSL_LIBRARY_DIR}/crtn.o)
endfunction()
