// SPDX-License-Identifier: Zlib
#include "program_image.h"

#include "little_endian.h"

#include <cstdint>
#include <cstring>

namespace {

// Where the MS-DOS header keeps the offset of the PE header.
constexpr size_t PE_OFFSET_FIELD = 0x3C;

bool is_elf(const char *image, size_t size) {
    return size >= 4 && std::memcmp(image, "\177ELF", 4) == 0;
}

// "MZ" alone starts many files that are not programs; Windows runs a file
// only when the PE signature stands where its header says.
bool is_pe(const char *image, size_t size) {
    if (size < PE_OFFSET_FIELD + 4 || image[0] != 'M' || image[1] != 'Z')
        return false;
    uint32_t pe_offset =
        decode_le32(reinterpret_cast<const unsigned char *>(image) + PE_OFFSET_FIELD);
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
