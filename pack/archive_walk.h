// SPDX-License-Identifier: Zlib
// Opening a self-extracting file and walking its records the way the stub
// does, for the packer's -l, -t and -x.
#pragma once

#include "member_walk.h"
#include "platform_pack.h"
#include "signed_file.h"
#include "stub_names.h"

#include <cstdint>
#include <cstdio>
#include <string>

// The compressed containers a walk went through whole.
struct container_summary {
    int64_t containers;
    int64_t compressed_bytes;    // their data as stored
    uint64_t decompressed_bytes; // the member sequences they hold
};

// Opens `path` for binary reading and checks its length trailer first, as the
// stub does; `entry` gets the file's status (its size, its identity) and
// `extent` where the archive ends (before the certificate table of a signed
// file). Null, after saying why on standard error (a folder, unreadable, cut
// short or lengthened, a signature the stub can't read past), when the stub
// would refuse it.
FILE *open_checked_archive(const char *path, platform_entry *entry, archive_extent *extent);

// How the names of the open `archive` are read: by the rules of the stub at
// its front and, for a Windows stub, in `codepage` (0: the default). False,
// after saying why, when a code page is given for a file whose stub is not a
// Windows program.
bool names_of_archive(FILE *archive, const char *path, int codepage, name_storing *names);

// Takes the layout declaration, then walks every member of the open, checked
// `archive`, whose archive ends at `archive_end` (its trailer included; a
// signed file's certificate table is never read), with the stub's own judging
// under `rules`, chunks of data of `buffer.capacity` bytes. In a file that
// declares containers, the members inside each container go to `visitor` in
// its place, as the stub walks them; the container itself is never given to
// it. Says why on standard error when the declaration or a record could not
// be read or is one the stub would refuse (a refused declaration ends the
// walk as a bad record at its offset, before any member), and when a
// container is damaged or its memory can't be had; what happened to a member
// the visitor says itself. The outcome counts the members given to
// `visitor`; `summary` (when not null) gets the containers walked whole.
walk_outcome walk_archive(FILE *archive, const char *path, int64_t archive_end, name_rules rules,
                          walk_buffer buffer, const walk_visitor *visitor,
                          container_summary *summary);

// Where `member` stands, for a message: "offset N" in the file, or, for one
// inside a container, "offset N of the members of 'NAME'" (N counted in the
// container's decompressed sequence). Only during a walk.
std::string member_place(const walked_member *member);

// A program's step between opening a file and walking it (-x enters its
// folder): true to walk on, false after saying why. `archive` is the file's
// status.
typedef bool (*walk_preparation)(void *context, const platform_entry *archive);

// Opens `path` with open_checked_archive, runs `prepare` (when not null) with
// the visitor's context, reads how its names are stored into `names` (which
// the visitor may read through its context) and walks every record with
// walk_archive. 0 when the walk reached the end and found members, 2 for a
// code page asked for where names are not in one, 1 otherwise, always after
// saying why (for a file without members, "holds no members; " and
// `no_members`); `members` counts the members visited (those inside
// containers, not the containers), `extent` says where the archive ends,
// `summary` (when not null) the containers.
int walk_archive_file(const char *path, int codepage, name_storing *names, walk_buffer buffer,
                      const walk_visitor *visitor, walk_preparation prepare, const char *no_members,
                      int64_t *members, archive_extent *extent, container_summary *summary);

// The end of the message for a file without members, for -l and -t.
constexpr const char *NO_FILES_FOR_THE_EXTRACTOR = "the extractor would find no files to extract";
