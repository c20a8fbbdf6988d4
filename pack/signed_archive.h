// SPDX-License-Identifier: Zlib
// A signed Windows program in sfxpack: where its archive ends, as the stubs
// find it, and what -l and -t say about the signature. sfxpack never
// verifies a signature, and never writes into a signed file.
#pragma once

#include "signed_file.h"

#include <cstdint>
#include <cstdio>

// Finds where the archive of the open `archive` (`file_size` bytes) ends, as
// the Windows stubs do. False, after saying why the stubs would refuse the
// file, when a certificate table is not one an archive may be followed by.
bool find_checked_archive_end(FILE *archive, const char *path, int64_t file_size,
                              archive_extent *extent);

// True when the program `image` (`size` bytes) names a certificate table:
// it was signed itself. Packed, it would give a file whose table does not end
// it, which the stub refuses; the packed file is what gets signed.
bool is_signed_program(const char *image, size_t size);

// For a signed file, the line that ends -l and -t: that the file carries a
// certificate table and how long it is, not that the signature holds.
void print_signature_line(const archive_extent *extent);
