#include "archive_writer.h"

#include "crc32c.h"

#include <cstring>

bool write_stub_and_filler(FILE *out, const void *stub, size_t stub_size) {
    if (stub_size > static_cast<size_t>(ARCHIVE_START))
        return false;
    if (stub_size > 0 && std::fwrite(stub, 1, stub_size, out) != stub_size)
        return false;
    for (size_t at = stub_size; at < static_cast<size_t>(ARCHIVE_START); ++at)
        if (std::fputc(FILLER_BYTE, out) == EOF)
            return false;
    return true;
}

bool encode_new_record(char kind, const char *name, int32_t size, unsigned char *bytes) {
    size_t name_length = std::strlen(name);
    if (name_length > LONGEST_MEMBER_NAME || size < 0)
        return false;
    member_record record;
    std::memset(&record, 0, sizeof record);
    record.kind = kind;
    std::memcpy(record.name, name, name_length);
    record.size = size;
    record.magic = RECORD_MAGIC;
    encode_member_record(&record, bytes);
    return true;
}

bool write_member_record(FILE *out, char kind, const char *name, int32_t size) {
    unsigned char bytes[RECORD_SIZE];
    return encode_new_record(kind, name, size, bytes) &&
           std::fwrite(bytes, 1, sizeof bytes, out) == sizeof bytes;
}

bool encode_checked_record(char kind, const char *name, int32_t size,
                           const member_extension *extension, unsigned char *bytes) {
    if (!encode_new_record(kind, name, size, bytes))
        return false;
    member_record record;
    decode_member_record(bytes, &record);
    if (!put_member_extension(&record, extension))
        return false;
    encode_member_record(&record, bytes);
    return true;
}

bool encode_length_trailer(int64_t position, unsigned char *bytes) {
    if (position < 0 || position + TRAILER_SIZE > INT64_C(0x7FFFFFFF))
        return false;
    encode_le32(static_cast<uint32_t>(position + TRAILER_SIZE), bytes);
    return true;
}

bool write_length_trailer(FILE *out) {
    unsigned char trailer[TRAILER_SIZE];
    return encode_length_trailer(std::ftell(out), trailer) &&
           std::fwrite(trailer, 1, sizeof trailer, out) == sizeof trailer;
}

// The record of `member`, with the extension block and its check value over
// the member's data where the member asks for it and its name leaves room.
static bool encode_member(const archive_member &member, int32_t size, unsigned char *bytes) {
    const char *name = member.name.c_str();
    if (!member.checked || member.name.size() > LONGEST_CHECKED_NAME)
        return encode_new_record(member.kind, name, size, bytes);
    member_extension extension = {0, member.flags};
    if (!encode_checked_record(member.kind, name, size, &extension, bytes))
        return false;
    member_record record;
    decode_member_record(bytes, &record);
    uint32_t check = start_member_check(&record, member.flags);
    if (member.kind == KIND_FILE)
        check = crc32c_update(check, member.data.data(), member.data.size());
    encode_le32(check, bytes + record_check_offset(member.name.size()));
    return true;
}

static bool write_members(FILE *out, const std::vector<archive_member> &members) {
    for (const archive_member &member : members) {
        bool is_file = member.kind == KIND_FILE;
        int32_t size = is_file ? static_cast<int32_t>(member.data.size()) : 0;
        unsigned char bytes[RECORD_SIZE];
        if (!encode_member(member, size, bytes) ||
            std::fwrite(bytes, 1, sizeof bytes, out) != sizeof bytes)
            return false;
        if (is_file && !member.data.empty() &&
            std::fwrite(member.data.data(), 1, member.data.size(), out) != member.data.size())
            return false;
    }
    return true;
}

bool write_sfx_file(const char *path, const std::string &stub,
                    const std::vector<archive_member> &members) {
    FILE *out = std::fopen(path, "wb");
    if (out == nullptr)
        return false;
    bool written = write_stub_and_filler(out, stub.data(), stub.size()) &&
                   write_members(out, members) && write_length_trailer(out);
    return std::fclose(out) == 0 && written;
}
