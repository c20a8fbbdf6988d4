// SPDX-License-Identifier: Zlib
// sfxpack -t: reads every member of a self-extracting file as the stub would
// and compares each check value, writing nothing.
#pragma once

// Returns the exit status: 0 when every record is good and every member that
// carries a check value gives it; each damaged member is named on standard
// error.
int run_test(const char *path, int codepage);
