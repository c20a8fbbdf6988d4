// SPDX-License-Identifier: Zlib
// Building a self-extracting file from the command line's choices.
#pragma once

#include "command_line.h"

// Writes options.output from the stub and the PATHs; returns the exit status
// (0, or 1 after a message on standard error, with no output file left).
int run_pack(const pack_options &options);
