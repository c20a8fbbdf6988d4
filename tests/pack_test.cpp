// SPDX-License-Identifier: Zlib
// The real sfxpack program: what it builds (checked against the independent
// writer and by running the real stub on it), what it refuses, and how it
// lists a file the way the stub walks it.
#include "sfxpack_run.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void copy_executable(const std::string &from, const std::string &to) {
    write_file(to, read_file(from));
    chmod(to.c_str(), 0755);
}

std::vector<std::string> with(std::vector<std::string> list, const std::vector<std::string> &more) {
    list.insert(list.end(), more.begin(), more.end());
    std::sort(list.begin(), list.end());
    return list;
}

TEST(Pack, RoundTripThroughTheRealStubRecreatesTheTree) {
    temp_folder folder;
    std::string big = patterned_data(40000, 3);
    make_folder(folder / "src");
    make_tree(folder / "src", {{"top.txt", "top\n"},
                               {"a/", ""},
                               {"a/empty.txt", ""},
                               {"a/deep/", ""},
                               {"a/deep/nested/", ""},
                               {"a/deep/nested/data.bin", big},
                               {"a.b", "dot"},
                               {"emptydir/", ""}});
    write_file(folder / "notice.txt", "Read me\n");
    make_folder(folder / "out");

    program_run pack = run_sfxpack(
        {"-o", "out/setup.exe", "-C", "src", "--notice", "notice.txt", "."}, folder.path);
    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    EXPECT_EQ(pack.errors, "");
    EXPECT_EQ(pack.output, "");
    // Without -s the stub built beside sfxpack goes in front.
    EXPECT_EQ(read_file(folder / "out/setup.exe").substr(0, stub_image().size()), stub_image());

    make_folder(folder / "run");
    copy_executable(folder / "out/setup.exe", folder / "run/setup.exe");
    program_run run = run_setup(folder / "run");

    // Each directory before what it holds, parts compared in byte order, so
    // "a" and all below it come before "a.b".
    EXPECT_EQ(run.output, FILE_LINE + file_line("_setup_.txt", figure("0.0")) +
                              directory_line("a") + directory_line("a/deep") +
                              directory_line("a/deep/nested") +
                              file_line("a/deep/nested/data.bin",
                                        figure("0.0") + figure("40.0") + figure("80.0")) +
                              file_line("a/empty.txt", "") + file_line("a.b", figure("0.0")) +
                              directory_line("emptydir") + file_line("top.txt", figure("0.0")) +
                              SEPARATOR + "Read me\n");
    std::vector<std::string> source_tree = list_tree(folder / "src");
    EXPECT_EQ(list_tree(folder / "run"), with(source_tree, {"_setup_.txt", "setup.exe"}));
    for (const std::string &entry : source_tree) {
        if (entry.back() != '/') {
            EXPECT_EQ(read_file(folder / "run/" + entry), read_file(folder / "src/" + entry))
                << entry;
        }
    }
    EXPECT_EQ(read_file(folder / "run/_setup_.txt"), "Read me\n");
}

