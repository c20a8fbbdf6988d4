#include "list.h"

#include "archive_reader.h"
#include "archive_walk.h"
#include "pack_messages.h"

#include <cstdio>

namespace {

struct member_counts {
    int directories;
    int files;
    int64_t data_bytes;
};

bool print_member(const member_record *record, int64_t, FILE *, void *context) {
    member_counts *counts = static_cast<member_counts *>(context);
    int32_t data_size = member_data_size(record);
    std::printf("%c %10ld %s\n", record->kind, static_cast<long>(data_size), record->name);
    if (record->kind == KIND_DIRECTORY)
        ++counts->directories;
    else
        ++counts->files;
    counts->data_bytes += data_size;
    return true;
}

} // namespace

int run_list(const char *path) {
    int64_t file_size = 0;
    FILE *archive = open_checked_archive(path, &file_size);
    if (archive == nullptr)
        return 1;
    member_counts counts = {0, 0, 0};
    int members = 0;
    bool whole = walk_archive(archive, path, file_size, print_member, &counts, &members);
    std::fclose(archive);
    if (!whole)
        return 1;
    if (members == 0) {
        report_error("'%s' holds no members; the extractor would find no files to extract", path);
        return 1;
    }
    std::printf("%d %s: %d %s, %d %s, %lld data bytes\n", members,
                members == 1 ? "member" : "members", counts.directories,
                counts.directories == 1 ? "directory" : "directories", counts.files,
                counts.files == 1 ? "file" : "files", static_cast<long long>(counts.data_bytes));
    return 0;
}
