// SPDX-License-Identifier: Zlib
// Listing and checking a self-extracting file the way the stub reads it.
#pragma once

// Prints every member the stub would take up (kind, data size, name) on
// standard output and any problem on standard error. Returns 0 only when the
// length is right and every record passes the judging of the stub at the
// file's front; whether the target's file system can take the members is not
// checked. Names behind a Windows stub are shown converted from `codepage`
// (0: the default) to UTF-8.
int run_list(const char *path, int codepage);