TEST(Pack, LayoutMatchesTheIndependentWriterByteForByte) {
    struct layout_case {
        const char *what;
        std::string stub;
        std::vector<std::string> options;
        char separator;
    };
    std::string plain = elf_stub_bytes(106, 5);
    std::string windows = pe_stub_bytes(302, 6);
    const layout_case cases[] = {
        {"plain stub", plain, {}, '/'},
        {"stub filling all bytes before the declaration",
         elf_stub_bytes(DECLARATION_OFFSET, 7),
         {},
         '/'},
        {"Windows stub", windows, {}, '\\'},
        {"Windows stub, separator given", windows, {"--separator=/"}, '/'},
        {"plain stub, separator given", plain, {"--separator", "\\"}, '\\'},
    };
    for (const layout_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder folder;
        write_file(folder / "stub.bin", c.stub);
        make_folder(folder / "src");
        std::string data = patterned_data(20000, 8);
        make_tree(folder / "src", {{"d/", ""}, {"d/x.txt", "X"}, {"y.bin", data}});
        std::vector<std::string> arguments{"-s", "stub.bin", "-o", "setup.exe", "-C", "src"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        arguments.insert(arguments.end(), {"y.bin", "d"});

        program_run pack = run_sfxpack(arguments, folder.path);

        ASSERT_EQ(pack.exit_status, 0) << pack.errors;
        std::string inner = std::string("d") + c.separator + "x.txt";
        ASSERT_TRUE(write_sfx_file(
            (folder / "expected.exe").c_str(), c.stub,
            {directory_member("d"), file_member(inner, "X"), file_member("y.bin", data)}));
        EXPECT_TRUE(read_file(folder / "setup.exe") == read_file(folder / "expected.exe"));
        struct stat status;
        ASSERT_EQ(stat((folder / "setup.exe").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0755u);
    }
}

// For a Windows stub names are stored in its code page, the way its system's
// 8-bit calls read them; -l shows them converted back. For any other stub the
// bytes stay as the file system gave them.
TEST(Pack, NamesAreStoredInTheCodePageOfAWindowsStub) {
    struct codepage_case {
        std::string stub;
        std::vector<std::string> options;
        std::string name;   // as on disk, UTF-8
        std::string stored; // the record's name bytes
    };
    const std::string windows = pe_stub_bytes(302, 6);
    const std::string plain = elf_stub_bytes(106, 5);
    const codepage_case cases[] = {
        {windows, {}, "caf\xc3\xa9.txt", "caf\xe9.txt"},
        {windows, {"--codepage", "1252"}, "\xe2\x82\xac", "\x80"},
        {windows, {"--codepage=850"}, "caf\xc3\xa9.txt", "caf\x82.txt"},
        {windows, {"--codepage=CP1251"}, "\xd0\x9c\xd0\xb8\xd1\x80", "\xcc\xe8\xf0"},
        {windows, {"--codepage=1253"}, "\xce\xb1", "\xe1"},
        {windows, {"--codepage=866"}, "\xd0\x9c", "\x8c"},
        {windows, {"--codepage=932"}, "\xe8\xa1\xa8.txt", "\x95\x5c.txt"},
        {windows, {"--codepage=936"}, "\xe4\xb8\xad", "\xd6\xd0"},
        {windows, {"--codepage=949"}, "\xed\x95\x9c", "\xc7\xd1"},
        {windows, {"--codepage=950"}, "\xe4\xb8\xad", "\xa4\xa4"},
        {plain, {}, "caf\xc3\xa9.txt", "caf\xc3\xa9.txt"},
        {plain, {}, "caf\xe9.txt", "caf\xe9.txt"},
    };
    for (const codepage_case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.name) + " " + testing::PrintToString(c.options));
        temp_folder folder;
        write_file(folder / "stub.bin", c.stub);
        make_folder(folder / "src");
        write_file(folder / ("src/" + c.name), "data");
        std::vector<std::string> arguments{"-s", "stub.bin", "-o", "setup.exe", "-C", "src"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        arguments.push_back(".");

        program_run pack = run_sfxpack(arguments, folder.path);

        ASSERT_EQ(pack.exit_status, 0) << pack.errors;
        std::string image = read_file(folder / "setup.exe");
        ASSERT_EQ(image.size(), ARCHIVE_START + RECORD_SIZE + 4 + TRAILER_SIZE);
        EXPECT_EQ(image.substr(ARCHIVE_START + RECORD_NAME_OFFSET, c.stored.size() + 1),
                  c.stored + '\0');

        std::vector<std::string> listing{"-l", "setup.exe"};
        listing.insert(listing.end(), c.options.begin(), c.options.end());
        program_run list = run_sfxpack(listing, folder.path);
        EXPECT_EQ(list.output, "f checked   -          4 " + c.name +
                                   "\n1 member: 0 directories, 1 file, "
                                   "4 data bytes\n");
        EXPECT_EQ(list.exit_status, 0) << list.errors;
    }

    // The stored name must fit the record, not the UTF-8 one: 376 bytes of
    // Japanese in UTF-8 are 251 in code page 932.
    temp_folder folder;
    write_file(folder / "stub.bin", windows);
    std::string outer, inner;
    for (int i = 0; i < 80; ++i)
        outer += "\xe3\x81\x82";
    for (int i = 0; i < 45; ++i)
        inner += "\xe3\x81\x82";
    make_tree(folder.path,
              {{"src/", ""}, {"src/" + outer + "/", ""}, {"src/" + outer + "/" + inner, "x"}});
    program_run pack = run_sfxpack(
        {"-s", "stub.bin", "-o", "setup.exe", "--codepage=932", "-C", "src", "."}, folder.path);
    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    std::string stored = read_file(folder / "setup.exe").substr(ARCHIVE_START + RECORD_SIZE + 1);
    EXPECT_EQ(std::strlen(stored.c_str()), 251u);
}

// -l judges a file by the rules of the stub in front of it: a device name is
// a bad record behind a Windows stub, a plain name behind any other; bytes
// the code page gives no meaning are shown as escapes.
TEST(Pack, ListJudgesByTheRulesOfTheStubInFront) {
    struct list_case {
        std::string stub;
        std::string name;
        std::string output;
        std::string message;
    };
    const std::string windows = pe_stub_bytes(302, 6);
    const list_case cases[] = {
        {windows, "aux.c", "", "(name holds a device name)"},
        {"#!stub", "aux.c", "f unchecked -          0 aux.c\n", ""},
        // 0x81 means nothing in code page 1252: the Windows stub refuses it.
        {windows, "a\x81\xe9", "", "(name holds bytes that mean nothing in the code page)"},
        {windows, "caf\xe9", "f unchecked -          0 caf\xc3\xa9\n", ""},
        {windows, "ab:c", "", "(name holds ':', which Windows takes as a stream of a file)"},
        {"#!stub", "ab:c", "f unchecked -          0 ab:c\n", ""},
        {"#!stub", "x\x1b[2J", "", "(name holds a control character)"},
        {"#!stub", "csi\xc2\x9b", "", "(name holds a control character)"},
        {"#!stub", "raw\x9b", "", "(name holds a control character)"},
        {"#!stub", "caf\xe9", "f unchecked -          0 caf\xe9\n", ""},
    };
    for (const list_case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.name));
        temp_folder folder;
        write_raw_setup(folder.path, record_bytes('f', c.name, 0), 0, "setup.exe", &c.stub);

        program_run list = run_sfxpack({"-l", "setup.exe"}, folder.path);

        if (c.message.empty()) {
            EXPECT_EQ(list.output, c.output + "1 member: 0 directories, 1 file, 0 data bytes\n");
            EXPECT_EQ(list.exit_status, 0) << list.errors;
        } else {
            EXPECT_EQ(list.output, "");
            EXPECT_NE(list.errors.find(c.message), std::string::npos) << list.errors;
            EXPECT_EQ(list.exit_status, 1);
        }
    }

    // Device names are judged in the code page the names are read in: A9 F7
    // is a superscript 2 in code page 949, two letters in 1252.
    temp_folder folder;
    write_raw_setup(folder.path, record_bytes('f', "COM\xa9\xf7", 0), 0, "setup.exe", &windows);
    program_run korean = run_sfxpack({"-l", "setup.exe", "--codepage", "949"}, folder.path);
    EXPECT_EQ(korean.exit_status, 1);
    EXPECT_NE(korean.errors.find("(name holds a device name)"), std::string::npos) << korean.errors;
    program_run western = run_sfxpack({"-l", "setup.exe"}, folder.path);
    EXPECT_EQ(western.exit_status, 0) << western.errors;
    EXPECT_EQ(western.output, "f unchecked -          0 COM\xc2\xa9\xc3\xb7\n"
                              "1 member: 0 directories, 1 file, 0 data bytes\n");
}

TEST(Pack, NestedPathsGetOneDirectoryRecordPerLevelOnce) {
    temp_folder folder;
    make_tree(folder.path, {{"a/", ""},
                            {"a/b/", ""},
                            {"a/b/c.txt", "c"},
                            {"a/b/d.txt", "dd"},
                            {"a/b/not-named.txt", "n"}});

    program_run pack =
        run_sfxpack({"-o", "setup.exe", "a/b/c.txt", "./a//b/d.txt", "a/b/c.txt"}, folder.path);
    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    program_run list = run_sfxpack({"-l", "setup.exe"}, folder.path);

    EXPECT_EQ(list.output, "d checked   -          0 a\n"
                           "d checked   -          0 a/b\n"
                           "f checked   -          1 a/b/c.txt\n"
                           "f checked   -          2 a/b/d.txt\n"
                           "4 members: 2 directories, 2 files, 3 data bytes\n");
    EXPECT_EQ(list.exit_status, 0);
}

