// SPDX-License-Identifier: Zlib
// The extension behind a member's name, end to end through the real stub and
// the real sfxpack: damage anywhere in a checked member is found and the
// member removed, a member without the extension (or with other bytes in its
// slack) comes out exactly as before, and the executable flag gives the
// file's mode.
#include "crc32c.h"
#include "layout_declaration.h"
#include "member_extension.h"
#include "sfxpack_run.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string DAMAGED = "!!!Error, the data of this file is damaged.\n"
                            "!!!Error, It is recommended to obtain another copy.\n";
// The stub's exit status after an error message.
const int ERROR_STATUS = 1;

std::string failed_file_line(const std::string &name, const std::string &figures) {
    return "Extracting : " + name + " " + figures + "\b, failed\n";
}

// The members of the damage cases and where their bytes lie.
const std::string BIG = patterned_data(40000, 21);
std::vector<archive_member> damage_members() {
    return {file_member("first.txt", "1st"), directory_member("dir"),
            file_member("dir/big.bin", BIG), file_member("after.txt", "a")};
}
constexpr int64_t DIR_RECORD = ARCHIVE_START + RECORD_SIZE + 3;
constexpr int64_t BIG_RECORD = DIR_RECORD + RECORD_SIZE;
constexpr int64_t BIG_DATA = BIG_RECORD + RECORD_SIZE;
const std::string BIG_FIGURES = figure("0.0") + figure("40.0") + figure("80.0");

TEST(MemberCheck, StubFindsDamageRemovesTheMemberAndEndsTheRun) {
    struct damage_case {
        const char *what;
        int64_t offset;
        std::string line; // what the damaged member's line shows
    };
    const damage_case cases[] = {
        {"first data byte", BIG_DATA, failed_file_line("dir/big.bin", BIG_FIGURES)},
        {"last data byte", BIG_DATA + 39999, failed_file_line("dir/big.bin", BIG_FIGURES)},
        // 'b' becomes 'c': a name that passes the judging, created and removed.
        {"name byte", BIG_RECORD + RECORD_NAME_OFFSET + 4,
         failed_file_line("dir/cig.bin", BIG_FIGURES)},
        {"check value", BIG_RECORD + static_cast<int64_t>(record_check_offset(11)),
         failed_file_line("dir/big.bin", BIG_FIGURES)},
        {"flags", BIG_RECORD + static_cast<int64_t>(record_check_offset(11)) + 4,
         failed_file_line("dir/big.bin", BIG_FIGURES)},
        {"directory name", DIR_RECORD + RECORD_NAME_OFFSET, "Directory  : eir, failed\n"},
    };
    for (const damage_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder folder;
        write_setup(folder.path, damage_members());
        write_file(folder / "_setup_.txt", "must not be shown");
        flip_bit(folder / "setup.exe", c.offset);

        program_run run = run_setup(folder.path);

        bool directory_made = c.line.compare(0, 9, "Directory") != 0;
        EXPECT_EQ(run.output, FILE_LINE + file_line("first.txt", figure("0.0")) +
                                  (directory_made ? directory_line("dir") : "") + c.line + DAMAGED);
        EXPECT_EQ(run.exit_status, ERROR_STATUS);
        std::vector<std::string> left = {"_setup_.txt", "first.txt", "setup.exe"};
        if (directory_made)
            left.insert(left.begin() + 1, "dir/");
        EXPECT_EQ(list_tree(folder.path), left);
    }
}

