// SPDX-License-Identifier: Zlib
// End-to-end runs of the real stub: each test writes a self-extracting file
// into a fresh folder, runs it there and compares the console bytes and the
// files it leaves.
#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(ExtractRun, TypicalRunShowsEveryFigureInPlace) {
    temp_folder folder;
    std::string data = patterned_data(40000);
    write_setup(folder.path, {directory_member("data"), file_member("data/big.bin", data)});

    program_run run = run_setup(folder.path);

    EXPECT_EQ(run.output, FILE_LINE + "Directory  : data, done\n" +
                              "Extracting : data/big.bin "
                              "  0.0 %\b\b\b\b\b\b\b"
                              " 40.0 %\b\b\b\b\b\b\b"
                              " 80.0 %\b\b\b\b\b\b\b"
                              "\b, done  \n" +
                              SEPARATOR);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(read_file(folder / "data/big.bin"), data);
    EXPECT_EQ(list_tree(folder.path),
              (std::vector<std::string>{"data/", "data/big.bin", "setup.exe"}));
}

TEST(ExtractRun, FileSizesAroundTheChunk) {
    struct size_case {
        size_t size;
        std::string figures;
    };
    const size_case cases[] = {
        {0, ""},
        {1, figure("0.0")},
        {16000, figure("0.0")},
        {16001, figure("0.0") + figure("100.0")},
        {32000, figure("0.0") + figure("50.0")},
    };
    for (const size_case &c : cases) {
        SCOPED_TRACE(c.size);
        temp_folder folder;
        std::string data = patterned_data(c.size, 7);
        write_setup(folder.path, {file_member("member.bin", data), file_member("next.txt", "n")});

        program_run run = run_setup(folder.path);

        EXPECT_EQ(run.output, FILE_LINE + file_line("member.bin", c.figures) +
                                  file_line("next.txt", figure("0.0")) + SEPARATOR);
        EXPECT_EQ(read_file(folder / "member.bin"), data);
        EXPECT_TRUE(path_exists(folder / "member.bin"));
        EXPECT_EQ(read_file(folder / "next.txt"), "n");
    }
}

TEST(ExtractRun, LengthTrailerMustMatchTheFile) {
    for (int64_t error : {int64_t(1), int64_t(-1)}) {
        SCOPED_TRACE(error);
        temp_folder folder;
        write_raw_setup(folder.path, record_bytes('f', "a.txt", 1) + "A", error);

        program_run run = run_setup(folder.path);

        EXPECT_EQ(run.output, FILE_LINE + WRONG_LENGTH);
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(list_tree(folder.path), std::vector<std::string>{"setup.exe"});
    }
}

TEST(ExtractRun, FileCutShortOrLengthenedIsRefused) {
    temp_folder folder;
    write_setup(folder.path, {file_member("a.txt", "hello")});
    std::string whole = read_file(folder / "setup.exe");
    for (const std::string &image : {whole.substr(0, whole.size() - 1), whole + "x"}) {
        write_file(folder / "setup.exe", image);
        EXPECT_EQ(run_setup(folder.path).output, FILE_LINE + WRONG_LENGTH);
        EXPECT_FALSE(path_exists(folder / "a.txt"));
    }
}

TEST(ExtractRun, EmptyArchiveReportsNoFilesAndStillCloses) {
    temp_folder folder;
    write_setup(folder.path, {});
    program_run run = run_setup(folder.path);
    EXPECT_EQ(run.output, FILE_LINE + NO_FILES + SEPARATOR);
    EXPECT_EQ(run.exit_status, 1);
}

TEST(ExtractRun, BadRecordsEndTheRunWithoutSeparator) {
    struct bad_case {
        const char *what;
        std::string record;
    };
    const bad_case cases[] = {
        {"wrong magic on a d record", record_bytes('d', "dir", 0, RECORD_MAGIC + 1)},
        {"wrong magic on an f record", record_bytes('f', "a.txt", 0, 0)},
        {"unknown kind", record_bytes('x', "x", 0)},
        {"upper-case kind", record_bytes('F', "x", 0)},
    };
    for (const bad_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder folder;
        std::string good = record_bytes('d', "one", 0) + record_bytes('f', "two.txt", 3) + "two" +
                           record_bytes('f', "three.txt", 0);
        write_raw_setup(folder.path, good + c.record + record_bytes('f', "after.txt", 0));

        program_run run = run_setup(folder.path);

        EXPECT_EQ(run.output, FILE_LINE + directory_line("one") +
                                  file_line("two.txt", figure("0.0")) + file_line("three.txt", "") +
                                  BAD_RECORD);
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(list_tree(folder.path),
                  (std::vector<std::string>{"one/", "setup.exe", "three.txt", "two.txt"}));
    }
}

TEST(ExtractRun, DirectoryRecordSizeIsNotSkipped) {
    temp_folder folder;
    write_raw_setup(folder.path,
                    record_bytes('d', "dir", 12345) + record_bytes('f', "dir/a", 1) + "A");
    program_run run = run_setup(folder.path);
    EXPECT_EQ(run.output,
              FILE_LINE + directory_line("dir") + file_line("dir/a", figure("0.0")) + SEPARATOR);
    EXPECT_EQ(read_file(folder / "dir/a"), "A");
}