TEST(Pack, RepeatBuildsAreByteIdenticalWhateverTheCreationOrder) {
    temp_folder folder;
    std::vector<std::pair<std::string, std::string>> entries = {
        {"b/", ""},   {"b/z.txt", "z"}, {"b/a.txt", "a"},   {"c.txt", "c"},    {"a/", ""},
        {"a/m/", ""}, {"a/m/k", "k"},   {"B.txt", "upper"}, {"empty.bin", ""},
    };
    std::vector<std::pair<std::string, std::string>> reversed;
    for (const auto &entry : entries)
        if (entry.first.back() == '/')
            reversed.push_back(entry);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        if (it->first.back() != '/')
            reversed.push_back(*it);
    make_folder(folder / "one");
    make_folder(folder / "two");
    make_tree(folder / "one", entries);
    make_tree(folder / "two", reversed);

    // The output lies inside the packed folder: a rebuild must not take in
    // the file it replaces.
    std::vector<std::string> builds;
    for (const char *source : {"one", "two", "one", "two"}) {
        program_run pack = run_sfxpack({"-o", "setup.exe", "."}, folder / source);
        ASSERT_EQ(pack.exit_status, 0) << pack.errors;
        builds.push_back(read_file(folder / source + "/setup.exe"));
    }
    for (size_t i = 1; i < builds.size(); ++i)
        EXPECT_TRUE(builds[i] == builds[0]) << "build " << i;
    program_run list = run_sfxpack({"-l", "setup.exe"}, folder / "one");
    EXPECT_EQ(list.output.find("setup.exe"), std::string::npos) << list.output;
    EXPECT_EQ(list.exit_status, 0);
}

