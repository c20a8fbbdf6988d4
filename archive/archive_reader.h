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

// Positions the stream at the layout declaration, which the first member
// record follows.
bool seek_layout_declaration(FILE *archive);

enum record_verdict {
    RECORD_GOOD,
    RECORD_BAD_MAGIC, // the magic number is not RECORD_MAGIC
    RECORD_BAD_KIND,
    RECORD_BAD_NAME,        // no NUL inside the field, or empty
    RECORD_CONTROL_NAME,    // holds a control character (holds_control_character)
    RECORD_UNSAFE_NAME,     // would leave the current directory
    RECORD_STREAM_NAME,     // holds ':', a stream of a file (Windows rules only)
    RECORD_UNREADABLE_NAME, // a byte means no character in the code page (Windows rules only)
    RECORD_DEVICE_NAME,     // a part names a Windows device (Windows rules only)
    RECORD_FOLDER_NAME,     // a file member's name names a folder (names_a_folder)
    RECORD_BAD_SIZE,        // negative, or more data than the file holds
};

// Judges a record completely before anything touches the disk: magic number, kind,
// name under `rules`, then (for a file member) its size against
// `bytes_after_record`, the bytes between the record's end and the trailer.
record_verdict judge_member_record(const member_record *record, int64_t bytes_after_record,
                                   name_rules rules);

// Judges a NUL-terminated name alone, as judge_member_record does: RECORD_GOOD
// or the verdict that refuses it. Under Windows rules the characters the name
// stands for in its code page are judged too (see read_windows_names_with).
record_verdict judge_member_name(const char *name, name_rules rules);

// True when the `length` bytes at `part`, one part of a name, lead to the
// parent folder: only dots and blanks, two dots or more.
bool is_parent_part(const char *part, size_t length);

// Room for a stored name read as UTF-8: a byte of a code page gives at most
// three bytes of UTF-8, as does a pair of bytes.
constexpr size_t READ_NAME_ROOM = 3 * NAME_FIELD_SIZE + 1;

// Reads a stored name as a Windows system that extracts it does, into UTF-8
// in `text` (`room` bytes, NUL included); false when a byte or byte pair
// means no character in its code page.
typedef bool (*windows_name_reader)(const char *name, char *text, size_t room);

// Judging under Windows rules reads names with `reader` from now on; until
// then with platform_read_name, as the system this program runs on does. The
// packer reads them in the code page it stores them in.
void read_windows_names_with(windows_name_reader reader);

// True when the file member name `name` names a folder, not a file in it:
// its last part is empty or "." (under Windows rules: made of blanks and at
// most one dot, which Windows drops).
bool names_a_folder(const char *name, name_rules rules);

// Tests one part of a stored name: the `length` bytes at `part`.
typedef bool (*name_part_test)(const char *part, size_t length, void *context);

// Hands `test` each part of the stored name `name` in order, split at every
// '/' and '\\' byte (empty parts too), until it returns true; true when it did.
bool find_name_part(const char *name, name_part_test test, void *context);

// True when `name` stays inside the current directory: not absolute, no drive
// (any byte followed by ':'), no ".." part (both '/' and '\\' separate parts).
bool is_contained_name(const char *name);

// True when a part of the UTF-8 `name` is a name Windows keeps for a device
// in every folder: CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9 (also with the
// superscript digits U+00B9, U+00B2, U+00B3), CONIN$ or CONOUT$, in any letter
// case, with any extension and with trailing dots or blanks.
bool holds_device_name(const char *name);

// True when `name` holds a byte 0x01-0x1F or 0x7F.
bool holds_control_byte(const char *name);

// The length of the character at the start of the NUL-terminated `text` when
// it is one that drives a terminal or reorders the text shown: a byte
// 0x01-0x1F or 0x7F, U+0080-U+009F in UTF-8, a byte 0x80-0x9F that starts no
// well-formed UTF-8 sequence, or one of the bidirectional controls U+202A-
// U+202E and U+2066-U+2069; 0 for any other.
size_t control_character_length(const char *text);

// The bytes of the character at the start of `text`: a well-formed UTF-8
// sequence's length, else 1.
size_t character_length(const char *text);

// True when `text`, read as UTF-8 where it is, holds a character that
// control_character_length finds; the bytes of a well-formed sequence are
// never taken one by one.
bool holds_control_character(const char *text);

// Bytes of data that follow a good record: `size` for a file, 0 for a directory.
int32_t member_data_size(const member_record *record);

// Short English text for a verdict, for tools that explain a refusal.
const char *describe_record_verdict(record_verdict verdict);
