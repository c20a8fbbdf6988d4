// SPDX-License-Identifier: Zlib
// Reading and judging a self-extracting file through one binary stream.
#pragma once

#include "member_record.h"
#include "platform_stub.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Files this long or longer can't carry a 32-bit signed length trailer.
constexpr int64_t LARGEST_ARCHIVE_FILE = INT64_C(0x7FFFFFFF);

// True when the file is whole: its last four bytes hold `file_size`. A size
// outside 4 .. 2^31-1, a failed positioning or a short trailer read all fail.
bool check_length_trailer(FILE *archive, int64_t file_size);

// Positions the stream at the first member record.
bool seek_archive_start(FILE *archive);

enum record_read_result {
    RECORD_READ,        // a whole record is in the record area
    RECORD_END,         // the read met the end of the file: the walk is over
    RECORD_READ_FAILED, // the read failed without meeting the end (device error)
};

// Reads the next RECORD_SIZE bytes into `record`. As the walk relies on, the
// stream's end-of-file state decides, not the count delivered, so the trailer
// after the last member ends the walk without being judged.
record_read_result read_member_record(FILE *archive, member_record *record);

enum record_verdict {
    RECORD_GOOD,
    RECORD_BAD_MAGIC,
    RECORD_BAD_KIND,
    RECORD_BAD_NAME,     // no NUL inside the field, or empty
    RECORD_CONTROL_NAME, // holds a control byte (0x01-0x1F, 0x7F)
    RECORD_UNSAFE_NAME,  // would leave the current directory
    RECORD_DEVICE_NAME,  // a part names a Windows device (Windows rules only)
    RECORD_BAD_SIZE,     // negative, or more data than the file holds
};

// Judges a record completely before anything touches the disk: magic, kind,
// name under `rules`, then (for a file member) its size against
// `bytes_after_record`, the bytes between the record's end and the trailer.
record_verdict judge_member_record(const member_record *record, int64_t bytes_after_record,
                                   name_rules rules);

// Where a walk of the records stands in a file whose length check passed.
// Both programs walk with it, each reading the records its own way.
struct record_walk {
    int64_t file_size;     // where the archive ends, trailer included: the whole file
                           // unless a certificate table follows it
    int64_t record_offset; // where the record taken up next starts
};

// A walk standing at the first record, ARCHIVE_START.
record_walk start_record_walk(int64_t file_size);

// Judges the record just read at the walk's offset, its size bounded by the
// bytes between its end and the trailer.
record_verdict judge_walked_record(const record_walk *walk, const member_record *record,
                                   name_rules rules);

// True when no whole record fits before the archive's end: the walk is over,
// as when a read meets the end of the file. So no byte after a signed file's
// archive is ever taken for a record.
bool walk_is_over(const record_walk *walk);

// Steps the walk past a good record and the data that follows it.
void step_past_record(record_walk *walk, const member_record *record);

// Judges a NUL-terminated name alone, as judge_member_record does: RECORD_GOOD
// or the verdict that refuses it.
record_verdict judge_member_name(const char *name, name_rules rules);

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