TEST(Pack, RefusalsLeaveNoOutputBehind) {
    struct refusal {
        const char *what;
        std::function<void(const std::string &)> prepare; // gets the source folder
        std::vector<std::string> arguments;               // after "-o out/setup.exe"
        std::string message;
    };
    const std::string long_part(244, 'n');
    const refusal cases[] = {
        {"stub reaching into the layout declaration",
         [](const std::string &src) {
             write_file(src + "/../big.stub", std::string(DECLARATION_OFFSET + 1, 'S'));
         },
         {"-s", "big.stub", "-C", "src", "."},
         "the stub 'big.stub' is 53985 bytes; it must fit in the first 53984 bytes"},
        {"missing stub", nullptr, {"-s", "none.stub", "-C", "src", "."}, "can't read the stub"},
        // Only a program goes in front: the PE signature must stand where
        // the MS-DOS header points, inside the file.
        {"stub that is a text file",
         [](const std::string &src) { write_file(src + "/../text.stub", "root:x:0:0::/root\n"); },
         {"-s", "text.stub", "-C", "src", "."},
         "the stub 'text.stub' is neither an ELF nor a PE program"},
        {"stub with an ELF start cut short",
         [](const std::string &src) { write_file(src + "/../short.stub", "\177EL"); },
         {"-s", "short.stub", "-C", "src", "."},
         "the stub 'short.stub' is neither an ELF nor a PE program"},
        {"stub with 'MZ' and no PE header",
         [](const std::string &src) {
             write_file(src + "/../mz.stub", "MZ" + patterned_data(300, 6));
         },
         {"-s", "mz.stub", "-C", "src", "."},
         "the stub 'mz.stub' is neither an ELF nor a PE program"},
        // Signing is for the packed file: a signed stub's table would stand
        // inside the archive's file, not at its end.
        {"signed stub",
         [](const std::string &src) {
             std::string stub = pe_stub_bytes(1024);
             const size_t optional = 64 + 24;
             stub.replace(64 + 20, 2, std::string("\xE0\0", 2)); // a PE32 optional header
             stub.replace(optional, 2, std::string("\x0B\x01", 2));
             stub.replace(optional + 92, 4, std::string("\x10\0\0\0", 4)); // 16 directories
             // The security directory: 512 bytes at offset 512, to the stub's end.
             stub.replace(optional + 128, 8, std::string("\0\2\0\0\0\2\0\0", 8));
             write_file(src + "/../signed.stub", stub);
         },
         {"-s", "signed.stub", "-C", "src", "."},
         "the stub 'signed.stub' is signed: the extractor refuses a file whose certificate table "
         "does not end it"},
        {"stub whose PE header would lie past its end",
         [](const std::string &src) {
             std::string stub = pe_stub_bytes(200);
             stub.replace(0x3C, 4, std::string("\xC6\0\0\0", 4)); // 198: 2 bytes left
             write_file(src + "/../past.stub", stub);
         },
         {"-s", "past.stub", "-C", "src", "."},
         "the stub 'past.stub' is neither an ELF nor a PE program"},
        {"name over 254 bytes",
         [&](const std::string &src) {
             make_tree(src, {{"tenletters/", ""}, {"tenletters/" + long_part, "x"}});
         },
         {"-C", "src", "."},
         "is 255 bytes long"},
        {"'..' part", nullptr, {"-C", "src", "../notice.txt"}, "has a '..' part"},
        {"absolute path", nullptr, {"ABSOLUTE"}, "is absolute"},
        {"empty path", nullptr, {""}, "an empty PATH"},
        {"name with a drive letter",
         [](const std::string &src) { write_file(src + "/C:x", "x"); },
         {"-C", "src", "."},
         "'C:x' would be refused by the extractor"},
        {"separator inside a part for a Windows stub",
         [](const std::string &src) { write_file(src + "/a\\b", "x"); },
         {"-C", "src", "--separator=\\", "."},
         "holds the separator"},
        {"file of 2^31 bytes",
         [](const std::string &src) {
             write_file(src + "/huge.bin", "");
             ASSERT_EQ(truncate((src + "/huge.bin").c_str(), INT64_C(1) << 31), 0);
         },
         {"-C", "src", "."},
         "is 2147483648 bytes"},
        {"total of 2^31 bytes",
         [](const std::string &src) {
             for (const char *name : {"/half1.bin", "/half2.bin"}) {
                 write_file(src + name, "");
                 ASSERT_EQ(truncate((src + name).c_str(), INT64_C(1) << 30), 0);
             }
         },
         {"-C", "src", "."},
         "the self-extracting file would be " +
             std::to_string(ARCHIVE_START + TRAILER_SIZE + 3 * RECORD_SIZE + (INT64_C(1) << 31) +
                            3) +
             " bytes"},
        {"missing input", nullptr, {"-C", "src", "none.txt"}, "can't read 'src/none.txt'"},
        {"missing notice",
         nullptr,
         {"--notice", "none.txt", "-C", "src", "."},
         "can't read the notice 'none.txt'"},
        {"symbolic link",
         [](const std::string &src) { ASSERT_EQ(symlink("top.txt", (src + "/link").c_str()), 0); },
         {"-C", "src", "."},
         "'src/link' is a symbolic link"},
        {"pipe",
         [](const std::string &src) { ASSERT_EQ(mkfifo((src + "/pipe").c_str(), 0644), 0); },
         {"-C", "src", "."},
         "'src/pipe' is neither a regular file nor a directory"},
        {"loop through a followed link",
         [](const std::string &src) {
             make_folder(src + "/in");
             ASSERT_EQ(symlink("..", (src + "/in/up").c_str()), 0);
         },
         {"-L", "-C", "src", "."},
         "'src/in/up' leads back into 'src'"},
        {"notice and a PATH of the same name",
         [](const std::string &src) { write_file(src + "/_setup_.txt", "x"); },
         {"--notice", "notice.txt", "-C", "src", "."},
         "both --notice and a PATH give '_setup_.txt'"},
        {"nothing to pack",
         [](const std::string &src) { make_folder(src + "/emptydir"); },
         {"-C", "src/emptydir", "."},
         "nothing to pack"},
        {"control byte for a POSIX stub",
         [](const std::string &src) { write_file(src + "/bell\x07", "x"); },
         {"-C", "src", "."},
         "'bell\\x07' would be refused by the extractor: name holds a control character"},
        // Shown escaped: printed, they would retitle the terminal or
        // reorder the line.
        {"terminal title for a POSIX stub",
         [](const std::string &src) { write_file(src + "/\x1b]0;owned\x07", "x"); },
         {"-C", "src", "."},
         "'\\x1B]0;owned\\x07' would be refused by the extractor: name holds a control "
         "character"},
        {"C1 control for a POSIX stub",
         [](const std::string &src) { write_file(src + "/csi\xc2\x9b", "x"); },
         {"-C", "src", "."},
         "'csi\\xC2\\x9B' would be refused by the extractor"},
        {"bidirectional control for a POSIX stub",
         [](const std::string &src) { write_file(src + "/readme\xe2\x80\xaetxt.exe", "x"); },
         {"-C", "src", "."},
         "'readme\\xE2\\x80\\xAEtxt.exe' would be refused by the extractor"},
        // For a Windows stub: names Windows can't create, or the code page can't hold.
        {"character the default code page lacks",
         [](const std::string &src) { write_file(src + "/\xc4\x81.txt", "x"); },
         {"-s", "win.stub", "-C", "src", "."},
         "'src/\xc4\x81.txt' holds '\xc4\x81' (U+0101), which code page 1252 can't hold"},
        {"character the chosen code page lacks",
         [](const std::string &src) { write_file(src + "/caf\xc3\xa9.txt", "x"); },
         {"-s", "win.stub", "--codepage=cp1251", "-C", "src", "."},
         "'src/caf\xc3\xa9.txt' holds '\xc3\xa9' (U+00E9), which code page 1251 can't hold"},
        {"name that is not UTF-8",
         [](const std::string &src) { write_file(src + "/caf\xe9.txt", "x"); },
         {"-s", "win.stub", "-C", "src", "."},
         "'src/caf\xe9.txt' is not valid UTF-8"},
        {"device name",
         [](const std::string &src) { write_file(src + "/con.txt", "x"); },
         {"-s", "win.stub", "-C", "src", "."},
         "'src/con.txt': 'con.txt' is a device name on Windows"},
        {"device name as a folder",
         [](const std::string &src) {
             make_tree(src, {{"Aux /", ""}, {"Aux /a", "x"}});
         },
         {"-s", "win.stub", "-C", "src", "."},
         "'src/Aux ': 'Aux ' is a device name on Windows"},
        {"device name as a folder on a PATH's way",
         [](const std::string &src) {
             make_tree(src, {{"con/", ""}, {"con/a.txt", "x"}});
         },
         {"-s", "win.stub", "-C", "src", "con/a.txt"},
         "'src/con': 'con' is a device name on Windows"},
        {"device name with a superscript digit",
         [](const std::string &src) { write_file(src + "/com\xc2\xb9", "x"); },
         {"-s", "win.stub", "-C", "src", "."},
         "'com\xc2\xb9' is a device name on Windows"},
        {"reserved character",
         [](const std::string &src) { write_file(src + "/what?", "x"); },
         {"-s", "win.stub", "-C", "src", "."},
         "'src/what?' holds '?', which Windows does not take in names"},
        {"colon",
         [](const std::string &src) { write_file(src + "/a:b", "x"); },
         {"-s", "win.stub", "-C", "src", "."},
         "'src/a:b' holds ':'"},
        {"control character",
         [](const std::string &src) { write_file(src + "/tab\tx", "x"); },
         {"-s", "win.stub", "-C", "src", "."},
         "'src/tab\\x09x' holds a control character"},
        {"C1 control character",
         [](const std::string &src) { write_file(src + "/c1\xc2\x81", "x"); },
         {"-s", "win.stub", "-C", "src", "."},
         "holds a control character"},
        {"part ending in a dot",
         [](const std::string &src) {
             make_tree(src, {{"dir./", ""}, {"dir./a", "x"}});
         },
         {"-s", "win.stub", "-C", "src", "."},
         "'src/dir.': the part 'dir.' ends in a dot or a blank"},
        {"part ending in a blank",
         [](const std::string &src) { write_file(src + "/name ", "x"); },
         {"-s", "win.stub", "-C", "src", "."},
         "the part 'name ' ends in a dot or a blank"},
    };
    for (const refusal &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder folder;
        make_folder(folder / "src");
        make_tree(folder / "src", {{"top.txt", "top"}});
        write_file(folder / "notice.txt", "n");
        write_file(folder / "win.stub", pe_stub_bytes(202));
        make_folder(folder / "out");
        write_file(folder / "out/setup.exe", "old");
        if (c.prepare)
            c.prepare(folder / "src");
        std::vector<std::string> arguments{"-o", "out/setup.exe"};
        for (const std::string &argument : c.arguments)
            arguments.push_back(argument == "ABSOLUTE" ? folder / "src/top.txt" : argument);

        program_run pack = run_sfxpack(arguments, folder.path);

        EXPECT_EQ(pack.exit_status, 1);
        EXPECT_EQ(pack.errors.rfind("sfxpack: ", 0), 0u) << pack.errors;
        EXPECT_NE(pack.errors.find(c.message), std::string::npos) << pack.errors;
        EXPECT_EQ(list_tree(folder / "out"), std::vector<std::string>{"setup.exe"});
        EXPECT_TRUE(read_file(folder / "out/setup.exe") == "old");
    }
}

