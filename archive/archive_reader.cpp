#include "archive_reader.h"

#include <cstring>

bool check_length_trailer(FILE *archive, int64_t file_size) {
    if (file_size < TRAILER_SIZE || file_size > LARGEST_ARCHIVE_FILE)
        return false;
    if (std::fseek(archive, static_cast<long>(file_size - TRAILER_SIZE), SEEK_SET) != 0)
        return false;
    unsigned char trailer[TRAILER_SIZE];
    if (std::fread(trailer, 1, sizeof trailer, archive) != sizeof trailer)
        return false;
    return decode_le32(trailer) == static_cast<uint32_t>(file_size);
}

bool seek_archive_start(FILE *archive) {
    return std::fseek(archive, ARCHIVE_START, SEEK_SET) == 0;
}

record_read_result read_member_record(FILE *archive, member_record *record) {
    unsigned char bytes[RECORD_SIZE];
    size_t got = std::fread(bytes, 1, sizeof bytes, archive);
    if (std::feof(archive))
        return RECORD_END;
    if (got != sizeof bytes)
        return RECORD_READ_FAILED;
    decode_member_record(bytes, record);
    return RECORD_READ;
}

static bool is_separator(char c) {
    return c == '/' || c == '\\';
}

static bool is_ascii_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Windows drops trailing dots and blanks from every path part, so ".. " and
// "..." can reach the parent as surely as "..": any part made only of dots and
// blanks that holds two dots or more is taken as a way up.
static bool is_parent_part(const char *part, size_t length) {
    size_t dots = 0;
    for (size_t i = 0; i < length; ++i) {
        if (part[i] == '.')
            ++dots;
        else if (part[i] != ' ')
            return false;
    }
    return dots >= 2;
}

// IMPORTANT SECURITY NOTE: archive data can be altered by anyone who then
// fixes the trailer, so no name may reach outside the folder the user runs in.
bool is_contained_name(const char *name) {
    if (is_separator(name[0]))
        return false;
    if (is_ascii_letter(name[0]) && name[1] == ':')
        return false;
    const char *part = name;
    for (;;) {
        size_t length = std::strcspn(part, "/\\");
        if (is_parent_part(part, length))
            return false;
        if (part[length] == '\0')
            return true;
        part += length + 1;
    }
}

record_verdict judge_member_record(const member_record *record, int64_t bytes_after_record) {
    if (record->magic != RECORD_MAGIC)
        return RECORD_BAD_MAGIC;
    if (record->kind != KIND_DIRECTORY && record->kind != KIND_FILE)
        return RECORD_BAD_KIND;
    if (std::memchr(record->name, '\0', NAME_FIELD_SIZE) == nullptr || record->name[0] == '\0')
        return RECORD_BAD_NAME;
    if (!is_contained_name(record->name))
        return RECORD_UNSAFE_NAME;
    if (record->kind == KIND_FILE && (record->size < 0 || record->size > bytes_after_record))
        return RECORD_BAD_SIZE;
    return RECORD_GOOD;
}

int32_t member_data_size(const member_record *record) {
    return record->kind == KIND_FILE ? record->size : 0;
}

const char *describe_record_verdict(record_verdict verdict) {
    switch (verdict) {
    case RECORD_GOOD:
        return "good";
    case RECORD_BAD_MAGIC:
        return "wrong check value";
    case RECORD_BAD_KIND:
        return "unknown member kind";
    case RECORD_BAD_NAME:
        return "name empty or not terminated";
    case RECORD_UNSAFE_NAME:
        return "name leaves the extraction folder";
    case RECORD_BAD_SIZE:
        return "size negative or past the end of the archive";
    }
    return "unknown";
}
