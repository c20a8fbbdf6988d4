// SPDX-License-Identifier: Zlib
// sfxpack -z through the real program: the containers it writes, opened here
// by hand and decompressed with liblzma's raw decoder, hold the plain member
// sequence in the documented order; their blocks and check values are right;
// the output does not change from run to run; incompressible data barely
// grows; a large tree is cut into several containers; and what the command
// line gets wrong is refused.
#include "sfxpack_run.h"
#include "test_support.h"

#include "container_block.h"
#include "crc32c.h"
#include "layout_declaration.h"

#include <gtest/gtest.h>

#include <lzma.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <sys/stat.h>

namespace {

struct container {
    std::string name;
    int32_t size;
    std::string block; // the 26 bytes behind the name's NUL
    std::string data;  // compressed
    uint32_t stored_check;
    uint32_t computed_check; // over the record's fields and the data, worked out here
    uint32_t dictionary_size;
    uint64_t decompressed_length;
};

// The containers after the filler of the file `bytes`, read field by field
// as docs/format.md gives them, without the packer's own reading code.
std::vector<container> read_containers(const std::string &bytes) {
    std::vector<container> found;
    size_t position = ARCHIVE_START;
    size_t end = bytes.size() - TRAILER_SIZE;
    while (position + RECORD_SIZE <= end) {
        const unsigned char *record =
            reinterpret_cast<const unsigned char *>(bytes.data()) + position;
        container c;
        c.name = std::string(reinterpret_cast<const char *>(record) + 1);
        c.size = static_cast<int32_t>(decode_le32(record + 256));
        EXPECT_EQ(record[0], 'f');
        EXPECT_EQ(decode_le32(record + 260), RECORD_MAGIC);
        const unsigned char *block = record + 1 + c.name.size() + 1;
        c.block = std::string(reinterpret_cast<const char *>(block), 26);
        c.data = bytes.substr(position + RECORD_SIZE, static_cast<size_t>(c.size));
        c.stored_check = decode_le32(block + 8);
        uint32_t crc = crc32c_portable(0, record, 1);
        crc = crc32c_portable(crc, record + 1, c.name.size() + 1);
        crc = crc32c_portable(crc, record + 256, 4);
        crc = crc32c_portable(crc, block + 12, 14);
        c.computed_check = crc32c_portable(crc, c.data.data(), c.data.size());
        c.dictionary_size = decode_le32(block + 14);
        c.decompressed_length = decode_le32(block + 18) | uint64_t(decode_le32(block + 22)) << 32;
        found.push_back(c);
        position += RECORD_SIZE + static_cast<size_t>(c.size);
    }
    EXPECT_EQ(position, end);
    return found;
}

// liblzma's raw LZMA2 decoder over the whole stream; fails the test when the
// stream is not complete and ended exactly.
std::string decompress(const container &c) {
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    options.dict_size = c.dictionary_size;
    lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream stream = LZMA_STREAM_INIT;
    EXPECT_EQ(lzma_raw_decoder(&stream, filters), LZMA_OK);
    std::string out(c.decompressed_length + 1, '\0');
    stream.next_in = reinterpret_cast<const uint8_t *>(c.data.data());
    stream.avail_in = c.data.size();
    stream.next_out = reinterpret_cast<uint8_t *>(&out[0]);
    stream.avail_out = out.size();
    lzma_ret result = lzma_code(&stream, LZMA_FINISH);
    EXPECT_EQ(result, LZMA_STREAM_END) << c.name;
    EXPECT_EQ(stream.avail_in, 0u) << c.name;
    out.resize(out.size() - stream.avail_out);
    lzma_end(&stream);
    return out;
}

// The kind of each LZMA2 chunk of `data` (its control byte, of a compressed
// chunk only the reset bits), the end byte last; walks the chunk headers as
// the format gives them.
std::vector<unsigned char> chunk_controls(const std::string &data) {
    std::vector<unsigned char> controls;
    size_t at = 0;
    while (at < data.size()) {
        unsigned char control = static_cast<unsigned char>(data[at]);
        controls.push_back(control >= 0x80 ? control & 0xE0 : control);
        if (control == 0x00)
            break;
        const unsigned char *header = reinterpret_cast<const unsigned char *>(data.data()) + at;
        if (control == 0x01 || control == 0x02) {
            at += 3 + ((size_t(header[1]) << 8 | header[2]) + 1);
        } else if (control >= 0x80) {
            size_t packed = (size_t(header[3]) << 8 | header[4]) + 1;
            at += 5 + (control >= 0xC0 ? 1 : 0) + packed;
        } else {
            ADD_FAILURE() << "control byte " << int(control);
            break;
        }
    }
    EXPECT_EQ(at + 1, data.size()) << "the end byte ends the data";
    return controls;
}

// With the built stub, which sfxpack takes by default.
program_run pack_z(const temp_folder &folder, std::vector<std::string> options,
                   const std::string &output = "setup.exe") {
    std::vector<std::string> arguments{"-z", "-o", output, "-C", "src"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(".");
    return run_sfxpack(arguments, folder.path);
}

std::string random_bytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char &byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

// Text that compresses, different for each seed.
std::string text_like(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    static const char *words[] = {"static ", "int ",  "return ", "struct ", "void ",
                                  "const ",  "char ", "(",       ");\n",    "{\n",
                                  "}\n",     "x",     "y",       "= ",      "0"};
    std::string text;
    while (text.size() < size)
        text += words[generator() % 15];
    text.resize(size);
    return text;
}

TEST(CompressedPack, ContainerHoldsThePlainSequenceInItsOrder) {
    temp_folder folder;
    std::string big = text_like(1500000, 4);
    make_tree(folder / "src", {{"b/", ""},
                               {"b/z.txt", "zz"},
                               {"b/a.c", "int a;\n"},
                               {"a/", ""},
                               {"a/x.c", "int x;\n"},
                               {"a/deep/", ""},
                               {"a/deep/Makefile", "all:\n"},
                               {"a/deep/big.txt", big},
                               {"README", "read me"},
                               {"empty.txt", ""},
                               {"run.sh", "#!/bin/sh\n"},
                               {"dir.d/", ""},
                               {"dir.d/plain", "no extension"}});
    chmod((folder / "src/run.sh").c_str(), 0755);
    write_file(folder / "notice.txt", "Thanks\n");

    program_run pack = pack_z(folder, {"--level=1", "--notice", "notice.txt"});

    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    EXPECT_EQ(pack.errors, "");
    std::string file = read_file(folder / "setup.exe");
    // The stub, the filler and the trailer are as in a plain file; the
    // declaration names the version that holds containers.
    const size_t stub_size = stub_image().size();
    EXPECT_TRUE(file.substr(0, stub_size) == stub_image());
    EXPECT_EQ(file.substr(stub_size, DECLARATION_OFFSET - stub_size),
              std::string(DECLARATION_OFFSET - stub_size, static_cast<char>(FILLER_BYTE)));
    EXPECT_EQ(file.substr(DECLARATION_OFFSET, DECLARATION_SIZE),
              layout_declaration_bytes(CONTAINER_LAYOUT_VERSION));
    EXPECT_EQ(decode_le32(reinterpret_cast<const unsigned char *>(file.data()) + file.size() - 4),
              file.size());
    std::vector<container> containers = read_containers(file);
    ASSERT_EQ(containers.size(), 1u);
    // Directories first in name order; then files without an extension,
    // then by extension, each group in name order.
    std::string expected = plain_sequence(
        folder, {directory_member("a"), directory_member("a/deep"), directory_member("b"),
                 directory_member("dir.d"), file_member("README", "read me"),
                 file_member("a/deep/Makefile", "all:\n"),
                 file_member("dir.d/plain", "no extension"), file_member("a/x.c", "int x;\n"),
                 file_member("b/a.c", "int a;\n"), executable_member("run.sh", "#!/bin/sh\n"),
                 file_member("_setup_.txt", "Thanks\n"), file_member("a/deep/big.txt", big),
                 file_member("b/z.txt", "zz"), file_member("empty.txt", "")});
    EXPECT_TRUE(decompress(containers[0]) == expected);
    EXPECT_LT(containers[0].data.size(), expected.size() / 4);
}

TEST(CompressedPack, BlockFieldsAndCheckValue) {
    temp_folder folder;
    make_tree(folder / "src", {{"a.txt", text_like(300000, 1)}, {"b.bin", random_bytes(5000, 2)}});

    program_run pack = pack_z(folder, {"--level=6"});

    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    std::vector<container> containers = read_containers(read_file(folder / "setup.exe"));
    ASSERT_EQ(containers.size(), 1u);
    const container &c = containers[0];
    EXPECT_EQ(c.name, "sfx-members-1.lzma2");
    const unsigned char marker[8] = {0xFE, 0x1A, 0xC1, 0x9D, 0x05, 0xE3, 0x8F, 0x02};
    EXPECT_EQ(c.block.substr(0, 8), std::string(reinterpret_cast<const char *>(marker), 8));
    EXPECT_EQ(c.block[12], 0) << "flags";
    EXPECT_EQ(c.block[13], 1) << "method LZMA2";
    EXPECT_EQ(c.stored_check, c.computed_check);
    std::string decompressed = decompress(c);
    EXPECT_EQ(c.decompressed_length, decompressed.size());
    EXPECT_EQ(c.decompressed_length, uint64_t(2 * RECORD_SIZE + 300000 + 5000));
    // A dictionary beyond the run's length would hold nothing more: it is cut
    // to whole 4 KiB covering the run, below level 6's 8 MiB.
    EXPECT_EQ(c.dictionary_size, (c.decompressed_length + 4095) / 4096 * 4096);
}

TEST(CompressedPack, TwoRunsGiveTheSameBytes) {
    temp_folder folder;
    std::vector<std::pair<std::string, std::string>> entries{{"d/", ""}};
    for (int i = 0; i < 12; ++i)
        entries.push_back({"d/f" + std::to_string(i) + (i % 3 ? ".txt" : ".c"),
                           text_like(200000, static_cast<unsigned>(i))});
    make_tree(folder / "src", entries);

    program_run first = pack_z(folder, {"--level=0"}, "one.exe");
    program_run second = pack_z(folder, {"--level=0"}, "two.exe");

    ASSERT_EQ(first.exit_status, 0) << first.errors;
    ASSERT_EQ(second.exit_status, 0) << second.errors;
    std::string one = read_file(folder / "one.exe");
    EXPECT_GT(read_containers(one).size(), 1u);
    EXPECT_TRUE(one == read_file(folder / "two.exe"));
}

// Stored chunks: data that does not compress ends at most 0.2 % larger than
// the plain file of the same tree.
TEST(CompressedPack, IncompressibleDataBarelyGrows) {
    temp_folder folder;
    make_tree(folder / "src",
              {{"random.bin", random_bytes(3 << 19, 7)}, {"small.bin", random_bytes(777, 8)}});

    program_run packed = pack_z(folder, {"--level=1"});
    program_run plain = run_sfxpack({"-o", "plain.exe", "-C", "src", "."}, folder.path);

    ASSERT_EQ(packed.exit_status, 0) << packed.errors;
    ASSERT_EQ(plain.exit_status, 0) << plain.errors;
    double compressed_size = static_cast<double>(read_file(folder / "setup.exe").size());
    double plain_size = static_cast<double>(read_file(folder / "plain.exe").size());
    EXPECT_LE(compressed_size, plain_size * 1.002);
    std::vector<container> containers = read_containers(read_file(folder / "setup.exe"));
    ASSERT_EQ(containers.size(), 1u);
    EXPECT_EQ(containers[0].stored_check, containers[0].computed_check);
    EXPECT_EQ(decompress(containers[0]).size(), containers[0].decompressed_length);
}

// Level 0's dictionary is 256 KiB: a run of about 2.6 MiB, over four
// dictionaries twice, is cut into three streams at members' starts, all
// directories in the first; each is a whole member sequence, and together they are the
// plain sequence in the same order as one stream would hold it.
TEST(CompressedPack, LargeTreeIsSplitIntoSeveralContainers) {
    temp_folder folder;
    std::vector<std::pair<std::string, std::string>> entries{{"x/", ""}, {"y/", ""}};
    std::vector<archive_member> members{directory_member("x"), directory_member("y")};
    std::vector<archive_member> files;
    for (int i = 0; i < 10; ++i) {
        std::string name = std::string(i % 2 ? "x" : "y") + "/part" + std::to_string(i) + ".txt";
        std::string data = text_like(270000, static_cast<unsigned>(100 + i));
        entries.push_back({name, data});
        files.push_back(file_member(name, data));
    }
    std::sort(files.begin(), files.end(),
              [](const archive_member &a, const archive_member &b) { return a.name < b.name; });
    members.insert(members.end(), files.begin(), files.end());
    make_tree(folder / "src", entries);

    program_run pack = pack_z(folder, {"--level=0"});

    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    std::vector<container> containers = read_containers(read_file(folder / "setup.exe"));
    ASSERT_EQ(containers.size(), 3u);
    std::string joined;
    for (size_t i = 0; i < containers.size(); ++i) {
        const container &c = containers[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.name, "sfx-members-" + std::to_string(i + 1) + ".lzma2");
        EXPECT_EQ(c.stored_check, c.computed_check);
        EXPECT_EQ(c.dictionary_size, containers[0].dictionary_size);
        EXPECT_LE(c.dictionary_size, 256u * 1024);
        // Each about a third of the run, cut where a member starts.
        EXPECT_LE(c.decompressed_length, 2700000u / 3 + 270000 + RECORD_SIZE);
        std::string part = decompress(c);
        EXPECT_EQ(part.size(), c.decompressed_length);
        // Each begins with a record; the directories are all in the first.
        EXPECT_EQ(part[0], i == 0 ? 'd' : 'f');
        // The first chunk resets the dictionary and sets the properties; the
        // parts compressed side by side go on with the dictionary: a later
        // chunk resets the state and sets the properties alone.
        std::vector<unsigned char> controls = chunk_controls(c.data);
        ASSERT_GE(controls.size(), 3u);
        EXPECT_TRUE(controls[0] == 0xE0 || controls[0] == 0x01) << int(controls[0]);
        EXPECT_EQ(std::count(controls.begin() + 1, controls.end(), 0xE0), 0);
        EXPECT_GE(std::count(controls.begin() + 1, controls.end(), 0xC0), 1);
        joined += part;
    }
    EXPECT_TRUE(joined == plain_sequence(folder, members));
}

TEST(CompressedPack, CommandLineMistakes) {
    struct mistake {
        std::vector<std::string> arguments;
        std::string message;
    };
    const mistake mistakes[] = {
        {{"-z", "--level=10", "-s", "stub.bin", "-o", "out.exe", "src"},
         "--level takes 0 to 9, not '10'"},
        {{"-z", "--level", "x", "-s", "stub.bin", "-o", "out.exe", "src"},
         "--level takes 0 to 9, not 'x'"},
        {{"--level=3", "-s", "stub.bin", "-o", "out.exe", "src"}, "--level goes with -z"},
        {{"-z", "-l", "stub.bin"}, "-z goes with building a file (-o) only"},
        {{"-z", "-t", "stub.bin"}, "-z goes with building a file (-o) only"},
        {{"-z", "-s", "plain.bin", "-o", "out.exe", "src"},
         "-z needs a stub that reads compressed members; 'plain.bin' does not"},
    };
    for (const mistake &m : mistakes) {
        SCOPED_TRACE(m.message);
        temp_folder folder;
        make_tree(folder / "src", {{"a.txt", "a"}});
        write_file(folder / "stub.bin", stub_image());
        write_file(folder / "plain.bin", elf_stub_bytes(3000, 9));

        program_run run = run_sfxpack(m.arguments, folder.path);

        EXPECT_EQ(run.exit_status, 2);
        EXPECT_EQ(run.errors, "sfxpack: " + m.message + "\nTry 'sfxpack --help'.\n");
        EXPECT_FALSE(path_exists(folder / "out.exe"));
    }
}

// Every stub this build made reads containers: -z takes each, and puts it in
// front unchanged.
TEST(CompressedPack, TakesEveryBuiltStub) {
    temp_folder folder;
    make_tree(folder / "src", {{"a.txt", "a"}});
    program_run targets = run_sfxpack({"--targets"}, folder.path);
    ASSERT_EQ(targets.exit_status, 0) << targets.errors;
    std::istringstream lines(targets.output);
    std::string target, stub;
    int taken = 0;
    while (lines >> target >> stub) {
        SCOPED_TRACE(target);
        program_run run =
            run_sfxpack({"-z", "--target", target, "-o", target + ".exe", "src"}, folder.path);
        EXPECT_EQ(run.exit_status, 0) << run.errors;
        std::string image = read_file(stub);
        EXPECT_NE(image.find(std::string(STUB_CONTAINER_MARKER, STUB_CONTAINER_MARKER_SIZE)),
                  std::string::npos);
        EXPECT_TRUE(read_file(folder / (target + ".exe")).substr(0, image.size()) == image);
        ++taken;
    }
    EXPECT_GE(taken, 1);
}

} // namespace
