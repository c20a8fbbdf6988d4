// SPDX-License-Identifier: Zlib
// Reading compressed containers (container_block.h), for the stub and for
// sfxpack's -l, -t and -x alike. A container reader is a visitor that stands
// in front of the program's own one: every member goes through to that
// visitor unchanged, except a container in a file that declares
// CONTAINER_LAYOUT_VERSION. Of a container the program's visitor sees
// nothing; the reader judges its block, puts the LZMA2 decoder behind a
// walk_input over the container's data (member_data_input) and walks the
// decompressed member sequence with the program's visitor (walk_members_of,
// start 0, limit the decompressed length), judging by PLAIN_LAYOUT_VERSION,
// so a container inside one is damage. Then the container's own check value
// must match. So a run shows what a plain file of the same members shows.
//
// Use:
//   container_reader reader;
//   start_container_reader(&reader, &visitor, rules, buffer.capacity);
//   walk_visitor outer = container_reader_visitor(&reader);
//   walk_outcome outcome = walk_members_of(input, buffer, ..., &outer);
//   reader.failure says whether a container ended the walk, and how;
//   end_container_reader(&reader) gives the memory back.
//
// When a container fails, the reader's visitor stops the outer walk: it ends
// WALK_STOPPED at the container's offset (WALK_DAMAGED when only the check
// value failed), and `failure` says why. For CONTAINER_INNER_END the walk
// inside ended as `inner` says, with the program's visitor told what became
// of the member it ended at, exactly as in a plain file: a program reports
// `inner` as it reports a walk's outcome. Every other failure is damage to
// the container, shown as damage to a member's data is.
//
// Memory: the dictionary (of the size the first container names), the
// decoder's state (about 100 KB), its input buffer and the inner walk's
// buffer are one allocation, taken at the first container and kept for every
// later one; a later container naming a larger dictionary is damage.
#pragma once

#include "container_block.h"
#include "member_walk.h"

#include <cstddef>
#include <cstdint>

// Compressed bytes read from the container's data at a time.
constexpr size_t CONTAINER_INPUT_SIZE = 64 * 1024;

enum container_failure {
    CONTAINER_NONE,         // no container has failed
    CONTAINER_REFUSED,      // its block is damage: a method other than LZMA2; a dictionary
                            // of 0, above LARGEST_CONTAINER_DICTIONARY or above the one
                            // taken; a length beyond 63 bits; or a directory carrying it
    CONTAINER_NO_MEMORY,    // the dictionary and decoder could not be allocated
    CONTAINER_INNER_END,    // the walk inside ended before the sequence's end: see `inner`
    CONTAINER_DAMAGED,      // the stream is damaged where a record stands, or bytes are
                            // left after its last whole member
    CONTAINER_CHECK_FAILED, // every member came through but the check value does not match
};

struct container_memory;

struct container_reader {
    // What start_container_reader was given.
    const walk_visitor *visitor; // the program's own visitor
    name_rules rules;            // for the records inside
    size_t chunk;                // the inner walk's buffer: its chunks of member data

    container_memory *memory; // null until the first container
    uint32_t dictionary_size; // the dictionary taken; 0 before
    bool walking_container;   // the member the outer walk is at is a container

    // The container the outer walk is at (during the inner walk and after a
    // failure): its block's fields, and its record as the outer walk has it.
    container_fields fields;
    const walked_member *container;

    container_failure failure;
    walk_outcome inner; // how the last walk inside ended

    // Good records handed to the program's visitor from inside containers.
    int64_t members;
    // The containers walked through whole, with their stored and
    // decompressed bytes.
    int64_t containers;
    int64_t compressed_bytes;
    uint64_t decompressed_bytes;
};

// Readies `reader` to hand members to `visitor`, judging the records inside
// containers under `rules` and passing their data in chunks of `chunk` bytes
// (at least RECORD_SIZE; the outer walk's buffer capacity gives the same
// chunks as a plain file). Takes no memory yet.
void start_container_reader(container_reader *reader, const walk_visitor *visitor, name_rules rules,
                            size_t chunk);

// The visitor to walk a file's members with.
walk_visitor container_reader_visitor(container_reader *reader);

// Gives back the memory the first container took; what the reader says of
// the walk stays.
void end_container_reader(container_reader *reader);
