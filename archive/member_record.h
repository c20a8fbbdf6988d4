// SPDX-License-Identifier: Zlib
// The layout of a self-extracting file: stub, filler up to ARCHIVE_START, a run
// of members (each a member_record followed by its data) and a 4-byte trailer
// holding the whole file's length. All integers are little-endian.
#pragma once

#include "little_endian.h"

#include <cstddef>
#include <cstdint>

// Offset of the first member record; fixed, never derived from the stub.
constexpr int32_t ARCHIVE_START = 54000;
// Size of one member_record on disk.
constexpr int RECORD_SIZE = 264;
// The magic number every record carries (bytes 6F A0 90 3B in file order).
constexpr uint32_t RECORD_MAGIC = 999333999;
// Size of the copy buffer and the most bytes moved by one read and one write.
constexpr int32_t COPY_CHUNK = 16000;
// Size of the length trailer at the end of the file.
constexpr int TRAILER_SIZE = 4;
// The longest file the trailer's 32-bit signed length can describe; a
// longer one can't be made, and a reader refuses it.
constexpr int64_t LARGEST_ARCHIVE_FILE = INT64_C(0x7FFFFFFF);
// The size a file must stay below, in words, for messages; the first size
// refused is LARGEST_ARCHIVE_FILE + 1 bytes.
constexpr const char *ARCHIVE_LIMIT_WORDS = "2 GiB";
// Room for a member's name, its terminating NUL included.
constexpr int NAME_FIELD_SIZE = 255;
// Byte that pads the stub up to ARCHIVE_START; never read by the stub.
constexpr unsigned char FILLER_BYTE = 0x78;

// A file member of this name in the current directory is shown after a run
// without error: the packer stores a notice under it, the stub looks for it.
constexpr const char *NOTICE_FILE_NAME = "_setup_.txt";

constexpr char KIND_DIRECTORY = 'd';
constexpr char KIND_FILE = 'f';

// Field offsets inside the 264-byte record.
constexpr int RECORD_KIND_OFFSET = 0;
constexpr int RECORD_NAME_OFFSET = 1;
constexpr int RECORD_SIZE_OFFSET = 256;
constexpr int RECORD_MAGIC_OFFSET = 260;

struct member_record {
    char kind;                  // 'd': directory to create, 'f': file to recreate
    char name[NAME_FIELD_SIZE]; // path as stored, NUL-terminated inside the field
    int32_t size;               // data bytes after the record ('f' only)
    uint32_t magic;             // RECORD_MAGIC in every sound record
};
static_assert(sizeof(member_record) == RECORD_SIZE, "member_record must mirror the 264 bytes");

// Turns the raw 264 bytes into a record; the name bytes are copied unchanged.
void decode_member_record(const unsigned char *bytes, member_record *record);

// Turns a record into its 264 raw bytes.
void encode_member_record(const member_record *record, unsigned char *bytes);

// The length of the name in its field, or NAME_FIELD_SIZE when unterminated.
size_t record_name_length(const member_record *record);
