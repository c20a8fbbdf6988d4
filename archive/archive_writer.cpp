// SPDX-License-Identifier: Zlib
#include "archive_writer.h"

#include <cstring>

bool stub_fits(int64_t stub_size) {
    return stub_size <= DECLARATION_OFFSET;
}

size_t filler_after_stub(size_t stub_size) {
    return static_cast<size_t>(DECLARATION_OFFSET) - stub_size;
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

bool encode_container_record(const char *name, int32_t size, const container_fields *fields,
                             unsigned char *bytes) {
    size_t name_length = std::strlen(name);
    if (name_length > LONGEST_CONTAINER_NAME || !encode_new_record(KIND_FILE, name, size, bytes))
        return false;
    encode_container_block(fields, bytes + record_block_offset(name_length));
    return true;
}

bool encode_length_trailer(int64_t position, unsigned char *bytes) {
    if (position < 0 || position + TRAILER_SIZE > LARGEST_ARCHIVE_FILE)
        return false;
    encode_le32(static_cast<uint32_t>(position + TRAILER_SIZE), bytes);
    return true;
}