// One run names every link to fix, not only the first one met.
TEST(Pack, EverySymbolicLinkIsReportedInOneRun) {
    temp_folder folder;
    make_tree(folder.path,
              {{"src/", ""}, {"src/a.txt", "a"}, {"src/sub/", ""}, {"src/z.txt", "z"}});
    ASSERT_EQ(symlink("a.txt", (folder / "src/link1").c_str()), 0);
    ASSERT_EQ(symlink("../z.txt", (folder / "src/sub/link2").c_str()), 0);
    ASSERT_EQ(symlink("sub", (folder / "src/link3").c_str()), 0);

    program_run pack = run_sfxpack({"-o", "setup.exe", "-C", "src", "."}, folder.path);

    EXPECT_EQ(pack.exit_status, 1);
    EXPECT_EQ(pack.errors,
              "sfxpack: 'src/link1' is a symbolic link; -L stores what links point to\n"
              "sfxpack: 'src/link3' is a symbolic link; -L stores what links point to\n"
              "sfxpack: 'src/sub/link2' is a symbolic link; -L stores what links point to\n");
    EXPECT_FALSE(path_exists(folder / "setup.exe"));
}

// Every name a Windows stub can't take is named in one run, whatever the
// reason, and a folder refused for its own name is not walked: "Aux /in" is
// not named again.
TEST(Pack, EveryRefusedNameIsReportedInOneRun) {
    struct run_case {
        const char *codepage;
        std::string lacking; // the messages for the names the code page can't hold
    };
    const std::string lacking_1252 = "sfxpack: 'src/\xc4\x81.txt' holds '\xc4\x81' (U+0101), "
                                     "which code page 1252 can't hold (see --codepage)\n";
    const run_case cases[] = {
        {"1252", ""},
        {"932",
         "sfxpack: 'src/CAF\xc3\x89.txt' holds '\xc3\x89' (U+00C9), which code page 932 can't "
         "hold (see --codepage)\n"
         "sfxpack: 'src/caf\xc3\xa9.txt' holds '\xc3\xa9' (U+00E9), which code page 932 can't "
         "hold (see --codepage)\n"},
    };
    const std::string device = " is a device name on Windows (CON, PRN, AUX, NUL, COM0-COM9, "
                               "LPT0-LPT9, CONIN$, CONOUT$, with any extension)\n";
    for (const run_case &c : cases) {
        SCOPED_TRACE(c.codepage);
        temp_folder folder;
        write_file(folder / "win.stub", pe_stub_bytes(202));
        make_tree(folder.path, {{"src/", ""},
                                {"src/Aux /", ""},
                                {"src/Aux /in", "x"},
                                {"src/CAF\xc3\x89.txt", "x"},
                                {"src/caf\xc3\xa9.txt", "x"},
                                {"src/con.txt", "x"},
                                {"src/what?", "x"},
                                {"src/\xc4\x81.txt", "x"},
                                {"src/fine.txt", "x"}});
        ASSERT_EQ(symlink("fine.txt", (folder / "src/link").c_str()), 0);

        program_run pack = run_sfxpack(
            {"-s", "win.stub", "--codepage", c.codepage, "-o", "setup.exe", "-C", "src", "."},
            folder.path);

        std::string codepage = c.codepage;
        std::string expected =
            "sfxpack: 'src/Aux ': 'Aux '" + device + c.lacking +
            "sfxpack: 'src/con.txt': 'con.txt'" + device +
            "sfxpack: 'src/link' is a symbolic link; -L stores what links point to\n" +
            "sfxpack: 'src/what?' holds '?', which Windows does not take in names\n" +
            "sfxpack: 'src/\xc4\x81.txt' holds '\xc4\x81' (U+0101), which code page " + codepage +
            " can't hold (see --codepage)\n";
        if (c.lacking.empty())
            expected += "sfxpack: 'src/CAF\xc3\x89.txt' and 'src/caf\xc3\xa9.txt' are one name on "
                        "Windows, which ignores letter case\n";
        EXPECT_EQ(pack.exit_status, 1);
        EXPECT_EQ(pack.errors, expected);
        EXPECT_FALSE(path_exists(folder / "setup.exe"));
    }
}

// Windows ignores letter case, ASCII and the code page's letters alike: two
// names that differ only so are refused for a Windows stub, naming both.
TEST(Pack, NamesWindowsTakesAsOneAreRefused) {
    struct case_case {
        const char *what;
        std::string stub;
        std::vector<std::string> options;
        std::vector<std::pair<std::string, std::string>> entries; // below src
        std::string message;                                      // empty: packed
    };
    const std::string one_name = " are one name on Windows, which ignores letter case";
    const case_case cases[] = {
        {"ASCII letters",
         pe_stub_bytes(68),
         {},
         {{"Index.html", "1"}, {"index.html", "2"}},
         "'src/Index.html' and 'src/index.html'" + one_name},
        {"letters of code page 1252",
         pe_stub_bytes(68),
         {},
         {{"\xc3\x89t\xc3\xa9.txt", "1"}, {"\xc3\xa9T\xc3\x89.TXT", "2"}},
         "'src/\xc3\x89t\xc3\xa9.txt' and 'src/\xc3\xa9T\xc3\x89.TXT'" + one_name},
        {"Cyrillic letters of code page 1251",
         pe_stub_bytes(68),
         {"--codepage=1251"},
         {{"\xd0\x90.txt", "1"}, {"\xd0\xb0.txt", "2"}},
         "'src/\xd0\x90.txt' and 'src/\xd0\xb0.txt'" + one_name},
        {"folders, each with a file of its own",
         pe_stub_bytes(68),
         {},
         {{"Docs/", ""}, {"Docs/a.txt", "a"}, {"docs/", ""}, {"docs/b.txt", "b"}},
         "'src/Docs' and 'src/docs'" + one_name},
        {"three of one name: each later one with the first",
         pe_stub_bytes(68),
         {},
         {{"AB", "1"}, {"Ab", "2"}, {"ab", "3"}, {"ab.txt", "4"}},
         "'src/AB' and 'src/Ab'" + one_name + "\nsfxpack: 'src/AB' and 'src/ab'" + one_name},
        {"accented and plain letters differ",
         pe_stub_bytes(68),
         {},
         {{"a", "1"}, {"\xc3\xa1", "2"}},
         ""},
        {"a POSIX stub keeps both",
         elf_stub_bytes(6),
         {},
         {{"Index.html", "1"}, {"index.html", "2"}},
         ""},
    };
    for (const case_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder folder;
        write_file(folder / "stub.bin", c.stub);
        make_folder(folder / "src");
        make_tree(folder / "src", c.entries);
        std::vector<std::string> arguments{"-s", "stub.bin", "-o", "setup.exe", "-C", "src", "."};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());

        program_run pack = run_sfxpack(arguments, folder.path);

        if (c.message.empty()) {
            EXPECT_EQ(pack.exit_status, 0) << pack.errors;
            EXPECT_TRUE(path_exists(folder / "setup.exe"));
        } else {
            EXPECT_EQ(pack.exit_status, 1);
            EXPECT_EQ(pack.errors, "sfxpack: " + c.message + "\n");
            EXPECT_FALSE(path_exists(folder / "setup.exe"));
        }
    }
}

