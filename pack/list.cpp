// SPDX-License-Identifier: Zlib
#include "list.h"

#include "archive_reader.h"
#include "archive_walk.h"
#include "member_extension.h"
#include "pack_messages.h"
#include "signed_archive.h"
#include "stub_names.h"

#include <cstdio>

namespace {

struct member_counts {
    int directories;
    int files;
    int64_t data_bytes;
};

struct listing {
    name_storing names;
    member_counts counts;
};

bool print_member(const member_record *record, FILE *, void *context) {
    listing *listed = static_cast<listing *>(context);
    int32_t data_size = member_data_size(record);
    member_check check = begin_member_check(record);
    std::printf("%c %-9s %c %10ld %s\n", record->kind, check.checked ? "checked" : "unchecked",
                member_is_executable(&check) ? 'x' : '-', static_cast<long>(data_size),
                shown_name(listed->names, record->name).c_str());
    if (record->kind == KIND_DIRECTORY)
        ++listed->counts.directories;
    else
        ++listed->counts.files;
    listed->counts.data_bytes += data_size;
    return true;
}

} // namespace

int run_list(const char *path, int codepage) {
    listing listed = {};
    int members = 0;
    archive_extent extent;
    int status =
        walk_archive_file(path, codepage, &listed.names, print_member, &listed, &members, &extent);
    if (status != 0)
        return status;
    const member_counts &counts = listed.counts;
    std::printf("%d %s: %d %s, %d %s, %lld data bytes\n", members,
                members == 1 ? "member" : "members", counts.directories,
                counts.directories == 1 ? "directory" : "directories", counts.files,
                counts.files == 1 ? "file" : "files", static_cast<long long>(counts.data_bytes));
    print_signature_line(&extent);
    return 0;
}
