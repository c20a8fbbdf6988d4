// SPDX-License-Identifier: Zlib
#include "member_output.h"

#include "console.h"
#include "member_extension.h"
#include "platform_stub.h"

#include <cstdio>

// A directory's block covers its record alone, so a damaged name is found
// before the directory is made.
// Creating a directory or opening a file may wait (a slow network share, a
// pipe in the folder): the line naming it is on the console first.
static member_result output_directory(const member_record *record) {
    member_check check = begin_member_check(record);
    report_directory_start(record->name);
    if (member_check_failed(&check)) {
        report_directory_failed();
        report_damaged();
        return MEMBER_DAMAGED;
    }
    show_held_text();
    platform_make_directory(record->name);
    report_directory_done();
    return MEMBER_DONE;
}

// Copies `total` bytes from `archive` to `out` in chunks of COPY_CHUNK bytes,
// at most one read, one write and one progress figure per chunk. The check
// value takes in each chunk while it is in the copy buffer.
static member_result copy_member_data(archive_input *archive, FILE *out, int32_t total,
                                      member_check *check) {
    int32_t remaining = total;
    while (remaining != 0) {
        report_progress(total, remaining);
        size_t length = static_cast<size_t>(remaining < COPY_CHUNK ? remaining : COPY_CHUNK);
        // The size was judged against the file's length, so a short read
        // means the device failed or the file changed under us.
        const char *chunk = take_member_chunk(archive, length);
        if (chunk == nullptr)
            return MEMBER_DATA_MISSING;
        remaining -= static_cast<int32_t>(length);
        continue_member_check(check, chunk, length);
        if (std::fwrite(chunk, 1, length, out) != length)
            return MEMBER_NOT_WRITTEN;
    }
    return MEMBER_DONE;
}

static member_result output_file(const member_record *record, archive_input *archive) {
    member_check check = begin_member_check(record);
    report_file_start(record->name);
    show_held_text();
    FILE *out = platform_open_member(record->name, member_is_executable(&check));
    // A name that reached a device or a pipe must not get the member's data.
    if (out != nullptr && !platform_is_disk_file(out)) {
        platform_close_member(out);
        out = nullptr;
    }
    if (out == nullptr) {
        report_file_failed();
        report_create_failed();
        return MEMBER_NOT_CREATED;
    }
    // Whole chunks go straight to the file; the stream's own buffer would only
    // add a copy and hide a full disk until the close.
    std::setvbuf(out, nullptr, _IONBF, 0);
    member_result result = copy_member_data(archive, out, record->size, &check);
    if (!platform_close_member(out) && result == MEMBER_DONE)
        result = MEMBER_NOT_WRITTEN;
    if (result == MEMBER_DONE && member_check_failed(&check))
        result = MEMBER_DAMAGED;
    if (result == MEMBER_DONE) {
        report_file_done();
        return result;
    }
    // Never leave a file that looks extracted but holds less than its member,
    // or other bytes.
    std::remove(record->name);
    report_file_failed();
    if (result == MEMBER_NOT_WRITTEN)
        report_write_failed();
    else if (result == MEMBER_DAMAGED)
        report_damaged();
    else
        report_bad_record();
    return result;
}

member_result output_member(const member_record *record, archive_input *archive) {
    if (record->kind == KIND_DIRECTORY)
        return output_directory(record);
    return output_file(record, archive);
}
