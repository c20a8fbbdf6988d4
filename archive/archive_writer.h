// Writing a self-extracting file: stub, filler, members and length trailer.
#pragma once

#include "member_extension.h"
#include "member_record.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Longest name a record can hold (the field keeps one byte for the NUL).
constexpr size_t LONGEST_MEMBER_NAME = NAME_FIELD_SIZE - 1;

// Writes the stub's bytes and fills up to ARCHIVE_START with FILLER_BYTE.
// Fails when the stub does not fit before ARCHIVE_START.
bool write_stub_and_filler(FILE *out, const void *stub, size_t stub_size);

// The RECORD_SIZE bytes of one record; the unused name bytes are zero. Fails
// for a name longer than LONGEST_MEMBER_NAME or a negative size.
bool encode_new_record(char kind, const char *name, int32_t size, unsigned char *bytes);

// Writes one record, encoded as by encode_new_record.
bool write_member_record(FILE *out, char kind, const char *name, int32_t size);

// As encode_new_record, with the extension block behind the name. Also fails
// for a name longer than LONGEST_CHECKED_NAME.
bool encode_checked_record(char kind, const char *name, int32_t size,
                           const member_extension *extension, unsigned char *bytes);

// The trailer for a file whose members end at `position`: that position plus
// the trailer's own four bytes. Fails when the length does not fit a 32-bit
// signed count.
bool encode_length_trailer(int64_t position, unsigned char *bytes);

// Writes the trailer for the stream's position.
bool write_length_trailer(FILE *out);

// One member held in memory, for small archives built in one call.
struct archive_member {
    char kind;
    std::string name;
    std::string data;    // a file member's bytes; ignored for a directory
    unsigned char flags; // MEMBER_FLAG_* bits for the extension block
    bool checked;        // gets the extension block when the name leaves room
};

inline archive_member directory_member(const std::string &name) {
    return archive_member{KIND_DIRECTORY, name, std::string(), 0, true};
}

inline archive_member file_member(const std::string &name, const std::string &data) {
    return archive_member{KIND_FILE, name, data, 0, true};
}

inline archive_member executable_member(const std::string &name, const std::string &data) {
    return archive_member{KIND_FILE, name, data, MEMBER_FLAG_EXECUTABLE, true};
}

// The member as a packer without the extension writes it.
inline archive_member unchecked(archive_member member) {
    member.checked = false;
    return member;
}

// Writes the whole self-extracting file `path` from the stub's bytes and the
// members, in order; each member that is `checked` and whose name leaves room
// gets the extension block.
bool write_sfx_file(const char *path, const std::string &stub,
                    const std::vector<archive_member> &members);
