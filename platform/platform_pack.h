// SPDX-License-Identifier: Zlib
// What the packer may call of the system, beside what the stub may call.
// The stub never calls these, so they live in a library of their own that it
// does not link. Paths and names are UTF-8 on Windows too, where they go
// through the wide-character calls; on POSIX they are the bytes the system
// gives.
#pragma once

#include "platform_stub.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Checks the arguments of a function that formats like the C++ library's
// printf, which the packer uses: on Windows that is MinGW's own, which
// follows the C standard rather than the runtime DLL.
#if defined(_WIN32)
#define PLATFORM_PRINTF(format_at, first_at)                                                       \
    __attribute__((format(gnu_printf, format_at, first_at)))
#else
#define PLATFORM_PRINTF(format_at, first_at) __attribute__((format(printf, format_at, first_at)))
#endif

// True when the host path `path` does not start below the current folder:
// it starts with '/' on POSIX; on Windows it starts with '/' or '\\' or names
// a drive ("C:").
bool platform_is_absolute_path(const char *path);

// Replaces the arguments with their UTF-8 form where the runtime gives them
// in another encoding (Windows); elsewhere leaves them as they are.
void platform_utf8_arguments(int *argc, char ***argv);

// fopen and remove for the packer's paths.
FILE *platform_open(const char *path, const char *mode);
bool platform_remove(const char *path);

// The full path of the running program's file; false when the system can't
// tell or it does not fit in `room` bytes.
bool platform_own_program_file(char *path, size_t room);

enum platform_entry_kind {
    PLATFORM_ENTRY_MISSING, // no status record could be read; see error_number
    PLATFORM_ENTRY_FILE,
    PLATFORM_ENTRY_DIRECTORY,
    PLATFORM_ENTRY_LINK,  // a symbolic link, only seen when links are not followed
    PLATFORM_ENTRY_OTHER, // a device, pipe, socket or anything else
};

struct platform_entry {
    platform_entry_kind kind;
    int64_t size;
    bool executable; // a file with any executable bit (never on Windows)
    // Together they tell one directory from another, to find loops through
    // followed links; both 0 when the system can't tell.
    uint64_t volume;
    uint64_t index;
    int error_number; // errno value when kind is PLATFORM_ENTRY_MISSING
};

// True when `a` and `b` are the same file or directory, whatever paths
// reached them; false when the system could not tell the identity of either.
inline bool platform_same_entry(const platform_entry &a, const platform_entry &b) {
    return (a.volume != 0 || a.index != 0) && a.volume == b.volume && a.index == b.index;
}

// Reads the status of `path`, of the link itself unless `follow_links`.
// False (kind PLATFORM_ENTRY_MISSING) when it can't be read.
bool platform_entry_status(const char *path, bool follow_links, platform_entry *entry);

// The folder the packer finds its inputs in. Where the system allows, it is
// held open and each input is found from it by the path below it alone, so
// the folder's own path is not walked again for each of many inputs.
struct platform_folder {
    const char *path; // as given, not copied; "" for the current directory
    int descriptor;   // the open folder where the system has one
};

// Opens the folder `path` ("" for the current one). False, with errno set,
// when it can't be opened as a folder.
bool platform_open_folder(const char *path, platform_folder *folder);
void platform_close_folder(platform_folder *folder);

// The calls below take `relative`, a path below `folder` with '/' between its
// parts; "" names the folder itself.

// As platform_entry_status, for the entry `relative` in `folder`.
bool platform_entry_status_in(const platform_folder *folder, const char *relative,
                              bool follow_links, platform_entry *entry);

// Hands `visit` each name held by the directory `relative` in `folder`,
// without "." and "..", in no particular order. False, with errno set, when
// it can't be read whole.
bool platform_list_directory_in(const platform_folder *folder, const char *relative,
                                void (*visit)(const char *name, void *context), void *context);

// Opens the file `relative` in `folder` for reading, without a stream and its
// buffer: the packer reads straight into its own. -1, with errno set, on failure.
int platform_open_input_in(const platform_folder *folder, const char *relative);

// Reads up to `size` bytes from `input`: the count read, 0 at its end, or -1
// with errno set.
long platform_read_input(int input, void *bytes, size_t size);
void platform_close_input(int input);

// Creates and opens, for binary writing, a new file with a fresh name in the
// folder of `near_path`, so that a later rename onto `near_path` stays on one
// volume. Its name goes to `temp_path` (`room` bytes). Null, with errno set,
// on failure.
FILE *platform_create_temp_file(const char *near_path, char *temp_path, size_t room);

// Moves `from` onto `to`, replacing a file already there.
bool platform_replace_file(const char *from, const char *to);

// True when the existing file `path` is one its user may not write: where
// modes exist, one without any write bit (which counts even for the
// superuser) or one the user lacks the right to write; on Windows, one with
// the read-only attribute. A rename would replace it on POSIX all the same.
bool platform_is_read_only(const char *path);

// Lets everyone run the file and its owner change it (0755 where modes exist).
bool platform_make_executable(const char *path);

// True when `stream` writes to a terminal.
bool platform_is_terminal(FILE *stream);

// While a path is set, SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break
// and closing the console) remove that file and then end the program as the
// signal would; a signal ignored when the program started stays ignored. Null
// forgets the path. Files made by platform_create_temp_file can be removed
// while they are still open.
void platform_remove_on_interrupt(const char *path);

// Converts the NUL-terminated UTF-8 `text` into Windows code page `codepage`
// (or a name in that code page back to UTF-8) into `out`, `room` bytes, NUL
// included. False when `text` is not valid in its encoding, when a character
// has no equivalent (nothing is replaced or approximated), or when the result
// does not fit.
bool platform_utf8_to_codepage(int codepage, const char *text, char *out, size_t room);
bool platform_codepage_to_utf8(int codepage, const char *text, char *out, size_t room);

// The upper-case form of the Unicode character `character` by the system's
// own one-to-one mapping (Windows: the file systems' rules); the character
// itself when it has none.
uint32_t platform_upper_case_character(uint32_t character);
