// SPDX-License-Identifier: Zlib
// What the stub may call of the system: the calls whose behaviour differs
// between POSIX and Windows, and nothing the stub does not need, as every
// call here is linked into it. The packer's own calls are in platform_pack.h.
// Each platform has one source file per program, wrapped whole in its own
// #if, so both are always in the build and the other one compiles to nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The name the program was started by: the first argument, or, when the
// command line is empty (no first argument, or an empty one), the system's own
// path of the program file. Never null.
const char *platform_program_name(int argc, char **argv);

// Readies the process for the run, before its first console text: a console
// that went away (the reader of a pipe ended) must not end the run, a write
// beyond the file size limit fails like one to a full disk, and an
// interruption (Ctrl-C, a termination, hang-up or quit signal, a closed
// console window) removes the member being written, then ends the program as
// the interruption would have. Signals ignored when the program started stay
// ignored.
void platform_prepare_run();

// Rewrites `path`, which holds no lower-case ASCII letters, in place so that it
// opens the file the system would open without regard to letter case. Windows
// file systems ignore case already. On POSIX each path component is matched
// against its directory's entries: among the names equal without regard to
// case, those that lead to the running program's own file win, component by
// component; when none does, the exact name wins, then the first in byte
// order. The length never changes.
void platform_match_letter_case(char *path);

// True when the system can tell which file the running program is (POSIX
// without /proc can't).
bool platform_knows_running_program();

// True when `opened` is the running program's own file (the same file, not a
// copy of it); also true when the system can't tell which file it runs.
bool platform_is_running_program(FILE *opened);

// Opens the running program's own file for binary reading, as the system
// names it, whatever name the program was started by. Null where the system
// can't name it (POSIX without /proc).
FILE *platform_open_running_program();

// Creates or empties the file `name` and opens it for binary writing as the
// member being written: from now until platform_close_member, an interruption
// removes it. `name` must stay valid until then. Null when it can't be opened.
// On POSIX a file it creates gets mode 0777 less the umask when `executable`,
// 0666 less the umask otherwise; a file already there keeps its mode. Windows
// has no mode to give.
FILE *platform_open_member(const char *name, bool executable);

// Closes the stream of platform_open_member; false when the close failed.
// An interruption from now on leaves the file where it is.
bool platform_close_member(FILE *member);

// The size of the open file from its status record; false when it can't be read.
bool platform_file_size(FILE *file, int64_t *size);

// Creates one directory level with the default rights. The outcome is not
// looked at: the stub reports a directory member done either way, and a
// missing folder shows when a file in it can't be created.
void platform_make_directory(const char *path);

// Which names a file system keeps for itself beyond the common rules: Windows
// opens device names such as CON or AUX in every folder.
enum name_rules {
    NAME_RULES_POSIX,
    NAME_RULES_WINDOWS,
};

// The name rules of the system this program runs on.
name_rules platform_name_rules();

// Reads the stored `name` as this system's 8-bit calls do, into UTF-8 in
// `text` (`room` bytes, NUL included): on Windows in the system's ANSI code
// page, false when a byte or byte pair means no character there or the text
// does not fit. POSIX systems have no code page for names; there each byte
// 0x80-0xFF is read as the character of that value (ISO 8859-1).
bool platform_read_name(const char *name, char *text, size_t room);

// True when the file opened as `file` is a file on disk, not a device or a
// pipe that its name reached. Always true on POSIX.
bool platform_is_disk_file(FILE *file);

// Shows the text file `path` on the console, below what was printed so far,
// and returns when it is shown. Only a regular file is shown, reached through
// links or not: a folder, a device (a link to /dev/zero would never end), a
// FIFO (it would wait) or anything else at the name shows nothing, as do
// failures. On Windows the command
// interpreter's type shows it: the one COMSPEC names when that is an absolute
// path to an existing file, otherwise the system folder's cmd.exe. One that
// lies in the current folder or below it, where the archive may have put it,
// is never started: then, and when there is no interpreter to start, the
// file's bytes are copied to the console unchanged, as on POSIX.
void platform_show_text_file(const char *path);

// True where a program file may carry a signature after its end, which the
// stub then finds through its own program headers before the length check:
// Windows. A constant, so that no other stub carries that code.
#if defined(_WIN32)
constexpr bool PLATFORM_SIGNED_PROGRAMS = true;
#else
constexpr bool PLATFORM_SIGNED_PROGRAMS = false;
#endif

// Writes `share` (0 <= share <= 100) into `text` (`size` bytes, at least 6)
// with one decimal, as the system's C runtime shows it with "%03.1f": the
// stub's texts must stay what they were when printf wrote them. On Windows the
// C runtime DLL formats it, so its own rounding of a tie stays; on POSIX the
// double's exact value is rounded to the nearest tenth, a tie to even, as
// musl's and glibc's printf do, without a formatting engine in the stub.
void platform_format_share(double share, char *text, size_t size);
