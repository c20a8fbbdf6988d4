// SPDX-License-Identifier: Zlib
// The check value and the extension block that carries it, as units: known
// CRC-32C values for each way of computing it, pieces of any size giving the
// value of the whole, and the block found only where it was put.
#include "crc32c.h"
#include "member_extension.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct crc_path {
    const char *what;
    crc32c_function compute; // null when this machine lacks it
};

std::vector<crc_path> crc_paths() {
    return {
        {"portable", crc32c_portable}, {"hardware", crc32c_hardware()}, {"chosen", crc32c_update}};
}

std::string bytes_from(int first, int step) {
    std::string bytes;
    for (int i = 0; i < 32; ++i)
        bytes += static_cast<char>(first + i * step);
    return bytes;
}

TEST(Crc32c, KnownValuesOnEveryPath) {
    struct vector_case {
        std::string data;
        uint32_t value;
    };
    const vector_case cases[] = {
        {"", 0x00000000},
        {"123456789", 0xE3069283},
        {"The quick brown fox jumps over the lazy dog", 0x22620404},
        {std::string(32, '\0'), 0x8A9136AA},
        {std::string(32, '\xff'), 0x62A8AB43},
        {bytes_from(0, 1), 0x46DD794E},
        {bytes_from(31, -1), 0x113FDB5C},
    };
    for (const crc_path &path : crc_paths()) {
        SCOPED_TRACE(path.what);
        if (path.compute == nullptr) {
            std::printf("no CRC-32C instruction on this machine: %s path not tried\n", path.what);
            continue;
        }
        for (const vector_case &c : cases) {
            SCOPED_TRACE(c.data.size());
            EXPECT_EQ(path.compute(0, c.data.data(), c.data.size()), c.value);
        }
    }
}

// Every split of the data, at every alignment of its start, gives the value
// of the whole; all paths agree on every length around the word sizes.
TEST(Crc32c, PiecesGiveTheValueOfTheWhole) {
    const std::string data = patterned_data(70000, 11);
    const uint32_t whole = crc32c_portable(0, data.data(), data.size());
    const size_t splits[] = {0, 1, 3, 7, 8, 9, 15, 16000, 16001, 69999, 70000};
    for (const crc_path &path : crc_paths()) {
        if (path.compute == nullptr)
            continue;
        SCOPED_TRACE(path.what);
        EXPECT_EQ(path.compute(0, data.data(), data.size()), whole);
        for (size_t split : splits) {
            SCOPED_TRACE(split);
            uint32_t first = path.compute(0, data.data(), split);
            EXPECT_EQ(path.compute(first, data.data() + split, data.size() - split), whole);
        }
        // Many small uneven pieces, starting at every byte alignment.
        for (size_t start = 0; start < 8; ++start) {
            uint32_t expected = crc32c_portable(0, data.data() + start, 1000);
            uint32_t value = 0;
            for (size_t at = start, piece = 1; at < start + 1000;
                 at += piece, piece = piece % 13 + 1)
                value = path.compute(value, data.data() + at, std::min(piece, start + 1000 - at));
            EXPECT_EQ(value, expected) << "start " << start;
        }
        for (size_t length = 0; length < 40; ++length)
            EXPECT_EQ(path.compute(0, data.data() + 3, length),
                      crc32c_portable(0, data.data() + 3, length))
                << length;
    }
}

member_record record_named(const std::string &name_field, char kind = KIND_FILE, int32_t size = 5) {
    std::string bytes = record_bytes(kind, name_field, size);
    member_record record;
    decode_member_record(reinterpret_cast<const unsigned char *>(bytes.data()), &record);
    return record;
}

std::string marker(unsigned char version = EXTENSION_MARKER[EXTENSION_VERSION_OFFSET]) {
    std::string bytes(reinterpret_cast<const char *>(EXTENSION_MARKER), EXTENSION_MARKER_SIZE);
    bytes[EXTENSION_VERSION_OFFSET] = static_cast<char>(version);
    return bytes;
}

