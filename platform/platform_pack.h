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
#include <string>

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

// True when the existing file `path` is one its user may not write: where
// modes exist, one without any write bit (which counts even for the
// superuser) or one the user lacks the right to write; on Windows, one with
// the read-only attribute. A rename would replace it on POSIX all the same.
bool platform_is_read_only(const char *path);

// True when `stream` writes to a terminal.
bool platform_is_terminal(FILE *stream);

// A folder new files are written into, held open as long as files go into it.
struct platform_out_folder {
    int descriptor;   // the open folder (POSIX)
    std::string path; // the folder's path ending in a separator, "" for the current one (Windows)
};

// Opens the folder `path` ("" for the current one) for new files, following
// links: the user chose it. False, with errno set, when it can't be opened.
bool platform_open_out_root(const char *path, platform_out_folder *folder);
void platform_close_out_folder(platform_out_folder *folder);

// Opens the folder the file `path` is in, as platform_open_out_root does,
// and gives the file's name in it.
bool platform_open_folder_of(const char *path, platform_out_folder *folder, std::string *name);

// A file being written that takes its name only once whole. Where the system
// allows (Linux O_TMPFILE) it has no name at all until then, so nothing is
// left whatever ends the program, even a signal no program can catch;
// elsewhere it has a fresh name beside its own, which an interruption removes.
struct platform_out_file {
    int descriptor; // written to until platform_close_out; -1 after
    FILE *stream;   // the stream over it, once platform_out_stream made one
    int kept;       // POSIX: the same file, kept open after the close to place it
    bool unnamed;   // it has no name yet: placing links it in
    bool temporary; // its temporary name is in the folder, to be moved or removed
    // The temporary name inside the folder; an unnamed file takes one only for
    // a moment, when it replaces a file. An earlier call's name may stay here.
    char name[256];
    // Windows: its identity, taken when the writes are closed.
    uint64_t volume;
    uint64_t index;
};

// Creates a new file inside `folder` for writing, never through a link; a
// temporary name starts with `prefix`. `file` may hold an earlier call's
// name: where the system gains by it, that name is tried first. The file gets
// the rights any new file gets (0666 less the umask where modes exist; 0777
// less the umask when `executable`). False, with errno set, on failure.
bool platform_create_out_file(const platform_out_folder *folder, const char *prefix,
                              bool executable, platform_out_file *file);

// A binary stream that writes to `file`, closed by platform_close_out; null
// with errno set when there is no memory for it.
FILE *platform_out_stream(platform_out_file *file);

// Writes all `size` bytes to `out`; false, with errno set, when it can't.
bool platform_write_out(int out, const void *bytes, size_t size);

// Closes the writes to `file`, still to be placed or discarded; false, with
// errno set, when the close reported a failure.
bool platform_close_out(platform_out_file *file);

// Lets everyone run the closed `file` and its owner change it (0755 where
// modes exist); false, with errno set, when it can't.
bool platform_make_out_executable(platform_out_file *file);

// What became of a closed file given its name.
enum platform_placing {
    PLATFORM_PLACED,
    PLATFORM_NAME_TAKEN, // something has the name, or may have it where the system can't tell
    PLATFORM_NOT_PLACED, // see errno
    // The name now holds another file than the one written: someone put his
    // own in place of the temporary name meanwhile.
    PLATFORM_SWAPPED,
};

// Gives the closed `file` the name `to` inside `folder` only when nothing
// has that name.
platform_placing platform_place_out(const platform_out_folder *folder, platform_out_file *file,
                                    const char *to);

// As platform_place_out, replacing a file already there.
platform_placing platform_replace_out(const platform_out_folder *folder, platform_out_file *file,
                                      const char *to);

// Ends the work on `file`, placed or not: closes what is open and removes its
// temporary name if it still has one.
void platform_discard_out(const platform_out_folder *folder, platform_out_file *file);

// Removes the file `name` inside `folder`.
void platform_remove_out(const platform_out_folder *folder, const char *name);

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
