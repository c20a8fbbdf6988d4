// SPDX-License-Identifier: Zlib
#include "test_archive.h"

#include "archive_reader.h"
#include "archive_walk.h"
#include "member_extension.h"
#include "pack_messages.h"
#include "signed_archive.h"
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
    tester run = {path, name_storing(), std::vector<char>(TEST_CHUNK), 0, 0, 0};
    int members = 0;
    archive_extent extent;
    int status =
        walk_archive_file(path, codepage, &run.names, test_member, &run, &members, &extent);
    if (status != 0)
        return status;
    std::printf("%d %s: %d checked (%d damaged), %d unchecked\n", members,
                members == 1 ? "member" : "members", run.checked, run.damaged, run.unchecked);
    print_signature_line(&extent);
    return run.damaged == 0 ? 0 : 1;
}
