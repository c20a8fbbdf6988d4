// SPDX-License-Identifier: Zlib
#include "signed_file.h"

#include "archive_reader.h"
#include "little_endian.h"
#include "member_record.h"
#include "program_image.h"

// The PE signature and the file header before the optional header.
static const size_t PE_HEADERS_SIZE = 4 + 20;
// Where the file header keeps the size of the optional header.
static const size_t OPTIONAL_SIZE_FIELD = 4 + 16;
static const unsigned PE32_MAGIC = 0x10B;
static const unsigned PE32_PLUS_MAGIC = 0x20B;
// Where the data directories start in each kind of optional header; the
// count of directories stands right before them.
static const size_t PE32_DIRECTORIES = 96;
static const size_t PE32_PLUS_DIRECTORIES = 112;
// The security directory's place: each entry is an address and a size. Its
// address is a file offset, not a virtual one.
static const size_t SECURITY_ENTRY = 4 * 8;
static const size_t DIRECTORY_ENTRY_SIZE = 8;

// The security directory entry of the PE program whose first `size` bytes
// are at `header`; null when the bytes hold no PE headers with that entry.
static const unsigned char *security_entry(const unsigned char *header, size_t size) {
    size_t pe = pe_header_offset(header, size);
    if (pe == 0 || size - pe < PE_HEADERS_SIZE + 2)
        return nullptr;
    const unsigned char *signature = header + pe;
    const unsigned char *optional = signature + PE_HEADERS_SIZE;
    unsigned magic = decode_le16(optional);
    size_t directories = magic == PE32_MAGIC        ? PE32_DIRECTORIES
                         : magic == PE32_PLUS_MAGIC ? PE32_PLUS_DIRECTORIES
                                                    : 0;
    size_t entry_end = directories + SECURITY_ENTRY + DIRECTORY_ENTRY_SIZE;
    if (directories == 0 || size - pe - PE_HEADERS_SIZE < entry_end ||
        decode_le16(signature + OPTIONAL_SIZE_FIELD) < entry_end ||
        decode_le32(optional + directories - 4) <= SECURITY_ENTRY / DIRECTORY_ENTRY_SIZE)
        return nullptr;
    return optional + directories + SECURITY_ENTRY;
}

archive_end_verdict find_certificate_table(const unsigned char *header, size_t header_size,
                                           int64_t file_size, archive_extent *extent) {
    *extent = archive_extent{file_size, 0, 0};
    const unsigned char *entry = security_entry(header, header_size);
    // A size of 0 means no table, wherever the address points.
    if (entry == nullptr || decode_le32(entry + 4) == 0)
        return ARCHIVE_END_UNSIGNED;
    int64_t offset = decode_le32(entry);
    int64_t size = decode_le32(entry + 4);
    *extent = archive_extent{offset, offset, size};
    if (offset > file_size || size > file_size - offset)
        return ARCHIVE_END_OUTSIDE_FILE;
    if (offset + size != file_size)
        return ARCHIVE_END_AFTER_TABLE;
    if (offset < ARCHIVE_START + TRAILER_SIZE)
        return ARCHIVE_END_INSIDE;
    return ARCHIVE_END_SIGNED;
}

archive_end_verdict find_end_before_table(const unsigned char *before, archive_extent *extent) {
    int64_t table = extent->table_offset;
    // An unaligned table was not padded: the archive can only end right there.
    int most_padding = table % CERTIFICATE_ALIGNMENT == 0 ? CERTIFICATE_ALIGNMENT - 1 : 0;
    archive_end_verdict verdict = ARCHIVE_END_INSIDE;
    for (int padding = 0; padding <= most_padding; ++padding) {
        int64_t end = table - padding;
        const unsigned char *trailer = before + CERTIFICATE_LOOKBACK - padding - TRAILER_SIZE;
        if (end < ARCHIVE_START + TRAILER_SIZE || decode_le32(trailer) != end)
            continue;
        bool zeros = true;
        for (int i = 0; i < padding; ++i)
            zeros = zeros && trailer[TRAILER_SIZE + i] == 0;
        // At most one trailer followed by zero bytes can name its own end
        // this close to the table.
        if (zeros) {
            extent->end = end;
            return ARCHIVE_END_SIGNED;
        }
        verdict = ARCHIVE_END_PADDING;
    }
    return verdict;
}

archive_end_verdict find_archive_end(FILE *file, int64_t file_size, archive_extent *extent) {
    // The length check refuses such a file; no offset in it is looked for.
    if (file_size > LARGEST_ARCHIVE_FILE) {
        *extent = archive_extent{file_size, 0, 0};
        return ARCHIVE_END_UNSIGNED;
    }
    unsigned char bytes[PROGRAM_HEADER_BYTES];
    size_t got = std::fseek(file, 0, SEEK_SET) == 0 ? std::fread(bytes, 1, sizeof bytes, file) : 0;
    archive_end_verdict verdict = find_certificate_table(bytes, got, file_size, extent);
    if (verdict != ARCHIVE_END_SIGNED)
        return verdict;
    if (std::fseek(file, static_cast<long>(extent->table_offset - CERTIFICATE_LOOKBACK),
                   SEEK_SET) != 0 ||
        std::fread(bytes, 1, CERTIFICATE_LOOKBACK, file) != CERTIFICATE_LOOKBACK)
        return ARCHIVE_END_UNREADABLE;
    return find_end_before_table(bytes, extent);
}