TEST(MemberExtension, FoundOnlyWhereItWasPut) {
    // Names of every length that leaves room, and the first that does not.
    for (size_t length : {size_t(1), size_t(100), LONGEST_CHECKED_NAME, LONGEST_CHECKED_NAME + 1}) {
        SCOPED_TRACE(length);
        member_record record = record_named(std::string(length, 'n'));
        const member_extension put = {0xA1B2C3D4, MEMBER_FLAG_EXECUTABLE};
        bool fits = length <= LONGEST_CHECKED_NAME;
        EXPECT_EQ(put_member_extension(&record, &put), fits);
        member_extension found = {0, 0};
        EXPECT_EQ(find_member_extension(&record, &found), fits);
        if (fits) {
            EXPECT_EQ(found.check, put.check);
            EXPECT_EQ(found.flags, put.flags);
            // The bytes as documented: marker, check value little-endian, flags.
            std::string block(record.name + length + 1, EXTENSION_BLOCK_SIZE);
            EXPECT_EQ(block, marker() + "\xD4\xC3\xB2\xA1\x01");
        }
        EXPECT_EQ(std::string(record.name), std::string(length, 'n'));
    }

    struct slack_case {
        const char *what;
        std::string after_nul; // the bytes behind "name.txt" and its NUL
    };
    const slack_case cases[] = {
        {"zero bytes", ""},
        {"leftover text", "old-name-that-was-longer.txt"},
        {"random bytes", patterned_data(200, 3)},
        {"marker of another version", marker(2) + "\x01\x02\x03\x04\x00"},
        {"marker cut short", marker().substr(0, 7)},
        {"marker one byte late", "x" + marker()},
    };
    for (const slack_case &c : cases) {
        SCOPED_TRACE(c.what);
        member_record record = record_named(std::string("name.txt") + '\0' + c.after_nul);
        member_extension found;
        EXPECT_FALSE(find_member_extension(&record, &found));
        member_check check = begin_member_check(&record);
        EXPECT_FALSE(check.checked);
        continue_member_check(&check, "data", 4);
        EXPECT_FALSE(member_check_failed(&check));
        EXPECT_FALSE(member_is_executable(&check));
    }
}

// The check value covers the kind, every name byte, the size and the flags
// before the data: changing any of them fails the check.
TEST(MemberExtension, CheckCoversRecordAndData) {
    const std::string data = "hello";
    member_record good = record_named("dir/a.txt");
    member_extension extension = {0, 0};
    extension.check = crc32c_update(start_member_check(&good, 0), data.data(), data.size());
    ASSERT_TRUE(put_member_extension(&good, &extension));

    member_check check = begin_member_check(&good);
    continue_member_check(&check, data.data(), 2);
    continue_member_check(&check, data.data() + 2, 3);
    EXPECT_FALSE(member_check_failed(&check));

    struct change_case {
        const char *what;
        size_t offset; // in the record's 264 bytes
    };
    const change_case cases[] = {
        {"kind", RECORD_KIND_OFFSET},
        {"first name byte", RECORD_NAME_OFFSET},
        {"last name byte", RECORD_NAME_OFFSET + 8},
        {"size", RECORD_SIZE_OFFSET},
        {"check value", record_check_offset(9)},
        {"flags", record_check_offset(9) + 4},
    };
    unsigned char bytes[RECORD_SIZE];
    encode_member_record(&good, bytes);
    for (const change_case &c : cases) {
        SCOPED_TRACE(c.what);
        unsigned char changed[RECORD_SIZE];
        std::memcpy(changed, bytes, sizeof changed);
        changed[c.offset] ^= 0x01;
        member_record record;
        decode_member_record(changed, &record);
        member_check damaged = begin_member_check(&record);
        continue_member_check(&damaged, data.data(), data.size());
        EXPECT_TRUE(damaged.checked);
        EXPECT_TRUE(member_check_failed(&damaged));
    }
    member_check other_data = begin_member_check(&good);
    continue_member_check(&other_data, "hellp", 5);
    EXPECT_TRUE(member_check_failed(&other_data));
}

} // namespace
