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
    std::string place = member_place(member);
    std::string name = shown_name(run->names, member->record.name);
    if (result == MEMBER_DATA_MISSING) {
        report_error("'%s': can't read the data of '%s' (record at %s)", run->path, name.c_str(),
                     place.c_str());
        return false;
    }
    // Inside a container the decoder may find a member's data damaged
    // before all of it came: then no check value was compared.
    bool compared = member->check.checked && member->remaining == 0;
    if (member->check.checked)
        ++run->checked;
    else
        ++run->unchecked;
    if (result == MEMBER_DAMAGED) {
        ++run->damaged;
        report_error("'%s': '%s' is damaged: %s (record at %s)", run->path, name.c_str(),
                     compared ? "the check value does not match" : "its compressed data is damaged",
                     place.c_str());
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
    int status = walk_archive_file(path, codepage, &run.names,
                                   walk_buffer{buffer.data(), buffer.size()}, &visitor, nullptr,
                                   NO_FILES_FOR_THE_EXTRACTOR, &members, &extent, nullptr);
    if (status != 0)
        return status;
    std::printf("%lld %s: %d checked (%d damaged), %d unchecked\n", static_cast<long long>(members),
                members == 1 ? "member" : "members", run.checked, run.damaged, run.unchecked);
    print_signature_line(&extent);
    return reported_run_status();
}
