// SPDX-License-Identifier: Zlib
#include "member_output.h"

#include "console.h"
#include "platform_stub.h"

#include <cstdio>

namespace {

// Creating a directory or opening a file may wait (a slow network share, a
// pipe in the folder): the line naming it is on the console first.
visit_step begin_member(void *context, walked_member *member) {
    member_output *output = static_cast<member_output *>(context);
    const member_record *record = &member->record;
    if (record->kind == KIND_DIRECTORY) {
        // The directory is made at its end, once its block, which covers
        // the record alone, was found sound.
        report_directory_start(record->name);
        return VISIT_DATA;
    }
    report_file_start(record->name);
    show_held_text();
    FILE *out = platform_open_member(record->name, member_is_executable(&member->check));
    // A name that reached a device or a pipe must not get the member's data.
    if (out != nullptr && !platform_is_disk_file(out)) {
        platform_close_member(out);
        out = nullptr;
    }
    if (out == nullptr) {
        report_file_failed();
        report_create_failed();
        return VISIT_STOP;
    }
    // Whole chunks go straight to the file; the stream's own buffer would only
    // add a copy and hide a full disk until the close.
    std::setvbuf(out, nullptr, _IONBF, 0);
    output->out = out;
    output->remaining = record->size;
    if (output->remaining != 0)
        report_progress(record->size, output->remaining);
    return VISIT_DATA;
}

// One progress figure per chunk: the share before it, held until the read of
// that chunk.
bool write_chunk(void *context, const walked_member *member, const char *chunk, size_t length) {
    member_output *output = static_cast<member_output *>(context);
    if (std::fwrite(chunk, 1, length, output->out) != length)
        return false;
    output->remaining -= static_cast<int32_t>(length);
    if (output->remaining != 0)
        report_progress(member->record.size, output->remaining);
    return true;
}

bool end_directory(walked_member *member, member_data_result result) {
    if (result == MEMBER_DAMAGED) {
        report_directory_failed();
        report_damaged();
        return false;
    }
    show_held_text();
    platform_make_directory(member->record.name);
    report_directory_done();
    return true;
}

bool end_member(void *context, walked_member *member, member_data_result result) {
    if (member->record.kind == KIND_DIRECTORY)
        return end_directory(member, result);
    member_output *output = static_cast<member_output *>(context);
    bool closed = platform_close_member(output->out);
    output->out = nullptr;
    if (!closed && result != MEMBER_DATA_MISSING)
        result = MEMBER_REFUSED;
    if (result == MEMBER_WHOLE) {
        report_file_done();
        return true;
    }
    // Never leave a file that looks extracted but holds less than its member,
    // or other bytes.
    std::remove(member->record.name);
    report_file_failed();
    if (result == MEMBER_REFUSED)
        report_write_failed();
    else if (result == MEMBER_DAMAGED)
        report_damaged();
    return false;
}

} // namespace

walk_visitor member_output_visitor(member_output *output) {
    return walk_visitor{begin_member, write_chunk, end_member, output};
}
