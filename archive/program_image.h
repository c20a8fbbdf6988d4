// SPDX-License-Identifier: Zlib
// What a stub's first bytes say it is. sfxpack puts only a program in front
// of an archive: a file that is neither an ELF nor a PE program would give a
// "self-extracting" file that can never run.
#pragma once

#include <cstddef>

enum program_kind {
    PROGRAM_NONE,
    PROGRAM_ELF, // starts with 7F 'E' 'L' 'F'
    PROGRAM_PE,  // starts with "MZ", and "PE\0\0" stands where that header points
};

program_kind program_kind_of(const char *image, size_t size);

// Where the PE signature stands in a program whose first `size` bytes are at
// `image`: 0 when they hold no "MZ" header pointing at "PE\0\0".
size_t pe_header_offset(const unsigned char *image, size_t size);
