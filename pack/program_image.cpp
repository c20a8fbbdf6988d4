// SPDX-License-Identifier: Zlib
#include "program_image.h"

#include <cstdint>
#include <cstring>

namespace {

// Where the MS-DOS header keeps the offset of the PE header.
constexpr size_t PE_OFFSET_FIELD = 0x3C;

uint32_t little_endian_32(const char *bytes) {
    const unsigned char *b = reinterpret_cast<const unsigned char *>(bytes);
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

bool is_elf(const char *image, size_t size) {
    return size >= 4 && std::memcmp(image, "\177ELF", 4) == 0;
}

// "MZ" alone starts many files that are not programs; Windows runs a file
// only when the PE signature stands where its header says.
bool is_pe(const char *image, size_t size) {
    if (size < PE_OFFSET_FIELD + 4 || image[0] != 'M' || image[1] != 'Z')
        return false;
    uint32_t pe_offset = little_endian_32(image + PE_OFFSET_FIELD);
    return pe_offset <= size - 4 && std::memcmp(image + pe_offset, "PE\0\0", 4) == 0;
}

} // namespace

program_kind program_kind_of(const char *image, size_t size) {
    if (is_elf(image, size))
        return PROGRAM_ELF;
    if (is_pe(image, size))
        return PROGRAM_PE;
    return PROGRAM_NONE;
}
