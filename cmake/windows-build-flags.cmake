# SPDX-License-Identifier: Zlib
# Windows builds: the stub has to end before the layout declaration (53984 bytes)
# and run on a bare system, so everything is linked statically (no C++ runtime
# DLLs) and tuned for size. The C runtime's own printf (msvcrt.dll) is used
# instead of the MinGW one, which would add its whole formatting engine.
add_compile_options(-Os -ffunction-sections -fdata-sections)
add_compile_definitions(__USE_MINGW_ANSI_STDIO=0)
# No link time in the PE header (and so the same header checksum): the same
# sources give the same bytes wherever and whenever they are built.
add_link_options(-static -s -Wl,--gc-sections -Wl,--no-insert-timestamp)

# Called once the stub's targets exist: the stub neither throws nor asks for
# types at run time, so it carries no unwinding tables and no type data.
function(sfx_make_stub_small)
  foreach(target sfxstub sfxextract sfxarchive sfxplatform)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)
  endforeach()
endfunction()
