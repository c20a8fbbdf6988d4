// SPDX-License-Identifier: Zlib
// Helpers for tests that build real archives and run real programs in a
// fresh temporary folder.
#pragma once

#include "archive_writer.h"

#include <string>
#include <utility>
#include <vector>

// True in the sanitizer and fuzzer builds, whose stub is linked against the
// system's C library and the sanitizer runtimes.
#ifdef SFX_INSTRUMENTED_BUILD
constexpr bool INSTRUMENTED_BUILD = true;
#else
constexpr bool INSTRUMENTED_BUILD = false;
#endif

// One member held in memory, for small archives built in one call.
struct archive_member {
    char kind;
    std::string name;
    std::string data;    // a file member's bytes; ignored for a directory
    unsigned char flags; // MEMBER_FLAG_* bits for the extension block
    bool checked;        // gets the extension block when the name leaves room
};

inline archive_member directory_member(const std::string &name) {
    return archive_member{KIND_DIRECTORY, name, std::string(), 0, true};
}

inline archive_member file_member(const std::string &name, const std::string &data) {
    return archive_member{KIND_FILE, name, data, 0, true};
}

inline archive_member executable_member(const std::string &name, const std::string &data) {
    return archive_member{KIND_FILE, name, data, MEMBER_FLAG_EXECUTABLE, true};
}

// The member as a packer without the extension writes it.
inline archive_member unchecked(archive_member member) {
    member.checked = false;
    return member;
}

// Writes the whole self-extracting file `path` from the stub's bytes and the
// members, in order, encoded by the packer's own record and trailer code; each
// member that is `checked` and whose name leaves room gets the extension
// block, its check value computed from the member's bytes held here. The
// file declares the layout unless a member is not `checked`, as a packer
// without the extension wrote it.
// False when the stub does not fit, a name is too long or a write failed.
bool write_sfx_file(const char *path, const std::string &stub,
                    const std::vector<archive_member> &members);

// A fresh folder under the system's temporary folder, removed with all it
// holds when the value goes out of scope.
struct temp_folder {
    std::string path;
    temp_folder();
    ~temp_folder();
    temp_folder(const temp_folder &) = delete;
    temp_folder &operator=(const temp_folder &) = delete;
    std::string operator/(const std::string &name) const {
        return path + "/" + name;
    }
};

struct program_run {
    int exit_status;    // the status passed to exit, or -1000 - signal for a killed program
    std::string output; // everything written to standard output
    std::string errors; // everything written to standard error
};

// Runs `program` with exactly `arguments` as its argument list (an empty list
// gives argument count 0) in the folder `folder`, standard input empty.
program_run run_program(const std::string &program, const std::vector<std::string> &arguments,
                        const std::string &folder);

// The argument list for exec: pointers into `arguments`, then a null.
std::vector<char *> exec_arguments(const std::vector<std::string> &arguments);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &data);
bool path_exists(const std::string &path); // without following a last symbolic link

// Every entry below `folder`, relative, sorted; directories end with '/'.
std::vector<std::string> list_tree(const std::string &folder);

// A string of `size` bytes that differ from position to position.
std::string patterned_data(size_t size, unsigned seed = 1);

// Stand-ins for stubs that sfxpack takes but that never run: `size` bytes of
// patterned data behind the start of an ELF program, or behind an MS-DOS
// header whose PE signature sits at offset 64 (size at least 68).
std::string elf_stub_bytes(size_t size, unsigned seed = 1);
std::string pe_stub_bytes(size_t size, unsigned seed = 1);

// The bytes of the built stub.
const std::string &stub_image();

// Writes `folder`/`name` as an executable self-extracting file holding `members`.
void write_setup(const std::string &folder, const std::vector<archive_member> &members,
                 const std::string &name = "setup.exe");

// Runs `./setup.exe` in `folder` as a user would.
program_run run_setup(const std::string &folder, const std::string &name = "setup.exe");

// The path of the stub under test: the built one, or the one SFX_TEST_STUB
// names (a stub built for another processor, say).
std::string stub_program();

// What to exec to start the self-extracting `file` with `arguments` (the
// first is the start name): the file itself, or the user-mode emulator that
// SFX_TEST_EMULATOR names, which runs `file` with that start name.
struct start_command {
    std::string program;
    std::vector<std::string> arguments;
};
start_command stub_start(const std::string &file, const std::vector<std::string> &arguments);

// True when the stubs run under the emulator SFX_TEST_EMULATOR names.
bool stub_is_emulated();

// The 264 bytes of one record. `name_field` fills the name field from its
// start (a shorter text is followed by NUL bytes, so any bytes after the NUL
// can be given inside it); `magic` may be wrong on purpose.
std::string record_bytes(char kind, const std::string &name_field, int32_t size,
                         uint32_t magic = RECORD_MAGIC);

// The 16 bytes of a layout declaration of `version`.
std::string layout_declaration_bytes(int version);

// Writes `folder`/`name` as stub (the built one unless `stub` is given),
// filler, the `declaration` bytes (none: an undeclared file) just before
// ARCHIVE_START, the raw `members` bytes and a trailer of the file's true
// length plus `trailer_error`.
void write_raw_setup(const std::string &folder, const std::string &members,
                     int64_t trailer_error = 0, const std::string &name = "setup.exe",
                     const std::string *stub = nullptr, const std::string &declaration = "");

// The console text of one progress figure, e.g. figure("40.0").
std::string figure(const std::string &share);

// The line a finished directory or file member leaves on the console.
std::string directory_line(const std::string &name);
std::string file_line(const std::string &name, const std::string &figures);

// The separator that closes a run without error.
extern const std::string SEPARATOR;

// The stub's first line for ./setup.exe, and its error lines.
inline const std::string FILE_LINE = "File : ./SETUP.EXE\n";
inline const std::string WRONG_LENGTH = "!!!Error, This file is not of the original's length.\n"
                                        "!!!Error, It is recommended to obtain another copy.\n";
inline const std::string NO_FILES = "!!!Error, no files for extraction.\n";
inline const std::string BAD_RECORD = "!!!Error, bad file record.\n";
inline const std::string NOT_OPENED = "!!!Error, file could not be opened.\n";
inline const std::string NOT_CREATED = "!!!Error, file could not be created.\n";

// Makes the folder `path` (one level), failing the test when it can't.
void make_folder(const std::string &path);

// Makes `root` (unless it exists) and in it each entry: a name ending in '/'
// a folder, any other a file holding the entry's bytes.
void make_tree(const std::string &root,
               const std::vector<std::pair<std::string, std::string>> &entries);

// What the plain layout puts after the filler for `members`, in this order;
// written through a scratch file in `folder`.
std::string plain_sequence(const temp_folder &folder, const std::vector<archive_member> &members);

// Member names an archive may carry against the person who runs it, for the
// POSIX and the Windows runs alike: control bytes that would fake, hide or
// retitle console text, a second byte ':' (a drive on Windows, whatever the
// first byte), names Windows opens as devices in every folder or as a stream
// of a file. All are bad records under Windows rules (in code page 1252);
// under POSIX rules the device and stream names are plain names.
struct hostile_name {
    std::string name;
    char kind;
    bool device; // refused only under Windows rules: a device or a stream
};
extern const std::vector<hostile_name> HOSTILE_NAMES;

// Flips the lowest bit of the byte at `offset` of the file `path`: damage a
// copy might suffer.
void flip_bit(const std::string &path, int64_t offset);
