// SPDX-License-Identifier: Zlib
// The extractor's run from entry to exit status.
#pragma once

#include <cstdint>
#include <cstdio>

struct run_flags {
    bool error;       // decides whether the run closes with the notice
    bool record_seen; // a record was taken up, good or bad
    bool no_memory;   // the memory for a container could not be had: status -1
};

// Takes the layout declaration, then walks the member records from
// ARCHIVE_START of an archive whose length check passed (`archive_end` is
// where it ends, its trailer included) and hands each good one to member
// output; the members of a compressed container go there the same way. A
// declaration the stub refuses, the first bad record, a failed member or a
// damaged container sets the error flag and ends the walk.
void walk_members(FILE *archive, int64_t archive_end, char *copy_buffer, run_flags *flags);

// The whole run; returns the exit status: 0 when no error message was
// printed, 1 when one was, -1 when the copy buffer or a container's
// dictionary can't be allocated.
int run_extractor(int argc, char **argv);
