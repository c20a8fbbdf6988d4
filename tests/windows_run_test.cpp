// SPDX-License-Identifier: Zlib
// End-to-end runs of a Windows stub under Wine: the real C runtime in text
// mode, the real command interpreter for the notice, a file system that
// ignores letter case. Each test writes a self-extracting file into a fresh
// folder, starts it through the command interpreter as a user would, and
// compares the console bytes and the files it leaves.
//
// Usage: windows_run_test ARCH [gtest flags], ARCH i686 or x86_64. Every test
// runs against the stub, packer and helper cross-built for ARCH. The 64-bit
// programs run under wine64; the 32-bit ones under Wine's 32-bit loader,
// which this machine's kernel runs only through qemu's user-mode emulation.
// Each run of this program creates one 64-bit Wine prefix for all its tests
// (creating one takes seconds); 32-bit programs run in it as on 64-bit Windows.
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace {

std::string wine_program;       // the Wine loader for the programs under test
std::string wine64_program;     // the 64-bit loader, which creates the prefix
std::string wineserver_program; // the server of the 64-bit prefix
std::string windows_build;      // the folder of the cross-built programs

std::string windows_program(const char *name) {
    return windows_build + "/" + name;
}

const std::string &windows_stub_image() {
    static const std::string image = read_file(windows_program("sfxstub.exe"));
    return image;
}

// Console text as the stub's text-mode stdout delivers it: every "\n" as CR LF.
std::string crlf(const std::string &text) {
    std::string converted;
    for (char c : text) {
        if (c == '\n')
            converted += '\r';
        converted += c;
    }
    return converted;
}

// Starts `command_line` in `folder` through the command interpreter, the way
// a user types it at the prompt; standard output goes to a pipe, not a console.
// Every stub run prints its "File :" line first, so a run whose output starts
// otherwise never reached the stub: under emulation and load, Wine now and then
// fails to start a program (seen with status 49 and no output, and with the
// interpreter's "Application could not be started"). Such a run is said on
// standard error and tried once more; a second one is the test's result.
program_run run_in_cmd(const std::string &folder, const std::string &command_line) {
    const std::vector<std::string> arguments = {wine_program, "cmd", "/c", command_line};
    program_run run = run_program(wine_program, arguments, folder);
    if (run.output.compare(0, 7, "File : ") == 0)
        return run;
    std::fprintf(stderr,
                 "the stub did not start for '%s' (status %d, output '%s', errors '%s'); "
                 "starting it again\n",
                 command_line.c_str(), run.exit_status, run.output.c_str(), run.errors.c_str());
    return run_program(wine_program, arguments, folder);
}

void write_windows_setup(const std::string &folder, const std::vector<archive_member> &members,
                         const std::string &name = "setup.exe") {
    std::string path = folder + "/" + name;
    ASSERT_TRUE(write_sfx_file(path.c_str(), windows_stub_image(), members)) << path;
}

// The Windows stub, filler, the raw `members` bytes and a sound trailer.
void write_raw_windows_setup(const std::string &folder, const std::string &members) {
    write_raw_setup(folder, members, 0, "setup.exe", &windows_stub_image());
}

const std::string WINDOWS_FILE_LINE = "File : SETUP.EXE\r\n";
const std::string WINDOWS_SEPARATOR = std::string(79, '-') + "\r\n";

TEST(WindowsRun, TypicalRunWithNotice) {
    temp_folder folder;
    std::string data = patterned_data(40000);
    // A notice as Windows editors write it; type copies its bytes unchanged.
    std::string notice = "Thank you for installing.\r\nRun demo.exe to begin.\r\n";
    write_windows_setup(folder.path, {directory_member("data"), file_member("data\\big.bin", data),
                                      file_member("_setup_.txt", notice)});

    program_run run = run_in_cmd(folder.path, "setup.exe");

    EXPECT_EQ(run.output, WINDOWS_FILE_LINE + "Directory  : data, done\r\n" +
                              "Extracting : data\\big.bin "
                              "  0.0 %\b\b\b\b\b\b\b"
                              " 40.0 %\b\b\b\b\b\b\b"
                              " 80.0 %\b\b\b\b\b\b\b"
                              "\b, done  \r\n" +
                              crlf(file_line("_setup_.txt", figure("0.0"))) + WINDOWS_SEPARATOR +
                              notice);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(read_file(folder / "data/big.bin"), data);
    EXPECT_EQ(read_file(folder / "_setup_.txt"), notice);
    EXPECT_EQ(list_tree(folder.path),
              (std::vector<std::string>{"_setup_.txt", "data/", "data/big.bin", "setup.exe"}));
}

TEST(WindowsRun, NoticeAlreadyThereIsShownAfterAnEmptyArchive) {
    temp_folder folder;
    std::string notice = "line feeds only\nno line end";
    write_file(folder / "_setup_.txt", notice);
    write_windows_setup(folder.path, {});

    program_run run = run_in_cmd(folder.path, "setup.exe");

    EXPECT_EQ(run.output, WINDOWS_FILE_LINE + "!!!Error, no files for extraction.\r\n" +
                              WINDOWS_SEPARATOR + notice);
    EXPECT_EQ(run.exit_status, 1);
}

// Only a file on disk is shown: a folder of the notice's name is not the
// archive's notice, and the interpreter's type is not even started for it.
TEST(WindowsRun, NoticeThatIsAFolderShowsNothing) {
    temp_folder folder;
    ASSERT_EQ(mkdir((folder / "_setup_.txt").c_str(), 0755), 0);
    write_windows_setup(folder.path, {file_member("a.txt", "a")});

    program_run run = run_in_cmd(folder.path, "setup.exe");

    EXPECT_EQ(run.output,
              WINDOWS_FILE_LINE + crlf(file_line("a.txt", figure("0.0"))) + WINDOWS_SEPARATOR);
    EXPECT_EQ(run.exit_status, 0);
}

TEST(WindowsRun, WrongLengthIsRefused) {
    temp_folder folder;
    write_windows_setup(folder.path, {file_member("a.txt", "hello")});
    write_file(folder / "setup.exe", read_file(folder / "setup.exe") + "x");
    write_file(folder / "_setup_.txt", "must not be shown");

    program_run run = run_in_cmd(folder.path, "setup.exe");

    EXPECT_EQ(run.output, WINDOWS_FILE_LINE +
                              "!!!Error, This file is not of the original's length.\r\n" +
                              "!!!Error, It is recommended to obtain another copy.\r\n");
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(list_tree(folder.path), (std::vector<std::string>{"_setup_.txt", "setup.exe"}));
}

TEST(WindowsRun, BadRecordEndsTheRunWithoutNotice) {
    temp_folder folder;
    write_file(folder / "_setup_.txt", "must not be shown");
    write_raw_windows_setup(folder.path, record_bytes('d', "one", 0) +
                                             record_bytes('f', "one\\two.txt", 3) + "two" +
                                             record_bytes('f', "bad.txt", 0, RECORD_MAGIC + 1) +
                                             record_bytes('f', "after.txt", 0));

    program_run run = run_in_cmd(folder.path, "setup.exe");

    EXPECT_EQ(run.output, WINDOWS_FILE_LINE + crlf(directory_line("one")) +
                              crlf(file_line("one\\two.txt", figure("0.0"))) +
                              "!!!Error, bad file record.\r\n");
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(read_file(folder / "one/two.txt"), "two");
    EXPECT_EQ(list_tree(folder.path),
              (std::vector<std::string>{"_setup_.txt", "one/", "one/two.txt", "setup.exe"}));
}

// A checked member damaged in its data or its name is found while it is
// copied: the file is removed and the run ends as after a bad record.
TEST(WindowsRun, DamagedMemberIsRemovedAndEndsTheRun) {
    const std::string big = patterned_data(40000, 13);
    const int64_t big_record = ARCHIVE_START + RECORD_SIZE + 3;
    struct damage_case {
        const char *what;
        int64_t offset;
        std::string shown; // the damaged member's name on its line
    };
    const damage_case cases[] = {
        {"data byte", big_record + RECORD_SIZE + 30000, "big.bin"},
        {"name byte", big_record + RECORD_NAME_OFFSET, "cig.bin"},
    };
    for (const damage_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder folder;
        write_file(folder / "_setup_.txt", "must not be shown");
        write_windows_setup(folder.path,
                            {file_member("first.txt", "1st"), file_member("big.bin", big),
                             file_member("after.txt", "a")});
        flip_bit(folder / "setup.exe", c.offset);

        program_run run = run_in_cmd(folder.path, "setup.exe");

        EXPECT_EQ(run.output, WINDOWS_FILE_LINE + crlf(file_line("first.txt", figure("0.0"))) +
                                  "Extracting : " + c.shown + " " + figure("0.0") + figure("40.0") +
                                  figure("80.0") + "\b, failed\r\n" +
                                  "!!!Error, the data of this file is damaged.\r\n"
                                  "!!!Error, It is recommended to obtain another copy.\r\n");
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(list_tree(folder.path),
                  (std::vector<std::string>{"_setup_.txt", "first.txt", "setup.exe"}));
    }
}

// A good member comes out the same with the extension, without it, and with
// random bytes behind its name; the Windows stubs ignore the executable flag.
TEST(WindowsRun, ExtensionChangesNothingForAGoodMember) {
    const std::string data = patterned_data(20000, 14);
    const std::string slack = patterned_data(NAME_FIELD_SIZE - 6, 15);
    struct variant {
        const char *what;
        std::vector<archive_member> members; // empty: the raw records below
    };
    const variant variants[] = {
        {"checked", {file_member("a.bin", data), directory_member("d")}},
        {"checked, flagged executable", {executable_member("a.bin", data), directory_member("d")}},
        {"unchecked", {unchecked(file_member("a.bin", data)), unchecked(directory_member("d"))}},
        {"random bytes behind the names", {}},
    };
    for (const variant &v : variants) {
        SCOPED_TRACE(v.what);
        temp_folder folder;
        if (v.members.empty())
            write_raw_windows_setup(
                folder.path, record_bytes('f', std::string("a.bin") + '\0' + slack, 20000) + data +
                                 record_bytes('d', std::string("d") + '\0' + slack, 0));
        else
            write_windows_setup(folder.path, v.members);

        program_run run = run_in_cmd(folder.path, "setup.exe");

        EXPECT_EQ(run.output,
                  WINDOWS_FILE_LINE + crlf(file_line("a.bin", figure("0.0") + figure("80.0")) +
                                           directory_line("d") + SEPARATOR));
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_TRUE(read_file(folder / "a.bin") == data);
        EXPECT_EQ(list_tree(folder.path), (std::vector<std::string>{"a.bin", "d/", "setup.exe"}));
    }
}

// At a share exactly halfway between two tenths the figure is the C runtime
// DLL's own, rounded away from zero, as the stub always showed it: a member
// of 51200 bytes is 31.25 % through after its first chunk and shows 31.3
// (the Linux stub, as the C library there, shows 31.2).
TEST(WindowsRun, FigureHalfwayBetweenTenthsIsTheRuntimesOwn) {
    const std::string data = patterned_data(51200, 16);
    temp_folder folder;
    write_windows_setup(folder.path, {file_member("half.bin", data)});

    program_run run = run_in_cmd(folder.path, "setup.exe");

    EXPECT_EQ(run.output,
              WINDOWS_FILE_LINE + crlf(file_line("half.bin", figure("0.0") + figure("31.3") +
                                                                 figure("62.5") + figure("93.8")) +
                                       SEPARATOR));
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_TRUE(read_file(folder / "half.bin") == data);
}

// The start name is shown upper-cased, with ".EXE" appended when it holds
// none; the program's own file opens whatever that name leads to.
TEST(WindowsRun, StartNameIsUpperCasedAndOpensTheFile) {
    struct name_case {
        std::string file;       // the self-extracting file on disk
        std::string start_name; // what the user types
        std::string shown;      // the name on the "File :" line
    };
    const name_case cases[] = {
        {"setup.exe", "setup", "SETUP.EXE"},
        {"Setup.Exe", "sEtUp.exe", "SETUP.EXE"},
        {"setup.com", "setup.com", "SETUP.COM.EXE"},
    };
    for (const name_case &c : cases) {
        SCOPED_TRACE(c.start_name);
        temp_folder folder;
        write_windows_setup(folder.path, {file_member("out.txt", "x")}, c.file);

        program_run run = run_in_cmd(folder.path, c.start_name);

        EXPECT_EQ(run.output, "File : " + c.shown + "\r\n" +
                                  crlf(file_line("out.txt", figure("0.0")) + SEPARATOR));
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(read_file(folder / "out.txt"), "x");
    }
}

// Started as pack.com, the stub looks for PACK.COM.EXE. Another archive of
// that name beside it must not be extracted: the stub reads only the file it
// runs from, which the system names when the start name leads elsewhere.
TEST(WindowsRun, NameLeadingToAnotherArchiveGivesWayToTheRunningFile) {
    temp_folder folder;
    write_windows_setup(folder.path, {file_member("mine.txt", "m")}, "pack.com");
    write_windows_setup(folder.path, {file_member("other.txt", "o")}, "pack.com.exe");

    program_run run = run_in_cmd(folder.path, "pack.com");

    EXPECT_EQ(run.output,
              "File : PACK.COM.EXE\r\n" + crlf(file_line("mine.txt", figure("0.0")) + SEPARATOR));
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(list_tree(folder.path),
              (std::vector<std::string>{"mine.txt", "pack.com", "pack.com.exe"}));
}

// A Windows path on Wine's root drive for `unix_path`.
std::string windows_path(const std::string &unix_path) {
    std::string path = "Z:" + unix_path;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// cmd finds the program along PATH and hands it the bare name.
TEST(WindowsRun, RunThroughTheSearchPathFromAnEmptyFolder) {
    temp_folder root;
    make_folder(root / "bin");
    make_folder(root / "empty");
    write_windows_setup(root / "bin", {file_member("a.txt", "a")});

    program_run run =
        run_in_cmd(root / "empty", "set PATH=" + windows_path(root / "bin") + ";%PATH%&& setup");

    EXPECT_EQ(run.output, WINDOWS_FILE_LINE + crlf(file_line("a.txt", figure("0.0")) + SEPARATOR));
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(list_tree(root / "empty"), std::vector<std::string>{"a.txt"});
}

// The program's full path as Windows names it on Wine's root drive, upper-cased.
std::string shown_windows_path(const std::string &unix_path) {
    std::string shown = "Z:" + unix_path;
    for (char &c : shown) {
        if (c == '/')
            c = '\\';
        else if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return shown;
}

// Started straight from the loader, the program gets its full path, with
// directory parts and a drive letter; started with an empty command line, it
// asks the system for that path.
TEST(WindowsRun, FullPathAndEmptyCommandLine) {
    struct start_case {
        const char *what;
        bool through_empty_command_line;
    };
    const start_case cases[] = {{"full path", false}, {"empty command line", true}};
    for (const start_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder folder;
        write_windows_setup(folder.path, {file_member("out.txt", "x")});
        // The helper gets the bare name: the full path can only come from the system.
        std::vector<std::string> arguments = {wine_program, folder / "setup.exe"};
        if (c.through_empty_command_line)
            arguments = {wine_program, windows_program("empty-command-line.exe"), "setup.exe"};

        program_run run = run_program(wine_program, arguments, folder.path);

        EXPECT_EQ(run.output, "File : " + shown_windows_path(folder / "setup.exe") + "\r\n" +
                                  crlf(file_line("out.txt", figure("0.0")) + SEPARATOR));
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(read_file(folder / "out.txt"), "x");
    }
}

// Started without standard handles (none, or an invalid one), the stub lets
// no member take their place: every member gets its own bytes only, and the
// notice's interpreter is started all the same.
TEST(WindowsRun, MissingStandardHandlesLeaveMembersWhole) {
    temp_folder folder;
    const std::vector<archive_member> members = {
        directory_member("dir"), file_member("dir\\a.bin", patterned_data(40000)),
        file_member("b.txt", "b"), file_member("_setup_.txt", "notice")};
    write_windows_setup(folder.path, members);

    program_run run = run_program(
        wine_program,
        {wine_program, windows_program("missing-standard-handles.exe"), "setup.exe", "setup.exe"},
        folder.path);

    EXPECT_EQ(run.exit_status, 0) << run.output << run.errors;
    EXPECT_TRUE(read_file(folder / "dir/a.bin") == members[1].data);
    EXPECT_EQ(read_file(folder / "b.txt"), "b");
    EXPECT_EQ(read_file(folder / "_setup_.txt"), "notice");
    EXPECT_EQ(list_tree(folder.path),
              (std::vector<std::string>{"_setup_.txt", "b.txt", "dir/", "dir/a.bin", "setup.exe"}));
}

// Where two byte strings first differ (the shorter one's length when one
// begins the other), for a failure message that does not print them whole.
size_t first_difference(const std::string &a, const std::string &b) {
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    return at;
}

bool ends_with(const std::string &text, const std::string &end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The Windows packer, run under Wine, writes the very bytes the Linux packer
// writes for the same tree, stub and notice; and the stub gives the tree back.
TEST(WindowsPack, SameFileAsTheLinuxPackerAndExtractsTheTree) {
    temp_folder folder;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"readme.txt", "Read me first.\r\n"},
        {"docs/changes.txt", "1.0: first release\n"},
        {"docs/guides/install.txt", patterned_data(40000, 2)},
        {"docs/guides/usage.txt", ""},
        {"data/colors.csv", "red,green,blue\n"},
    };
    for (const char *directory :
         {"tree", "tree/docs", "tree/docs/guides", "tree/data", "tree/empty"})
        ASSERT_EQ(mkdir((folder / directory).c_str(), 0755), 0) << directory;
    for (const auto &file : files)
        write_file(folder / ("tree/" + file.first), file.second);
    std::string notice = "Thank you.\r\n";
    write_file(folder / "notice.txt", notice);
    write_file(folder / "stub.exe", windows_stub_image());
    const std::vector<std::string> pack_options = {"-s",       "stub.exe",   "-C", "tree",
                                                   "--notice", "notice.txt", "."};
    std::vector<std::string> windows_arguments = {wine_program, windows_program("sfxpack.exe"),
                                                  "-o", "windows.exe"};
    // Without the preload meant for Wine, which a sanitized packer refuses.
    std::vector<std::string> linux_arguments = {"env",        "-u", "LD_PRELOAD",
                                                SFXPACK_PATH, "-o", "linux.exe"};
    windows_arguments.insert(windows_arguments.end(), pack_options.begin(), pack_options.end());
    linux_arguments.insert(linux_arguments.end(), pack_options.begin(), pack_options.end());

    program_run windows_run = run_program(wine_program, windows_arguments, folder.path);
    program_run linux_run = run_program("/usr/bin/env", linux_arguments, folder.path);

    ASSERT_EQ(windows_run.exit_status, 0) << windows_run.output << windows_run.errors;
    EXPECT_EQ(windows_run.output + windows_run.errors, "");
    ASSERT_EQ(linux_run.exit_status, 0) << linux_run.errors;
    std::string windows_file = read_file(folder / "windows.exe");
    std::string linux_file = read_file(folder / "linux.exe");
    EXPECT_NE(linux_file.find("docs\\guides\\install.txt"), std::string::npos);
    ASSERT_TRUE(windows_file == linux_file)
        << "sizes " << windows_file.size() << " (Windows) and " << linux_file.size()
        << " (Linux), first difference at byte " << first_difference(windows_file, linux_file);

    temp_folder target;
    write_file(target / "setup.exe", windows_file);
    program_run run = run_in_cmd(target.path, "setup.exe");

    EXPECT_TRUE(ends_with(run.output, WINDOWS_SEPARATOR + notice)) << run.output;
    EXPECT_EQ(
        list_tree(target.path),
        (std::vector<std::string>{"_setup_.txt", "data/", "data/colors.csv", "docs/",
                                  "docs/changes.txt", "docs/guides/", "docs/guides/install.txt",
                                  "docs/guides/usage.txt", "empty/", "readme.txt", "setup.exe"}));
    for (const auto &file : files)
        EXPECT_TRUE(read_file(target / file.first) == file.second) << file.first;
}

// The Windows packer refuses, as the Linux packer does for a Windows stub and
// in its words, names Windows takes as one: letter case of ASCII and of the
// code page's letters, every pair in one run.
TEST(WindowsPack, RefusesNamesWindowsTakesAsOneLikeTheLinuxPacker) {
    temp_folder folder;
    make_folder(folder / "tree");
    for (const char *name :
         {"Index.html", "index.html", "\xc3\x89t\xc3\xa9.txt", "\xc3\xa9T\xc3\x89.TXT", "fine.txt"})
        write_file(folder / (std::string("tree/") + name), "x");
    write_file(folder / "stub.exe", windows_stub_image());
    const std::vector<std::string> pack_options = {"-s", "stub.exe", "-C", "tree", "."};
    std::vector<std::string> windows_arguments = {wine_program, windows_program("sfxpack.exe"),
                                                  "-o", "windows.exe"};
    std::vector<std::string> linux_arguments = {"env",        "-u", "LD_PRELOAD",
                                                SFXPACK_PATH, "-o", "linux.exe"};
    windows_arguments.insert(windows_arguments.end(), pack_options.begin(), pack_options.end());
    linux_arguments.insert(linux_arguments.end(), pack_options.begin(), pack_options.end());

    program_run windows_run = run_program(wine_program, windows_arguments, folder.path);
    program_run linux_run = run_program("/usr/bin/env", linux_arguments, folder.path);

    EXPECT_EQ(windows_run.exit_status, 1);
    EXPECT_EQ(linux_run.exit_status, 1);
    // The Windows packer's standard error is in text mode.
    EXPECT_EQ(windows_run.errors, crlf(linux_run.errors));
    const std::string one_name = " are one name on Windows, which ignores letter case\n";
    EXPECT_EQ(linux_run.errors,
              "sfxpack: 'tree/Index.html' and 'tree/index.html'" + one_name +
                  "sfxpack: 'tree/\xc3\x89t\xc3\xa9.txt' and 'tree/\xc3\xa9T\xc3\x89.TXT'" +
                  one_name);
    EXPECT_FALSE(path_exists(folder / "windows.exe"));
    EXPECT_FALSE(path_exists(folder / "linux.exe"));
}

// The Windows packer is built without liblzma: -z is a mistake on its command
// line, which says why, and no file is made.
TEST(WindowsPack, RefusesCompressionWithoutLiblzma) {
    temp_folder folder;
    make_folder(folder / "tree");
    write_file(folder / "tree/a.txt", "a");
    write_file(folder / "stub.exe", windows_stub_image());

    program_run run = run_program(wine_program,
                                  {wine_program, windows_program("sfxpack.exe"), "-z", "-s",
                                   "stub.exe", "-o", "setup.exe", "-C", "tree", "."},
                                  folder.path);

    EXPECT_EQ(run.exit_status, 2);
    EXPECT_EQ(run.errors, crlf("sfxpack: -z can't be used: this sfxpack was built without "
                               "liblzma, which -z needs\nTry 'sfxpack --help'.\n"));
    EXPECT_FALSE(path_exists(folder / "setup.exe"));
}

// Windows path syntax decides what is absolute: a drive, with or without its
// root, and a path from the root by either separator are refused as such.
TEST(WindowsRun, PackerRefusesPathsOutsideTheFolder) {
    temp_folder folder;
    write_file(folder / "stub.exe", windows_stub_image());
    for (const char *path : {"C:/x", "c:x", "\\x", "/x"}) {
        SCOPED_TRACE(path);
        program_run run = run_program(wine_program,
                                      {wine_program, windows_program("sfxpack.exe"), "-s",
                                       "stub.exe", "-o", "setup.exe", path},
                                      folder.path);
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_NE(run.errors.find(std::string("sfxpack: '") + path +
                                  "' is absolute; the extractor only takes names inside its "
                                  "folder (use -C DIR to pack from elsewhere)"),
                  std::string::npos)
            << run.errors;
        EXPECT_EQ(list_tree(folder.path), std::vector<std::string>{"stub.exe"});
    }
}

// Names packed by sfxpack for a Windows stub are stored in code page 1252 and
// come out as they were on the packing machine. Wine reads 8-bit names in the
// code page of its locale, 1252 under the C locales the tests run in.
TEST(WindowsRun, NamesPackedInTheCodePageComeOutAsTheyWere) {
    // UTF-8 on disk here, and as stored in code page 1252.
    const std::string cafe = "caf\xc3\xa9.txt", cafe_stored = "caf\xe9.txt";
    const std::string naive = "na\xc3\xafve", naive_stored = "na\xefve";
    const std::string euro = "\xc3\x9c"
                             "ber \xe2\x82\xac.txt",
                      euro_stored = "\xdc"
                                    "ber \x80.txt";
    temp_folder folder;
    ASSERT_EQ(mkdir((folder / "src").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((folder / ("src/" + naive)).c_str(), 0755), 0);
    write_file(folder / ("src/" + cafe), "1");
    write_file(folder / ("src/" + naive + "/" + euro), "2");
    ASSERT_EQ(mkdir((folder / "run").c_str(), 0755), 0);
    // Without the preload meant for Wine, which a sanitized packer refuses.
    program_run pack =
        run_program("/usr/bin/env",
                    {"env", "-u", "LD_PRELOAD", SFXPACK_PATH, "-s", windows_program("sfxstub.exe"),
                     "-o", folder / "run/setup.exe", "-C", "src", "."},
                    folder.path);
    ASSERT_EQ(pack.exit_status, 0) << pack.errors;

    program_run run = run_in_cmd(folder / "run", "setup.exe");

    EXPECT_EQ(run.output,
              WINDOWS_FILE_LINE +
                  crlf(file_line(cafe_stored, figure("0.0")) + directory_line(naive_stored) +
                       file_line(naive_stored + "\\" + euro_stored, figure("0.0")) + SEPARATOR));
    EXPECT_EQ(list_tree(folder / "run"),
              (std::vector<std::string>{cafe, naive + "/", naive + "/" + euro, "setup.exe"}));
    EXPECT_EQ(read_file(folder / ("run/" + naive + "/" + euro)), "2");
}

// A file of sfxpack -z with the Windows stub shows the bytes and leaves the
// tree of a plain file of the same members, in the order the container holds
// them (the directory, then the files by extension): the notice included.
TEST(WindowsRun, CompressedFileShowsWhatThePlainFileShows) {
    temp_folder folder;
    std::string data = patterned_data(40000);
    std::string notice = "Thank you for installing.\r\n";
    for (const char *made : {"src", "src/data", "z", "plain"})
        ASSERT_EQ(mkdir((folder / made).c_str(), 0755), 0);
    write_file(folder / "src/data/big.bin", data);
    write_file(folder / "src/_setup_.txt", notice);
    // Without the preload meant for Wine, which a sanitized packer refuses.
    program_run pack = run_program("/usr/bin/env",
                                   {"env", "-u", "LD_PRELOAD", SFXPACK_PATH, "-z", "-s",
                                    windows_program("sfxstub.exe"), "-o", folder / "z/setup.exe",
                                    "-C", "src", "."},
                                   folder.path);
    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    write_windows_setup(folder / "plain",
                        {directory_member("data"), file_member("data\\big.bin", data),
                         file_member("_setup_.txt", notice)});

    program_run compressed = run_in_cmd(folder / "z", "setup.exe");
    program_run plain = run_in_cmd(folder / "plain", "setup.exe");

    EXPECT_EQ(compressed.output, plain.output);
    EXPECT_NE(plain.output.find(" 80.0 %"), std::string::npos) << plain.output;
    EXPECT_EQ(compressed.exit_status, 0);
    EXPECT_EQ(plain.exit_status, 0);
    EXPECT_EQ(read_file(folder / "z/data/big.bin"), data);
    EXPECT_EQ(read_file(folder / "z/_setup_.txt"), notice);
    EXPECT_EQ(list_tree(folder / "z"), list_tree(folder / "plain"));
}

// The console text of every figure a member of `size` bytes shows.
std::string figures_for(size_t size) {
    std::string figures;
    for (size_t done = 0; done < size; done += COPY_CHUNK) {
        char share[16];
        std::snprintf(share, sizeof share, "%03.1f", static_cast<double>(done) * 100.0 / size);
        figures += figure(share);
    }
    return figures;
}

// A cmd.exe extracted into the folder, or into a folder below it, is never
// the one that shows the notice, however COMSPEC is set: named absolutely,
// the stub copies the notice itself. The planted one is a copy of the stub:
// run, it would print its "File :" line.
TEST(WindowsRun, NoticeNeverRunsAnInterpreterFromTheFolder) {
    struct comspec_case {
        const char *what;
        std::string planted_as; // the member that holds the planted interpreter
        std::string setting;    // cmd text before starting setup.exe; FOLDER is replaced
        bool upper_cased;       // FOLDER becomes the folder's path in upper case
    };
    const comspec_case cases[] = {
        {"as the system sets it", "cmd.exe", "", false},
        {"unset", "cmd.exe", "set COMSPEC=&& ", false},
        {"relative", "cmd.exe", "set COMSPEC=cmd.exe&& ", false},
        {"relative with a folder", "cmd.exe", "set COMSPEC=.\\cmd.exe&& ", false},
        {"absolute but missing", "cmd.exe", "set COMSPEC=C:\\nowhere\\cmd.exe&& ", false},
        {"absolute, the planted one", "cmd.exe", "set COMSPEC=FOLDER\\cmd.exe&& ", false},
        {"absolute, in another letter case", "cmd.exe", "set COMSPEC=FOLDER\\CMD.EXE&& ", true},
        {"absolute, in a folder below", "sub\\cmd.exe", "set COMSPEC=FOLDER\\sub\\cmd.exe&& ",
         false},
    };
    const std::string planted = windows_stub_image();
    const std::string notice = "the notice\r\n";
    for (const comspec_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder folder;
        std::vector<archive_member> members = {file_member(c.planted_as, planted),
                                               file_member("_setup_.txt", notice)};
        std::string lines = file_line(c.planted_as, figures_for(planted.size())) +
                            file_line("_setup_.txt", figure("0.0"));
        if (c.planted_as != "cmd.exe") {
            members.insert(members.begin(), directory_member("sub"));
            lines = directory_line("sub") + lines;
        }
        write_windows_setup(folder.path, members);
        std::string setting = c.setting;
        size_t at = setting.find("FOLDER");
        if (at != std::string::npos)
            setting.replace(
                at, 6, c.upper_cased ? shown_windows_path(folder.path) : windows_path(folder.path));

        program_run run = run_in_cmd(folder.path, setting + "setup.exe");

        EXPECT_EQ(run.output, WINDOWS_FILE_LINE + crlf(lines) + WINDOWS_SEPARATOR + notice);
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_TRUE(read_file(folder / (c.planted_as == "cmd.exe" ? "cmd.exe" : "sub/cmd.exe")) ==
                    planted);
    }
}

// Names Windows opens as devices, or as another drive, and names holding
// control bytes are bad records: the run stops before the member is printed
// or anything is written, so no data goes to a serial port, a printer or the
// console.
TEST(WindowsRun, DeviceAndDriveNamesAreBadRecords) {
    for (const hostile_name &c : HOSTILE_NAMES) {
        SCOPED_TRACE(testing::PrintToString(c.name) + " " + c.kind);
        temp_folder folder;
        write_raw_windows_setup(folder.path, record_bytes('d', "sub", 0) +
                                                 record_bytes(c.kind, c.name, 4) + "data" +
                                                 record_bytes('f', "after.txt", 1) + "a");

        program_run run = run_in_cmd(folder.path, "setup.exe");

        EXPECT_EQ(run.output, WINDOWS_FILE_LINE + crlf(directory_line("sub")) +
                                  "!!!Error, bad file record.\r\n");
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(list_tree(folder.path), (std::vector<std::string>{"setup.exe", "sub/"}));
    }
}

// Code page 1252 has no character for 0x81: sfxpack.exe, whose system maps
// it to a C1 control, and the Linux sfxpack, whose converter finds none,
// both refuse it, as the stub does, and stop there, each giving the reason
// its own conversion found.
TEST(WindowsPack, BothPackersRefuseBytesWithoutMeaningInTheCodePage) {
    temp_folder folder;
    write_raw_windows_setup(folder.path, record_bytes('f', "ok.txt", 2) + "ok" +
                                             record_bytes('f', "bad\x81.txt", 1) + "b" +
                                             record_bytes('f', "after.txt", 1) + "a");
    make_folder(folder / "windows");
    make_folder(folder / "linux");

    program_run windows_run = run_program(
        wine_program,
        {wine_program, windows_program("sfxpack.exe"), "-x", "setup.exe", "-C", "windows"},
        folder.path);
    program_run linux_run = run_program(
        "/usr/bin/env", {"env", "-u", "LD_PRELOAD", SFXPACK_PATH, "-x", "setup.exe", "-C", "linux"},
        folder.path);

    const std::string record = "sfxpack: 'setup.exe': bad record at offset 54266 (name holds ";
    const std::string stop = "; the extractor stops there\n";
    EXPECT_EQ(linux_run.errors, record + "bytes that mean nothing in the code page)" + stop);
    EXPECT_EQ(windows_run.errors, crlf(record + "a control character)" + stop));
    EXPECT_EQ(linux_run.exit_status, 1);
    EXPECT_EQ(windows_run.exit_status, 1);
    EXPECT_EQ(list_tree(folder / "windows"), std::vector<std::string>{"ok.txt"});
    EXPECT_EQ(list_tree(folder / "linux"), std::vector<std::string>{"ok.txt"});
}

// Builds the locale ko_KR.UTF-8 into `folder` (for LOCPATH), so that Wine
// runs programs in code page 949; false where it can't be built.
bool build_korean_locale(const std::string &folder) {
    program_run built =
        run_program("/usr/bin/localedef",
                    {"localedef", "-i", "ko_KR", "-f", "UTF-8", folder + "/ko_KR.UTF-8"}, folder);
    return built.exit_status == 0 || path_exists(folder + "/ko_KR.UTF-8/LC_CTYPE");
}

// The stub judges device names in the code page of the system it runs on:
// COM followed by A9 F7, a superscript 2 in code page 949, is COM2 there.
TEST(WindowsRun, DeviceNamesAreJudgedInTheSystemsCodePage) {
    temp_folder locales;
    if (!build_korean_locale(locales.path))
        GTEST_SKIP() << "localedef can't build ko_KR.UTF-8 (package locales)";
    auto run_korean = [&](const std::string &folder) {
        return run_program("/usr/bin/env",
                           {"env", "LOCPATH=" + locales.path, "LC_ALL=ko_KR.UTF-8", wine_program,
                            "cmd", "/c", "setup.exe"},
                           folder);
    };
    // C7 D1 is a Hangul syllable in code page 949 (two characters in 1252).
    const std::string hangul = "\xed\x95\x9c.txt";
    temp_folder plain;
    write_raw_windows_setup(plain.path, record_bytes('f', "\xc7\xd1.txt", 1) + "k");
    program_run korean = run_korean(plain.path);
    if (list_tree(plain.path) != std::vector<std::string>{"setup.exe", hangul})
        GTEST_SKIP() << "Wine does not run in code page 949 here: " << korean.output;

    temp_folder folder;
    write_raw_windows_setup(folder.path, record_bytes('d', "sub", 0) +
                                             record_bytes('f', "COM\xa9\xf7", 4) + "data" +
                                             record_bytes('f', "after.txt", 1) + "a");

    program_run run = run_korean(folder.path);

    EXPECT_EQ(run.output,
              WINDOWS_FILE_LINE + crlf(directory_line("sub")) + "!!!Error, bad file record.\r\n");
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(list_tree(folder.path), (std::vector<std::string>{"setup.exe", "sub/"}));
}

bool under_ci() {
    const char *ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0' && std::strcmp(ci, "false") != 0 &&
           std::strcmp(ci, "0") != 0;
}

const int SKIP_STATUS = 77; // ctest's skip, see SKIP_RETURN_CODE

// Under CI a missing tool fails the run; on a developer's machine it skips.
int missing(const std::string &what) {
    if (under_ci()) {
        std::printf("FAILED: %s (tests/run-all sets it up)\n", what.c_str());
        return 1;
    }
    std::printf("SKIPPED: %s (bash tests/run-all sets it up)\n", what.c_str());
    return SKIP_STATUS;
}

// Signed files: signing after packing, as a publisher does, with a throwaway
// certificate; the signing tools run on this machine, not under Wine.

// Runs a native tool without the preload meant for Wine.
program_run run_native(const std::vector<std::string> &command, const std::string &folder) {
    std::vector<std::string> arguments = {"env", "-u", "LD_PRELOAD"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    return run_program("/usr/bin/env", arguments, folder);
}

bool on_path(const std::string &tool) {
    const char *path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "";
    size_t start = 0;
    for (;;) {
        size_t end = folders.find(':', start);
        std::string folder = folders.substr(start, end - start);
        if (!folder.empty() && access((folder + "/" + tool).c_str(), X_OK) == 0)
            return true;
        if (end == std::string::npos)
            return false;
        start = end + 1;
    }
}

// A key and a self-signed certificate made once for all signing tests.
struct signer {
    temp_folder folder;
    std::string key, certificate;
    bool made;
};

const signer &test_signer() {
    static signer s;
    if (!s.key.empty())
        return s;
    s.key = s.folder / "key.pem";
    s.certificate = s.folder / "cert.pem";
    program_run run =
        run_native({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", s.key,
                    "-out", s.certificate, "-days", "2", "-subj", "/CN=sfx test signer"},
                   s.folder.path);
    s.made = run.exit_status == 0;
    if (!s.made)
        std::fprintf(stderr, "openssl req failed: %s\n", run.errors.c_str());
    return s;
}

// Why signing can't be tested here, or "" when it can.
std::string signing_missing() {
    for (const char *tool : {"osslsigncode", "openssl"})
        if (!on_path(tool))
            return std::string(tool) + " is missing";
    return "";
}

// Signs `unsigned_path` into `signed_path` with the test certificate.
program_run sign_file(const std::string &unsigned_path, const std::string &signed_path) {
    const signer &s = test_signer();
    return run_native({"osslsigncode", "sign", "-certs", s.certificate, "-key", s.key, "-in",
                       unsigned_path, "-out", signed_path},
                      "/");
}

int verify_signature(const std::string &path) {
    return run_native({"osslsigncode", "verify", "-CAfile", test_signer().certificate, "-in", path},
                      "/")
        .exit_status;
}

// Skips the test where the signing tools are missing; under CI fails it.
#define REQUIRE_SIGNING_TOOLS()                                                                    \
    do {                                                                                           \
        std::string missing_tool = signing_missing();                                              \
        if (!missing_tool.empty() && under_ci())                                                   \
            FAIL() << missing_tool << " (tests/run-all installs it)";                              \
        if (!missing_tool.empty())                                                                 \
            GTEST_SKIP() << missing_tool << " (bash tests/run-all installs it)";                   \
        ASSERT_TRUE(test_signer().made) << "no test certificate";                                  \
    } while (false)

// Where the security directory entry of the PE program `image` stands.
size_t security_entry_offset(const std::string &image) {
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(image.data());
    size_t optional = decode_le32(bytes + 0x3C) + 24;
    bool plus = bytes[optional] == 0x0B && bytes[optional + 1] == 0x02;
    return optional + (plus ? 112 : 96) + 4 * 8;
}

// The line -l and -t end with for a file signed after packing to
// `unsigned_size` bytes.
std::string signature_line(size_t unsigned_size, size_t signed_size) {
    size_t table = (unsigned_size + 7) / 8 * 8;
    return "signed: a certificate table of " + std::to_string(signed_size - table) +
           " bytes at offset " + std::to_string(table) + " follows the archive (not verified)\n";
}

// A file packed by sfxpack and then signed verifies, runs and gives its tree
// back byte for byte, and sfxpack -l, -t and -x read it; none of them writes
// into it, so the signature still verifies afterwards.
TEST(WindowsSigned, SignedFileVerifiesRunsAndExtracts) {
    REQUIRE_SIGNING_TOOLS();
    temp_folder folder;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"readme.txt", "Signed after packing.\r\n"},
        {"docs/guide.txt", patterned_data(40000, 4)},
        {"docs/empty.txt", ""},
    };
    make_folder(folder / "tree");
    make_folder(folder / "tree/docs");
    for (const auto &file : files)
        write_file(folder / ("tree/" + file.first), file.second);
    const std::string notice = "Thank you.\r\n";
    write_file(folder / "notice.txt", notice);
    program_run pack = run_native({SFXPACK_PATH, "-s", windows_program("sfxstub.exe"), "-o",
                                   "setup.exe", "-C", "tree", "--notice", "notice.txt", "."},
                                  folder.path);
    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    program_run signing = sign_file(folder / "setup.exe", folder / "signed.exe");
    ASSERT_EQ(signing.exit_status, 0) << signing.output << signing.errors;
    const std::string signed_file = read_file(folder / "signed.exe");
    const size_t unsigned_size = read_file(folder / "setup.exe").size();
    ASSERT_GT(signed_file.size(), unsigned_size);
    EXPECT_EQ(verify_signature(folder / "signed.exe"), 0);

    temp_folder target;
    write_file(target / "setup.exe", signed_file);
    program_run run = run_in_cmd(target.path, "setup.exe");

    EXPECT_EQ(run.exit_status, 0) << run.output;
    EXPECT_TRUE(ends_with(run.output, WINDOWS_SEPARATOR + notice)) << run.output;
    EXPECT_EQ(list_tree(target.path),
              (std::vector<std::string>{"_setup_.txt", "docs/", "docs/empty.txt", "docs/guide.txt",
                                        "readme.txt", "setup.exe"}));
    for (const auto &file : files)
        EXPECT_TRUE(read_file(target / file.first) == file.second) << file.first;
    EXPECT_TRUE(read_file(target / "setup.exe") == signed_file);

    const std::string signed_line = signature_line(unsigned_size, signed_file.size());
    program_run list = run_native({SFXPACK_PATH, "-l", "signed.exe"}, folder.path);
    EXPECT_EQ(list.exit_status, 0) << list.errors;
    EXPECT_EQ(list.output, "f checked   -         12 _setup_.txt\n"
                           "d checked   -          0 docs\n"
                           "f checked   -          0 docs\\empty.txt\n"
                           "f checked   -      40000 docs\\guide.txt\n"
                           "f checked   -         23 readme.txt\n"
                           "5 members: 1 directory, 4 files, 40035 data bytes\n" +
                               signed_line);
    program_run test = run_native({SFXPACK_PATH, "-t", "signed.exe"}, folder.path);
    EXPECT_EQ(test.exit_status, 0) << test.errors;
    EXPECT_EQ(test.output, "5 members: 5 checked (0 damaged), 0 unchecked\n" + signed_line);
    make_folder(folder / "out");
    program_run extract = run_native({SFXPACK_PATH, "-x", "signed.exe", "-C", "out"}, folder.path);
    EXPECT_EQ(extract.exit_status, 0) << extract.errors;
    for (const auto &file : files)
        EXPECT_TRUE(read_file(folder / ("out/" + file.first)) == file.second) << file.first;
    EXPECT_TRUE(read_file(folder / "signed.exe") == signed_file);
    EXPECT_EQ(verify_signature(folder / "signed.exe"), 0);
}

// A signed file changed after signing is refused as a file of the wrong
// length, by the stub and by sfxpack, and nothing is extracted.
TEST(WindowsSigned, ChangedSignedFilesAreRefused) {
    REQUIRE_SIGNING_TOOLS();
    temp_folder folder;
    write_windows_setup(folder.path, {file_member("a.txt", "hello!")});
    ASSERT_EQ(sign_file(folder / "setup.exe", folder / "signed.exe").exit_status, 0);
    const std::string signed_file = read_file(folder / "signed.exe");
    const size_t unsigned_size = read_file(folder / "setup.exe").size();
    const size_t table = (unsigned_size + 7) / 8 * 8;
    // Signing padded the file with zero bytes, which one case spoils.
    ASSERT_NE(table, unsigned_size);
    const size_t entry = security_entry_offset(signed_file);
    const uint32_t table_size = static_cast<uint32_t>(signed_file.size() - table);
    ASSERT_EQ(decode_le32(reinterpret_cast<const unsigned char *>(signed_file.data()) + entry),
              table);

    // The file with the security directory naming `size` bytes at `offset`.
    auto with_entry = [&](size_t offset, uint32_t size) {
        std::string changed = signed_file;
        unsigned char *bytes = reinterpret_cast<unsigned char *>(&changed[entry]);
        encode_le32(static_cast<uint32_t>(offset), bytes);
        encode_le32(size, bytes + 4);
        return changed;
    };
    std::string padding_spoilt = signed_file;
    padding_spoilt[table - 1] = '\1';
    struct change_case {
        const char *what;
        std::string file;
        std::string message; // what sfxpack -l says, after the file's name
    };
    const change_case cases[] = {
        {"a byte added after the signature", signed_file + "x",
         "': its certificate table ends 1 bytes before the end of the file"},
        {"a table that does not reach the end", with_entry(table, table_size - 8),
         "': its certificate table ends 8 bytes before the end of the file"},
        {"a table that starts inside the archive",
         with_entry(table - RECORD_SIZE, table_size + RECORD_SIZE),
         "': its certificate table at offset " + std::to_string(table - RECORD_SIZE) +
             " starts inside the archive"},
        {"an entry past the end of the file", with_entry(table, table_size + 8),
         "': its security directory names " + std::to_string(table_size + 8) + " bytes at offset " +
             std::to_string(table) + ", past the end of the file"},
        {"padding that is not zero", padding_spoilt,
         "': the bytes between the length trailer and the certificate table at offset " +
             std::to_string(table) + " are not all zero"},
    };
    for (const change_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder target;
        write_file(target / "setup.exe", c.file);

        program_run run = run_in_cmd(target.path, "setup.exe");

        EXPECT_EQ(run.output, WINDOWS_FILE_LINE +
                                  "!!!Error, This file is not of the original's length.\r\n" +
                                  "!!!Error, It is recommended to obtain another copy.\r\n");
        EXPECT_EQ(run.exit_status, 1);
        program_run list = run_native({SFXPACK_PATH, "-l", "setup.exe"}, target.path);
        EXPECT_EQ(list.exit_status, 1);
        EXPECT_EQ(list.output, "");
        EXPECT_NE(list.errors.find("sfxpack: 'setup.exe" + c.message), std::string::npos)
            << list.errors;
        program_run extract = run_native({SFXPACK_PATH, "-x", "setup.exe"}, target.path);
        EXPECT_EQ(extract.exit_status, 1);
        EXPECT_EQ(list_tree(target.path), std::vector<std::string>{"setup.exe"});
    }
}

std::string find_wine_tool(const char *variable, const char *standard_path) {
    const char *chosen = std::getenv(variable);
    std::string path = chosen != nullptr && *chosen != '\0' ? chosen : standard_path;
    return access(path.c_str(), X_OK) == 0 ? path : std::string();
}

// Runs a Wine tool with its standard streams on /dev/null and waits for it.
// The server and the background programs it starts live on after the tool
// ends; they must not hold the pipes through which run_program reads a test.
int run_quietly(const std::vector<std::string> &arguments) {
    std::vector<char *> argv = exec_arguments(arguments);
    pid_t child = fork();
    if (child == 0) {
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Makes the prefix's processes start and run under emulation (see
// wine-emulation/emulation_fixes.c). Returns false when the 32-bit library
// has not been built.
bool preload_emulation_fixes() {
    std::string library = std::string(WINE_EMULATION_DIR) + "/lib/i386-linux-gnu/" + FIXES_LIBRARY;
    if (access(library.c_str(), R_OK) != 0)
        return false;
    // The loader of each process reads $LIB as its own library folder, so
    // 64-bit processes load the library's empty 64-bit twin.
    setenv("LD_PRELOAD", (std::string(WINE_EMULATION_DIR) + "/$LIB/" + FIXES_LIBRARY).c_str(), 1);
    return true;
}

// Sets up the programs for `arch`; 0 when the tests can run, else the status
// the program ends with.
int choose_target(const std::string &arch) {
    windows_build = std::string(WINDOWS_BUILD_PREFIX) + arch;
    bool is_32_bit = arch == "i686";
    wine64_program = find_wine_tool("SFX_WINE", "/usr/lib/wine/wine64");
    wineserver_program = find_wine_tool("SFX_WINESERVER", "/usr/lib/wine/wineserver64");
    if (wine64_program.empty() || wineserver_program.empty())
        return missing("Wine is missing (package wine64)");
    wine_program = is_32_bit ? find_wine_tool("SFX_WINE32", "/usr/lib/wine/wine") : wine64_program;
    if (wine_program.empty())
        return missing("Wine's 32-bit loader is missing (package wine32:i386)");
    for (const char *built :
         {"sfxstub.exe", "sfxpack.exe", "empty-command-line.exe", "missing-standard-handles.exe"})
        if (access(windows_program(built).c_str(), R_OK) != 0)
            return missing("the " + arch + " Windows build is missing: " + windows_program(built));
    if (!preload_emulation_fixes() && is_32_bit)
        return missing("the emulation fixes for 32-bit Wine are not built (wine_emulation_fixes)");
    if (is_32_bit && run_quietly({wine_program, "--version"}) != 0)
        return missing("32-bit programs do not start: qemu-i386-static is not registered "
                       "with binfmt_misc");
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2 || (std::strcmp(argv[1], "i686") != 0 && std::strcmp(argv[1], "x86_64") != 0)) {
        std::printf("usage: windows_run_test i686|x86_64 [gtest flags]\n");
        return 2;
    }
    if (int status = choose_target(argv[1]))
        return status;

    temp_folder prefix;
    setenv("WINEPREFIX", prefix.path.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    // No dialogs offering to install add-ons nobody here needs. No crash
    // debugger: Wine's background services crash now and then under
    // emulation, and the debugger then hangs the run.
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winedbg.exe=d", 1);
    // A server that stays up between runs saves starting one per test.
    if (run_quietly({wineserver_program, "--persistent"}) != 0 ||
        run_quietly({wine64_program, "wineboot", "--init"}) != 0) {
        std::printf("FAILED: could not set up a Wine prefix in %s\n", prefix.path.c_str());
        return 1;
    }

    int status = RUN_ALL_TESTS();
    // Ends the prefix's server and everything it still runs, before the
    // prefix itself goes away.
    run_quietly({wineserver_program, "--kill"});
    return status;
}
