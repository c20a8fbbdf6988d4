// SPDX-License-Identifier: Zlib
// A compressed container: a file member whose data is a raw LZMA2 stream (its
// chunks and the end byte 0x00, no other framing) that decompresses to a run
// of members in the plain layout (records with their extension blocks, and
// data), without filler, trailer or nested containers. sfxpack -z writes one
// or a few of them after the filler, named CONTAINER_NAME_PREFIX N
// CONTAINER_NAME_SUFFIX with N counting from 1.
//
// The container's record carries this block right after its name's NUL:
//
//   offset  size  field
//        0     8  marker: the 7 bytes of EXTENSION_MARKER, then the version (2)
//        8     4  check value, little-endian: CRC-32C over the record's kind
//                 byte, the name with its NUL, the 4 size bytes as stored,
//                 bytes 12..25 of this block and then the compressed data
//       12     1  flags: none yet; written 0, ignored on reading
//       13     1  method: CONTAINER_METHOD_LZMA2
//       14     4  dictionary size in bytes, little-endian, at most
//                 LARGEST_CONTAINER_DICTIONARY; the same in every container
//                 of one file
//       18     8  length of the decompressed run in bytes, little-endian
#pragma once

#include "little_endian.h"
#include "member_extension.h"
#include "member_record.h"

#include <cstddef>
#include <cstdint>

constexpr unsigned char CONTAINER_BLOCK_VERSION = 2;
constexpr unsigned char CONTAINER_METHOD_LZMA2 = 1;
constexpr uint32_t LARGEST_CONTAINER_DICTIONARY = UINT32_C(64) * 1024 * 1024;

constexpr const char *CONTAINER_NAME_PREFIX = "sfx-members-";
constexpr const char *CONTAINER_NAME_SUFFIX = ".lzma2";

// A stub that reads containers holds these 16 bytes (the text and its NUL)
// in its image, so the packer can tell it from one that would write a
// container out as one file.
constexpr size_t STUB_CONTAINER_MARKER_SIZE = 16;
constexpr char STUB_CONTAINER_MARKER[STUB_CONTAINER_MARKER_SIZE] = "sfx-reads-lzma2";

struct container_block {
    unsigned char marker[EXTENSION_MARKER_SIZE]; // EXTENSION_MARKER, version 2 last
    unsigned char check[4];                      // CRC-32C, little-endian
    unsigned char flags;                         // 0
    unsigned char method;                        // CONTAINER_METHOD_LZMA2
    unsigned char dictionary_size[4];            // little-endian
    unsigned char decompressed_length[8];        // little-endian
};
constexpr int CONTAINER_BLOCK_SIZE = 26;
static_assert(sizeof(container_block) == CONTAINER_BLOCK_SIZE,
              "container_block must mirror the 26 bytes");

// The block's bytes the check value covers after the record's own fields.
constexpr int CONTAINER_CHECKED_OFFSET = 12;
constexpr int CONTAINER_CHECKED_SIZE = CONTAINER_BLOCK_SIZE - CONTAINER_CHECKED_OFFSET;

// Longest container name that leaves room for the block behind its NUL.
constexpr size_t LONGEST_CONTAINER_NAME = NAME_FIELD_SIZE - 1 - CONTAINER_BLOCK_SIZE;

struct container_fields {
    uint32_t check;
    unsigned char flags;
    unsigned char method;
    uint32_t dictionary_size;
    uint64_t decompressed_length;
};

// The 26 bytes of the block for `fields`.
void encode_container_block(const container_fields *fields, unsigned char *bytes);

// True when the name of `record` is followed by a block of version 2;
// `fields` then holds its fields as stored, unjudged. False for a name
// without a NUL in its field, one too long to leave room, and bytes without
// the marker of version 2.
bool find_container_block(const member_record *record, container_fields *fields);

// The check value of the container record's own part (kind, name with its
// NUL, size, block bytes 12..25); crc32c_update over the compressed data
// completes it. The record must carry the block.
uint32_t start_container_check(const member_record *record);

// Offset, from the start of a record's 264 bytes, of the block behind a name
// of `name_length` bytes.
inline size_t record_block_offset(size_t name_length) {
    return RECORD_NAME_OFFSET + name_length + 1;
}
