// SPDX-License-Identifier: Zlib
// The packer's reporter: a message never goes on the end of an open progress
// line, and the run's exit status follows from what was reported.
#include "pack_messages.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(PackMessages, AMessageEndsAnOpenProgressLineFirst) {
    struct message_case {
        const char *what;
        void (*report)();
        const char *message;
    } cases[] = {
        {"error", [] { report_error("can't read '%s' whole", "short"); },
         "sfxpack: can't read 'short' whole\n"},
        {"system error", [] { report_system_error(ENOENT, "can't read '%s'", "gone"); },
         "sfxpack: can't read 'gone': No such file or directory\n"},
        {"warning", [] { report_warning("%d names packed unchecked", 2); },
         "sfxpack: warning: 2 names packed unchecked\n"},
    };
    for (const message_case &c : cases) {
        testing::internal::CaptureStderr();
        report_progress_line(98);
        report_progress_line(99);
        c.report();
        end_progress_line();
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  std::string("\rsfxpack: packing  98 %\rsfxpack: packing  99 %\n") + c.message)
            << c.what;
    }
    testing::internal::CaptureStderr();
    report_progress_line(100);
    end_progress_line();
    end_progress_line();
    report_error("after");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\rsfxpack: packing 100 %\nsfxpack: after\n")
        << "the line is ended once";
}

TEST(PackMessages, TheRunsStatusFollowsFromWhatWasReported) {
    testing::internal::CaptureStderr();
    start_reported_run();
    EXPECT_EQ(reported_run_status(), 0);
    report_warning("only a warning");
    EXPECT_EQ(reported_run_status(), 0);
    report_error("an error");
    EXPECT_EQ(reported_run_status(), 1);
    report_warning("another warning");
    EXPECT_EQ(reported_run_status(), 1);
    start_reported_run();
    EXPECT_EQ(reported_run_status(), 0) << "a new run starts without the last one's errors";
    report_system_error(EIO, "a failed call");
    EXPECT_EQ(reported_run_status(), 1);
    testing::internal::GetCapturedStderr();
}

} // namespace
