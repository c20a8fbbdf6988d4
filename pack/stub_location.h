// SPDX-License-Identifier: Zlib
// Where the stubs for each target live: installed under lib/sfx/NAME/ beside
// the bin/ folder of sfxpack, or where the build folder puts them.
#pragma once

#include <string>

// The stub to pack with when the command line names none (-s) and no target:
// the one for the system sfxpack itself runs on. On failure says why on
// standard error and returns false.
bool find_native_stub(std::string *path);

// The stub installed for `target` (e.g. "linux-x86_64", "win32", "win64").
// On failure says why, with the targets that are there, and returns false
// with the exit status in `failure_status`: 2 when the command line named no
// installed target, 1 when sfxpack can't tell where it is installed.
bool find_target_stub(const std::string &target, std::string *path, int *failure_status);

// Prints every target whose stub is found, with its path, one per line on
// standard output. Returns the exit status: 0, or 1 when none is found.
int run_list_targets();
