// SPDX-License-Identifier: Zlib
// Where the archive of a signed Windows program ends, found from hand-made
// program headers and the bytes before the certificate table.
#include "archive_reader.h"
#include "signed_file.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Where the hand-made headers put the PE signature.
constexpr size_t PE_AT = 0x80;
constexpr size_t OPTIONAL_AT = PE_AT + 24;

void put_le16(std::string *bytes, size_t at, unsigned value) {
    (*bytes)[at] = static_cast<char>(value & 0xFF);
    (*bytes)[at + 1] = static_cast<char>(value >> 8);
}

void put_le32(std::string *bytes, size_t at, uint32_t value) {
    encode_le32(value, reinterpret_cast<unsigned char *>(&(*bytes)[at]));
}

// The headers of a PE program whose security directory names `size` bytes
// at `offset`: a PE32 or a PE32+ optional header of the usual size with
// `directories` data directories.
struct pe_headers {
    unsigned magic = 0x10B;
    uint32_t offset = 0;
    uint32_t size = 0;
    uint32_t directories = 16;
    unsigned optional_size = 0; // 0: the usual size for the magic
};

std::string headers(const pe_headers &h) {
    std::string bytes(PROGRAM_HEADER_BYTES, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    put_le32(&bytes, 0x3C, PE_AT);
    bytes.replace(PE_AT, 4, std::string("PE\0\0", 4));
    bool plus = h.magic == 0x20B;
    unsigned optional_size = h.optional_size != 0 ? h.optional_size : plus ? 240 : 224;
    put_le16(&bytes, PE_AT + 20, optional_size);
    put_le16(&bytes, OPTIONAL_AT, h.magic);
    size_t directories = OPTIONAL_AT + (plus ? 112 : 96);
    put_le32(&bytes, directories - 4, h.directories);
    put_le32(&bytes, directories + 32, h.offset);
    put_le32(&bytes, directories + 36, h.size);
    return bytes;
}

const unsigned char *bytes_of(const std::string &text) {
    return reinterpret_cast<const unsigned char *>(text.data());
}

TEST(CertificateTable, FoundOnlyWhereItEndsTheFileAfterTheArchive) {
    const int64_t file_size = 60000;
    struct table_case {
        const char *what;
        std::string header;
        archive_end_verdict verdict;
        archive_extent extent;
    };
    const table_case cases[] = {
        {"an ELF program",
         "\177ELF" + std::string(1020, '\0'),
         ARCHIVE_END_UNSIGNED,
         {file_size, 0, 0}},
        {"MZ without a PE signature",
         std::string("MZ") + std::string(1022, '\0'),
         ARCHIVE_END_UNSIGNED,
         {file_size, 0, 0}},
        {"no table", headers({}), ARCHIVE_END_UNSIGNED, {file_size, 0, 0}},
        {"an address but size 0",
         headers({0x10B, 56000, 0}),
         ARCHIVE_END_UNSIGNED,
         {file_size, 0, 0}},
        {"PE32", headers({0x10B, 56000, 4000}), ARCHIVE_END_SIGNED, {56000, 56000, 4000}},
        {"PE32+", headers({0x20B, 56000, 4000}), ARCHIVE_END_SIGNED, {56000, 56000, 4000}},
        {"an unknown optional header",
         headers({0x107, 56000, 4000}),
         ARCHIVE_END_UNSIGNED,
         {file_size, 0, 0}},
        {"four directories only",
         headers({0x10B, 56000, 4000, 4}),
         ARCHIVE_END_UNSIGNED,
         {file_size, 0, 0}},
        {"an optional header without the entry",
         headers({0x10B, 56000, 4000, 16, 132}),
         ARCHIVE_END_UNSIGNED,
         {file_size, 0, 0}},
        {"headers cut short before the entry",
         headers({0x10B, 56000, 4000}).substr(0, 250),
         ARCHIVE_END_UNSIGNED,
         {file_size, 0, 0}},
        {"a table past the end",
         headers({0x10B, 59000, 2000}),
         ARCHIVE_END_OUTSIDE_FILE,
         {59000, 59000, 2000}},
        {"an address past the end",
         headers({0x10B, 70000, 8}),
         ARCHIVE_END_OUTSIDE_FILE,
         {70000, 70000, 8}},
        {"a size that wraps around",
         headers({0x10B, 56000, 0xFFFFFFF0u}),
         ARCHIVE_END_OUTSIDE_FILE,
         {56000, 56000, 0xFFFFFFF0u}},
        {"bytes after the table",
         headers({0x10B, 56000, 3999}),
         ARCHIVE_END_AFTER_TABLE,
         {56000, 56000, 3999}},
        {"a table in the stub",
         headers({0x10B, 4096, 55904}),
         ARCHIVE_END_INSIDE,
         {4096, 4096, 55904}},
        {"a table before the smallest archive's end",
         headers({0x10B, 54000, 6000}),
         ARCHIVE_END_INSIDE,
         {54000, 54000, 6000}},
        {"a table right after the smallest archive",
         headers({0x10B, 54004, 5996}),
         ARCHIVE_END_SIGNED,
         {54004, 54004, 5996}},
    };
    for (const table_case &c : cases) {
        SCOPED_TRACE(c.what);
        archive_extent extent = {-1, -1, -1};
        EXPECT_EQ(find_certificate_table(bytes_of(c.header), c.header.size(), file_size, &extent),
                  c.verdict);
        EXPECT_EQ(extent.end, c.extent.end);
        EXPECT_EQ(extent.table_offset, c.extent.table_offset);
        EXPECT_EQ(extent.table_size, c.extent.table_size);
    }
}

// The CERTIFICATE_LOOKBACK bytes before a table: filler, a trailer naming
// `trailer_says`, then `padding`.
std::string lookback(uint32_t trailer_says, const std::string &padding) {
    std::string trailer(TRAILER_SIZE, '\0');
    put_le32(&trailer, 0, trailer_says);
    std::string bytes = trailer + padding;
    return std::string(CERTIFICATE_LOOKBACK - bytes.size(), 'x') + bytes;
}

TEST(CertificateTable, ArchiveEndsAtTheTrailerBeforeZeroPadding) {
    struct end_case {
        const char *what;
        int64_t table;
        std::string before;
        archive_end_verdict verdict;
        int64_t end;
    };
    const end_case cases[] = {
        {"no padding", 56000, lookback(56000, ""), ARCHIVE_END_SIGNED, 56000},
        {"six zero bytes", 56000, lookback(55994, std::string(6, '\0')), ARCHIVE_END_SIGNED, 55994},
        {"seven zero bytes", 56000, lookback(55993, std::string(7, '\0')), ARCHIVE_END_SIGNED,
         55993},
        // A trailer's own high bytes are zero: they are not taken for padding.
        {"as signing pads a packed file", 54280, lookback(54274, std::string(6, '\0')),
         ARCHIVE_END_SIGNED, 54274},
        {"a padding byte not zero", 56000, lookback(55994, std::string("\0\0\1\0\0\0", 6)),
         ARCHIVE_END_PADDING, 56000},
        {"no trailer before the table", 56000, std::string(CERTIFICATE_LOOKBACK, 'x'),
         ARCHIVE_END_INSIDE, 56000},
        {"a trailer naming another end", 56000, lookback(55000, std::string(4, '\0')),
         ARCHIVE_END_INSIDE, 56000},
        {"an unaligned table after zero bytes", 56001, lookback(55998, std::string(3, '\0')),
         ARCHIVE_END_INSIDE, 56001},
        {"an unaligned table right after the trailer", 56001, lookback(56001, ""),
         ARCHIVE_END_SIGNED, 56001},
        {"an end before the smallest archive's", 54008, lookback(54001, std::string(7, '\0')),
         ARCHIVE_END_INSIDE, 54008},
    };
    for (const end_case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(c.before.size(), static_cast<size_t>(CERTIFICATE_LOOKBACK));
        archive_extent extent = {c.table, c.table, 1000};
        EXPECT_EQ(find_end_before_table(bytes_of(c.before), &extent), c.verdict);
        EXPECT_EQ(extent.end, c.end);
    }
}

// The whole file read through a stream: headers, filler, the archive's
// trailer, padding and table; the length check then passes at the end found.
TEST(CertificateTable, FoundInAFileAndTheLengthCheckPassesThere) {
    const int64_t archive_end = ARCHIVE_START + RECORD_SIZE + 2 + TRAILER_SIZE;
    const int64_t table = (archive_end + 7) / 8 * 8;
    const std::string table_bytes = patterned_data(1448);
    std::string file =
        headers({0x10B, static_cast<uint32_t>(table), static_cast<uint32_t>(table_bytes.size())});
    file += std::string(ARCHIVE_START - file.size(), 'x') + record_bytes('f', "a", 2) + "ab";
    file += std::string(TRAILER_SIZE, '\0');
    put_le32(&file, file.size() - TRAILER_SIZE, static_cast<uint32_t>(archive_end));
    file += std::string(static_cast<size_t>(table - archive_end), '\0') + table_bytes;

    struct file_case {
        const char *what;
        std::string bytes;
        archive_end_verdict verdict;
    };
    std::string padding_spoilt = file;
    padding_spoilt[static_cast<size_t>(table) - 1] = 1;
    const file_case cases[] = {
        {"signed", file, ARCHIVE_END_SIGNED},
        {"a byte added", file + "x", ARCHIVE_END_AFTER_TABLE},
        {"cut short", file.substr(0, file.size() - 1), ARCHIVE_END_OUTSIDE_FILE},
        {"padding not zero", padding_spoilt, ARCHIVE_END_PADDING},
    };
    for (const file_case &c : cases) {
        SCOPED_TRACE(c.what);
        FILE *stream = tmpfile();
        ASSERT_NE(stream, nullptr);
        ASSERT_EQ(std::fwrite(c.bytes.data(), 1, c.bytes.size(), stream), c.bytes.size());
        std::fflush(stream);
        archive_extent extent;
        int64_t size = static_cast<int64_t>(c.bytes.size());
        EXPECT_EQ(find_archive_end(stream, size, &extent), c.verdict);
        if (c.verdict == ARCHIVE_END_SIGNED) {
            EXPECT_EQ(extent.end, archive_end);
            EXPECT_EQ(extent.table_offset, table);
            EXPECT_EQ(extent.table_size, static_cast<int64_t>(table_bytes.size()));
            EXPECT_TRUE(check_length_trailer(stream, extent.end));
        }
        EXPECT_FALSE(check_length_trailer(stream, size));
        std::fclose(stream);
    }
}

} // namespace
