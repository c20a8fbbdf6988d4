// SPDX-License-Identifier: Zlib
#include "compressed_pack.h"

#include "member_record.h"

#include <algorithm>
#include <cstring>

static // The extension of the stored name's last part, or "" without one.
    const char *
    extension_of(const char *name, char separator) {
    const char *part = std::strrchr(name, separator);
    const char *dot = std::strrchr(part != nullptr ? part + 1 : name, '.');
    return dot != nullptr ? dot + 1 : "";
}

std::vector<pack_member> compression_order(const std::vector<pack_member> &members,
                                           char separator) {
    std::vector<pack_member> ordered(members);
    auto extension_before = [separator](const pack_member &a, const pack_member &b) {
        if (a.kind != b.kind)
            return a.kind == KIND_DIRECTORY;
        if (a.kind == KIND_DIRECTORY)
            return false;
        return std::strcmp(extension_of(a.stored, separator), extension_of(b.stored, separator)) <
               0;
    };
    std::stable_sort(ordered.begin(), ordered.end(), extension_before);
    return ordered;
}