// Bytes behind the name's NUL that are not the extension's marker change
// nothing: the member comes out as the plain layout says, byte for byte and
// with the same console text as one whose name has only zero bytes behind it.
TEST(MemberCheck, MembersWithoutTheMarkerComeOutAsBefore) {
    const std::string data = patterned_data(20000, 5);
    std::string other_version(reinterpret_cast<const char *>(EXTENSION_MARKER),
                              EXTENSION_MARKER_SIZE);
    other_version[EXTENSION_VERSION_OFFSET] = 2;
    const std::string slacks[] = {
        "",
        patterned_data(NAME_FIELD_SIZE - 6, 9),
        // A later version's block, whatever its check value says.
        other_version + "\xde\xad\xbe\xef\x01",
        std::string(reinterpret_cast<const char *>(EXTENSION_MARKER), 7),
    };
    const std::string plain = FILE_LINE + file_line("a.bin", figure("0.0") + figure("80.0")) +
                              directory_line("d") + SEPARATOR;
    for (const std::string &slack : slacks) {
        SCOPED_TRACE(testing::PrintToString(slack.substr(0, 16)));
        temp_folder folder;
        write_raw_setup(folder.path, record_bytes('f', std::string("a.bin") + '\0' + slack, 20000) +
                                         data +
                                         record_bytes('d', std::string("d") + '\0' + slack, 0));

        program_run run = run_setup(folder.path);

        EXPECT_EQ(run.output, plain);
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_TRUE(read_file(folder / "a.bin") == data);
        EXPECT_EQ(list_tree(folder.path), (std::vector<std::string>{"a.bin", "d/", "setup.exe"}));
    }

    // The same members with and without the extension: the same run.
    std::vector<program_run> runs;
    for (bool checked : {true, false}) {
        temp_folder folder;
        std::vector<archive_member> members = damage_members();
        if (!checked)
            for (archive_member &member : members)
                member = unchecked(member);
        write_setup(folder.path, members);
        runs.push_back(run_setup(folder.path));
        EXPECT_TRUE(read_file(folder / "dir/big.bin") == BIG);
        EXPECT_EQ(list_tree(folder.path),
                  (std::vector<std::string>{"after.txt", "dir/", "dir/big.bin", "first.txt",
                                            "setup.exe"}));
    }
    EXPECT_EQ(runs[0].output, runs[1].output);
    EXPECT_EQ(runs[0].output, FILE_LINE + file_line("first.txt", figure("0.0")) +
                                  directory_line("dir") + file_line("dir/big.bin", BIG_FIGURES) +
                                  file_line("after.txt", figure("0.0")) + SEPARATOR);
    EXPECT_EQ(runs[0].exit_status, 0);
}

