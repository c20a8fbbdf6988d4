// SPDX-License-Identifier: Zlib
// Turns one judged member_record into a directory or a file on disk and
// reports it on one console line.
#pragma once

#include "archive_input.h"
#include "member_record.h"

#include <cstdio>

enum member_result {
    MEMBER_DONE,
    MEMBER_NOT_CREATED,  // the output file could not be opened
    MEMBER_NOT_WRITTEN,  // a write or the close failed; the file was removed
    MEMBER_DATA_MISSING, // the archive delivered no more data; the file was removed
    MEMBER_DAMAGED,      // the check value did not match; a file was removed
};

// Handles a good record. `archive` stands just after the record; for a file
// member exactly `size` bytes are taken from it. A record with an extension
// block has its check value compared and its flags applied. Every outcome but MEMBER_DONE
// has been reported on the console and ends the walk.
member_result output_member(const member_record *record, archive_input *archive);
