// SPDX-License-Identifier: Zlib
// sfxpack -l, -t and -x on files with compressed containers, through the
// real program: a -z file lists, tests and extracts as the plain file of the
// same tree does, its listing adding the containers' sizes; and a table of
// damaged containers, made here by hand from stored LZMA2 chunks (which need
// no encoder), each gives the status and message it must, and -x writes only
// the members before the damage.
#include "sfxpack_run.h"
#include "stored_lzma2.h"
#include "test_support.h"

#include "archive_writer.h"
#include "container_block.h"
#include "crc32c.h"
#include "layout_declaration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

namespace {

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// One container as a file holds it: its record with the block, then `data`.
// The check value is worked out over what is given, then `check_error` is
// added to it.
struct container_part {
    std::string name = "sfx-members-1.lzma2";
    std::string data;
    unsigned char method = CONTAINER_METHOD_LZMA2;
    uint32_t dictionary_size = 1 << 20;
    uint64_t decompressed_length = 0;
    uint32_t check_error = 0;
};

std::string container_bytes(const container_part &part) {
    container_fields fields = {0, 0, part.method, part.dictionary_size, part.decompressed_length};
    unsigned char bytes[RECORD_SIZE];
    int32_t size = static_cast<int32_t>(part.data.size());
    EXPECT_TRUE(encode_container_record(part.name.c_str(), size, &fields, bytes));
    member_record record;
    decode_member_record(bytes, &record);
    fields.check =
        crc32c_update(start_container_check(&record), part.data.data(), part.data.size()) +
        part.check_error;
    encode_container_block(&fields, bytes + record_block_offset(part.name.size()));
    return std::string(reinterpret_cast<char *>(bytes), sizeof bytes) + part.data;
}

// A sound container of the members `sequence` holds.
container_part container_of(const std::string &sequence) {
    container_part part;
    part.data = stored_lzma2_stream(sequence);
    part.decompressed_length = sequence.size();
    return part;
}

std::string read_or_empty(const std::string &path) {
    return path_exists(path) ? read_file(path) : std::string();
}

TEST(CompressedRead, ListTestAndExtractAsThePlainFileOfTheSameTree) {
    temp_folder folder;
    make_folder(folder / "src");
    make_folder(folder / "src/docs");
    make_folder(folder / "src/docs/deep");
    write_file(folder / "src/readme.txt", patterned_data(300000, 3));
    write_file(folder / "src/docs/a.c", "int a;\n");
    write_file(folder / "src/docs/deep/b.h", patterned_data(70000, 5));
    write_file(folder / "src/empty", "");
    program_run packed = run_sfxpack({"-z", "-o", "z.exe", "-C", "src", "."}, folder.path);
    if (packed.exit_status == 2 && packed.errors.find("-z") != std::string::npos)
        GTEST_SKIP() << "this sfxpack can't compress: " << packed.errors;
    ASSERT_EQ(packed.exit_status, 0) << packed.errors;
    ASSERT_EQ(run_sfxpack({"-o", "plain.exe", "-C", "src", "."}, folder.path).exit_status, 0);

    program_run z_list = run_sfxpack({"-l", "z.exe"}, folder.path);
    program_run plain_list = run_sfxpack({"-l", "plain.exe"}, folder.path);
    ASSERT_EQ(z_list.exit_status, 0) << z_list.errors;
    EXPECT_EQ(z_list.errors, "");
    // The same member lines (in the containers' order) and the same count
    // line, then the containers' sizes as the file holds them.
    std::vector<std::string> z_lines = lines_of(z_list.output);
    std::vector<std::string> plain_lines = lines_of(plain_list.output);
    ASSERT_EQ(z_lines.size(), plain_lines.size() + 1) << z_list.output;
    std::string file = read_file(folder / "z.exe");
    int32_t compressed = static_cast<int32_t>(
        decode_le32(reinterpret_cast<const unsigned char *>(file.data()) + ARCHIVE_START + 256));
    uint64_t decompressed = 0;
    for (int byte = 7; byte >= 0; --byte)
        decompressed =
            decompressed << 8 | static_cast<unsigned char>(file[ARCHIVE_START + 39 + byte]);
    EXPECT_EQ(z_lines.back(), "compressed: 1 container, " + std::to_string(compressed) +
                                  " bytes, " + std::to_string(decompressed) +
                                  " bytes decompressed");
    z_lines.pop_back();
    EXPECT_EQ(z_lines.back(), plain_lines.back());
    std::sort(z_lines.begin(), z_lines.end());
    std::sort(plain_lines.begin(), plain_lines.end());
    EXPECT_EQ(z_lines, plain_lines);

    program_run z_test = run_sfxpack({"-t", "z.exe"}, folder.path);
    program_run plain_test = run_sfxpack({"-t", "plain.exe"}, folder.path);
    EXPECT_EQ(z_test.exit_status, 0) << z_test.errors;
    EXPECT_EQ(z_test.output, plain_test.output);
    EXPECT_EQ(z_test.output, "6 members: 6 checked (0 damaged), 0 unchecked\n");

    make_folder(folder / "out");
    program_run z_extract = run_sfxpack({"-x", "z.exe", "-C", "out"}, folder.path);
    EXPECT_EQ(z_extract.exit_status, 0) << z_extract.errors;
    EXPECT_EQ(list_tree(folder / "out"), list_tree(folder / "src"));
    for (const char *name : {"readme.txt", "docs/a.c", "docs/deep/b.h", "empty"})
        EXPECT_EQ(read_file(folder / ("out/" + std::string(name))),
                  read_file(folder / ("src/" + std::string(name))))
            << name;
}

// One damaged (or sound) file: what it holds after the filler, its
// declaration, and what -t and -x must do with it.
struct damage_case {
    const char *what;
    int version; // declared
    std::function<std::string(const std::string &sequence)> members;
    int status;            // of -t and -x alike
    const char *message;   // in -t's errors; empty: none
    const char *t_output;  // -t's standard output
    bool first_written;    // a.txt comes out
    bool second_written;   // b.txt comes out
    const char *x_message; // in -x's errors; empty: not looked at
};

// `data` with the byte at `at` made `value`.
std::string with_byte(std::string data, size_t at, char value) {
    data[at] = value;
    return data;
}

TEST(CompressedRead, DamagedContainersAreReportedAsDamagedData) {
    temp_folder folder;
    // a.txt's data spans two stored chunks; b.txt stands after it.
    std::string first = patterned_data(70000, 7);
    std::vector<archive_member> members = {file_member("a.txt", first),
                                           file_member("b.txt", "bee")};
    std::string sequence = plain_sequence(folder, members);
    // Where the second chunk's control byte stands in the stream, and a.txt's
    // data in the sequence.
    const size_t second_chunk = 3 + 65536;
    const size_t first_data = RECORD_SIZE;
    const char *damaged_data = "the compressed data of 'sfx-members-1.lzma2' (record at offset "
                               "54000) is damaged; nothing after it is read";
    const char *no_summary = "";
    auto sound = [](const std::string &s) { return container_bytes(container_of(s)); };
    std::vector<damage_case> cases = {
        {"sound", 2, sound, 0, "", "2 members: 2 checked (0 damaged), 0 unchecked\n", true, true,
         ""},
        // -t reads it all in one piece, and finds the stream damaged before
        // a.txt's record; -x reads it in smaller chunks, the first of which
        // already gave a.txt's record.
        {"a chunk inside a.txt's data with a control byte no stream has", 2,
         [&](const std::string &s) {
             container_part part = container_of(s);
             part.data = with_byte(part.data, second_chunk, 0x03);
             return container_bytes(part);
         },
         1, damaged_data, no_summary, false, false,
         "a.txt' is damaged: its compressed data is damaged; it is not extracted"},
        // -t's first read ends inside a larger a.txt's data; the damage is
        // found in the next, before its check value could be worked out.
        {"a chunk past -t's first read of a large a.txt's data", 2,
         [&](const std::string &) {
             std::vector<archive_member> large = {file_member("a.txt", patterned_data(400000, 5)),
                                                  file_member("b.txt", "bee")};
             container_part part = container_of(plain_sequence(folder, large));
             part.data = with_byte(part.data, 5 * (3 + 65536), 0x03);
             return container_bytes(part);
         },
         1,
         "'a.txt' is damaged: its compressed data is damaged (record at offset 0 of the members "
         "of 'sfx-members-1.lzma2')",
         no_summary, false, false, "a.txt' is damaged"},
        {"a.txt's data changed, the container's check value made for it", 2,
         [&](const std::string &s) {
             return container_bytes(container_of(with_byte(s, first_data + 10, 'X')));
         },
         1,
         "'a.txt' is damaged: the check value does not match (record at offset 0 of the members "
         "of 'sfx-members-1.lzma2')",
         "2 members: 2 checked (1 damaged), 0 unchecked\n", false, true, "a.txt' is damaged"},
        {"the container's check value", 2,
         [&](const std::string &s) {
             container_part part = container_of(s);
             part.check_error = 1;
             return container_bytes(part);
         },
         1,
         "the container 'sfx-members-1.lzma2' (record at offset 54000) is damaged: the check "
         "value does not match",
         no_summary, true, true, "the check value does not match"},
        {"bytes after the last member", 2,
         [&](const std::string &s) { return container_bytes(container_of(s + "leftover")); }, 1,
         damaged_data, no_summary, true, true, damaged_data},
        {"a decompressed length beyond the stream", 2,
         [&](const std::string &s) {
             container_part part = container_of(s);
             part.decompressed_length += RECORD_SIZE;
             return container_bytes(part);
         },
         1, damaged_data, no_summary, false, false, damaged_data},
        {"compressed bytes after the end byte", 2,
         [&](const std::string &s) {
             container_part part = container_of(s);
             part.data += "more";
             return container_bytes(part);
         },
         1, damaged_data, no_summary, false, false, damaged_data},
        // Inside, members are judged by the plain layout, where a block of
        // version 2 is damage.
        {"a container inside the container", 2,
         [&](const std::string &s) { return container_bytes(container_of(s + sound(s))); }, 1,
         "'sfx-members-1.lzma2' is damaged: the check value does not match (record at offset "
         "70531 of the members of 'sfx-members-1.lzma2')",
         "3 members: 3 checked (1 damaged), 0 unchecked\n", true, true, ""},
        {"an unknown method", 2,
         [&](const std::string &s) {
             container_part part = container_of(s);
             part.method = 2;
             return container_bytes(part);
         },
         1,
         "the container 'sfx-members-1.lzma2' (record at offset 54000) is damaged: it names an "
         "unknown compression method; the extractor stops there",
         no_summary, false, false, ""},
        {"a dictionary above 64 MiB", 2,
         [&](const std::string &s) {
             container_part part = container_of(s);
             part.dictionary_size = LARGEST_CONTAINER_DICTIONARY + 1;
             return container_bytes(part);
         },
         1, "its dictionary size is 0 or above 64 MiB", no_summary, false, false, ""},
        {"a dictionary of 0 bytes", 2,
         [&](const std::string &s) {
             container_part part = container_of(s);
             part.dictionary_size = 0;
             return container_bytes(part);
         },
         1, "its dictionary size is 0 or above 64 MiB", no_summary, false, false, ""},
        {"a second container naming a larger dictionary", 2,
         [&](const std::string &s) {
             std::vector<archive_member> second = {file_member("c.txt", "sea")};
             container_part part = container_of(plain_sequence(folder, second));
             part.name = "sfx-members-2.lzma2";
             part.dictionary_size = 2 << 20;
             return container_bytes(container_of(s)) + container_bytes(part);
         },
         1,
         "'sfx-members-2.lzma2' (record at offset 124802) is damaged: its dictionary is larger "
         "than the first container's",
         no_summary, true, true, ""},
        {"a container in a file declaring the plain layout", 1, sound, 1,
         "'sfx-members-1.lzma2' is damaged: the check value does not match (record at offset "
         "54000)",
         "1 member: 1 checked (1 damaged), 0 unchecked\n", false, false, ""},
        {"a file declaring a layout newer than containers", 3, sound, 1,
         "'setup.exe' was made by a newer sfxpack: it declares layout version 3, this one reads "
         "up to 2",
         no_summary, false, false, ""},
    };
    for (const damage_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder run;
        write_raw_setup(run.path, c.members(sequence), 0, "setup.exe", nullptr,
                        layout_declaration_bytes(c.version));

        program_run test = run_sfxpack({"-t", "setup.exe"}, run.path);
        EXPECT_EQ(test.exit_status, c.status) << test.errors;
        EXPECT_EQ(test.output, c.t_output);
        if (*c.message == '\0')
            EXPECT_EQ(test.errors, "");
        else
            EXPECT_NE(test.errors.find(c.message), std::string::npos) << test.errors;

        make_folder(run / "out");
        program_run extract = run_sfxpack({"-x", "setup.exe", "-C", "out"}, run.path);
        EXPECT_EQ(extract.exit_status, c.status) << extract.errors;
        EXPECT_EQ(read_or_empty(run / "out/a.txt"), c.first_written ? first : "");
        EXPECT_EQ(path_exists(run / "out/b.txt"), c.second_written);
        EXPECT_NE(extract.errors.find(c.x_message), std::string::npos) << extract.errors;
        program_run list = run_sfxpack({"-l", "setup.exe"}, run.path);
        EXPECT_EQ(list.exit_status, c.status == 0 || *c.t_output != '\0' ? 0 : 1) << list.errors;
    }
}

// The dictionary is taken at the first container: without the memory for it
// -t and -x say so and fail, and -x writes nothing.
TEST(CompressedRead, NoMemoryForTheDictionary) {
    if (INSTRUMENTED_BUILD)
        GTEST_SKIP() << "the sanitizer runtimes need more memory than sfxpack";
    temp_folder folder;
    container_part part = container_of(plain_sequence(folder, {file_member("a.txt", "hello")}));
    // A stream of stored chunks decodes in any window.
    part.dictionary_size = LARGEST_CONTAINER_DICTIONARY;
    write_raw_setup(folder.path, container_bytes(part), 0, "setup.exe", nullptr,
                    layout_declaration_bytes(CONTAINER_LAYOUT_VERSION));
    make_folder(folder / "out");
    const std::string limit = "ulimit -d 32768 && exec \"$0\" \"$@\"";
    std::vector<std::vector<std::string>> runs = {{"-t", "setup.exe"},
                                                  {"-x", "setup.exe", "-C", "out"}};
    for (const std::vector<std::string> &arguments : runs) {
        SCOPED_TRACE(arguments[0]);
        std::vector<std::string> shell = {"sh", "-c", limit, SFXPACK_PATH};
        shell.insert(shell.end(), arguments.begin(), arguments.end());
        program_run limited = run_program("/bin/sh", shell, folder.path);
        EXPECT_EQ(limited.exit_status, 1);
        EXPECT_NE(limited.errors.find("not enough memory to read 'sfx-members-1.lzma2' of "
                                      "'setup.exe': its dictionary takes 67108864 bytes"),
                  std::string::npos)
            << limited.errors;
        EXPECT_EQ(list_tree(folder / "out"), std::vector<std::string>{});
    }
    EXPECT_EQ(run_sfxpack({"-x", "setup.exe", "-C", "out"}, folder.path).exit_status, 0);
    EXPECT_EQ(read_file(folder / "out/a.txt"), "hello");
}

} // namespace
