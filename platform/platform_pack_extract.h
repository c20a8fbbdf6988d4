// SPDX-License-Identifier: Zlib
// The calls sfxpack -x finds and makes the folders of members with. A member
// is written by its own name inside a folder held open for as long as members
// go into it: on POSIX each call works relative to the folder's descriptor,
// so no path is walked again for each of many members and no link on the way
// is ever followed. Windows has no such calls; there the folder keeps its
// path and each call takes the whole path, after checking that no part of it
// is a link. The files themselves are written by the calls of platform_pack.h
// that -o writes its output with.
#pragma once

#include "platform_pack.h"

// Opens the folder `name` inside `parent` without following a link. False,
// with errno set: ENOENT when nothing has the name, another value (which one
// depends on the system) when a link, a file or anything else has it.
bool platform_open_out_folder(const platform_out_folder *parent, const char *name,
                              platform_out_folder *folder);

// Creates the folder `name` inside `parent` with the default rights. False,
// with errno set, when it can't; EEXIST when the name is taken.
bool platform_make_out_folder(const platform_out_folder *parent, const char *name);

// As platform_entry_status for the entry `name` inside `folder`, never
// following a link.
bool platform_out_entry_status(const platform_out_folder *folder, const char *name,
                               platform_entry *entry);
