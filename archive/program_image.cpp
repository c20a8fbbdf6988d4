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

} // namespace

// "MZ" alone starts many files that are not programs; Windows runs a file
// only when the PE signature stands where its header says.
size_t pe_header_offset(const unsigned char *image, size_t size) {
    if (size < PE_OFFSET_FIELD + 4 || image[0] != 'M' || image[1] != 'Z')
        return 0;
    uint32_t pe_offset = decode_le32(image + PE_OFFSET_FIELD);
    bool found =
        pe_offset >= 2 && pe_offset <= size - 4 && std::memcmp(image + pe_offset, "PE\0\0", 4) == 0;
    return found ? pe_offset : 0;
}

program_kind program_kind_of(const char *image, size_t size) {
    if (is_elf(image, size))
        return PROGRAM_ELF;
    if (pe_header_offset(reinterpret_cast<const unsigned char *>(image), size) != 0)
        return PROGRAM_PE;
    return PROGRAM_NONE;
}
