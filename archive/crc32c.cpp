// SPDX-License-Identifier: Zlib
#include "crc32c.h"

#include "little_endian.h"

namespace {

constexpr uint32_t REFLECTED_POLYNOMIAL = 0x82F63B78;

// tables[0] moves the register by one byte; tables[k] by one byte followed
// by k zero bytes, so eight bytes are taken in one step. Built on first use
// rather than stored, so the 8 KiB cost no room in the program file.
uint32_t tables[8][256];
bool tables_built;

void build_tables() {
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint32_t value = byte;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) != 0 ? (value >> 1) ^ REFLECTED_POLYNOMIAL : value >> 1;
        tables[0][byte] = value;
    }
    for (int k = 1; k < 8; ++k)
        for (int byte = 0; byte < 256; ++byte) {
            uint32_t previous = tables[k - 1][byte];
            tables[k][byte] = (previous >> 8) ^ tables[0][previous & 0xFF];
        }
    tables_built = true;
}

} // namespace

uint32_t crc32c_portable(uint32_t crc, const void *data, size_t length) {
    if (!tables_built)
        build_tables();
    const unsigned char *at = static_cast<const unsigned char *>(data);
    uint32_t state = ~crc;
    for (; length >= 8; length -= 8, at += 8) {
        uint32_t low = state ^ decode_le32(at);
        uint32_t high = decode_le32(at + 4);
        state = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^
                tables[5][(low >> 16) & 0xFF] ^ tables[4][low >> 24] ^ tables[3][high & 0xFF] ^
                tables[2][(high >> 8) & 0xFF] ^ tables[1][(high >> 16) & 0xFF] ^
                tables[0][high >> 24];
    }
    for (; length > 0; --length, ++at)
        state = (state >> 8) ^ tables[0][(state ^ *at) & 0xFF];
    return ~state;
}

uint32_t crc32c_update(uint32_t crc, const void *data, size_t length) {
    static crc32c_function chosen;
    if (chosen == nullptr) {
        chosen = crc32c_hardware();
        if (chosen == nullptr)
            chosen = crc32c_portable;
    }
    return chosen(crc, data, length);
}
