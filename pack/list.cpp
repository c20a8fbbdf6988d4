#include "list.h"

#include "archive_reader.h"
#include "archive_walk.h"
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

bool print_member(const member_record *record, int64_t, FILE *, void *context) {
    listing *l = static_cast<listing *>(context);
    int32_t data_size = member_data_size(record);
    std::printf("%c %10ld %s\n", record->kind, static_cast<long>(data_size),
                shown_name(l->names, record->name).c_str());
    if (record->kind == KIND_DIRECTORY)
        ++l->counts.directories;
    else
        ++l->counts.files;
    l->counts.data_bytes += data_size;
    return true;
}

} // namespace

int run_list(const char *path, int codepage) {
    platform_entry entry;
    FILE *archive = open_checked_archive(path, &entry);
    if (archive == nullptr)
        return 1;
    listing l = {};
    if (!names_of_archive(archive, path, codepage, &l.names)) {
        std::fclose(archive);
        return 2; // a code page asked for where names are not in one
    }
    int members = 0;
    bool whole = walk_archive(archive, path, entry.size, l.names.rules, print_member, &l, &members);
    std::fclose(archive);
    if (!whole)
        return 1;
    if (members == 0) {
        report_error("'%s' holds no members; the extractor would find no files to extract", path);
        return 1;
    }
    const member_counts &counts = l.counts;
    std::printf("%d %s: %d %s, %d %s, %lld data bytes\n", members,
                members == 1 ? "member" : "members", counts.directories,
                counts.directories == 1 ? "directory" : "directories", counts.files,
                counts.files == 1 ? "file" : "files", static_cast<long long>(counts.data_bytes));
    return 0;
}