// With -L a link that leads nowhere is named as a link, and every one of them
// in one run, given as a PATH or found inside one.
TEST(Pack, EveryLinkThatCantBeFollowedIsNamedInOneRun) {
    temp_folder folder;
    make_tree(folder.path, {{"src/", ""}, {"src/a.txt", "a"}, {"src/sub/", ""}});
    ASSERT_EQ(symlink("a.txt", (folder / "src/fine").c_str()), 0);
    ASSERT_EQ(symlink("missing.txt", (folder / "src/gone1").c_str()), 0);
    ASSERT_EQ(symlink("loop", (folder / "src/loop").c_str()), 0);
    ASSERT_EQ(symlink("../a.txt/x", (folder / "src/sub/gone2").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (folder / "src/zgone3").c_str()), 0);

    program_run pack = run_sfxpack(
        {"-L", "-o", "setup.exe", "-C", "src", "a.txt", "fine", "gone1", "loop", "sub", "zgone3"},
        folder.path);

    EXPECT_EQ(pack.exit_status, 1);
    const std::string dangling =
        "' is a dangling symbolic link: what it points to does not exist\n";
    EXPECT_EQ(pack.errors, "sfxpack: 'src/gone1" + dangling +
                               "sfxpack: 'src/loop' is a symbolic link that can't be followed: " +
                               std::strerror(ELOOP) + "\nsfxpack: 'src/sub/gone2" + dangling +
                               "sfxpack: 'src/zgone3" + dangling);
    EXPECT_FALSE(path_exists(folder / "setup.exe"));
}

TEST(Pack, FollowedLinksAreStoredAsWhatTheyPointTo) {
    temp_folder folder;
    make_tree(folder.path, {{"real/", ""}, {"real/x.txt", "xx"}, {"top.txt", "top"}});
    ASSERT_EQ(symlink("top.txt", (folder / "link.txt").c_str()), 0);
    ASSERT_EQ(symlink("real", (folder / "dirlink").c_str()), 0);

    program_run pack = run_sfxpack({"-L", "-o", "setup.exe", "link.txt", "dirlink"}, folder.path);
    ASSERT_EQ(pack.exit_status, 0) << pack.errors;

    EXPECT_EQ(run_sfxpack({"-l", "setup.exe"}, folder.path).output,
              "d checked   -          0 dirlink\n"
              "f checked   -          2 dirlink/x.txt\n"
              "f checked   -          3 link.txt\n"
              "3 members: 1 directory, 2 files, 5 data bytes\n");
}

// Bytes that sort below the separator ('-', '!') or, for '\', around it
// ('[', ']') must not pull a name in between a directory and what it holds,
// whatever order the PATHs come in.
TEST(Pack, MembersSortPartByPartWhateverThePathOrder) {
    struct order_case {
        const char *separator;
        std::vector<std::string> paths;
    };
    const order_case cases[] = {
        {"/", {"a]", "a-b", "a!", "a", "a[", "0"}},
        {"/", {"0", "a", "a!", "a-b", "a[", "a]"}},
        {"\\", {"a]", "a[", "a-b", "a!", "a", "0"}},
    };
    for (const order_case &c : cases) {
        SCOPED_TRACE(c.separator + std::string(" ") + c.paths.front());
        temp_folder folder;
        make_tree(folder.path, {{"a/", ""},
                                {"a/x", "1"},
                                {"a/y/", ""},
                                {"a/y/z", "22"},
                                {"a!", "3"},
                                {"a-b", "4"},
                                {"a[", "5"},
                                {"a]", "6"},
                                {"0", "7"}});
        std::vector<std::string> arguments{"-o", "setup.exe", "--separator", c.separator};
        arguments.insert(arguments.end(), c.paths.begin(), c.paths.end());
        // Named again inside a PATH already given: still one record.
        arguments.push_back("a/y/z");
        ASSERT_EQ(run_sfxpack(arguments, folder.path).exit_status, 0);

        std::string s = c.separator;
        program_run list = run_sfxpack({"-l", "setup.exe"}, folder.path);
        EXPECT_EQ(list.output, "f checked   -          1 0\n"
                               "d checked   -          0 a\n"
                               "f checked   -          1 a" +
                                   s +
                                   "x\n"
                                   "d checked   -          0 a" +
                                   s +
                                   "y\n"
                                   "f checked   -          2 a" +
                                   s + "y" + s +
                                   "z\n"
                                   "f checked   -          1 a!\n"
                                   "f checked   -          1 a-b\n"
                                   "f checked   -          1 a[\n"
                                   "f checked   -          1 a]\n"
                                   "9 members: 2 directories, 7 files, 8 data bytes\n");
    }
}

// Files of many sizes around a large one, so that records and file data
// straddle the ends of the packer's write buffer.
TEST(Pack, LargeOutputMatchesTheIndependentWriterByteForByte) {
    temp_folder folder;
    make_folder(folder / "src");
    std::vector<archive_member> expected;
    std::string big = patterned_data(3 * 1024 * 1024 + 12345, 9);
    write_file(folder / "src/big.bin", big);
    expected.push_back(file_member("big.bin", big));
    make_folder(folder / "src/many");
    expected.push_back(directory_member("many"));
    for (int i = 0; i < 300; ++i) {
        std::string name = "f" + std::to_string(1000 + i);
        std::string data = patterned_data(static_cast<size_t>(i) * 97 % 20000, i);
        write_file(folder / "src/many/" + name, data);
        expected.push_back(file_member("many/" + name, data));
    }
    std::string stub = elf_stub_bytes(783, 4);
    write_file(folder / "stub.bin", stub);

    program_run pack =
        run_sfxpack({"-s", "stub.bin", "-o", "setup.exe", "-C", "src", "."}, folder.path);
    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    ASSERT_TRUE(write_sfx_file((folder / "expected.exe").c_str(), stub, expected));
    std::string built = read_file(folder / "setup.exe");
    std::string wanted = read_file(folder / "expected.exe");
    ASSERT_EQ(built.size(), wanted.size());
    EXPECT_TRUE(built == wanted)
        << "first difference at byte "
        << std::mismatch(built.begin(), built.end(), wanted.begin()).first - built.begin();
}

