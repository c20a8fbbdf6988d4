// SPDX-License-Identifier: Zlib
// The one walk over a member sequence, for every program that reads one: it
// reads records from an input, judges each exactly as the stub does, hands a
// visitor each good record with its offset, passes the member's data through
// the check value on its way to the visitor, and tells how the walk ended.
//
// The input is an interface of its own: a file standing at the first record,
// or anything else that delivers the bytes of a member sequence in order.
// Offsets and bounds are 64-bit, so a sequence may be longer than a file of
// the plain layout can be.
#pragma once

#include "archive_reader.h"
#include "layout_declaration.h"
#include "member_extension.h"
#include "member_record.h"

#include <cstddef>
#include <cstdint>

// What a read returns besides a count of bytes.
constexpr long INPUT_FAILED = -1;  // the read failed
constexpr long INPUT_DAMAGED = -2; // the bytes are damaged: a decoder's verdict on its stream

// Where the walk takes its bytes from.
struct walk_input {
    // Reads up to `length` bytes into `buffer` and returns how many it read:
    // fewer only at the end of the input; INPUT_FAILED or INPUT_DAMAGED
    // instead of any. After either the walk reads no more.
    long (*read)(void *source, char *buffer, size_t length);
    // Passes over the next `length` bytes unread; false when it can't. Null
    // when the input has no faster way than reading them.
    bool (*skip)(void *source, int64_t length);
    void *source;
};

// One good record as the visitor sees it.
struct walked_member {
    member_record record;
    int64_t offset;     // where its record starts
    int64_t data_size;  // bytes of data after the record (0 for a directory)
    member_check check; // begun on the record; the data taken in as it passed
    int64_t remaining;  // data bytes not yet taken from the input
    void *walk;         // the walk it belongs to, for member_data_input
};

// What a visitor wants of a member's data.
enum visit_step {
    VISIT_DATA, // hand it over chunk by chunk, then end the member
    VISIT_SKIP, // pass over it unread; the member is not ended
    VISIT_STOP, // end the walk here
};

// How the data of a member came through.
enum member_data_result {
    MEMBER_WHOLE,        // every byte passed and the check value matched
    MEMBER_DAMAGED,      // the check value does not match, or the input found the data damaged
    MEMBER_DATA_MISSING, // the input ended or failed inside the data
    MEMBER_REFUSED,      // the visitor took no more of it (its write failed)
};

struct walk_visitor {
    // A good record: `member` stays the same until the member's end.
    visit_step (*begin)(void *context, walked_member *member);
    // The next chunk of the data, already taken in by the check; false when
    // the visitor wants no more of it. The next chunk is read after it
    // returns, so what it leaves to be shown is shown before that read.
    bool (*data)(void *context, const walked_member *member, const char *chunk, size_t length);
    // The member's data is over, one way or the other; false ends the walk.
    // After MEMBER_DATA_MISSING, and after data the input found damaged, the
    // walk ends whatever it returns.
    bool (*end)(void *context, walked_member *member, member_data_result result);
    void *context;
};

// How a walk ended.
enum walk_end {
    WALK_AT_END,            // the input ended before a whole record: all is read
    WALK_RECORD_UNREADABLE, // a read failed inside the record at `offset`
    WALK_BAD_RECORD,        // the record at `offset` is refused: see `verdict`
    WALK_DATA_MISSING,      // the data of the member at `offset` could not be read
    WALK_DAMAGED,           // the member at `offset` is damaged: the visitor stopped
                            // there, or the input found its data damaged
    WALK_STOPPED,           // the visitor stopped at the member at `offset`
    WALK_INPUT_DAMAGED,     // the input found the bytes of the record at `offset`
                            // damaged (or those where one would start)
};

struct walk_outcome {
    walk_end end;
    int64_t offset;         // the record the walk ended at; else where the input ended
    record_verdict verdict; // for WALK_BAD_RECORD
    int64_t members;        // good records handed to the visitor
    size_t leftover;        // for WALK_AT_END: bytes after the last member (a trailer)
};

// The bytes the walk reads into, with what it read ahead.
struct walk_buffer {
    char *bytes;     // `capacity` bytes, at least RECORD_SIZE
    size_t capacity; // also the most data bytes in one chunk
};

// Walks the sequence `input` delivers; its first byte stands at `start`, and
// every record's size is judged against the bytes between its end and
// `limit`. Judging follows `rules`. Chunks of data are `buffer.capacity`
// bytes, the last one of a member shorter.
walk_outcome walk_members_of(walk_input input, walk_buffer buffer, int64_t start, int64_t limit,
                             name_rules rules, const walk_visitor *visitor);

// Reads the DECLARATION_SIZE bytes of the layout declaration from `input`,
// which stands at its first byte, and takes them (take_layout_declaration);
// an input that ends before them declares nothing. After a good declaration
// the input stands at the first record.
declaration_verdict read_layout_declaration(walk_input input, int *version);

// An input over the data of `member` still to come, taken in by its check as
// it is read, for a visitor's begin: a member whose data is itself a member
// sequence (behind a decoder) is walked through it by the same walk, with the
// same visitor. After it the visitor answers VISIT_DATA: the walk hands over
// what is left (nothing, when all was read) and ends the member as always.
walk_input member_data_input(walked_member *member);

// A stream standing at the first byte to walk and the bytes of it the walk
// may take: what follows them (a signed file's certificate table) is never
// read, as if the file ended there.
struct bounded_stream {
    FILE *stream;
    int64_t unread;
};

// Reads for an input over a bounded_stream; positions it only by reading.
long read_bounded_stream(void *source, char *buffer, size_t length);

// An input over `stream`; skipping positions the stream.
walk_input stream_walk_input(bounded_stream *stream);
