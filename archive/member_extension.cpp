// SPDX-License-Identifier: Zlib
#include "member_extension.h"

#include "crc32c.h"
#include "layout_declaration.h"

#include <cstring>

bool find_member_extension(const member_record *record, member_extension *extension) {
    size_t length = record_name_length(record);
    if (length > LONGEST_CHECKED_NAME)
        return false;
    const unsigned char *block = reinterpret_cast<const unsigned char *>(record->name) + length + 1;
    if (std::memcmp(block, EXTENSION_MARKER, EXTENSION_MARKER_SIZE) != 0)
        return false;
    extension->check = decode_le32(block + EXTENSION_CHECK_OFFSET);
    extension->flags = block[offsetof(member_extension_block, flags)];
    return true;
}

bool put_member_extension(member_record *record, const member_extension *extension) {
    size_t length = record_name_length(record);
    if (length > LONGEST_CHECKED_NAME)
        return false;
    unsigned char *block = reinterpret_cast<unsigned char *>(record->name) + length + 1;
    std::memcpy(block, EXTENSION_MARKER, EXTENSION_MARKER_SIZE);
    encode_le32(extension->check, block + EXTENSION_CHECK_OFFSET);
    block[offsetof(member_extension_block, flags)] = extension->flags;
    return true;
}

uint32_t start_record_check(const member_record *record) {
    unsigned char size[4];
    encode_le32(static_cast<uint32_t>(record->size), size);
    size_t length = record_name_length(record);
    uint32_t crc = crc32c_update(0, &record->kind, 1);
    crc = crc32c_update(crc, record->name, length < NAME_FIELD_SIZE ? length + 1 : length);
    return crc32c_update(crc, size, sizeof size);
}

uint32_t start_member_check(const member_record *record, unsigned char flags) {
    return crc32c_update(start_record_check(record), &flags, 1);
}

// A marker that stands where no block begins is what damage to a name's
// length (a NUL written into it, or one erased) leaves behind.
bool block_is_damaged(const member_record *record, int version) {
    if (version == UNDECLARED_LAYOUT)
        return false;
    size_t length = record_name_length(record);
    const unsigned char *field = reinterpret_cast<const unsigned char *>(record->name);
    size_t block = length < LONGEST_CHECKED_NAME + 1 ? length + 1 : NAME_FIELD_SIZE;
    for (size_t at = length + 1; at + LAYOUT_MARKER_SIZE <= NAME_FIELD_SIZE; ++at)
        if (at != block && field[at] == LAYOUT_MARKER[0] &&
            std::memcmp(field + at, LAYOUT_MARKER, LAYOUT_MARKER_SIZE) == 0)
            return true;
    if (block == NAME_FIELD_SIZE)
        return false;
    unsigned char block_version = field[block + EXTENSION_VERSION_OFFSET];
    return std::memcmp(field + block, LAYOUT_MARKER, LAYOUT_MARKER_SIZE) != 0 ||
           block_version == 0 || block_version > version;
}

member_check begin_member_check(const member_record *record) {
    member_extension extension;
    if (block_is_damaged(record, declared_layout_version()))
        return member_check{true, true, 0, 0, 0};
    if (!find_member_extension(record, &extension))
        return member_check{false, false, 0, 0, 0};
    return member_check{true, false, extension.check, start_member_check(record, extension.flags),
                        extension.flags};
}

void continue_member_check(member_check *check, const void *data, size_t length) {
    if (check->checked)
        check->value = crc32c_update(check->value, data, length);
}

bool member_check_failed(const member_check *check) {
    return check->block_damaged || (check->checked && check->value != check->expected);
}
