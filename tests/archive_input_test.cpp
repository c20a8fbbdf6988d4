// SPDX-License-Identifier: Zlib
// When the record walk reads the archive and what the console shows by then:
// every text written before a read is on the console when the read starts (a
// progress figure is seen before its chunk arrives), and small members arrive
// with their records in the read that fills the copy buffer.
#include "run.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the console (standard output, a file here) held when the archive was
// first read from `offset` with that console text.
struct read_seen {
    size_t offset;
    std::string console;
};

struct watched_source {
    std::string bytes;
    size_t position;
    int console;
    std::vector<read_seen> reads;
};

std::string console_so_far(int console) {
    struct stat status;
    if (fstat(console, &status) != 0)
        return "(console unreadable)";
    std::string text(static_cast<size_t>(status.st_size), '\0');
    ssize_t got = pread(console, &text[0], text.size(), 0);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

// Notes the offset of each read that finds the console changed since the last
// one (an unbuffered stream of this kind reads byte by byte), then delivers.
ssize_t watched_read(void *cookie, char *buffer, size_t size) {
    watched_source *source = static_cast<watched_source *>(cookie);
    std::string console = console_so_far(source->console);
    if (source->reads.empty() || source->reads.back().console != console)
        source->reads.push_back({source->position, console});
    size_t count = std::min(size, source->bytes.size() - source->position);
    std::memcpy(buffer, source->bytes.data() + source->position, count);
    source->position += count;
    return static_cast<ssize_t>(count);
}

int watched_seek(void *cookie, off64_t *offset, int whence) {
    watched_source *source = static_cast<watched_source *>(cookie);
    if (whence != SEEK_SET)
        return -1;
    source->position = static_cast<size_t>(*offset);
    return 0;
}

struct walk_outcome {
    std::vector<read_seen> reads;
    std::string output;
};

// Walks `members` in a fresh folder with standard output sent to a file, the
// archive stream unbuffered as the program opens it.
walk_outcome walk_watched(const temp_folder &folder, const std::string &members) {
    std::string console_path = folder.path + "/console.txt";
    int console = open(console_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    EXPECT_GE(console, 0);
    watched_source source{std::string(ARCHIVE_START, 'x') + members + "TRLR", 0, console, {}};
    cookie_io_functions_t functions = {watched_read, nullptr, watched_seek, nullptr};
    FILE *archive = fopencookie(&source, "rb", functions);
    std::setvbuf(archive, nullptr, _IONBF, 0);

    char previous[4096];
    EXPECT_NE(getcwd(previous, sizeof previous), nullptr);
    EXPECT_EQ(chdir(folder.path.c_str()), 0);
    std::fflush(stdout);
    int saved_stdout = dup(STDOUT_FILENO);
    dup2(console, STDOUT_FILENO);
    char copy_buffer[COPY_CHUNK];
    run_flags flags = {false, false, false};
    walk_members(archive, static_cast<int64_t>(source.bytes.size()), copy_buffer, &flags);
    std::fflush(stdout);
    dup2(saved_stdout, STDOUT_FILENO);
    close(saved_stdout);
    EXPECT_EQ(chdir(previous), 0);
    EXPECT_FALSE(flags.error);
    std::fclose(archive);

    walk_outcome outcome{source.reads, console_so_far(console)};
    close(console);
    return outcome;
}

TEST(ArchiveReads, FiguresAreOnTheConsoleBeforeEachRead) {
    temp_folder folder;
    // A directory and a small file arrive in the first 16000 bytes read, with
    // the start of the large file, so their lines go out only when the rest
    // of its first chunk is read; each later chunk is read after its figure.
    std::string members = record_bytes('d', "d", 0) + record_bytes('f', "d/small", 10) +
                          patterned_data(10) + record_bytes('f', "big", 40000) +
                          patterned_data(40000, 2);
    walk_outcome outcome = walk_watched(folder, members);

    std::string before_big = directory_line("d") + file_line("d/small", figure("0.0")) +
                             "Extracting : big " + figure("0.0");
    const size_t big_data = ARCHIVE_START + 3 * RECORD_SIZE + 10;
    // The first read takes the layout declaration, just before the records.
    const read_seen expected[] = {
        {DECLARATION_OFFSET, ""},
        {ARCHIVE_START + COPY_CHUNK, before_big},
        {big_data + 16000, before_big + figure("40.0")},
        {big_data + 32000, before_big + figure("40.0") + figure("80.0")},
    };
    ASSERT_EQ(outcome.reads.size(), std::size(expected));
    for (size_t i = 0; i < outcome.reads.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(outcome.reads[i].offset, expected[i].offset);
        EXPECT_EQ(outcome.reads[i].console, expected[i].console);
    }
    EXPECT_EQ(outcome.output, before_big + figure("40.0") + figure("80.0") + "\b, done  \n");
    EXPECT_EQ(read_file(folder.path + "/big"), patterned_data(40000, 2));
    EXPECT_EQ(read_file(folder.path + "/d/small"), patterned_data(10));
}

// Records and chunks that straddle the end of what was read ahead come out
// whole: members of sizes around the record and chunk lengths all get their
// bytes, and the console shows every line in order.
TEST(ArchiveReads, MembersAcrossBufferEdgesComeOutWhole) {
    temp_folder folder;
    std::string members;
    const size_t sizes[] = {0, 1, 263, 264, 265, 15735, 15736, 16000, 16001, 7, 4096, 31999};
    std::string lines;
    for (size_t i = 0; i < std::size(sizes); ++i) {
        members += record_bytes('f', "m" + std::to_string(i), static_cast<int32_t>(sizes[i])) +
                   patterned_data(sizes[i], static_cast<unsigned>(i + 1));
        std::string figures = sizes[i] == 0 ? "" : figure("0.0");
        if (sizes[i] > 16000)
            figures += figure(sizes[i] == 16001 ? "100.0" : "50.0");
        lines += file_line("m" + std::to_string(i), figures);
    }
    walk_outcome outcome = walk_watched(folder, members);
    for (size_t i = 0; i < std::size(sizes); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(read_file(folder.path + "/m" + std::to_string(i)),
                  patterned_data(sizes[i], static_cast<unsigned>(i + 1)));
    }
    EXPECT_EQ(outcome.output, lines);
}

} // namespace
