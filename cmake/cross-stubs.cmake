# Builds the stubs for other targets beside the native one, each in a build of
# its own with its cross toolchain (only the stub target), and puts them in the
# build folder's lib/sfx/TARGET/, from where they are installed.
#
# The Windows stubs (win32, win64): on by default when both MinGW-w64 cross
# compilers are there.

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
  include(ExternalProject)
  # Recursive make shares the parent's job slots; other generators are driven
  # through cmake.
  if(CMAKE_GENERATOR MATCHES "Make")
    set(stub_build_command "$(MAKE)" sfxstub)
  else()
    set(stub_build_command ${CMAKE_COMMAND} --build <BINARY_DIR> --target sfxstub)
  endif()
  foreach(target_and_arch "win32;i686" "win64;x86_64")
    list(GET target_and_arch 0 target)
    list(GET target_and_arch 1 arch)
    set(stub_folder ${CMAKE_BINARY_DIR}/${SFX_STUB_FOLDER}/${target})
    # Always handed to the sub-build, which finds out itself what changed.
    ExternalProject_Add(sfxstub_${target}
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${CMAKE_BINARY_DIR}/stub-${target}
      PREFIX ${CMAKE_BINARY_DIR}/stub-${target}/external
      CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-${arch}.cmake
                 -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
      BUILD_COMMAND ${stub_build_command}
      INSTALL_COMMAND ${CMAKE_COMMAND} -E make_directory ${stub_folder}
              COMMAND ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/sfxstub.exe ${stub_folder}/
      BUILD_ALWAYS ON)
    install(PROGRAMS ${stub_folder}/sfxstub.exe DESTINATION ${SFX_STUB_FOLDER}/${target})
  endforeach()
else()
  message(STATUS "Windows stubs: not built (SFX_WINDOWS_STUBS is OFF)")
endif()
