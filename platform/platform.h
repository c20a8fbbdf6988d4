// The few calls whose behaviour differs between POSIX and Windows. Each
// platform has one source file, wrapped whole in its own #if, so both are
// always in the build and the other one compiles to nothing.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// The name the program was started by: the first argument, or, when the
// command line is empty (no first argument, or an empty one), the system's own
// path of the program file. Never null.
const char *platform_program_name(int argc, char **argv);

// Rewrites `path` in place so that it opens the file the system would open
// without regard to letter case. Windows file systems ignore case already; on
// POSIX each path component is matched against the directory's entries (an
// exact match wins). The length never changes.
void platform_match_letter_case(char *path);

// The size of the file `path` from its status record; false when it can't be read.
bool platform_file_size(const char *path, int64_t *size);

// True when a status record can be read for `path` (a file or a directory).
bool platform_exists(const char *path);

// Creates one directory level with the default rights; the outcome is not reported.
void platform_make_directory(const char *path);

// Shows the text file `path` on the console, below what was printed so far,
// and returns when it is shown. Failures show nothing.
void platform_show_text_file(const char *path);

// Formatted printing on standard output. On Windows it goes through the C
// runtime DLL's own printf, so the stub carries no formatting engine of its own.
void platform_print(const char *format, va_list arguments);

// Formats into `text` (`size` bytes, always NUL-terminated) like platform_print.
void platform_format(char *text, size_t size, const char *format, ...);
