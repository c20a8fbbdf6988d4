// SPDX-License-Identifier: Zlib
// The stub with compressed containers, through the real program: a file of
// sfxpack -z shows exactly the lines and leaves exactly the tree of a plain
// file of the same members; every kind of damage to a container ends the run
// with the damage lines; too little memory for the dictionary ends it with
// -1 before anything is written. The damaged files are made here, their
// streams by liblzma's raw encoder, so each case breaks one rule only.
#include "sfxpack_run.h"
#include "test_support.h"

#include "container_block.h"
#include "crc32c.h"
#include "layout_declaration.h"
#include "lzma2_pair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

namespace {

const std::string DAMAGED = "!!!Error, the data of this file is damaged.\n"
                            "!!!Error, It is recommended to obtain another copy.\n";

std::string compress(const std::string &sequence, uint32_t dictionary_size) {
    std::vector<uint8_t> data(sequence.begin(), sequence.end());
    std::vector<uint8_t> stream = encode_reference(data, {6, dictionary_size, 3, 0, 2});
    return std::string(stream.begin(), stream.end());
}

// One container as a file holds it, with every field open to change.
struct container_parts {
    std::string name = "sfx-members-1.lzma2";
    std::string data; // the stream as stored
    unsigned char method = CONTAINER_METHOD_LZMA2;
    uint32_t dictionary_size = 0;
    uint64_t decompressed_length = 0;
    uint32_t check_error = 0; // added to the check value worked out
};

container_parts container_of(const std::string &sequence, uint32_t dictionary_size = 1 << 16) {
    container_parts parts;
    parts.data = compress(sequence, dictionary_size);
    parts.dictionary_size = dictionary_size;
    parts.decompressed_length = sequence.size();
    return parts;
}

// The record and data of `parts`, its check value worked out over what is
// stored, so that only the fault a case makes on purpose is in it.
std::string container_bytes(const container_parts &parts) {
    container_fields fields = {0, 0, parts.method, parts.dictionary_size,
                               parts.decompressed_length};
    unsigned char record[RECORD_SIZE];
    EXPECT_TRUE(encode_container_record(parts.name.c_str(), static_cast<int32_t>(parts.data.size()),
                                        &fields, record));
    member_record decoded;
    decode_member_record(record, &decoded);
    fields.check =
        crc32c_update(start_container_check(&decoded), parts.data.data(), parts.data.size()) +
        parts.check_error;
    EXPECT_TRUE(encode_container_record(parts.name.c_str(), static_cast<int32_t>(parts.data.size()),
                                        &fields, record));
    return std::string(reinterpret_cast<char *>(record), sizeof record) + parts.data;
}

// Writes `folder`/setup.exe around the raw `members` bytes with the stub
// under test and a declaration of `version` (0: none).
void write_declared_setup(const std::string &folder, const std::string &members, int version) {
    std::string stub = read_file(stub_program());
    write_raw_setup(folder, members, 0, "setup.exe", &stub,
                    version != 0 ? layout_declaration_bytes(version) : "");
}

// Every file below `folder` (but setup.exe) with its bytes and whether it is
// executable; a directory as its name.
std::vector<std::string> tree_with_contents(const std::string &folder) {
    std::vector<std::string> entries;
    for (const std::string &entry : list_tree(folder)) {
        if (entry == "setup.exe")
            continue;
        if (entry.back() == '/') {
            entries.push_back(entry);
            continue;
        }
        struct stat status;
        EXPECT_EQ(stat((folder + "/" + entry).c_str(), &status), 0);
        bool executable = (status.st_mode & S_IXUSR) != 0;
        entries.push_back(entry + (executable ? " (x): " : ": ") + read_file(folder + "/" + entry));
    }
    return entries;
}

// The containers of the file `image`, one after the other from ARCHIVE_START,
// decompressed by liblzma and joined: the plain member sequence they hold.
std::string decompressed_members(const std::string &image) {
    std::string joined;
    size_t position = ARCHIVE_START;
    while (position + RECORD_SIZE <= image.size() - TRAILER_SIZE) {
        member_record record;
        decode_member_record(reinterpret_cast<const unsigned char *>(image.data()) + position,
                             &record);
        container_fields fields;
        EXPECT_TRUE(find_container_block(&record, &fields)) << "at " << position;
        std::vector<uint8_t> stream(image.begin() + static_cast<long>(position + RECORD_SIZE),
                                    image.begin() +
                                        static_cast<long>(position + RECORD_SIZE + record.size));
        lzma2_outcome outcome =
            decode_reference(stream, fields.dictionary_size, fields.decompressed_length);
        EXPECT_TRUE(outcome.whole);
        joined.append(outcome.bytes.begin(), outcome.bytes.end());
        position += RECORD_SIZE + static_cast<size_t>(record.size);
    }
    return joined;
}

// A tree packed with -z by the stub under test, and the same members in a
// plain file (the containers' sequence after a version-1 declaration): the
// two runs show the same bytes and leave the same tree, the executable bit
// and the notice included. Members larger than a chunk show their figures.
TEST(ContainerExtract, SameLinesAndTreeAsAPlainFile) {
    temp_folder folder;
    make_tree(folder / "src", {{"docs/", ""},
                               {"docs/empty/", ""},
                               {"docs/guide.txt", patterned_data(40000, 3)},
                               {"docs/a.md", "# a\n"},
                               {"run.sh", "#!/bin/sh\necho hi\n"},
                               {"big.bin", patterned_data(100000, 4)},
                               {"zero.txt", ""},
                               {"_setup_.txt", "Thank you.\n"}});
    ASSERT_EQ(chmod((folder / "src/run.sh").c_str(), 0755), 0);
    make_folder(folder / "z");
    program_run pack = run_sfxpack(
        {"-z", "-s", stub_program(), "-o", "z/setup.exe", "-C", "src", "."}, folder.path);
    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    std::string compressed = read_file(folder / "z/setup.exe");
    ASSERT_EQ(compressed.substr(DECLARATION_OFFSET, DECLARATION_SIZE),
              layout_declaration_bytes(CONTAINER_LAYOUT_VERSION));
    make_folder(folder / "plain");
    std::string stub = compressed.substr(0, DECLARATION_OFFSET);
    write_raw_setup(folder / "plain", decompressed_members(compressed), 0, "setup.exe", &stub,
                    layout_declaration_bytes(PLAIN_LAYOUT_VERSION));
    ASSERT_EQ(chmod((folder / "plain/setup.exe").c_str(), 0755), 0);

    program_run from_containers = run_setup(folder / "z");
    program_run from_plain = run_setup(folder / "plain");

    EXPECT_EQ(from_containers.output, from_plain.output);
    EXPECT_EQ(from_containers.exit_status, 0);
    EXPECT_EQ(from_plain.exit_status, 0);
    EXPECT_NE(from_plain.output.find(" 40.0 %"), std::string::npos) << from_plain.output;
    EXPECT_NE(from_plain.output.find(SEPARATOR + "Thank you.\n"), std::string::npos);
    EXPECT_EQ(tree_with_contents(folder / "z"), tree_with_contents(folder / "plain"));
    EXPECT_EQ(read_file(folder / "z/big.bin"), patterned_data(100000, 4));
}

struct damage_case {
    const char *what;
    std::string members; // after the filler
    int version;         // declared; 0: none
    std::string output;  // after the "File :" line
    int status;
    std::vector<std::string> tree; // besides setup.exe
};

// Each container breaks one rule; its check value is worked out over what it
// stores, so only that rule can catch it.
std::vector<damage_case> damage_cases(const temp_folder &folder) {
    // Text, so the stream holds LZMA chunks, not stored ones.
    std::string big;
    for (int line = 0; big.size() < 40000; ++line)
        big += "line " + std::to_string(line) + " of the guide\n";
    big.resize(40000);
    const std::string small_sequence =
        plain_sequence(folder, {directory_member("d"), file_member("d/a.txt", "hello")});
    const std::string big_sequence =
        plain_sequence(folder, {file_member("a.txt", "a"), file_member("big.txt", big)});
    // A member larger than two chunks: the damage is found in the read of its
    // third chunk, after two figures.
    const std::string big_lines = "Extracting : big.txt " + figure("0.0") + figure("40.0") +
                                  figure("80.0") + "\b, failed\n" + DAMAGED;
    const std::string small_lines = directory_line("d") + file_line("d/a.txt", figure("0.0"));
    std::vector<damage_case> cases;

    container_parts flipped = container_of(big_sequence);
    // The last byte of the range coder's data, before the end byte.
    flipped.data[flipped.data.size() - 2] ^= 0x01;
    cases.push_back({"a flipped compressed byte",
                     container_bytes(flipped),
                     2,
                     file_line("a.txt", figure("0.0")) + big_lines,
                     1,
                     {"a.txt"}});

    container_parts truncated = container_of(big_sequence);
    truncated.data.resize(truncated.data.size() - 1);
    cases.push_back({"the stream's end byte cut off",
                     container_bytes(truncated),
                     2,
                     file_line("a.txt", figure("0.0")) + big_lines,
                     1,
                     {"a.txt"}});

    container_parts stored_past_end = container_of(small_sequence);
    stored_past_end.data += '\0';
    cases.push_back({"a compressed byte left after the end byte",
                     container_bytes(stored_past_end),
                     2,
                     DAMAGED,
                     1,
                     {}});

    container_parts longer = container_of(small_sequence);
    ++longer.decompressed_length;
    cases.push_back({"a decompressed length longer than the stream",
                     container_bytes(longer),
                     2,
                     DAMAGED,
                     1,
                     {}});

    container_parts shorter = container_of(small_sequence);
    --shorter.decompressed_length;
    cases.push_back({"a decompressed length shorter than the stream",
                     container_bytes(shorter),
                     2,
                     DAMAGED,
                     1,
                     {}});

    container_parts method = container_of(small_sequence);
    method.method = 2;
    cases.push_back({"method 2", container_bytes(method), 2, DAMAGED, 1, {}});

    container_parts huge = container_of(small_sequence);
    huge.dictionary_size = LARGEST_CONTAINER_DICTIONARY + 1;
    cases.push_back({"a dictionary above 64 MiB", container_bytes(huge), 2, DAMAGED, 1, {}});

    container_parts none = container_of(small_sequence);
    none.dictionary_size = 0;
    cases.push_back({"a dictionary of 0 bytes", container_bytes(none), 2, DAMAGED, 1, {}});

    container_parts first = container_of(small_sequence, 1 << 16);
    container_parts second =
        container_of(plain_sequence(folder, {file_member("b.txt", "b")}), 1 << 17);
    second.name = "sfx-members-2.lzma2";
    cases.push_back({"a later container naming a larger dictionary",
                     container_bytes(first) + container_bytes(second),
                     2,
                     small_lines + DAMAGED,
                     1,
                     {"d/", "d/a.txt"}});

    container_parts leftover = container_of(small_sequence + std::string(10, 'x'));
    cases.push_back({"bytes after the last member inside",
                     container_bytes(leftover),
                     2,
                     small_lines + DAMAGED,
                     1,
                     {"d/", "d/a.txt"}});

    container_parts check = container_of(small_sequence);
    check.check_error = 1;
    cases.push_back({"a wrong check value of the container",
                     container_bytes(check),
                     2,
                     small_lines + DAMAGED,
                     1,
                     {"d/", "d/a.txt"}});

    std::string changed_data = small_sequence;
    changed_data.back() = 'X';
    cases.push_back(
        {"a member's data changed, the container's check value made for it",
         container_bytes(container_of(changed_data)),
         2,
         directory_line("d") + "Extracting : d/a.txt " + figure("0.0") + "\b, failed\n" + DAMAGED,
         1,
         {"d/"}});

    container_parts bad_record =
        container_of(small_sequence + record_bytes('f', "b.txt", 0, RECORD_MAGIC + 1));
    cases.push_back({"a bad record inside",
                     container_bytes(bad_record),
                     2,
                     small_lines + BAD_RECORD,
                     1,
                     {"d/", "d/a.txt"}});

    container_parts inner = container_of(small_sequence);
    container_parts nested = container_of(small_sequence + container_bytes(inner));
    cases.push_back({"a version-02 block inside",
                     container_bytes(nested),
                     2,
                     small_lines + "Extracting : sfx-members-1.lzma2 " + figure("0.0") +
                         "\b, failed\n" + DAMAGED,
                     1,
                     {"d/", "d/a.txt"}});

    container_parts in_first_version = container_of(small_sequence);
    cases.push_back({"a container in a file declaring version 1",
                     container_bytes(in_first_version),
                     1,
                     "Extracting : sfx-members-1.lzma2 " + figure("0.0") + "\b, failed\n" + DAMAGED,
                     1,
                     {}});

    container_parts empty = container_of("");
    cases.push_back(
        {"a container of no members", container_bytes(empty), 2, NO_FILES + SEPARATOR, 1, {}});

    // A file without the declaration is read as files were before
    // containers: the container is a member whose block is unknown.
    container_parts undeclared = container_of(small_sequence);
    cases.push_back({"a container in a file without a declaration",
                     container_bytes(undeclared),
                     0,
                     file_line("sfx-members-1.lzma2", figure("0.0")) + SEPARATOR,
                     0,
                     {"sfx-members-1.lzma2"}});
    return cases;
}

TEST(ContainerExtract, DamageEndsTheRunWithTheDamageLines) {
    temp_folder scratch;
    for (const damage_case &c : damage_cases(scratch)) {
        SCOPED_TRACE(c.what);
        temp_folder folder;
        write_declared_setup(folder.path, c.members, c.version);

        program_run run = run_setup(folder.path);

        EXPECT_EQ(run.output, FILE_LINE + c.output);
        EXPECT_EQ(run.exit_status, c.status);
        std::vector<std::string> tree = c.tree;
        tree.push_back("setup.exe");
        std::sort(tree.begin(), tree.end());
        EXPECT_EQ(list_tree(folder.path), tree);
    }
}

// The dictionary is taken at the first container, before anything of it is
// written: without the memory for it the run ends with -1 (255) and the
// members before nothing.
TEST(ContainerExtract, NoMemoryForTheDictionaryEndsWithStatus255) {
    if (INSTRUMENTED_BUILD)
        GTEST_SKIP() << "the sanitizer runtimes need more memory than the stub";
    temp_folder scratch, folder;
    container_parts parts = container_of(
        plain_sequence(scratch, {directory_member("d"), file_member("d/a.txt", "hello")}));
    // A stream made with a small window decodes as well in a larger one.
    parts.dictionary_size = LARGEST_CONTAINER_DICTIONARY;
    write_declared_setup(folder.path, container_bytes(parts), CONTAINER_LAYOUT_VERSION);

    program_run limited =
        run_program("/bin/sh", {"sh", "-c", "ulimit -d 16384 && exec ./setup.exe"}, folder.path);
    EXPECT_EQ(limited.output, FILE_LINE + "!!!Error, not enough memory for malloc.\n");
    EXPECT_EQ(limited.exit_status, 255);
    EXPECT_EQ(list_tree(folder.path), std::vector<std::string>{"setup.exe"});

    program_run unlimited = run_setup(folder.path);
    EXPECT_EQ(unlimited.output,
              FILE_LINE + directory_line("d") + file_line("d/a.txt", figure("0.0")) + SEPARATOR);
    EXPECT_EQ(unlimited.exit_status, 0);
}

} // namespace
