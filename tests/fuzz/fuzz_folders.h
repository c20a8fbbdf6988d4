// SPDX-License-Identifier: Zlib
// What both fuzzers need to watch the file system: a sentinel folder of their
// own with a scratch folder inside it where the code under test writes, and
// checks that every path it changes stays in there.
#pragma once

#include <cstdio>
#include <string>
#include <sys/types.h>

// Says what went wrong on standard error and aborts, so libFuzzer keeps the input.
[[noreturn]] void fuzz_fail(const char *what, const std::string &detail);

// Creates a fresh folder under TMPDIR (or /tmp), removed with all it holds when
// the program ends, and returns its resolved path.
std::string fuzz_make_sentinel();

// The folder every checked path must resolve into: a resolved path.
void fuzz_set_scratch(const std::string &scratch);

// While fuzz_checking_paths is true, every path the code under test creates,
// writes, renames or removes through the wrapped calls must resolve inside the
// scratch folder; while fuzz_forbidding_changes is true, there may be none.
extern bool fuzz_checking_paths;
extern bool fuzz_forbidding_changes;
void fuzz_check_path_stays_inside(const char *path);

// The calls the wrappers pass on to, for the fuzzers' own setup.
extern "C" FILE *__real_fopen(const char *path, const char *mode);
extern "C" int __real_open(const char *path, int flags, ...);
extern "C" int __real_mkdir(const char *path, mode_t mode);
extern "C" int __real_remove(const char *path);

void fuzz_make_folder(const std::string &path);

// The lowest descriptor number not in use: a descriptor left open shows as a
// higher one after a run.
int fuzz_lowest_free_descriptor();
