// The few calls whose behaviour differs between POSIX and Windows. Each
// platform has one source file, wrapped whole in its own #if, so both are
// always in the build and the other one compiles to nothing.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// The name the program was started by: the first argument, or, when the
// command line is empty (no first argument, or an empty one), the system's own
// path of the program file. Never null.
const char *platform_program_name(int argc, char **argv);

// Readies the process for the run, before its first console text: a console
// that went away (the reader of a pipe ended) must not end the run, and an
// interruption (Ctrl-C, a termination or hang-up signal, a closed console
// window) removes the member being written, then ends the program as the
// interruption would have. Signals ignored when the program started stay ignored.
void platform_prepare_run();

// Rewrites `path`, which holds no lower-case ASCII letters, in place so that it
// opens the file the system would open without regard to letter case. Windows
// file systems ignore case already. On POSIX each path component is matched
// against its directory's entries: among the names equal without regard to
// case, those that lead to the running program's own file win, component by
// component; when none does, the exact name wins, then the first in byte
// order. The length never changes.
void platform_match_letter_case(char *path);

// True when `opened` is the running program's own file (the same file, not a
// copy of it); also true when the system can't tell which file it runs.
bool platform_is_running_program(FILE *opened);

// Creates or empties the file `name` and opens it for binary writing as the
// member being written: from now until platform_close_member, an interruption
// removes it. `name` must stay valid until then. Null when it can't be opened.
FILE *platform_open_member(const char *name);

// Closes the stream of platform_open_member; false when the close failed.
// An interruption from now on leaves the file where it is.
bool platform_close_member(FILE *member);

// The size of the file `path` from its status record; false when it can't be read.
bool platform_file_size(const char *path, int64_t *size);

// True when a status record can be read for `path` (a file or a directory).
bool platform_exists(const char *path);

// Creates one directory level with the default rights; the outcome is not reported.
void platform_make_directory(const char *path);

// Which names a file system keeps for itself beyond the common rules: Windows
// opens device names such as CON or AUX in every folder.
enum name_rules {
    NAME_RULES_POSIX,
    NAME_RULES_WINDOWS,
};

// The name rules of the system this program runs on.
name_rules platform_name_rules();

// True when the file opened as `file` is a file on disk, not a device or a
// pipe that its name reached. Always true on POSIX.
bool platform_is_disk_file(FILE *file);

// Shows the text file `path` on the console, below what was printed so far,
// and returns when it is shown. Failures show nothing. On Windows the command
// interpreter's type shows it: the one COMSPEC names when that is an absolute
// path to an existing file, otherwise the system folder's cmd.exe, never one
// found in the current folder.
void platform_show_text_file(const char *path);

// Formatted printing on standard output. On Windows it goes through the C
// runtime DLL's own printf, so the stub carries no formatting engine of its own.
void platform_print(const char *format, va_list arguments);

// Formats into `text` (`size` bytes, always NUL-terminated) like platform_print.
void platform_format(char *text, size_t size, const char *format, ...);

// What the packer needs from the file system. The stub never calls these.
// Paths and names are UTF-8 on Windows too, where they go through the
// wide-character calls; on POSIX they are the bytes the system gives.

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
    // Together they tell one directory from another, to find loops through
    // followed links; both 0 when the system can't tell.
    uint64_t volume;
    uint64_t index;
    int error_number; // errno value when kind is PLATFORM_ENTRY_MISSING
};

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

// Gives `path` the rights a newly created file gets (0666 less the umask
// where modes exist); temporary files start out readable by their owner only.
bool platform_make_ordinary(const char *path);

// Creates one directory level. False, with errno set, when it can't; a
// directory already there counts as made.
bool platform_create_directory(const char *path);

// Converts the NUL-terminated UTF-8 `text` into Windows code page `codepage`
// (or a name in that code page back to UTF-8) into `out`, `room` bytes, NUL
// included. False when `text` is not valid in its encoding, when a character
// has no equivalent (nothing is replaced or approximated), or when the result
// does not fit.
bool platform_utf8_to_codepage(int codepage, const char *text, char *out, size_t room);
bool platform_codepage_to_utf8(int codepage, const char *text, char *out, size_t room);
