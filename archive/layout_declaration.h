// SPDX-License-Identifier: Zlib
// The layout declaration: the last 16 bytes of the filler, just before
// ARCHIVE_START, where a packer says which layout version its members
// follow. Readers of the plain layout never read the filler, so the
// declaration changes nothing for them.
//
// It is two copies of 8 bytes, back to back, each the 7 bytes of
// LAYOUT_MARKER followed by the version. One damaged byte leaves one copy
// whole, so it can neither erase the declaration (the members would be read
// unchecked) nor change the version unseen.
//
// In a file that declares version 1 every member whose name leaves room
// carries the extension block of member_extension.h, so a missing block, a
// marker elsewhere behind the name and a block version the declaration does
// not name are damage, found as surely as damaged data. A file that declares
// version 2 may also hold compressed containers (container_block.h), whose
// block is version 2; the members inside one follow version 1.
#pragma once

#include "member_record.h"

#include <cstdint>

// Where the declaration starts; a stub must end at or before it.
constexpr int32_t DECLARATION_OFFSET = ARCHIVE_START - 16;
constexpr int DECLARATION_SIZE = 16;
constexpr int DECLARATION_COPY_SIZE = 8;
constexpr int LAYOUT_MARKER_SIZE = 7;
// The same bytes that start an extension block (see member_extension.h for
// why nothing else is taken for them).
constexpr unsigned char LAYOUT_MARKER[LAYOUT_MARKER_SIZE] = {0xFE, 0x1A, 0xC1, 0x9D,
                                                             0x05, 0xE3, 0x8F};

struct layout_declaration {
    unsigned char copies[2][DECLARATION_COPY_SIZE]; // LAYOUT_MARKER, then the version
};
static_assert(sizeof(layout_declaration) == DECLARATION_SIZE,
              "layout_declaration must mirror the 16 bytes");

// The newest layout version this code reads.
constexpr int NEWEST_LAYOUT_VERSION = 2;
// What the packer declares for plain members, and for compressed containers.
constexpr int PLAIN_LAYOUT_VERSION = 1;
constexpr int CONTAINER_LAYOUT_VERSION = 2;
// What an undeclared file is read as: the plain layout, blocks optional.
constexpr int UNDECLARED_LAYOUT = 0;

enum declaration_verdict {
    DECLARATION_GOOD,       // declared, or not declared at all
    DECLARATION_DAMAGED,    // both copies whole but different, or a version 0
    DECLARATION_NEWER,      // a version above NEWEST_LAYOUT_VERSION
    DECLARATION_UNREADABLE, // the read of it failed (read_layout_declaration)
};

// Judges the DECLARATION_SIZE bytes at `bytes` (null when the file ends
// before ARCHIVE_START: undeclared) and, when good, makes the version they
// declare the one member checks are begun by from now on (see
// begin_member_check): one file is read at a time. `version` gets the
// version declared, UNDECLARED_LAYOUT for none.
declaration_verdict take_layout_declaration(const unsigned char *bytes, int *version);

// The version members are judged by: the last one a good declaration gave,
// or judge_members_by_layout.
int declared_layout_version();

// Makes `version` the one member checks are begun by, as a good declaration
// does: the walk inside a container judges by PLAIN_LAYOUT_VERSION, then
// gives the file's own version back.
void judge_members_by_layout(int version);

// The DECLARATION_SIZE bytes declaring `version`.
void encode_layout_declaration(int version, unsigned char *bytes);
