// SPDX-License-Identifier: Zlib
#include "list.h"

#include "archive_reader.h"
#include "archive_walk.h"
#include "member_extension.h"
#include "pack_messages.h"
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
    platform_entry entry;
    FILE *archive = open_checked_archive(path, &entry);
    if (archive == nullptr)
        return 1;
    listing listed = {};
    if (!names_of_archive(archive, path, codepage, &listed.names)) {
        std::fclose(archive);
        return 2; // a code page asked for where names are not in one
    }
    int members = 0;
    bool whole = walk_archive(archive, path, entry.size, listed.names.rules, print_member, &listed,
                              &members);
    std::fclose(archive);
    if (!whole)
        return 1;
    if (members == 0) {
        report_error("'%s' holds no members; the extractor would find no files to extract", path);
        return 1;
    }
    const member_counts &counts = listed.counts;
    std::printf("%d %s: %d %s, %d %s, %lld data bytes\n", members,
                members == 1 ? "member" : "members", counts.directories,
                counts.directories == 1 ? "directory" : "directories", counts.files,
                counts.files == 1 ? "file" : "files", static_cast<long long>(counts.data_bytes));
    return 0;
}
