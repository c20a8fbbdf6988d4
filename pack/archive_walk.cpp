// SPDX-License-Identifier: Zlib
#include "archive_walk.h"

#include "archive_reader.h"
#include "layout_declaration.h"
#include "pack_messages.h"
#include "platform_pack.h"
#include "signed_archive.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// The archive stream's buffer: the records of many small members and their
// data come out of one read. One archive is open at a time. (Without a buffer
// of its own, a C library may keep its default size whatever size is asked.)
char archive_buffer[256 * 1024];

// Says why the length check failed, in the file's own figures.
void report_wrong_length(const char *path, int64_t file_size, trailer_verdict verdict,
                         uint32_t stored) {
    long long size = static_cast<long long>(file_size);
    switch (verdict) {
    case TRAILER_TOO_SHORT:
        report_error("'%s' is %lld bytes, too short to hold a length trailer", path, size);
        return;
    case TRAILER_TOO_LARGE:
        report_error("'%s' is %lld bytes; the extractor refuses files of %s or more", path, size,
                     ARCHIVE_LIMIT_WORDS);
        return;
    case TRAILER_UNREADABLE:
        report_error("can't read the length trailer of '%s'", path);
        return;
    case TRAILER_MISMATCH:
    case TRAILER_GOOD:
        break;
    }
    report_error("'%s' is %lld bytes but its trailer says %lu: cut short, lengthened or not "
                 "a self-extracting file; the extractor refuses it",
                 path, size, static_cast<unsigned long>(stored));
}

// Says why the extractor refuses the file for its layout declaration;
// nothing for a good one.
void report_declaration(const char *path, declaration_verdict verdict, int version) {
    switch (verdict) {
    case DECLARATION_GOOD:
        return;
    case DECLARATION_DAMAGED:
        report_error("'%s': its layout declaration (offset %ld) is damaged; the extractor "
                     "refuses it",
                     path, static_cast<long>(DECLARATION_OFFSET));
        return;
    case DECLARATION_NEWER:
        report_error("'%s' was made by a newer sfxpack: it declares layout version %d, this one "
                     "reads up to %d",
                     path, version, NEWEST_LAYOUT_VERSION);
        return;
    case DECLARATION_UNREADABLE:
        report_error("'%s': read error at offset %ld", path, static_cast<long>(DECLARATION_OFFSET));
        return;
    }
}

} // namespace

FILE *open_checked_archive(const char *path, platform_entry *entry, archive_extent *extent) {
    if (!platform_entry_status(path, true, entry)) {
        report_system_error(entry->error_number, "can't read '%s'", path);
        return nullptr;
    }
    if (entry->kind == PLATFORM_ENTRY_DIRECTORY) {
        report_error("'%s' is a folder, not a self-extracting file", path);
        return nullptr;
    }
    // Opening a FIFO would wait for a writer, a device could be read without end.
    if (entry->kind != PLATFORM_ENTRY_FILE) {
        report_error("'%s' is a FIFO, socket or device, not a self-extracting file", path);
        return nullptr;
    }
    FILE *archive = platform_open(path, "rb");
    if (archive == nullptr) {
        report_system_error(errno, "can't read '%s'", path);
        return nullptr;
    }
    std::setvbuf(archive, archive_buffer, _IOFBF, sizeof archive_buffer);
    if (!find_checked_archive_end(archive, path, entry->size, extent)) {
        std::fclose(archive);
        return nullptr;
    }
    uint32_t stored = 0;
    trailer_verdict verdict = judge_length_trailer(archive, extent->end, &stored);
    if (verdict != TRAILER_GOOD) {
        report_wrong_length(path, extent->end, verdict, stored);
        std::fclose(archive);
        return nullptr;
    }
    return archive;
}

bool names_of_archive(FILE *archive, const char *path, int codepage, name_storing *names) {
    // The stub ends before ARCHIVE_START, and so does every header that
    // tells what kind of program it is.
    std::vector<char> stub(ARCHIVE_START);
    size_t read = std::fseek(archive, 0, SEEK_SET) == 0
                      ? std::fread(stub.data(), 1, stub.size(), archive)
                      : 0;
    name_rules rules = stub_name_rules(stub.data(), read);
    if (!choose_name_storing(rules, codepage, names)) {
        report_error("--codepage is for a file with a Windows stub; '%s' has another", path);
        return false;
    }
    return true;
}

walk_outcome walk_archive(FILE *archive, const char *path, int64_t archive_end, name_rules rules,
                          walk_buffer buffer, const walk_visitor *visitor) {
    if (!seek_layout_declaration(archive)) {
        report_error("can't reach the members of '%s'", path);
        return walk_outcome{WALK_RECORD_UNREADABLE, DECLARATION_OFFSET, RECORD_GOOD, 0, 0};
    }
    // Nothing after the archive's end is taken: a signed file's certificate
    // table follows it.
    bounded_stream bounded = {archive, archive_end - DECLARATION_OFFSET};
    walk_input input = stream_walk_input(&bounded);
    int version = UNDECLARED_LAYOUT;
    declaration_verdict declaration = read_layout_declaration(input, &version);
    if (declaration != DECLARATION_GOOD) {
        report_declaration(path, declaration, version);
        walk_end end =
            declaration == DECLARATION_UNREADABLE ? WALK_RECORD_UNREADABLE : WALK_BAD_RECORD;
        return walk_outcome{end, DECLARATION_OFFSET, RECORD_GOOD, 0, 0};
    }
    walk_outcome outcome =
        walk_members_of(input, buffer, ARCHIVE_START, archive_end - TRAILER_SIZE, rules, visitor);
    long long offset = static_cast<long long>(outcome.offset);
    if (outcome.end == WALK_RECORD_UNREADABLE)
        report_error("'%s': read error at offset %lld", path, offset);
    else if (outcome.end == WALK_BAD_RECORD)
        report_error("'%s': bad record at offset %lld (%s); the extractor stops there", path,
                     offset, describe_record_verdict(outcome.verdict));
    return outcome;
}

int walk_archive_file(const char *path, int codepage, name_storing *names, walk_buffer buffer,
                      const walk_visitor *visitor, walk_preparation prepare, const char *no_members,
                      int64_t *members, archive_extent *extent) {
    *members = 0;
    platform_entry entry;
    FILE *archive = open_checked_archive(path, &entry, extent);
    if (archive == nullptr)
        return 1;
    if (prepare != nullptr && !prepare(visitor->context, &entry)) {
        std::fclose(archive);
        return 1;
    }
    if (!names_of_archive(archive, path, codepage, names)) {
        std::fclose(archive);
        return 2; // a code page asked for where names are not in one
    }
    walk_outcome outcome = walk_archive(archive, path, extent->end, names->rules, buffer, visitor);
    std::fclose(archive);
    *members = outcome.members;
    if (outcome.end != WALK_AT_END)
        return 1;
    if (*members == 0) {
        report_error("'%s' holds no members; %s", path, no_members);
        return 1;
    }
    return 0;
}
