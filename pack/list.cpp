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

visit_step print_member(void *context, walked_member *member) {
    listing *listed = static_cast<listing *>(context);
    const member_record *record = &member->record;
    std::printf(
        "%c %-9s %c %10lld %s\n", record->kind, member->check.checked ? "checked" : "unchecked",
        member_is_executable(&member->check) ? 'x' : '-', static_cast<long long>(member->data_size),
        shown_name(listed->names, record->name).c_str());
    if (record->kind == KIND_DIRECTORY)
        ++listed->counts.directories;
    else
        ++listed->counts.files;
    listed->counts.data_bytes += member->data_size;
    return VISIT_SKIP;
}

} // namespace

int run_list(const char *path, int codepage) {
    start_reported_run();
    listing listed = {};
    walk_visitor visitor = {print_member, nullptr, nullptr, &listed};
    // The data is passed over unread: a buffer for the records will do.
    char buffer[RECORD_SIZE * 16];
    int64_t members = 0;
    archive_extent extent;
    container_summary containers;
    int status = walk_archive_file(path, codepage, &listed.names,
                                   walk_buffer{buffer, sizeof buffer}, &visitor, nullptr,
                                   NO_FILES_FOR_THE_EXTRACTOR, &members, &extent, &containers);
    if (status != 0)
        return status;
    const member_counts &counts = listed.counts;
    std::printf("%lld %s: %d %s, %d %s, %lld data bytes\n", static_cast<long long>(members),
                members == 1 ? "member" : "members", counts.directories,
                counts.directories == 1 ? "directory" : "directories", counts.files,
                counts.files == 1 ? "file" : "files", static_cast<long long>(counts.data_bytes));
    if (containers.containers > 0)
        std::printf("compressed: %lld %s, %lld bytes, %llu bytes decompressed\n",
                    static_cast<long long>(containers.containers),
                    containers.containers == 1 ? "container" : "containers",
                    static_cast<long long>(containers.compressed_bytes),
                    static_cast<unsigned long long>(containers.decompressed_bytes));
    print_signature_line(&extent);
    return reported_run_status();
}