TEST(Pack, ListJudgesLikeTheStub) {
    temp_folder folder;
    make_tree(folder.path, {{"d/", ""}, {"d/one.txt", "one"}, {"two.txt", "two!"}});
    ASSERT_EQ(run_sfxpack({"-o", "good.exe", "d", "two.txt"}, folder.path).exit_status, 0);
    const std::string good = read_file(folder / "good.exe");
    const std::string first_line = "d checked   -          0 d\n";
    const int64_t second = ARCHIVE_START + RECORD_SIZE; // the record of d/one.txt

    program_run list = run_sfxpack({"-l", "good.exe"}, folder.path);
    EXPECT_EQ(list.output,
              first_line + "f checked   -          3 d/one.txt\nf checked   -          4 two.txt\n"
                           "3 members: 1 directory, 2 files, 7 data bytes\n");
    EXPECT_EQ(list.errors, "");
    EXPECT_EQ(list.exit_status, 0);

    struct damage {
        const char *what;
        std::string image;
        std::string listed;  // what -l still lists before stopping
        std::string message; // on standard error
        std::string stub;    // what the stub says after its first line
    };
    auto patched = [&](int64_t at, const std::string &bytes) {
        std::string image = good;
        image.replace(static_cast<size_t>(at), bytes.size(), bytes);
        return image;
    };
    const std::string wrong_length = "!!!Error, This file is not of the original's length.\n"
                                     "!!!Error, It is recommended to obtain another copy.\n";
    const std::string bad_record = "!!!Error, bad file record.\n";
    const damage cases[] = {
        {"cut short", good.substr(0, good.size() - 1), "",
         "is " + std::to_string(good.size() - 1) + " bytes but its trailer says", wrong_length},
        {"lengthened", good + "x", "", "but its trailer says", wrong_length},
        {"kind tampered", patched(second, "x"), first_line,
         "bad record at offset 54264 (unknown member kind)", directory_line("d") + bad_record},
        {"magic number tampered", patched(second + RECORD_MAGIC_OFFSET, "\x01"), first_line,
         "bad record at offset 54264 (wrong magic number)", directory_line("d") + bad_record},
        {"name tampered to leave the folder", patched(second + RECORD_NAME_OFFSET, "../x"),
         first_line, "(name leaves the extraction folder)", directory_line("d") + bad_record},
        {"size tampered past the end", patched(second + RECORD_SIZE_OFFSET, "\xff\xff"), first_line,
         "(size negative or past the end of the archive)", directory_line("d") + bad_record},
    };
    for (const damage &c : cases) {
        SCOPED_TRACE(c.what);
        write_file(folder / "setup.exe", c.image);
        chmod((folder / "setup.exe").c_str(), 0755);

        program_run damaged = run_sfxpack({"-l", "setup.exe"}, folder.path);
        EXPECT_EQ(damaged.exit_status, 1);
        EXPECT_EQ(damaged.output, c.listed);
        EXPECT_NE(damaged.errors.find(c.message), std::string::npos) << damaged.errors;

        temp_folder run_folder;
        copy_executable(folder / "setup.exe", run_folder / "setup.exe");
        EXPECT_EQ(run_setup(run_folder.path).output, FILE_LINE + c.stub);
    }
}

// -l, -t and -x read regular files only, and refuse anything else before
// opening it: opening a FIFO would wait for a writer, a device could be read
// without end. A run that waits is ended after 20 seconds (status 124).
TEST(Pack, ReadersTakeRegularFilesOnly) {
    struct entry_case {
        const char *name;
        std::string refusal;
    };
    const entry_case cases[] = {
        {"dist", "is a folder, not a self-extracting file"},
        {"fifo", "is a FIFO, socket or device, not a self-extracting file"},
        {"zero", "is a FIFO, socket or device, not a self-extracting file"},
    };
    temp_folder folder;
    make_folder(folder / "dist");
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink("/dev/zero", (folder / "zero").c_str()), 0);
    for (const entry_case &c : cases) {
        for (const char *action : {"-l", "-t", "-x"}) {
            SCOPED_TRACE(std::string(action) + " " + c.name);
            program_run run = run_program(
                "/usr/bin/timeout", {"timeout", "20", SFXPACK_PATH, action, c.name}, folder.path);
            EXPECT_EQ(run.exit_status, 1);
            EXPECT_EQ(run.errors, "sfxpack: '" + std::string(c.name) + "' " + c.refusal + "\n");
        }
    }
    EXPECT_EQ(list_tree(folder.path), (std::vector<std::string>{"dist/", "fifo", "zero"}));
}

TEST(Pack, ListRefusesAnArchiveWithoutMembers) {
    temp_folder folder;
    write_raw_setup(folder.path, "");
    program_run list = run_sfxpack({"-l", "setup.exe"}, folder.path);
    EXPECT_EQ(list.exit_status, 1);
    EXPECT_NE(list.errors.find("holds no members"), std::string::npos) << list.errors;
}

// A POSIX stub creates one file named "d\\x.txt" instead of a folder "d".
TEST(Pack, BackslashSeparatorWithAPosixStubGetsAWarning) {
    struct separator_case {
        const char *what;
        std::string stub;
        std::vector<std::string> options;
        bool warned;
    };
    const separator_case cases[] = {
        {"POSIX stub, '\\' given", elf_stub_bytes(6), {"--separator=\\"}, true},
        {"POSIX stub, '/' given", elf_stub_bytes(6), {"--separator=/"}, false},
        {"POSIX stub, chosen from the stub", elf_stub_bytes(6), {}, false},
        {"Windows stub, '\\' given", pe_stub_bytes(68), {"--separator=\\"}, false},
    };
    for (const separator_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder folder;
        write_file(folder / "stub.bin", c.stub);
        make_tree(folder.path, {{"d/", ""}, {"d/x.txt", "x"}});
        std::vector<std::string> arguments{"-s", "stub.bin", "-o", "setup.exe", "d"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());

        program_run pack = run_sfxpack(arguments, folder.path);

        EXPECT_EQ(pack.exit_status, 0) << pack.errors;
        EXPECT_EQ(pack.errors.find("sfxpack: warning: the stub is not a Windows program") !=
                      std::string::npos,
                  c.warned)
            << pack.errors;
    }
}