TEST(ExtractRun, BytesAfterTheNameNulAreIgnored) {
    temp_folder folder;
    std::string name_field = std::string("b.txt") + '\0' + "left-over text from an old name";
    write_raw_setup(folder.path, record_bytes('f', name_field, 2) + "BB");
    program_run run = run_setup(folder.path);
    EXPECT_EQ(run.output, FILE_LINE + file_line("b.txt", figure("0.0")) + SEPARATOR);
    EXPECT_EQ(read_file(folder / "b.txt"), "BB");
}

TEST(ExtractRun, ExistingFileIsReplacedWholeAndExistingDirectoryIsDone) {
    temp_folder folder;
    mkdir((folder / "dir").c_str(), 0755);
    write_file(folder / "dir/old.txt", std::string(50000, 'o'));
    write_setup(folder.path, {directory_member("dir"), file_member("dir/old.txt", "new"),
                              file_member("dir/old.txt", "newer")});
    program_run run = run_setup(folder.path);
    EXPECT_EQ(run.output, FILE_LINE + directory_line("dir") +
                              file_line("dir/old.txt", figure("0.0")) +
                              file_line("dir/old.txt", figure("0.0")) + SEPARATOR);
    EXPECT_EQ(read_file(folder / "dir/old.txt"), "newer");
}

TEST(ExtractRun, DirectoryThatCannotBeCreatedIsNotAnError) {
    temp_folder folder;
    write_file(folder / "taken", "a file, not a directory");
    write_setup(folder.path, {directory_member("taken"), directory_member("missing/child")});
    program_run run = run_setup(folder.path);
    EXPECT_EQ(run.output,
              FILE_LINE + directory_line("taken") + directory_line("missing/child") + SEPARATOR);
    EXPECT_EQ(read_file(folder / "taken"), "a file, not a directory");
}

// The "File :" line shows the start name upper-cased, with ".EXE" appended
// only when it holds ".EXE" nowhere; the program's own file opens whatever
// that name leads to.
TEST(ExtractRun, ProgramNameRules) {
    struct name_case {
        std::string file;       // where the archive lies in the folder
        std::string start_name; // what the program was started as
        std::string shown;      // the name on the "File :" line
    };
    const name_case cases[] = {
        {"setup.exe", "./setup.exe", "./SETUP.EXE"},
        {"setup.exe", "./setup", "./SETUP.EXE"},
        {"Setup.Exe", "./sETUP.eXE", "./SETUP.EXE"},
        {"setup.exe", "setup", "SETUP.EXE"},
        {"old.exe/pack", "./old.exe/pack", "./OLD.EXE/PACK"},
        {"pack.com", "./pack.com", "./PACK.COM.EXE"},
        {"setup.exe", "./missing.exe", "./MISSING.EXE"},
    };
    for (const name_case &c : cases) {
        SCOPED_TRACE(c.start_name);
        temp_folder folder;
        mkdir((folder / "old.exe").c_str(), 0755);
        write_setup(folder.path, {file_member("out.txt", "x")}, c.file);

        program_run run = run_program(folder / c.file, {c.start_name}, folder.path);

        EXPECT_EQ(run.output,
                  "File : " + c.shown + "\n" + file_line("out.txt", figure("0.0")) + SEPARATOR);
        EXPECT_EQ(read_file(folder / "out.txt"), "x");
    }
}

// The exact upper-case name is another archive: the running one still wins.
TEST(ExtractRun, RunningFileWinsOverTheExactLetterCase) {
    temp_folder folder;
    write_setup(folder.path, {file_member("from-lower.txt", "x")}, "setup.exe");
    write_setup(folder.path, {file_member("from-upper.txt", "x")}, "SETUP.EXE");
    program_run run = run_program(folder / "setup.exe", {"./setup.exe"}, folder.path);
    EXPECT_EQ(run.output, FILE_LINE + file_line("from-lower.txt", figure("0.0")) + SEPARATOR);
}

TEST(ExtractRun, LongStartNameIsHeldWhole) {
    temp_folder folder;
    mkdir((folder / "a").c_str(), 0755);
    write_setup(folder.path, {file_member("out.txt", "x")});
    std::string start = ".";
    for (int i = 0; i < 120; ++i)
        start += "/a/..";
    start += "/setup.exe";
    std::string shown = ".";
    for (int i = 0; i < 120; ++i)
        shown += "/A/..";
    shown += "/SETUP.EXE";

    program_run run = run_program(folder / "setup.exe", {start}, folder.path);

    EXPECT_EQ(run.output,
              "File : " + shown + "\n" + file_line("out.txt", figure("0.0")) + SEPARATOR);
}

