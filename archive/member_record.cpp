// SPDX-License-Identifier: Zlib
#include "member_record.h"

#include <cstring>

void decode_member_record(const unsigned char *bytes, member_record *record) {
    record->kind = static_cast<char>(bytes[RECORD_KIND_OFFSET]);
    std::memcpy(record->name, bytes + RECORD_NAME_OFFSET, NAME_FIELD_SIZE);
    record->size = static_cast<int32_t>(decode_le32(bytes + RECORD_SIZE_OFFSET));
    record->magic = decode_le32(bytes + RECORD_MAGIC_OFFSET);
}

void encode_member_record(const member_record *record, unsigned char *bytes) {
    bytes[RECORD_KIND_OFFSET] = static_cast<unsigned char>(record->kind);
    std::memcpy(bytes + RECORD_NAME_OFFSET, record->name, NAME_FIELD_SIZE);
    encode_le32(static_cast<uint32_t>(record->size), bytes + RECORD_SIZE_OFFSET);
    encode_le32(record->magic, bytes + RECORD_MAGIC_OFFSET);
}

size_t record_name_length(const member_record *record) {
    const void *end = std::memchr(record->name, '\0', NAME_FIELD_SIZE);
    return end == nullptr ? NAME_FIELD_SIZE
                          : static_cast<size_t>(static_cast<const char *>(end) - record->name);
}
