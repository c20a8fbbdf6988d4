// SPDX-License-Identifier: Zlib
// Opening a self-extracting file and walking its records the way the stub
// does, for the packer's -l and -x.
#pragma once

#include "member_record.h"
#include "platform_pack.h"
#include "signed_file.h"
#include "stub_names.h"

#include <cstdint>
#include <cstdio>

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

// Called for each record that passed the stub's judging; `archive` stands at
// the member's data. Returns false to stop the walk after it has reported why.
typedef bool (*record_visitor)(const member_record *record, FILE *archive, void *context);

// Reads and judges every record from ARCHIVE_START up to `file_size`, where
// the archive ends, with the stub's own judging under `rules` and hands each good one to `visit`,
// then steps to the next record whatever `visit` read. Stops at the first record the stub would
// refuse.
// True when the walk reached the end; `members` counts the records visited.
bool walk_archive(FILE *archive, const char *path, int64_t file_size, name_rules rules,
                  record_visitor visit, void *context, int *members);

// Opens `path` with open_checked_archive, reads how its names are stored into
// `names` (which `visit` may read through `context`) and walks every record
// with walk_archive. 0 when the walk reached the end and found members, 2
// for a code page asked for where names are not in one, 1 otherwise, always
// after saying why; `members` counts the records visited, `extent` says
// where the archive ends.
int walk_archive_file(const char *path, int codepage, name_storing *names, record_visitor visit,
                      void *context, int *members, archive_extent *extent);
