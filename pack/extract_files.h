// SPDX-License-Identifier: Zlib
// Recreating the members of a self-extracting file without running its stub.
#pragma once

#include "command_line.h"

// Extracts `options.extracted` into `options.directory` (the current folder
// when empty), judging every record with the stub's own rules. Returns 0 only
// when every member came out whole, 1 otherwise.
int run_extract(const pack_options &options);
