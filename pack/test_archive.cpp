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
    int checked;
    int unchecked;
    int damaged;
};

visit_step read_member(void *, walked_member *) {
    return VISIT_DATA;
}

// The walk has taken the data in through the check: nothing more to do.
bool take_data(void *, const walked_member *, const char *, size_t) {
    return true;
}

bool end_member(void *context, walked_member *member, member_data_result result) {
    tester *run = static_cast<tester *>(context);
    long long offset = static_cast<long long>(member->offset);
    std::string name = shown_name(run->names, member->record.name);
    if (result == MEMBER_DATA_MISSING) {
        report_error("'%s': can't read the data of '%s' (record at offset %lld)", run->path,
                     name.c_str(), offset);
        return false;
    }
    if (!member->check.checked) {
        ++run->unchecked;
        return true;
    }
    ++run->checked;
    if (result == MEMBER_DAMAGED) {
        ++run->damaged;
        report_error("'%s': '%s' is damaged: the check value does not match (record at offset "
                     "%lld)",
                     run->path, name.c_str(), offset);
    }
    return true;
}

} // namespace

int run_test(const char *path, int codepage) {
    start_reported_run();
    tester run = {path, name_storing(), 0, 0, 0};
    walk_visitor visitor = {read_member, take_data, end_member, &run};
    std::vector<char> buffer(TEST_CHUNK);
    int64_t members = 0;
    archive_extent extent;
    int status =
        walk_archive_file(path, codepage, &run.names, walk_buffer{buffer.data(), buffer.size()},
                          &visitor, nullptr, NO_FILES_FOR_THE_EXTRACTOR, &members, &extent);
    if (status != 0)
        return status;
    std::printf("%lld %s: %d checked (%d damaged), %d unchecked\n", static_cast<long long>(members),
                members == 1 ? "member" : "members", run.checked, run.damaged, run.unchecked);
    print_signature_line(&extent);
    return reported_run_status();
}
