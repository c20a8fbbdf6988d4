// SPDX-License-Identifier: Zlib
// Where the archive ends in a signed Windows program. Signing pads the file
// with zero bytes up to a multiple of 8 and appends a certificate table, which
// the PE security directory (data directory 4) names by its file offset and
// size. The archive, its length trailer included, ends where that padding
// starts; no byte of the padding or the table is read as part of the archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Bytes from the start of the file read for the program headers: the PE
// headers of a stub start well within them.
constexpr size_t PROGRAM_HEADER_BYTES = 1024;
// Signing starts the table at a multiple of this, after zero bytes.
constexpr int64_t CERTIFICATE_ALIGNMENT = 8;
// The bytes before a table that hold the trailer and the padding.
constexpr int CERTIFICATE_LOOKBACK = 4 + 7;

enum archive_end_verdict {
    ARCHIVE_END_UNSIGNED,     // no certificate table: the archive ends with the file
    ARCHIVE_END_SIGNED,       // the archive ends before the padding and the table
    ARCHIVE_END_OUTSIDE_FILE, // the security directory names bytes past the file's end
    ARCHIVE_END_AFTER_TABLE,  // the table ends before the file: bytes were added after it
    ARCHIVE_END_INSIDE,       // the table starts inside the archive: no trailer before it
    ARCHIVE_END_PADDING,      // the bytes between the trailer and the table are not all zero
    ARCHIVE_END_UNREADABLE,   // the bytes before the table could not be read
};

struct archive_extent {
    int64_t end;          // where the archive ends, its trailer included
    int64_t table_offset; // the certificate table; both 0 when there is none
    int64_t table_size;
};

// From the first `header_size` bytes of a file of `file_size` bytes: no table
// (ARCHIVE_END_UNSIGNED, `extent->end` the file's size: also for a file that
// is not a PE program), a table that ends the file and starts after the
// smallest archive (ARCHIVE_END_SIGNED, `extent->end` still the table's
// offset), or the refusal of a table that does not.
archive_end_verdict find_certificate_table(const unsigned char *header, size_t header_size,
                                           int64_t file_size, archive_extent *extent);

// For the table that find_certificate_table found, from the
// CERTIFICATE_LOOKBACK bytes before it (`before`): sets `extent->end` where
// the trailer stands that names it, followed by the zero bytes up to the
// table, or refuses.
archive_end_verdict find_end_before_table(const unsigned char *before, archive_extent *extent);

// Both steps on the open `file`: reads its headers and, when it is signed, the
// bytes before the table. Only ARCHIVE_END_UNSIGNED and ARCHIVE_END_SIGNED
// leave a file whose length check may pass, with the trailer at
// `extent->end` - 4; `extent` holds what was found for every verdict.
archive_end_verdict find_archive_end(FILE *file, int64_t file_size, archive_extent *extent);

// True for the verdicts that leave the length check to decide.
inline bool archive_end_found(archive_end_verdict verdict) {
    return verdict == ARCHIVE_END_UNSIGNED || verdict == ARCHIVE_END_SIGNED;
}
