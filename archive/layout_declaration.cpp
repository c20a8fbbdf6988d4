// SPDX-License-Identifier: Zlib
#include "layout_declaration.h"

#include <cstring>

static int declared_version = UNDECLARED_LAYOUT;

// The version of one copy, or -1 when its marker is damaged.
static int copy_version(const unsigned char *copy) {
    if (std::memcmp(copy, LAYOUT_MARKER, LAYOUT_MARKER_SIZE) != 0)
        return -1;
    return copy[LAYOUT_MARKER_SIZE];
}

// Both markers whole and the versions different: one of them is damaged and
// nothing tells which. One marker damaged: the other copy is taken.
declaration_verdict take_layout_declaration(const unsigned char *bytes, int *version) {
    int first = bytes != nullptr ? copy_version(bytes) : -1;
    int second = bytes != nullptr ? copy_version(bytes + DECLARATION_COPY_SIZE) : -1;
    *version = first >= 0 ? first : second;
    if (*version < 0) {
        *version = UNDECLARED_LAYOUT;
    } else if (*version == 0 || (first >= 0 && second >= 0 && first != second)) {
        return DECLARATION_DAMAGED;
    } else if (*version > NEWEST_LAYOUT_VERSION) {
        return DECLARATION_NEWER;
    }
    declared_version = *version;
    return DECLARATION_GOOD;
}

int declared_layout_version() {
    return declared_version;
}

void judge_members_by_layout(int version) {
    declared_version = version;
}

void encode_layout_declaration(int version, unsigned char *bytes) {
    for (int copy = 0; copy < 2; ++copy) {
        unsigned char *at = bytes + copy * DECLARATION_COPY_SIZE;
        std::memcpy(at, LAYOUT_MARKER, LAYOUT_MARKER_SIZE);
        at[LAYOUT_MARKER_SIZE] = static_cast<unsigned char>(version);
    }
}
