// SPDX-License-Identifier: Zlib
// The calls sfxpack -x writes members with. A member is written by its own
// name inside a folder held open for as long as members go into it: on POSIX
// each call works relative to the folder's descriptor, so no path is walked
// again for each of many members and no link on the way is ever followed.
// Windows has no such calls; there the folder keeps its path and each call
// takes the whole path, after checking that no part of it is a link.
#pragma once

#include "platform_pack.h"

#include <cstddef>
#include <string>

struct platform_out_folder {
    int descriptor;   // the open folder (POSIX)
    std::string path; // the folder's path ending in a separator, "" for the current one (Windows)
};

// Opens the folder -x writes into, `path` ("" for the current one), following
// links: the user chose it. False, with errno set, when it can't be opened.
bool platform_open_out_root(const char *path, platform_out_folder *folder);

// Opens the folder `name` inside `parent` without following a link. False,
// with errno set: ENOENT when nothing has the name, another value (which one
// depends on the system) when a link, a file or anything else has it.
bool platform_open_out_folder(const platform_out_folder *parent, const char *name,
                              platform_out_folder *folder);

void platform_close_out_folder(platform_out_folder *folder);

// Creates the folder `name` inside `parent` with the default rights. False,
// with errno set, when it can't; EEXIST when the name is taken.
bool platform_make_out_folder(const platform_out_folder *parent, const char *name);

// As platform_entry_status for the entry `name` inside `folder`, never
// following a link.
bool platform_out_entry_status(const platform_out_folder *folder, const char *name,
                               platform_entry *entry);

// Creates and opens for writing a new file with a fresh name starting with
// `prefix` inside `folder`, never through a link; its name (below the folder)
// goes to `name`, `room` bytes, which may hold the name an earlier call gave
// (or be empty): where the system gains by it, that name is tried first. The
// file gets the rights any new file gets (0666 less the umask where modes
// exist; 0777 less the umask when `executable`). The descriptor, or -1 with
// errno set.
int platform_create_out_file(const platform_out_folder *folder, const char *prefix, bool executable,
                             char *name, size_t room);

// Writes all `size` bytes to `out`; false, with errno set, when it can't.
bool platform_write_out(int out, const void *bytes, size_t size);

// Closes `out`; false, with errno set, when the close reported a failure.
bool platform_close_out(int out);

// Moves `from` onto `to`, both inside `folder`, only when nothing has the
// name `to`. False, with errno set, when it can't; EEXIST when the name is
// taken, or may be taken where the system can't tell without the move.
bool platform_place_out(const platform_out_folder *folder, const char *from, const char *to);

// Moves `from` onto `to`, both inside `folder`, replacing a file already there.
bool platform_replace_out(const platform_out_folder *folder, const char *from, const char *to);

// Removes the file `name` inside `folder`.
void platform_remove_out(const platform_out_folder *folder, const char *name);

// As platform_remove_on_interrupt, for the file `name` inside `folder`, which
// must stay open until the next call to either.
void platform_remove_on_interrupt_in(const platform_out_folder *folder, const char *name);