mode_t mode_of(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// A source file with any executable bit comes out with mode 0777 less the
// umask, through the stub and through -x; every other file with 0666 less
// the umask. No other bit of the source's mode travels.
TEST(MemberCheck, ExecutableBitSurvivesTheStubAndExtract) {
    struct source_file {
        const char *name;
        mode_t mode;
        bool executable;
    };
    const source_file sources[] = {
        {"run.sh", 0755, true},  {"owner-only", 0700, true}, {"group-x", 0610, true},
        {"setuid", 04755, true}, {"plain.txt", 0644, false}, {"private", 0600, false},
    };
    temp_folder folder;
    make_folder(folder / "src");
    for (const source_file &source : sources) {
        write_file(folder / "src" + "/" + source.name, source.name);
        ASSERT_EQ(chmod((folder / "src/" + source.name).c_str(), source.mode), 0);
    }
    program_run pack = run_sfxpack({"-o", "setup.exe", "-C", "src", "."}, folder.path);
    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    program_run list = run_sfxpack({"-l", "setup.exe"}, folder.path);
    EXPECT_NE(list.output.find("f checked   x          6 run.sh\n"), std::string::npos)
        << list.output;
    EXPECT_NE(list.output.find("f checked   -          9 plain.txt\n"), std::string::npos)
        << list.output;

    for (mode_t mask : {mode_t(022), mode_t(077), mode_t(0)}) {
        SCOPED_TRACE(mask);
        mode_t previous = umask(mask);
        temp_folder by_stub, by_extract;
        write_file(by_stub / "setup.exe", read_file(folder / "setup.exe"));
        chmod((by_stub / "setup.exe").c_str(), 0755);
        program_run run = run_setup(by_stub.path);
        program_run extract =
            run_sfxpack({"-x", folder / "setup.exe", "-C", by_extract.path}, folder.path);
        umask(previous);

        EXPECT_EQ(run.exit_status, 0) << run.output;
        EXPECT_EQ(extract.exit_status, 0) << extract.errors;
        for (const source_file &source : sources) {
            SCOPED_TRACE(source.name);
            mode_t expected = (source.executable ? 0777 : 0666) & ~mask;
            EXPECT_EQ(mode_of(by_stub / source.name), expected);
            EXPECT_EQ(mode_of(by_extract / source.name), expected);
            EXPECT_EQ(read_file(by_extract / source.name), source.name);
        }
    }
}

TEST(MemberCheck, TestReadsEveryMemberAndNamesEachDamagedOne) {
    temp_folder folder;
    write_setup(folder.path, damage_members());
    std::string good = read_file(folder / "setup.exe");
    program_run passed = run_sfxpack({"-t", "setup.exe"}, folder.path);
    EXPECT_EQ(passed.exit_status, 0) << passed.errors;
    EXPECT_EQ(passed.output, "4 members: 4 checked (0 damaged), 0 unchecked\n");
    EXPECT_EQ(passed.errors, "");

    // Two damaged members: both named, the walk goes on to the end.
    flip_bit(folder / "setup.exe", ARCHIVE_START + RECORD_SIZE);
    flip_bit(folder / "setup.exe", BIG_DATA + 20000);
    program_run damaged = run_sfxpack({"--test", "setup.exe"}, folder.path);
    EXPECT_EQ(damaged.exit_status, 1);
    EXPECT_EQ(damaged.output, "4 members: 4 checked (2 damaged), 0 unchecked\n");
    EXPECT_EQ(damaged.errors,
              "sfxpack: 'setup.exe': 'first.txt' is damaged: the check value does not match "
              "(record at offset 54000)\n"
              "sfxpack: 'setup.exe': 'dir/big.bin' is damaged: the check value does not match "
              "(record at offset 54531)\n");

    // Without the extension there is nothing to compare; a bad record fails.
    write_raw_setup(folder.path, record_bytes('f', "a.txt", 1) + "A");
    program_run plain = run_sfxpack({"-t", "setup.exe"}, folder.path);
    EXPECT_EQ(plain.exit_status, 0) << plain.errors;
    EXPECT_EQ(plain.output, "1 member: 0 checked (0 damaged), 1 unchecked\n");
    write_raw_setup(folder.path, record_bytes('f', "a.txt", 1) + "A" + record_bytes('x', "b", 0));
    program_run bad = run_sfxpack({"-t", "setup.exe"}, folder.path);
    EXPECT_EQ(bad.exit_status, 1);
    EXPECT_NE(bad.errors.find("bad record at offset 54265"), std::string::npos) << bad.errors;
    EXPECT_EQ(list_tree(folder.path), std::vector<std::string>{"setup.exe"});
}

TEST(MemberCheck, ExtractLeavesOutDamagedMembersAndExtractsTheRest) {
    temp_folder folder;
    write_setup(folder.path, damage_members());
    flip_bit(folder / "setup.exe", BIG_DATA + 39999);
    flip_bit(folder / "setup.exe", DIR_RECORD + RECORD_NAME_OFFSET + 2);
    make_folder(folder / "out");

    program_run extract = run_sfxpack({"-x", "setup.exe", "-C", "out"}, folder.path);

    EXPECT_EQ(extract.exit_status, 1);
    EXPECT_EQ(extract.errors, "sfxpack: 'out/dis' is damaged: its record does not give its check "
                              "value; it is not created\n"
                              "sfxpack: 'out/dir/big.bin' is damaged: its data does not give its "
                              "check value; it is not extracted\n");
    // The damaged file's folder was made on its way; no temporary file stays.
    EXPECT_EQ(list_tree(folder / "out"),
              (std::vector<std::string>{"after.txt", "dir/", "first.txt"}));
    EXPECT_EQ(read_file(folder / "out/after.txt"), "a");
}

// Names too long to leave room for the block are packed without it, all
// named in one warning; they still come out, unchecked.
TEST(MemberCheck, LongNamesArePackedUncheckedWithOneWarning) {
    temp_folder folder;
    const std::string fits(LONGEST_CHECKED_NAME, 'a');
    const std::string over(LONGEST_CHECKED_NAME + 1, 'b');
    const std::string longest(LONGEST_MEMBER_NAME, 'c');
    make_folder(folder / "src");
    for (const std::string &name : {fits, over, longest})
        write_file(folder / "src/" + name, "x");
    ASSERT_EQ(chmod((folder / "src/" + over).c_str(), 0755), 0);

    program_run pack = run_sfxpack({"-o", "setup.exe", "-C", "src", "."}, folder.path);

    EXPECT_EQ(pack.exit_status, 0);
    EXPECT_EQ(pack.errors, "sfxpack: warning: names over 241 bytes leave no room for a check "
                           "value; packed unchecked: '" +
                               over + "', '" + longest + "'\n");
    EXPECT_EQ(run_sfxpack({"-l", "setup.exe"}, folder.path).output,
              "f checked   -          1 " + fits + "\nf unchecked -          1 " + over +
                  "\nf unchecked -          1 " + longest +
                  "\n3 members: 0 directories, 3 files, 3 data bytes\n");
    EXPECT_EQ(run_sfxpack({"-t", "setup.exe"}, folder.path).output,
              "3 members: 1 checked (0 damaged), 2 unchecked\n");
    program_run run = run_setup(folder.path);
    EXPECT_EQ(run.output, FILE_LINE + file_line(fits, figure("0.0")) +
                              file_line(over, figure("0.0")) + file_line(longest, figure("0.0")) +
                              SEPARATOR);
    // Unchecked means no flag either: the file is not made executable.
    EXPECT_EQ(mode_of(folder / over) & 0111, 0u);
}

// A file sfxpack made declares its layout, so damage that leaves a record
// without its block, or with a block of another version, can't pass as an
// unchecked member, and damage to the declaration itself is found.
TEST(MemberCheck, DeclaredLayoutTurnsMissingBlocksIntoDamage) {
    const int64_t record = ARCHIVE_START + RECORD_SIZE + 3; // abcdef.txt
    const int64_t name = record + RECORD_NAME_OFFSET;
    const int64_t block = name + 11;
    const int64_t data = record + RECORD_SIZE;
    const int64_t first_version = DECLARATION_OFFSET + LAYOUT_MARKER_SIZE;
    const int64_t second_version = first_version + DECLARATION_COPY_SIZE;
    const std::string first_line = FILE_LINE + file_line("first.txt", figure("0.0"));
    const std::string refused_file = "layout declaration (offset 53984) is damaged";
    struct edit {
        int64_t offset;
        unsigned char byte;
    };
    struct declaration_case {
        const char *what;
        std::vector<edit> edits;
        std::string stub_output; // after the "File :" line
        std::string test_output; // -t's summary; empty when it refuses the file
        std::string message;     // on -t's and -x's standard error
    };
    const std::string damaged_abc = first_line + failed_file_line("abc", figure("0.0")) + DAMAGED;
    const std::string damaged_abcdef =
        first_line + failed_file_line("abcdef.txt", figure("0.0")) + DAMAGED;
    const std::string test_damaged = "2 members: 2 checked (1 damaged), 0 unchecked\n";
    const declaration_case cases[] = {
        {"a 0 written into byte 3 of the name",
         {{name + 3, 0}},
         damaged_abc,
         test_damaged,
         "abc' is damaged"},
        {"block version 01 made 03, one data byte flipped",
         {{block + EXTENSION_VERSION_OFFSET, 3}, {data, 'H'}},
         damaged_abcdef,
         test_damaged,
         "abcdef.txt' is damaged"},
        {"block erased",
         {{block, 0},
          {block + 1, 0},
          {block + 2, 0},
          {block + 3, 0},
          {block + 4, 0},
          {block + 5, 0},
          {block + 6, 0},
          {block + 7, 0}},
         damaged_abcdef,
         test_damaged,
         "abcdef.txt' is damaged"},
        {"a second marker behind the block",
         {{block + 40, 0xFE},
          {block + 41, 0x1A},
          {block + 42, 0xC1},
          {block + 43, 0x9D},
          {block + 44, 0x05},
          {block + 45, 0xE3},
          {block + 46, 0x8F}},
         damaged_abcdef,
         test_damaged,
         "abcdef.txt' is damaged"},
        {"first marker damaged: the second copy declares",
         {{DECLARATION_OFFSET, 0xFF}, {name + 3, 0}},
         damaged_abc,
         test_damaged,
         "abc' is damaged"},
        {"second marker damaged: the first copy declares",
         {{DECLARATION_OFFSET + DECLARATION_COPY_SIZE + 6, 0}, {name + 3, 0}},
         damaged_abc,
         test_damaged,
         "abc' is damaged"},
        {"the copies' versions differ",
         {{first_version, 2}},
         FILE_LINE + BAD_RECORD,
         "",
         refused_file},
        {"version 0 in both copies",
         {{first_version, 0}, {second_version, 0}},
         FILE_LINE + BAD_RECORD,
         "",
         refused_file},
        {"version 0 beside a damaged marker",
         {{DECLARATION_OFFSET + 3, 0}, {second_version, 0}},
         FILE_LINE + BAD_RECORD,
         "",
         refused_file},
        {"a newer version",
         {{first_version, 9}, {second_version, 9}},
         FILE_LINE + BAD_RECORD,
         "",
         "made by a newer sfxpack: it declares layout version 9, this one reads up to 2"},
        // Without a declaration the file is read as before it existed.
        {"both markers damaged",
         {{DECLARATION_OFFSET, 0}, {DECLARATION_OFFSET + DECLARATION_COPY_SIZE, 0}, {name + 3, 0}},
         first_line + file_line("abc", figure("0.0")) + SEPARATOR,
         "2 members: 1 checked (0 damaged), 1 unchecked\n",
         ""},
    };
    for (const declaration_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder folder;
        write_setup(folder.path,
                    {file_member("first.txt", "1st"), file_member("abcdef.txt", "hello world")});
        std::string image = read_file(folder / "setup.exe");
        for (const edit &e : c.edits)
            image[static_cast<size_t>(e.offset)] = static_cast<char>(e.byte);
        write_file(folder / "setup.exe", image);
        make_folder(folder / "out");

        program_run run = run_setup(folder.path);
        program_run test = run_sfxpack({"-t", "setup.exe"}, folder.path);
        program_run extract = run_sfxpack({"-x", "setup.exe", "-C", "out"}, folder.path);

        bool sound = c.message.empty();
        EXPECT_EQ(run.output, c.stub_output);
        EXPECT_EQ(run.exit_status, sound ? 0 : ERROR_STATUS);
        EXPECT_EQ(test.output, c.test_output);
        EXPECT_EQ(test.exit_status, sound ? 0 : 1);
        EXPECT_EQ(extract.exit_status, sound ? 0 : 1);
        if (!sound) {
            EXPECT_NE(test.errors.find(c.message), std::string::npos) << test.errors;
            EXPECT_NE(extract.errors.find(c.message), std::string::npos) << extract.errors;
        }
        std::vector<std::string> out = list_tree(folder / "out");
        if (sound)
            EXPECT_EQ(out, (std::vector<std::string>{"abc", "first.txt"}));
        else if (c.test_output.empty())
            EXPECT_EQ(out, std::vector<std::string>{});
        else
            EXPECT_EQ(out, std::vector<std::string>{"first.txt"});
    }
}

} // namespace
