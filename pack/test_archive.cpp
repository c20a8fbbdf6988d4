// SPDX-License-Identifier: Zlib
#include "test_archive.h"

#include "archive_reader.h"
#include "archive_walk.h"
#include "member_extension.h"
#include "pack_messages.h"
#include "stub_names.h"

#include <cstdio>
#include <vector>

namespace {

// Bytes read at a time from a member's data.
constexpr size_t TEST_CHUNK = 256 * 1024;

struct tester {
    const char *path;
    name_storing names;
    std::vector<char> buffer;
    int checked;
    int unchecked;
    int damaged;
};

// Reads `size` bytes of data through the check; false when they can't be read.
bool read_through_check(FILE *archive, int32_t size, std::vector<char> *buffer,
                        member_check *check) {
    int64_t remaining = size;
    while (remaining > 0) {
        size_t chunk = remaining < static_cast<int64_t>(buffer->size())
                           ? static_cast<size_t>(remaining)
                           : buffer->size();
        if (std::fread(buffer->data(), 1, chunk, archive) != chunk)
            return false;
        continue_member_check(check, buffer->data(), chunk);
        remaining -= static_cast<int64_t>(chunk);
    }
    return true;
}

bool test_member(const member_record *record, FILE *archive, void *context) {
    tester *run = static_cast<tester *>(context);
    // The walk stands at the member's data, right after its record.
    long long record_offset = static_cast<long long>(std::ftell(archive)) - RECORD_SIZE;
    member_check check = begin_member_check(record);
    if (!read_through_check(archive, member_data_size(record), &run->buffer, &check)) {
        report_error("'%s': can't read the data of '%s' (record at offset %lld)", run->path,
                     shown_name(run->names, record->name).c_str(), record_offset);
        return false;
    }
    if (!check.checked) {
        ++run->unchecked;
        return true;
    }
    ++run->checked;
    if (member_check_failed(&check)) {
        ++run->damaged;
        report_error("'%s': '%s' is damaged: the check value does not match (record at offset "
                     "%lld)",
                     run->path, shown_name(run->names, record->name).c_str(), record_offset);
    }
    return true;
}

} // namespace

int run_test(const char *path, int codepage) {
    platform_entry entry;
    FILE *archive = open_checked_archive(path, &entry);
    if (archive == nullptr)
        return 1;
    tester run = {path, name_storing(), std::vector<char>(TEST_CHUNK), 0, 0, 0};
    if (!names_of_archive(archive, path, codepage, &run.names)) {
        std::fclose(archive);
        return 2; // a code page asked for where names are not in one
    }
    int members = 0;
    bool whole =
        walk_archive(archive, path, entry.size, run.names.rules, test_member, &run, &members);
    std::fclose(archive);
    if (!whole)
        return 1;
    if (members == 0) {
        report_error("'%s' holds no members; the extractor would find no files to extract", path);
        return 1;
    }
    std::printf("%d %s: %d checked (%d damaged), %d unchecked\n", members,
                members == 1 ? "member" : "members", run.checked, run.damaged, run.unchecked);
    return run.damaged == 0 ? 0 : 1;
}
