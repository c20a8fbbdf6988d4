// SPDX-License-Identifier: Zlib
// The record walk against streams that fail the way a device can, which a
// real file on a working disk never does.
#include "archive_reader.h"
#include "run.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

namespace {

// A read-only stream over `bytes` whose reads fail once `fail_at` bytes were delivered.
struct failing_source {
    std::string bytes;
    size_t fail_at;
    size_t position;
};

ssize_t failing_read(void *cookie, char *buffer, size_t size) {
    failing_source *source = static_cast<failing_source *>(cookie);
    if (source->position >= source->fail_at) {
        errno = EIO;
        return -1;
    }
    size_t count =
        std::min(size, std::min(source->fail_at, source->bytes.size()) - source->position);
    std::memcpy(buffer, source->bytes.data() + source->position, count);
    source->position += count;
    return static_cast<ssize_t>(count);
}

int failing_seek(void *cookie, off64_t *offset, int whence) {
    failing_source *source = static_cast<failing_source *>(cookie);
    if (whence != SEEK_SET)
        return -1;
    source->position = static_cast<size_t>(*offset);
    return 0;
}

FILE *open_failing_stream(failing_source *source) {
    cookie_io_functions_t functions = {failing_read, nullptr, failing_seek, nullptr};
    return fopencookie(source, "rb", functions);
}

struct walk_outcome {
    run_flags flags;
    std::string output;
};

// Walks `members` (as they stand after ARCHIVE_START) in a fresh folder, the
// stream failing after `fail_after` bytes of them.
walk_outcome walk_failing(const temp_folder &folder, const std::string &members,
                          size_t fail_after) {
    failing_source source{std::string(ARCHIVE_START, 'x') + members + "TRLR",
                          ARCHIVE_START + fail_after, 0};
    FILE *archive = open_failing_stream(&source);
    char copy_buffer[COPY_CHUNK];
    walk_outcome outcome{{false, false, false}, ""};
    char previous[4096];
    EXPECT_NE(getcwd(previous, sizeof previous), nullptr);
    EXPECT_EQ(chdir(folder.path.c_str()), 0);
    testing::internal::CaptureStdout();
    walk_members(archive, static_cast<int64_t>(source.bytes.size()), copy_buffer, &outcome.flags);
    outcome.output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(chdir(previous), 0);
    std::fclose(archive);
    return outcome;
}

TEST(RecordWalk, ReadErrorInARecordIsABadRecord) {
    temp_folder folder;
    walk_outcome outcome = walk_failing(folder, record_bytes('f', "a.txt", 0), 100);
    EXPECT_EQ(outcome.output, "!!!Error, bad file record.\n");
    EXPECT_TRUE(outcome.flags.error);
    EXPECT_TRUE(outcome.flags.record_seen);
}

TEST(RecordWalk, ReadErrorInMemberDataRemovesThePartialFile) {
    temp_folder folder;
    std::string members = record_bytes('f', "part.bin", 40000) + patterned_data(40000);
    walk_outcome outcome = walk_failing(folder, members, RECORD_SIZE + 20000);
    EXPECT_EQ(outcome.output, "Extracting : part.bin " + figure("0.0") + figure("40.0") +
                                  "\b, failed\n!!!Error, bad file record.\n");
    EXPECT_TRUE(outcome.flags.error);
    EXPECT_FALSE(path_exists(folder / "part.bin"));
}

TEST(RecordWalk, SoundStreamWalksToTheEnd) {
    temp_folder folder;
    std::string members = record_bytes('d', "d", 0) + record_bytes('f', "d/f", 2) + "ok";
    walk_outcome outcome = walk_failing(folder, members, members.size() + 100);
    EXPECT_EQ(outcome.output, directory_line("d") + file_line("d/f", figure("0.0")));
    EXPECT_FALSE(outcome.flags.error);
    EXPECT_EQ(read_file(folder / "d/f"), "ok");
}

// Files too short to hold a trailer fail the check whatever their bytes say.
TEST(LengthTrailer, FilesShorterThanTheTrailerFail) {
    struct short_case {
        std::string bytes;
        int64_t size;
    };
    const short_case cases[] = {{"", 0}, {std::string("\3\0\0", 3), 3}};
    for (const short_case &c : cases) {
        SCOPED_TRACE(c.size);
        FILE *file = tmpfile();
        ASSERT_NE(file, nullptr);
        std::fwrite(c.bytes.data(), 1, c.bytes.size(), file);
        std::fflush(file);
        EXPECT_FALSE(check_length_trailer(file, c.size));
        std::fclose(file);
    }
}

TEST(ContainedName, TellsNamesThatStayInsideFromOthers) {
    const char *inside[] = {"a",   "a/b",  "a\\b", "..a", "a..",  "a/..b/c", ".",
                            "./a", "ab:c", ". ",   "a. ", "...a", ".a."};
    const char *outside[] = {"/a",        "\\a",          "C:a",     "z:\\a", "..",  "../a",
                             "a/..",      "a\\..\\..\\b", "a/../b",  "a:b",   ".. ", "...",
                             "a\\. .\\b", " ..",          "a/.. /b", "1:x",   " :x", "\xe9:x"};
    for (const char *name : inside)
        EXPECT_TRUE(is_contained_name(name)) << name;
    for (const char *name : outside)
        EXPECT_FALSE(is_contained_name(name)) << name;
}

// The name rules of both platforms side by side: what every stub refuses,
// and what only the Windows one refuses because Windows opens a device there.
TEST(JudgeName, VerdictsUnderPosixAndWindowsRules) {
    struct name_case {
        const char *name;
        record_verdict posix;
        record_verdict windows;
    };
    const record_verdict G = RECORD_GOOD, DEVICE = RECORD_DEVICE_NAME;
    const name_case cases[] = {
        {"readme.txt", G, G},
        {"", RECORD_BAD_NAME, RECORD_BAD_NAME},
        // Devices in any part, letter case, extension, trailing dots or blanks.
        {"CON", G, DEVICE},
        {"con.txt", G, DEVICE},
        {"sub\\nul", G, DEVICE},
        {"sub/Nul/x", G, DEVICE},
        {"Aux .c", G, DEVICE},
        {"aux.c", G, DEVICE},
        {"prn...", G, DEVICE},
        {"nul  ", G, DEVICE},
        {"NUL.tar.gz", G, DEVICE},
        {"con:stream", G, RECORD_STREAM_NAME},
        {"COM0", G, DEVICE},
        {"com9.log", G, DEVICE},
        {"LPT1", G, DEVICE},
        {"lpt0", G, DEVICE},
        {"COM\xb9", G, DEVICE},
        {"lpt\xb2.txt", G, DEVICE},
        {"COM\xb3", G, DEVICE},

        {"CONIN$", G, DEVICE},
        {"conout$.x", G, DEVICE},
        // Near misses are plain names.
        {"console", G, G},
        {"nul_", G, G},
        {" con", G, G},
        {"acon", G, G},
        {"COM", G, G},
        {"COM10", G, G},
        {"LPT\xb4", G, G},
        {"COM\xb9\xb9", G, G},
        {"CONIN", G, G},
        {"CONOUT$$", G, G},
        {"xcom1.txt", G, G},
        {"a.con", G, G},
        // A second byte ':' is a drive, whatever the first byte.
        {"1:x", RECORD_UNSAFE_NAME, RECORD_UNSAFE_NAME},
        {" :x", RECORD_UNSAFE_NAME, RECORD_UNSAFE_NAME},
        {"c:", RECORD_UNSAFE_NAME, RECORD_UNSAFE_NAME},
        {"ab:c", G, RECORD_STREAM_NAME},
        // Control bytes anywhere, before any other rule.
        {"a\x01", RECORD_CONTROL_NAME, RECORD_CONTROL_NAME},
        {"line\nfake", RECORD_CONTROL_NAME, RECORD_CONTROL_NAME},
        {"x\x1b]0;title\x07", RECORD_CONTROL_NAME, RECORD_CONTROL_NAME},
        {"tab\tname", RECORD_CONTROL_NAME, RECORD_CONTROL_NAME},
        {"sub/\x1f", RECORD_CONTROL_NAME, RECORD_CONTROL_NAME},
        {"del\x7f", RECORD_CONTROL_NAME, RECORD_CONTROL_NAME},
        {"../\r", RECORD_CONTROL_NAME, RECORD_CONTROL_NAME},
        {"caf\xe9 \xa0\xff", G, G},
    };
    for (const name_case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.name)));
        EXPECT_EQ(judge_member_name(c.name, NAME_RULES_POSIX), c.posix);
        EXPECT_EQ(judge_member_name(c.name, NAME_RULES_WINDOWS), c.windows);
    }
}

// The whole record goes through the same name rules, after the magic number
// and the kind and before the size.
TEST(JudgeName, RecordVerdictsFollowTheNameRules) {
    member_record record = {KIND_FILE, "aux.c", 10, RECORD_MAGIC};
    EXPECT_EQ(judge_member_record(&record, 10, NAME_RULES_POSIX), RECORD_GOOD);
    EXPECT_EQ(judge_member_record(&record, 10, NAME_RULES_WINDOWS), RECORD_DEVICE_NAME);
    EXPECT_EQ(judge_member_record(&record, 9, NAME_RULES_POSIX), RECORD_BAD_SIZE);
    record.kind = KIND_DIRECTORY;
    std::strcpy(record.name, "dir\x1b[2J");
    EXPECT_EQ(judge_member_record(&record, 0, NAME_RULES_POSIX), RECORD_CONTROL_NAME);
    record.magic = RECORD_MAGIC + 1;
    EXPECT_EQ(judge_member_record(&record, 0, NAME_RULES_WINDOWS), RECORD_BAD_MAGIC);
}

} // namespace
