// SPDX-License-Identifier: Zlib
// Running the real sfxpack from a test. The including test program defines
// SFXPACK_PATH, the packer it was built with.
#pragma once

#include "test_support.h"

#include <string>
#include <vector>

inline program_run run_sfxpack(const std::vector<std::string> &arguments,
                               const std::string &folder) {
    std::vector<std::string> all{"sfxpack"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return run_program(SFXPACK_PATH, all, folder);
}
