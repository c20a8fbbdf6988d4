// SPDX-License-Identifier: Zlib
// The archive as the extractor reads it: through the copy buffer, which also
// holds what was read ahead, so that a small member, its record and the next
// records arrive in one read while a large member still takes one read per
// chunk.
#pragma once

#include "archive_reader.h"

#include <cstddef>
#include <cstdio>

struct archive_input {
    FILE *file;   // unbuffered, standing at `end` of what the buffer holds
    char *buffer; // the copy buffer, COPY_CHUNK bytes
    size_t start; // first byte not yet taken
    size_t end;   // end of the bytes read
};

// An input over `file` that holds nothing yet.
archive_input start_archive_input(FILE *file, char *copy_buffer);

// The next record, with the same outcomes as read_member_record.
record_read_result take_member_record(archive_input *input, member_record *record);

// The next `length` bytes (at most COPY_CHUNK), contiguous in the copy buffer;
// null when the archive ends or fails before them.
const char *take_member_chunk(archive_input *input, size_t length);
