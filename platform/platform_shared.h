// SPDX-License-Identifier: Zlib
// What the stub's and the packer's platform code share, written once per
// system: the running program's own file, the identity of a file, and what
// an interruption does. Only the platform sources include this header.
#pragma once

#include <cstddef>
#include <cstdint>

// Together they name one file on a running system, whatever path reached it.
struct file_identity {
    uint64_t volume;
    uint64_t index;
};

inline bool same_identity(const file_identity &a, const file_identity &b) {
    return a.volume == b.volume && a.index == b.index;
}

#if defined(_WIN32)

#include <windows.h>

// The running program's file as the system names it, in the wide-character
// form that holds any name; false when the system does not say or it does
// not fit in `room` characters.
bool own_program_path(wchar_t *path, DWORD room);

// The identity of the file open as `handle`; false when the system does not say.
bool handle_identity(HANDLE handle, file_identity *identity);

// The identity of the file or folder `path`, never written to.
bool path_identity(const wchar_t *path, file_identity *identity);

// From now on Ctrl-C, Ctrl-Break and closing the console remove the file
// named by remove_on_interruption and end the program with the status
// Ctrl-C gives. Calls after the first change nothing.
void catch_interruptions();

// While held, an interruption waits: the file to remove can be created,
// closed or moved and named or forgotten as one step. An interruption that
// came meanwhile then ends the program before the caller goes on.
void hold_interruptions();
void release_interruptions();

// The file an interruption removes (copied), null for none; call it while
// interruptions are held.
void remove_on_interruption(const wchar_t *path);

#else

#include <sys/stat.h>

file_identity status_identity(const struct stat &status);

// The running program's file as the system names it (/proc/self/exe), or
// "" and false without /proc or when it does not fit in `room` bytes (at
// least 1).
bool own_program_path(char *path, size_t room);

// The identity of the running program's file; false without /proc (an
// empty root, say). Opened rather than asked for its status: a user-mode
// emulator running the program answers an open of this link with the
// program's file, while the link itself names the emulator.
bool own_program_identity(file_identity *identity);

// From now on SIGHUP, SIGINT, SIGQUIT and SIGTERM remove the file named by
// remove_on_interruption, then end the program as the signal would; a signal
// ignored when the program started stays ignored. SIGXFSZ is ignored, so a
// write past the file size limit fails like a full disk and the caller
// removes the file, instead of the program ending with the file left. Called
// once.
void catch_interruptions();

// The file an interruption removes, `name` inside the folder open as
// `folder` (AT_FDCWD for the current one), null for none. `name` is not
// copied: it must stay as it is until the next call.
void remove_on_interruption(int folder, const char *name);

#endif
