#include "list.h"

#include "archive_reader.h"
#include "codepage.h"
#include "pack_messages.h"
#include "platform.h"
#include "stub_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

struct member_counts {
    int directories;
    int files;
    int64_t data_bytes;
};

// Says why the length check failed, in the file's own figures.
void report_wrong_length(FILE *archive, const char *path, int64_t file_size) {
    long long size = static_cast<long long>(file_size);
    if (file_size < TRAILER_SIZE) {
        report_error("'%s' is %lld bytes, too short to hold a length trailer", path, size);
        return;
    }
    if (file_size > LARGEST_ARCHIVE_FILE) {
        report_error("'%s' is %lld bytes; the extractor refuses files of 2 GiB or more", path,
                     size);
        return;
    }
    unsigned char trailer[TRAILER_SIZE];
    if (std::fseek(archive, static_cast<long>(file_size - TRAILER_SIZE), SEEK_SET) != 0 ||
        std::fread(trailer, 1, sizeof trailer, archive) != sizeof trailer) {
        report_error("can't read the length trailer of '%s'", path);
        return;
    }
    report_error("'%s' is %lld bytes but its trailer says %lu: cut short, lengthened or not "
                 "a self-extracting file; the extractor refuses it",
                 path, size, static_cast<unsigned long>(decode_le32(trailer)));
}

void print_member(const member_record *record, const name_storing &names, member_counts *counts) {
    int32_t data_size = member_data_size(record);
    std::printf("%c %10ld %s\n", record->kind, static_cast<long>(data_size),
                shown_name(names, record->name).c_str());
    if (record->kind == KIND_DIRECTORY)
        ++counts->directories;
    else
        ++counts->files;
    counts->data_bytes += data_size;
}

// The same walk as the stub's: read, judge with the stub's own rules, then
// step over the data, stopping at the first record it would refuse.
bool walk_and_print(FILE *archive, const char *path, int64_t file_size, const name_storing &names,
                    member_counts *counts) {
    if (!seek_archive_start(archive)) {
        report_error("can't reach the members of '%s'", path);
        return false;
    }
    int64_t record_offset = ARCHIVE_START;
    member_record record;
    for (;;) {
        record_read_result read = read_member_record(archive, &record);
        if (read == RECORD_END)
            return true;
        if (read == RECORD_READ_FAILED) {
            report_error("'%s': read error at offset %lld", path,
                         static_cast<long long>(record_offset));
            return false;
        }
        int64_t bytes_after_record = file_size - TRAILER_SIZE - (record_offset + RECORD_SIZE);
        record_verdict verdict = judge_member_record(&record, bytes_after_record, names.rules);
        if (verdict != RECORD_GOOD) {
            report_error("'%s': bad record at offset %lld (%s); the extractor stops there", path,
                         static_cast<long long>(record_offset), describe_record_verdict(verdict));
            return false;
        }
        print_member(&record, names, counts);
        record_offset += RECORD_SIZE + member_data_size(&record);
        if (std::fseek(archive, static_cast<long>(record_offset), SEEK_SET) != 0) {
            report_error("'%s': can't step to offset %lld", path,
                         static_cast<long long>(record_offset));
            return false;
        }
    }
}

// The rules of the stub at the front of the file: a Windows program starts
// with "MZ".
name_rules rules_of_front_stub(FILE *archive) {
    char start[2] = {0, 0};
    if (std::fseek(archive, 0, SEEK_SET) != 0 || std::fread(start, 1, 2, archive) != 2)
        return NAME_RULES_POSIX;
    return stub_name_rules(start, sizeof start);
}

int list_archive(FILE *archive, const char *path, int64_t file_size, int codepage) {
    if (!check_length_trailer(archive, file_size)) {
        report_wrong_length(archive, path, file_size);
        return 1;
    }
    member_counts counts = {0, 0, 0};
    name_storing names = {rules_of_front_stub(archive),
                          codepage != 0 ? codepage : DEFAULT_CODEPAGE};
    if (names.rules == NAME_RULES_POSIX && codepage != 0) {
        report_error("--codepage is for a file with a Windows stub; '%s' has another", path);
        return 1;
    }
    if (!walk_and_print(archive, path, file_size, names, &counts))
        return 1;
    if (counts.directories + counts.files == 0) {
        report_error("'%s' holds no members; the extractor would find no files to extract", path);
        return 1;
    }
    int members = counts.directories + counts.files;
    std::printf("%d %s: %d %s, %d %s, %lld data bytes\n", members,
                members == 1 ? "member" : "members", counts.directories,
                counts.directories == 1 ? "directory" : "directories", counts.files,
                counts.files == 1 ? "file" : "files", static_cast<long long>(counts.data_bytes));
    return 0;
}

} // namespace

int run_list(const char *path, int codepage) {
    FILE *archive = platform_open(path, "rb");
    platform_entry entry;
    if (archive == nullptr || !platform_entry_status(path, true, &entry)) {
        report_error("can't read '%s': %s", path, std::strerror(errno));
        if (archive != nullptr)
            std::fclose(archive);
        return 1;
    }
    int status = list_archive(archive, path, entry.size, codepage);
    std::fclose(archive);
    return status;
}
