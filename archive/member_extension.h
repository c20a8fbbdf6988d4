// SPDX-License-Identifier: Zlib
// The extension block a packer puts behind a member's name, in the bytes after
// the name's NUL that a reader of the plain layout never looks at. It carries
// a check value over the member and the member's flags. In a file without the
// layout declaration (layout_declaration.h), a record without the block (an
// older packer, a name too long to leave room, a version this code does not
// know) is read exactly as the plain layout says; in a declared file such a
// record is damage.
//
// The block starts at the byte right after the name's NUL:
//
//   offset  size  field
//        0     8  marker: the 7 bytes of EXTENSION_MARKER, then the version (1)
//        8     4  check value, little-endian: CRC-32C over the record's kind
//                 byte, the name with its NUL, the 4 size bytes as stored, the
//                 flags byte and then the member's data
//       12     1  flags: MEMBER_FLAG_EXECUTABLE; other bits are written 0 and
//                 ignored on reading
//
// The block needs name length + 1 + EXTENSION_BLOCK_SIZE <= NAME_FIELD_SIZE.
#pragma once

#include "member_record.h"

#include <cstddef>
#include <cstdint>

constexpr int EXTENSION_MARKER_SIZE = 8;
// Zero bytes, leftover name text and random bytes can't be taken for it: 0xFE
// and 0xC1 are never part of UTF-8, 0x1A and 0x05 are control bytes no name
// may hold, 0x9D and 0x8F mean nothing in Windows code page 1252, and the
// chance of seven given bytes at random is 2^-56.
constexpr unsigned char EXTENSION_MARKER[EXTENSION_MARKER_SIZE] = {0xFE, 0x1A, 0xC1, 0x9D,
                                                                   0x05, 0xE3, 0x8F, 0x01};
constexpr int EXTENSION_VERSION_OFFSET = 7;

// The source file had an executable bit: POSIX extractors create the file
// with mode 0777 less the umask instead of 0666 less the umask.
constexpr unsigned char MEMBER_FLAG_EXECUTABLE = 0x01;

struct member_extension_block {
    unsigned char marker[EXTENSION_MARKER_SIZE]; // EXTENSION_MARKER, the version last
    unsigned char check[4];                      // CRC-32C, little-endian
    unsigned char flags;                         // MEMBER_FLAG_* bits
};
constexpr int EXTENSION_BLOCK_SIZE = 13;
static_assert(sizeof(member_extension_block) == EXTENSION_BLOCK_SIZE,
              "member_extension_block must mirror the 13 bytes");

// Offset of the check value inside the block.
constexpr int EXTENSION_CHECK_OFFSET = EXTENSION_MARKER_SIZE;

// Longest name that leaves room for the block behind its NUL (241 bytes).
constexpr size_t LONGEST_CHECKED_NAME = NAME_FIELD_SIZE - 1 - EXTENSION_BLOCK_SIZE;

struct member_extension {
    uint32_t check;      // the check value the member must give
    unsigned char flags; // MEMBER_FLAG_* bits
};

// True when the name of `record` is followed by a block of the version this
// code reads; `extension` then holds its fields. False for a name without a
// NUL in its field, one too long to leave room, and bytes without the marker.
bool find_member_extension(const member_record *record, member_extension *extension);

// True when the bytes behind the name of `record` break the rules of a file
// declaring layout `version`: a name that leaves room for a block but has
// none right after its NUL, a block version outside 1..`version`, or the
// marker anywhere else behind the name. Always false for an undeclared file.
bool block_is_damaged(const member_record *record, int version);

// Puts the block behind the name of `record`; false, with the record
// unchanged, when the name is not terminated or leaves no room.
bool put_member_extension(member_record *record, const member_extension *extension);

// The check value of the record's own part of a member (kind, name with its
// NUL, size, `flags`); crc32c_update over the member's data completes it.
// The name must be terminated inside its field.
uint32_t start_member_check(const member_record *record, unsigned char flags);

// The check value over the record's kind, its name with the NUL and the 4
// size bytes as stored: the start that every block's check value shares.
uint32_t start_record_check(const member_record *record);

// A member's check while its data passes. Without a block nothing is
// computed and nothing can fail.
struct member_check {
    bool checked;        // the record carries a block, or should
    bool block_damaged;  // it should and does not (block_is_damaged): it fails
    uint32_t expected;   // the block's check value
    uint32_t value;      // the check value of what was taken in so far
    unsigned char flags; // the block's flags; 0 without one
};

// The check of the member of `record`, its record's part taken in, by the
// rules of the layout declared_layout_version() names; a record without a
// block gives one that is not `checked`, unless the layout makes that damage.
member_check begin_member_check(const member_record *record);

// Takes in the next `length` bytes of the member's data.
void continue_member_check(member_check *check, const void *data, size_t length);

// True when the member's block is damaged, or what was taken in does not
// give its check value.
bool member_check_failed(const member_check *check);

// True when the member is to be created executable.
inline bool member_is_executable(const member_check *check) {
    return (check->flags & MEMBER_FLAG_EXECUTABLE) != 0;
}

// Offset, from the start of a record's 264 bytes, of the check value of the
// block behind a name of `name_length` bytes.
inline size_t record_check_offset(size_t name_length) {
    return RECORD_NAME_OFFSET + name_length + 1 + EXTENSION_CHECK_OFFSET;
}
