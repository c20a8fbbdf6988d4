// SPDX-License-Identifier: Zlib
#include "archive_walk.h"

#include "archive_reader.h"
#include "container_walk.h"
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

// The container the walk is inside, for the messages about its members;
// null outside one. One archive is walked at a time.
const container_reader *walked_containers;

// Counts the members the program's visitor is given, inside containers and
// out, and hands each on.
struct member_counter {
    const walk_visitor *visitor;
    int64_t members;
};

visit_step count_member(void *context, walked_member *member) {
    member_counter *counter = static_cast<member_counter *>(context);
    ++counter->members;
    return counter->visitor->begin(counter->visitor->context, member);
}

bool pass_counted_data(void *context, const walked_member *member, const char *chunk,
                       size_t length) {
    member_counter *counter = static_cast<member_counter *>(context);
    return counter->visitor->data(counter->visitor->context, member, chunk, length);
}

bool end_counted_member(void *context, walked_member *member, member_data_result result) {
    member_counter *counter = static_cast<member_counter *>(context);
    return counter->visitor->end(counter->visitor->context, member, result);
}

// The member the outer walk is at, as the reader of containers is handed it:
// a container that ends the walk is named after the walk, when the walk's
// own copy of its record is gone.
struct outer_member {
    const walk_visitor *reader;
    char kind;
    std::string name;
    int64_t offset;
};

visit_step note_outer_member(void *context, walked_member *member) {
    outer_member *outer = static_cast<outer_member *>(context);
    outer->kind = member->record.kind;
    outer->name = member->record.name;
    outer->offset = member->offset;
    return outer->reader->begin(outer->reader->context, member);
}

bool pass_outer_data(void *context, const walked_member *member, const char *chunk, size_t length) {
    outer_member *outer = static_cast<outer_member *>(context);
    return outer->reader->data(outer->reader->context, member, chunk, length);
}

bool end_outer_member(void *context, walked_member *member, member_data_result result) {
    outer_member *outer = static_cast<outer_member *>(context);
    return outer->reader->end(outer->reader->context, member, result);
}

// The member the outer walk is at, while walked_containers is set.
const outer_member *walked_outer;

// Why the block of a container is refused.
const char *describe_refused_container(const container_reader &reader) {
    const container_fields &fields = reader.fields;
    if (walked_outer->kind != KIND_FILE)
        return "a directory carries a container's block";
    if (fields.method != CONTAINER_METHOD_LZMA2)
        return "it names an unknown compression method";
    if (fields.dictionary_size == 0 || fields.dictionary_size > LARGEST_CONTAINER_DICTIONARY)
        return "its dictionary size is 0 or above 64 MiB";
    if (reader.memory != nullptr && fields.dictionary_size > reader.dictionary_size)
        return "its dictionary is larger than the first container's";
    return "its decompressed length is beyond any file";
}

void report_damaged_container(const char *path) {
    report_error("'%s': the compressed data of '%s' (record at offset %lld) is damaged; nothing "
                 "after it is read",
                 path, walked_outer->name.c_str(), static_cast<long long>(walked_outer->offset));
}

// Says why a walk inside a container ended early, where the program's
// visitor has not said so itself.
void report_inner_end(const char *path, const container_reader &reader) {
    const walk_outcome &inner = reader.inner;
    const std::string &name = walked_outer->name;
    long long offset = static_cast<long long>(inner.offset);
    switch (inner.end) {
    case WALK_RECORD_UNREADABLE:
        report_error("'%s': read error in '%s' at offset %lld of its members", path, name.c_str(),
                     offset);
        return;
    case WALK_BAD_RECORD:
        report_error("'%s': bad record at offset %lld of the members of '%s' (%s); the "
                     "extractor stops there",
                     path, offset, name.c_str(), describe_record_verdict(inner.verdict));
        return;
    case WALK_DAMAGED:
        // The visitor has said the member is damaged; the input found it so,
        // for a visitor goes on after a check value that does not match.
        report_damaged_container(path);
        return;
    case WALK_AT_END:
    case WALK_DATA_MISSING:
    case WALK_STOPPED:
    case WALK_INPUT_DAMAGED:
        return;
    }
}

// Says why a container ended the walk; nothing when none did.
void report_container_end(const char *path, const container_reader &reader) {
    if (reader.failure == CONTAINER_NONE)
        return;
    const std::string &name = walked_outer->name;
    long long offset = static_cast<long long>(walked_outer->offset);
    switch (reader.failure) {
    case CONTAINER_NONE:
        return;
    case CONTAINER_REFUSED:
        report_error("'%s': the container '%s' (record at offset %lld) is damaged: %s; the "
                     "extractor stops there",
                     path, name.c_str(), offset, describe_refused_container(reader));
        return;
    case CONTAINER_NO_MEMORY:
        report_error("not enough memory to read '%s' of '%s': its dictionary takes %lu bytes",
                     name.c_str(), path, static_cast<unsigned long>(reader.fields.dictionary_size));
        return;
    case CONTAINER_INNER_END:
        report_inner_end(path, reader);
        return;
    case CONTAINER_DAMAGED:
        report_damaged_container(path);
        return;
    case CONTAINER_CHECK_FAILED:
        report_error("'%s': the container '%s' (record at offset %lld) is damaged: the check "
                     "value does not match",
                     path, name.c_str(), offset);
        return;
    }
}

} // namespace

std::string member_place(const walked_member *member) {
    std::string place = "offset " + std::to_string(member->offset);
    if (walked_containers != nullptr && walked_containers->walking_container)
        place += " of the members of '" + walked_outer->name + "'";
    return place;
}

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
                          walk_buffer buffer, const walk_visitor *visitor,
                          container_summary *summary) {
    if (summary != nullptr)
        *summary = container_summary{0, 0, 0};
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
    member_counter counter = {visitor, 0};
    walk_visitor counted = {count_member, pass_counted_data, end_counted_member, &counter};
    container_reader reader;
    start_container_reader(&reader, &counted, rules, buffer.capacity);
    walk_visitor containers = container_reader_visitor(&reader);
    outer_member noted = {&containers, 0, std::string(), 0};
    walk_visitor outer = {note_outer_member, pass_outer_data, end_outer_member, &noted};
    walked_containers = &reader;
    walked_outer = &noted;
    walk_outcome outcome =
        walk_members_of(input, buffer, ARCHIVE_START, archive_end - TRAILER_SIZE, rules, &outer);
    report_container_end(path, reader);
    walked_containers = nullptr;
    walked_outer = nullptr;
    end_container_reader(&reader);
    outcome.members = counter.members;
    if (summary != nullptr)
        *summary = container_summary{reader.containers, reader.compressed_bytes,
                                     reader.decompressed_bytes};
    // A container that ended the walk has said why; the outer walk only
    // stopped there.
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
                      int64_t *members, archive_extent *extent, container_summary *summary) {
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
    walk_outcome outcome =
        walk_archive(archive, path, extent->end, names->rules, buffer, visitor, summary);
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
