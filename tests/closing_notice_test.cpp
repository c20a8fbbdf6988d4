// SPDX-License-Identifier: Zlib
// The end of a run: the separator and the notice text after a run without
// error, neither after a run that met an error.
#include "test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bytes a console would take as control characters must arrive unchanged.
const std::string NOTICE = "Thank you for installing.\r\nSee \"readme\" \xE9\x01\tend\n";

TEST(ClosingNotice, ExistingNoticeIsShownBelowTheSeparator) {
    temp_folder folder;
    write_file(folder / "_setup_.txt", NOTICE);
    write_setup(folder.path, {file_member("a.txt", "a")});

    program_run run = run_setup(folder.path);

    EXPECT_EQ(run.output, FILE_LINE + file_line("a.txt", figure("0.0")) + SEPARATOR + NOTICE);
    EXPECT_EQ(run.exit_status, 0);
}

TEST(ClosingNotice, NoticeExtractedByTheSameArchiveIsShown) {
    temp_folder folder;
    std::string long_notice = patterned_data(70000, 3);
    write_setup(folder.path, {file_member("_setup_.txt", long_notice)});

    program_run run = run_setup(folder.path);

    EXPECT_EQ(run.output,
              FILE_LINE +
                  file_line("_setup_.txt", figure("0.0") + figure("22.9") + figure("45.7") +
                                               figure("68.6") + figure("91.4")) +
                  SEPARATOR + long_notice);
}

TEST(ClosingNotice, EmptyArchiveStillShowsSeparatorAndNotice) {
    temp_folder folder;
    write_file(folder / "_setup_.txt", NOTICE);
    write_setup(folder.path, {});
    program_run run = run_setup(folder.path);
    EXPECT_EQ(run.output, FILE_LINE + "!!!Error, no files for extraction.\n" + SEPARATOR + NOTICE);
    // The notice is shown, yet the run failed: nothing was extracted.
    EXPECT_EQ(run.exit_status, 1);
}

// Only a regular file at the notice's name is shown, through a link or not;
// anything else is not the archive's notice and is passed over silently: a
// folder, a link to /dev/zero (it would never end), a FIFO (it would wait
// for a writer), a link that leads nowhere.
TEST(ClosingNotice, OnlyARegularFileIsShown) {
    struct notice_case {
        const char *what;
        std::function<void(const std::string &)> plant;
        std::string shown;
    };
    const notice_case cases[] = {
        {"a folder", [](const std::string &at) { mkdir(at.c_str(), 0755); }, ""},
        {"a link to /dev/zero",
         [](const std::string &at) { ASSERT_EQ(symlink("/dev/zero", at.c_str()), 0); }, ""},
        {"a FIFO", [](const std::string &at) { ASSERT_EQ(mkfifo(at.c_str(), 0644), 0); }, ""},
        {"a link that leads nowhere",
         [](const std::string &at) { ASSERT_EQ(symlink("missing.txt", at.c_str()), 0); }, ""},
        {"a link to a regular file",
         [](const std::string &at) {
             write_file(at + ".real", NOTICE);
             ASSERT_EQ(symlink("_setup_.txt.real", at.c_str()), 0);
         },
         NOTICE},
    };
    for (const notice_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder folder;
        c.plant(folder / "_setup_.txt");
        write_setup(folder.path, {file_member("a.txt", "a")});

        program_run run =
            run_program("/usr/bin/timeout", {"timeout", "20", "./setup.exe"}, folder.path);

        EXPECT_EQ(run.output, FILE_LINE + file_line("a.txt", figure("0.0")) + SEPARATOR + c.shown);
        EXPECT_EQ(run.exit_status, 0);
    }
}

TEST(ClosingNotice, RunsWithAnErrorShowNeitherSeparatorNorNotice) {
    struct error_case {
        const char *what;
        std::string members;
        int64_t trailer_error;
        std::string start_name;
        std::string expected;
    };
    const error_case cases[] = {
        {"wrong length", "", 1, "./setup.exe",
         FILE_LINE + "!!!Error, This file is not of the original's length.\n"
                     "!!!Error, It is recommended to obtain another copy.\n"},
        {"bad record", record_bytes('f', "a.txt", 0, 0), 0, "./setup.exe",
         FILE_LINE + "!!!Error, bad file record.\n"},
        {"file not created", record_bytes('f', "no/a.txt", 0), 0, "./setup.exe",
         FILE_LINE + "Extracting : no/a.txt \b, failed\n!!!Error, file could not be created.\n"},
    };
    for (const error_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder folder;
        write_file(folder / "_setup_.txt", NOTICE);
        write_raw_setup(folder.path, c.members, c.trailer_error);

        program_run run = run_program(folder / "setup.exe", {c.start_name}, folder.path);

        EXPECT_EQ(run.output, c.expected);
        EXPECT_EQ(run.exit_status, 1);
    }
}

} // namespace
