// SPDX-License-Identifier: Zlib
// Reading and judging a self-extracting file through one binary stream.
#pragma once

#include "member_record.h"
#include "platform_stub.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The verdict on a file's length trailer, with the reason for a refusal.
enum trailer_verdict {
    TRAILER_GOOD,       // the last four bytes hold the file's length
    TRAILER_TOO_SHORT,  // the file is shorter than a trailer
    TRAILER_TOO_LARGE,  // longer than LARGEST_ARCHIVE_FILE
    TRAILER_UNREADABLE, // positioning at or reading the trailer failed
    TRAILER_MISMATCH,   // the trailer holds another length: cut short or lengthened
};

// Judges the trailer of the open file of `file_size` bytes; `stored` gets
// the length the trailer holds when it could be read.
trailer_verdict judge_length_trailer(FILE *archive, int64_t file_size, uint32_t *stored);

// True when the file is whole: its last four bytes hold `file_size`.
bool check_length_trailer(FILE *archive, int64_t file_size);

// Positions the stream at the first member record.
bool seek_archive_start(FILE *archive);

enum record_verdict {
    RECORD_GOOD,
    RECORD_BAD_MAGIC, // the magic number is not RECORD_MAGIC
    RECORD_BAD_KIND,
    RECORD_BAD_NAME,     // no NUL inside the field, or empty
    RECORD_CONTROL_NAME, // holds a control byte (0x01-0x1F, 0x7F)
    RECORD_UNSAFE_NAME,  // would leave the current directory
    RECORD_DEVICE_NAME,  // a part names a Windows device (Windows rules only)
    RECORD_BAD_SIZE,     // negative, or more data than the file holds
};

// Judges a record completely before anything touches the disk: magic number, kind,
// name under `rules`, then (for a file member) its size against
// `bytes_after_record`, the bytes between the record's end and the trailer.
record_verdict judge_member_record(const member_record *record, int64_t bytes_after_record,
                                   name_rules rules);

// Judges a NUL-terminated name alone, as judge_member_record does: RECORD_GOOD
// or the verdict that refuses it.
record_verdict judge_member_name(const char *name, name_rules rules);

// True when the `length` bytes at `part`, one part of a name, lead to the
// parent folder: only dots and blanks, two dots or more.
bool is_parent_part(const char *part, size_t length);

// Tests one part of a stored name: the `length` bytes at `part`.
typedef bool (*name_part_test)(const char *part, size_t length, void *context);

// Hands `test` each part of the stored name `name` in order, split at every
// '/' and '\\' byte (empty parts too), until it returns true; true when it did.
bool find_name_part(const char *name, name_part_test test, void *context);

// True when `name` stays inside the current directory: not absolute, no drive
// (any byte followed by ':'), no ".." part (both '/' and '\\' separate parts).
bool is_contained_name(const char *name);

// True when a part of `name` is a name Windows keeps for a device in every
// folder: CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9 (also with the superscript
// digits 1, 2, 3, bytes B9 B2 B3, or their UTF-8 forms), CONIN$ or CONOUT$,
// in any letter case, with any extension and with trailing dots or blanks.
bool holds_device_name(const char *name);

// True when `name` holds a byte 0x01-0x1F or 0x7F.
bool holds_control_byte(const char *name);

// Bytes of data that follow a good record: `size` for a file, 0 for a directory.
int32_t member_data_size(const member_record *record);

// Short English text for a verdict, for tools that explain a refusal.
const char *describe_record_verdict(record_verdict verdict);