// The stub finds its own file under any name, but Windows starts a program
// by its name only when that ends in .exe or .com.
TEST(Pack, OutputNameWindowsCannotStartGetsAWarning) {
    struct name_case {
        bool windows_stub;
        const char *name;
        bool warned;
    };
    const name_case cases[] = {
        {true, "setup.exe", false}, {true, "Setup.eXe", false},    {true, "SETUP.COM", false},
        {true, "setup", true},      {true, "setup.exe.bak", true}, {true, "exe", true},
        {false, "setup", false},    {false, "setup.run", false},
    };
    for (const name_case &c : cases) {
        SCOPED_TRACE(std::string(c.windows_stub ? "Windows " : "POSIX ") + c.name);
        temp_folder folder;
        write_file(folder / "a.txt", "a");
        write_file(folder / "stub.bin", c.windows_stub ? pe_stub_bytes(68) : elf_stub_bytes(6));
        program_run pack = run_sfxpack({"-s", "stub.bin", "-o", c.name, "a.txt"}, folder.path);
        EXPECT_EQ(pack.exit_status, 0);
        EXPECT_EQ(pack.errors.find("warning: ") != std::string::npos, c.warned) << pack.errors;
        EXPECT_TRUE(path_exists(folder / c.name));
    }
}

// Mistakes that show only once the stub or the file is read are mistakes on
// the command line all the same.
TEST(Pack, MistakesFoundOnceTheStubIsReadGiveStatus2) {
    temp_folder folder;
    write_file(folder / "a.txt", "a");
    ASSERT_EQ(run_sfxpack({"-o", "posix.exe", "a.txt"}, folder.path).exit_status, 0);
    struct late_mistake {
        std::vector<std::string> arguments;
        const char *message;
    };
    const late_mistake cases[] = {
        {{"--codepage", "1252", "-o", "setup.exe", "a.txt"}, "--codepage is for a Windows stub"},
        {{"--target", "win99", "-o", "setup.exe", "a.txt"}, "no stub for target 'win99'"},
        {{"--target", "../bin", "-o", "setup.exe", "a.txt"}, "'../bin' is not a target name"},
        {{"-l", "posix.exe", "--codepage", "1252"}, "--codepage is for a file with a Windows stub"},
        {{"-x", "posix.exe", "-C", "out", "--codepage=850"},
         "--codepage is for a file with a Windows stub"},
        {{"-t", "posix.exe", "--codepage=850"}, "--codepage is for a file with a Windows stub"},
    };
    make_folder(folder / "out");
    for (const late_mistake &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        program_run run = run_sfxpack(c.arguments, folder.path);
        EXPECT_EQ(run.exit_status, 2);
        EXPECT_EQ(run.output, "");
        EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;
        EXPECT_NE(run.errors.find("Try 'sfxpack --help'."), std::string::npos) << run.errors;
        EXPECT_FALSE(path_exists(folder / "setup.exe"));
        EXPECT_EQ(list_tree(folder / "out"), std::vector<std::string>{});
    }
}

TEST(Pack, HelpVersionAndCommandLineMistakes) {
    temp_folder folder;
    program_run help = run_sfxpack({"--help"}, folder.path);
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_EQ(help.output.rfind("Usage: sfxpack -o", 0), 0u) << help.output;

    program_run version = run_sfxpack({"--version"}, folder.path);
    EXPECT_EQ(version.exit_status, 0);
    EXPECT_EQ(version.output, std::string("sfxpack ") + SFX_VERSION + "\n");

    // The problem each command line is refused for, as the one line before
    // the hint: a row can't pass because of another mistake than its own.
    const std::string codepages = "--codepage takes one of 437, 737, 775, 850, 852, 855, 857, "
                                  "860, 861, 862, 863, 864, 865, 866, 869, 874, 932, 936, 949, "
                                  "950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, ";
    const std::string x_alone = "-x extracts one file into DIR; it takes only -C DIR, -v and "
                                "--codepage";
    const struct {
        std::vector<std::string> arguments;
        std::string problem;
    } mistakes[] = {
        {{}, "no output file given (-o FILE)"},
        {{"-o", "setup.exe"}, "nothing to pack: give one or more PATHs"},
        {{"a.txt"}, "no output file given (-o FILE)"},
        {{"--bogus", "-o", "setup.exe", "a.txt"}, "unknown option --bogus"},
        {{"-x"}, "option --extract needs a value"},
        {{"--separator=x", "-o", "setup.exe", "a.txt"}, "--separator takes '/' or '\\', not 'x'"},
        {{"-l", "setup.exe", "a.txt"}, "-l lists one file; it takes no -o, --notice or PATH"},
        {{"-o"}, "option --output needs a value"},
        {{"--follow-links=yes", "-o", "setup.exe", "a.txt"},
         "option --follow-links takes no value"},
        {{"-o", "one.exe", "-o", "two.exe", "a.txt"}, "option --output given twice"},
        {{"-o", "one.exe", "--output=two.exe", "a.txt"}, "option --output given twice"},
        {{"-x", "setup.exe", "-x", "other.exe"}, "option --extract given twice"},
        {{"-x", "setup.exe", "-o", "out.exe"}, x_alone},
        {{"-x", "setup.exe", "a.txt"}, x_alone},
        {{"-x", "setup.exe", "-l", "setup.exe"}, x_alone},
        {{"-v", "-o", "setup.exe", "a.txt"}, "-v goes with -x only"},
        {{"-s", "stub", "--target", "win32", "-o", "setup.exe", "a.txt"},
         "-s STUB and --target NAME both choose the stub; give one"},
        {{"--target"}, "option --target needs a value"},
        {{"--target", "win32", "--target", "win64", "-o", "setup.exe", "a.txt"},
         "option --target given twice"},
        {{"-x", "setup.exe", "--target", "win32"}, x_alone},
        {{"--codepage=65001", "-o", "setup.exe", "a.txt"}, codepages + "not '65001'"},
        {{"--codepage", "cp", "-o", "setup.exe", "a.txt"}, codepages + "not 'cp'"},
        {{"--codepage=1252x", "-o", "setup.exe", "a.txt"}, codepages + "not '1252x'"},
        {{"--codepage"}, "option --codepage needs a value"},
    };
    for (const auto &mistake : mistakes) {
        SCOPED_TRACE(testing::PrintToString(mistake.arguments));
        program_run run = run_sfxpack(mistake.arguments, folder.path);
        EXPECT_EQ(run.exit_status, 2);
        EXPECT_EQ(run.errors, "sfxpack: " + mistake.problem + "\nTry 'sfxpack --help'.\n");
        EXPECT_EQ(list_tree(folder.path), std::vector<std::string>{});
    }
}

} // namespace
