// SPDX-License-Identifier: Zlib
#include "container_block.h"

#include "crc32c.h"

#include <cstring>

// The block's first byte in `record`, or null when the name is unterminated
// or leaves no room for it.
static const unsigned char *block_of(const member_record *record) {
    size_t length = record_name_length(record);
    if (length > LONGEST_CONTAINER_NAME)
        return nullptr;
    return reinterpret_cast<const unsigned char *>(record->name) + length + 1;
}

void encode_container_block(const container_fields *fields, unsigned char *bytes) {
    std::memcpy(bytes, EXTENSION_MARKER, EXTENSION_VERSION_OFFSET);
    bytes[EXTENSION_VERSION_OFFSET] = CONTAINER_BLOCK_VERSION;
    encode_le32(fields->check, bytes + offsetof(container_block, check));
    bytes[offsetof(container_block, flags)] = fields->flags;
    bytes[offsetof(container_block, method)] = fields->method;
    encode_le32(fields->dictionary_size, bytes + offsetof(container_block, dictionary_size));
    encode_le64(fields->decompressed_length,
                bytes + offsetof(container_block, decompressed_length));
}

bool find_container_block(const member_record *record, container_fields *fields) {
    const unsigned char *block = block_of(record);
    if (block == nullptr || std::memcmp(block, EXTENSION_MARKER, EXTENSION_VERSION_OFFSET) != 0 ||
        block[EXTENSION_VERSION_OFFSET] != CONTAINER_BLOCK_VERSION)
        return false;
    fields->check = decode_le32(block + offsetof(container_block, check));
    fields->flags = block[offsetof(container_block, flags)];
    fields->method = block[offsetof(container_block, method)];
    fields->dictionary_size = decode_le32(block + offsetof(container_block, dictionary_size));
    fields->decompressed_length =
        decode_le64(block + offsetof(container_block, decompressed_length));
    return true;
}

uint32_t start_container_check(const member_record *record) {
    return crc32c_update(start_record_check(record), block_of(record) + CONTAINER_CHECKED_OFFSET,
                         CONTAINER_CHECKED_SIZE);
}
