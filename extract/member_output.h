// SPDX-License-Identifier: Zlib
// The stub's visitor of the member walk: turns each judged member into a
// directory or a file on disk and reports it on one console line.
#pragma once

#include "member_walk.h"

#include <cstdio>

struct member_output {
    FILE *out;         // the member file being written, null between members
    int32_t remaining; // its bytes not yet written
};

// A visitor writing into the current directory through `output`. A record
// with an extension block has its check value compared and its flags applied.
// Every member that does not come out whole has been reported on the console
// and ends the walk; a partly written file is removed.
walk_visitor member_output_visitor(member_output *output);
