// SPDX-License-Identifier: Zlib
// Every integer of the layout is stored little-endian, whatever the processor.
#pragma once

#include <cstdint>

inline uint16_t decode_le16(const unsigned char *bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

inline uint32_t decode_le32(const unsigned char *bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void encode_le32(uint32_t value, unsigned char *bytes) {
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
    bytes[3] = static_cast<unsigned char>(value >> 24);
}

inline uint64_t decode_le64(const unsigned char *bytes) {
    return static_cast<uint64_t>(decode_le32(bytes)) | static_cast<uint64_t>(decode_le32(bytes + 4))
                                                           << 32;
}

inline void encode_le64(uint64_t value, unsigned char *bytes) {
    encode_le32(static_cast<uint32_t>(value), bytes);
    encode_le32(static_cast<uint32_t>(value >> 32), bytes + 4);
}
