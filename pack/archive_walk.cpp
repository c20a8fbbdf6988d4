// SPDX-License-Identifier: Zlib
#include "archive_walk.h"

#include "archive_reader.h"
#include "layout_declaration.h"
#include "pack_messages.h"
#include "platform_pack.h"

#include <cerrno>
#include <cstring>

namespace {

// The archive stream's buffer: the records of many small members and their
// data come out of one read. One archive is open at a time. (Without a buffer
// of its own, a C library may keep its default size whatever size is asked.)
char archive_buffer[256 * 1024];

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

// Reads the layout declaration that the records are checked by; false, after
// saying why, when the extractor refuses the file for it. A file that ends
// before it declares nothing.
bool take_declaration(FILE *archive, const char *path) {
    unsigned char bytes[DECLARATION_SIZE];
    bool read = seek_layout_declaration(archive) &&
                std::fread(bytes, 1, sizeof bytes, archive) == sizeof bytes;
    int version = UNDECLARED_LAYOUT;
    switch (take_layout_declaration(read ? bytes : nullptr, &version)) {
    case DECLARATION_GOOD:
        return true;
    case DECLARATION_DAMAGED:
        report_error("'%s': its layout declaration (offset %ld) is damaged; the extractor "
                     "refuses it",
                     path, static_cast<long>(DECLARATION_OFFSET));
        return false;
    case DECLARATION_NEWER:
        report_error("'%s' was made by a newer sfxpack: it declares layout version %d, this one "
                     "reads up to %d",
                     path, version, NEWEST_LAYOUT_VERSION);
        return false;
    }
    return false;
}

} // namespace

FILE *open_checked_archive(const char *path, platform_entry *entry) {
    if (!platform_entry_status(path, true, entry)) {
        report_system_error(entry->error_number, "can't read '%s'", path);
        return nullptr;
    }
    if (entry->kind == PLATFORM_ENTRY_DIRECTORY) {
        report_error("'%s' is a folder, not a self-extracting file", path);
        return nullptr;
    }
    FILE *archive = platform_open(path, "rb");
    if (archive == nullptr) {
        report_system_error(errno, "can't read '%s'", path);
        return nullptr;
    }
    std::setvbuf(archive, archive_buffer, _IOFBF, sizeof archive_buffer);
    if (!check_length_trailer(archive, entry->size)) {
        report_wrong_length(archive, path, entry->size);
        std::fclose(archive);
        return nullptr;
    }
    return archive;
}

bool names_of_archive(FILE *archive, const char *path, int codepage, name_storing *names) {
    char start[2] = {0, 0};
    bool read = std::fseek(archive, 0, SEEK_SET) == 0 && std::fread(start, 1, 2, archive) == 2;
    name_rules rules = read ? stub_name_rules(start, sizeof start) : NAME_RULES_POSIX;
    if (!choose_name_storing(rules, codepage, names)) {
        report_error("--codepage is for a file with a Windows stub; '%s' has another", path);
        return false;
    }
    return true;
}

bool walk_archive(FILE *archive, const char *path, int64_t file_size, name_rules rules,
                  record_visitor visit, void *context, int *members) {
    *members = 0;
    if (!take_declaration(archive, path))
        return false;
    if (!seek_archive_start(archive)) {
        report_error("can't reach the members of '%s'", path);
        return false;
    }
    record_walk walk = start_record_walk(file_size);
    member_record record;
    for (;;) {
        long long offset = static_cast<long long>(walk.record_offset);
        record_read_result read = read_member_record(archive, &record);
        if (read == RECORD_END)
            return true;
        if (read == RECORD_READ_FAILED) {
            report_error("'%s': read error at offset %lld", path, offset);
            return false;
        }
        record_verdict verdict = judge_walked_record(&walk, &record, rules);
        if (verdict != RECORD_GOOD) {
            report_error("'%s': bad record at offset %lld (%s); the extractor stops there", path,
                         offset, describe_record_verdict(verdict));
            return false;
        }
        ++*members;
        if (!visit(&record, archive, context))
            return false;
        // The visitor may have read any part of the data: the next record is
        // found by its offset, not by where the stream stands. Where the
        // visitor read the whole data, the stream stands there already: asking
        // where it stands costs no call to the system, while positioning it
        // does, even inside the buffer.
        step_past_record(&walk, &record);
        if (std::ftell(archive) != static_cast<long>(walk.record_offset) &&
            std::fseek(archive, static_cast<long>(walk.record_offset), SEEK_SET) != 0) {
            report_error("'%s': can't step to offset %lld", path,
                         static_cast<long long>(walk.record_offset));
            return false;
        }
    }
}

int walk_archive_file(const char *path, int codepage, name_storing *names, record_visitor visit,
                      void *context, int *members) {
    *members = 0;
    platform_entry entry;
    FILE *archive = open_checked_archive(path, &entry);
    if (archive == nullptr)
        return 1;
    if (!names_of_archive(archive, path, codepage, names)) {
        std::fclose(archive);
        return 2; // a code page asked for where names are not in one
    }
    bool whole = walk_archive(archive, path, entry.size, names->rules, visit, context, members);
    std::fclose(archive);
    if (!whole)
        return 1;
    if (*members == 0) {
        report_error("'%s' holds no members; the extractor would find no files to extract", path);
        return 1;
    }
    return 0;
}