TEST(ExtractRun, EmptyCommandLineUsesTheProgramFile) {
    temp_folder folder;
    write_setup(folder.path, {file_member("out.txt", "x")});
    char real[PATH_MAX];
    ASSERT_NE(realpath((folder / "setup.exe").c_str(), real), nullptr);
    std::string shown = real;
    for (char &c : shown)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');

    program_run run = run_program(folder / "setup.exe", {}, folder.path);

    EXPECT_EQ(run.output,
              "File : " + shown + "\n" + file_line("out.txt", figure("0.0")) + SEPARATOR);
}

// A file of 2^31 bytes and more, where a 32-bit trailer would wrap around,
// fails the length check instead of reading garbage. The file is the stub
// itself, made that long (sparse), so it is the running program's own file.
TEST(ExtractRun, LengthsOutsideTheTrailersRangeAreRefused) {
    struct length_case {
        int64_t length;
        uint32_t trailer;
    };
    const length_case cases[] = {
        {INT64_C(0x80000000), 0x80000000u},
        {INT64_C(0x100000000) + 60000, 60000},
    };
    for (const length_case &c : cases) {
        SCOPED_TRACE(c.length);
        temp_folder folder;
        write_raw_setup(folder.path, "", 0, "big.exe");
        int fd = open((folder / "big.exe").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, c.length), 0);
        unsigned char trailer[4];
        encode_le32(c.trailer, trailer);
        ASSERT_EQ(pwrite(fd, trailer, 4, c.length - 4), 4);
        close(fd);

        program_run run = run_setup(folder.path, "big.exe");

        EXPECT_EQ(run.output, "File : ./BIG.EXE\n" + WRONG_LENGTH);
    }
}

// Records that a sound packer never writes are refused before anything is
// created: no file outside the folder, no existing file emptied.
TEST(ExtractRun, UnsoundRecordsAreRefusedBeforeTouchingTheDisk) {
    struct unsound_case {
        const char *what;
        std::string record;
    };
    const unsound_case cases[] = {
        {"name without NUL", record_bytes('f', std::string(255, 'n'), 0)},
        {"empty name", record_bytes('f', "", 0)},
        {"empty directory name", record_bytes('d', "", 0)},
        {"parent", record_bytes('f', "../x", 0)},
        {"parent deeper", record_bytes('f', "a/../../x", 0)},
        {"parent directory", record_bytes('d', "..", 0)},
        {"absolute", record_bytes('f', "/tmp/x", 0)},
        {"backslash root", record_bytes('f', "\\x", 0)},
        {"drive letter", record_bytes('f', "C:x", 0)},
        {"backslash parent", record_bytes('d', "..\\x", 0)},
        {"negative size", record_bytes('f', "victim.txt", -1)},
        {"size past the end", record_bytes('f', "victim.txt", 5)},
        {"huge size", record_bytes('f', "victim.txt", 0x7FFFFFFF)},
    };
    for (const unsound_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder outer;
        std::string folder = outer / "run";
        mkdir(folder.c_str(), 0755);
        write_file(folder + "/victim.txt", "keep me");
        write_raw_setup(folder, record_bytes('f', "first.txt", 1) + "1" + c.record + "four");

        program_run run = run_setup(folder);

        EXPECT_EQ(run.output, FILE_LINE + file_line("first.txt", figure("0.0")) + BAD_RECORD);
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(
            list_tree(outer.path),
            (std::vector<std::string>{"run/", "run/first.txt", "run/setup.exe", "run/victim.txt"}));
        EXPECT_EQ(read_file(folder + "/victim.txt"), "keep me");
    }
}

TEST(ExtractRun, NameWithDotsButNoParentPartIsExtracted) {
    temp_folder folder;
    write_setup(folder.path, {file_member("..name", "1"), file_member("a..b", "2"),
                              file_member("./dot.txt", "3")});
    program_run run = run_setup(folder.path);
    EXPECT_EQ(run.output, FILE_LINE + file_line("..name", figure("0.0")) +
                              file_line("a..b", figure("0.0")) +
                              file_line("./dot.txt", figure("0.0")) + SEPARATOR);
    EXPECT_EQ(read_file(folder / "a..b"), "2");
}

TEST(ExtractRun, OutputFileThatCannotBeOpenedEndsTheRun) {
    temp_folder folder;
    write_setup(folder.path,
                {file_member("nodir/a.txt", patterned_data(300)), file_member("b.txt", "b")});
    program_run run = run_setup(folder.path);
    EXPECT_EQ(run.output, FILE_LINE + "Extracting : nodir/a.txt \b, failed\n" +
                              "!!!Error, file could not be created.\n");
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(list_tree(folder.path), std::vector<std::string>{"setup.exe"});
}

TEST(ExtractRun, FullDiskIsReportedAndTheFileRemoved) {
    temp_folder folder;
    ASSERT_EQ(symlink("/dev/full", (folder / "out.bin").c_str()), 0);
    write_setup(folder.path,
                {file_member("out.bin", patterned_data(40000)), file_member("b.txt", "b")});
    program_run run = run_setup(folder.path);
    EXPECT_EQ(run.output, FILE_LINE + "Extracting : out.bin " + figure("0.0") +
                              "\b, failed\n!!!Error, file could not be written.\n");
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(list_tree(folder.path), std::vector<std::string>{"setup.exe"});
}

} // namespace
