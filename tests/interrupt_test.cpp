// SPDX-License-Identifier: Zlib
// sfxpack interrupted by SIGINT, SIGTERM, SIGHUP or SIGQUIT, or killed by
// SIGKILL: packing leaves no temporary file beside the output, extracting
// leaves no partly written member, and the program ends as the signal would.
// Inputs are sparse files of almost 2 GiB, so each run is surely still
// writing when the signal comes; the signal is sent once the file being
// written has grown, which is after its removal was arranged. SIGKILL can't
// be caught: only a file without a name until it is whole (O_TMPFILE) leaves
// nothing then, so that case needs a file system that has such files.
#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGKILL};

// Large, but below the 2 GiB the format allows with room for records and trailer.
constexpr int64_t SPARSE_SIZE = INT64_C(2000000000);

// Starts sfxpack in `folder` with its standard streams on /dev/null and the
// three signals at their default, whatever the test run inherited.
pid_t start_pack(const std::vector<std::string> &arguments, const std::string &folder) {
    std::vector<std::string> all{"sfxpack"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv = exec_arguments(all);
    pid_t child = fork();
    if (child == 0) {
        int null_fd = open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd)
            dup2(null_fd, fd);
        for (int signal_number : SIGNALS)
            if (signal_number != SIGKILL)
                std::signal(signal_number, SIG_DFL);
        // SIGQUIT would leave a core file in the folder.
        struct rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        execv(SFXPACK_PATH, argv.data());
        _exit(127);
    }
    return child;
}

// True when the descriptor `name` of `child` is open for writing.
bool open_for_writing(pid_t child, const char *name) {
    std::string info = read_file("/proc/" + std::to_string(child) + "/fdinfo/" + name);
    size_t at = info.find("flags:");
    return at != std::string::npos &&
           (std::strtol(info.c_str() + at + 6, nullptr, 8) & (O_WRONLY | O_RDWR)) != 0;
}

// Polls until `ready` holds; false after 30 seconds.
bool wait_until(const std::function<bool()> &ready) {
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > give_up)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Sends `signal_number` once `ready` holds and checks that the program ended
// by that signal.
void interrupt_when(pid_t child, const std::function<bool()> &ready, int signal_number) {
    bool reached = wait_until(ready);
    kill(child, reached ? signal_number : SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(reached) << "the run never reached the point to interrupt";
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), signal_number);
}

void make_sparse_file(const std::string &path, int64_t size) {
    write_file(path, "");
    ASSERT_EQ(truncate(path.c_str(), size), 0) << path;
}

// The size of the largest file `child` has open for writing in `folder`,
// with a name there or none yet; -1 while there is none.
int64_t size_written(pid_t child, const std::string &folder) {
    std::string descriptors = "/proc/" + std::to_string(child) + "/fd";
    char resolved[4096];
    if (realpath(folder.c_str(), resolved) == nullptr)
        return -1;
    std::string inside = std::string(resolved) + "/";
    DIR *listing = opendir(descriptors.c_str());
    if (listing == nullptr)
        return -1;
    int64_t largest = -1;
    for (struct dirent *entry; (entry = readdir(listing)) != nullptr;) {
        std::string link = descriptors + "/" + entry->d_name;
        char target[4096];
        ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        struct stat status;
        if (length <= 0 || stat(link.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
            continue;
        target[length] = '\0';
        bool below = std::string(target).rfind(inside, 0) == 0 &&
                     std::string(target).find('/', inside.size()) == std::string::npos;
        if (below && open_for_writing(child, entry->d_name) && status.st_size > largest)
            largest = static_cast<int64_t>(status.st_size);
    }
    closedir(listing);
    return largest;
}

// True when files without a name can be made in `folder`.
bool has_unnamed_files(const std::string &folder) {
    int descriptor = open(folder.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (descriptor < 0)
        return false;
    close(descriptor);
    return true;
}

TEST(Interrupt, PackingRemovesItsTemporaryFile) {
    for (int signal_number : SIGNALS) {
        SCOPED_TRACE(strsignal(signal_number));
        temp_folder folder;
        if (signal_number == SIGKILL && !has_unnamed_files(folder.path))
            continue;
        make_sparse_file(folder / "big.bin", SPARSE_SIZE);

        pid_t child = start_pack({"-o", "setup.exe", "big.bin"}, folder.path);
        interrupt_when(
            child, [&] { return size_written(child, folder.path) >= ARCHIVE_START + 1; },
            signal_number);

        EXPECT_EQ(list_tree(folder.path), std::vector<std::string>{"big.bin"});
    }
}

// Members written whole before the signal stay; the one being written goes,
// and a file it was to replace keeps its bytes.
TEST(Interrupt, ExtractingRemovesThePartlyWrittenMember) {
    for (int signal_number : SIGNALS) {
        SCOPED_TRACE(strsignal(signal_number));
        temp_folder folder;
        if (signal_number == SIGKILL && !has_unnamed_files(folder.path))
            continue;
        ASSERT_EQ(mkdir((folder / "out").c_str(), 0755), 0);
        write_file(folder / "out/big.bin", "old");
        std::string head = stub_image();
        head.resize(ARCHIVE_START, static_cast<char>(FILLER_BYTE));
        head += record_bytes('f', "keep.txt", 4) + "keep";
        head += record_bytes('f', "big.bin", static_cast<int32_t>(SPARSE_SIZE));
        const std::string archive = folder / "setup.exe";
        write_file(archive, head);
        int64_t length = static_cast<int64_t>(head.size()) + SPARSE_SIZE + TRAILER_SIZE;
        ASSERT_EQ(truncate(archive.c_str(), length - TRAILER_SIZE), 0);
        unsigned char trailer[TRAILER_SIZE];
        encode_le32(static_cast<uint32_t>(length), trailer);
        FILE *out = std::fopen(archive.c_str(), "ab");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(trailer, 1, sizeof trailer, out), sizeof trailer);
        ASSERT_EQ(std::fclose(out), 0);

        pid_t child = start_pack({"-x", "setup.exe", "-C", "out"}, folder.path);
        // Each member's data goes to a file of its own first; once keep.txt
        // has its name, the one that grows is big.bin's.
        interrupt_when(
            child,
            [&] {
                return path_exists(folder / "out/keep.txt") &&
                       size_written(child, folder / "out") > 0;
            },
            signal_number);

        EXPECT_EQ(list_tree(folder / "out"), std::vector<std::string>({"big.bin", "keep.txt"}));
        EXPECT_EQ(read_file(folder / "out/big.bin"), "old");
        EXPECT_EQ(read_file(folder / "out/keep.txt"), "keep");
    }
}

// Beyond the file size limit a write fails like one to a full disk: the run
// says so and fails, and no file of any size is left behind.
TEST(FileSizeLimit, PackingAndExtractingFailWithoutLeavingAFile) {
    temp_folder folder;
    write_file(folder / "big.bin", patterned_data(3000000));
    write_file(folder / "small.txt", "s");
    ASSERT_EQ(mkdir((folder / "out").c_str(), 0755), 0);
    program_run pack =
        run_program(SFXPACK_PATH, {"sfxpack", "-o", "whole.exe", "big.bin"}, folder.path);
    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    const std::string limited = std::string("ulimit -f 1000 && exec \"$0\" \"$@\"");

    program_run cut = run_program(
        "/bin/sh", {"sh", "-c", limited, SFXPACK_PATH, "-o", "setup.exe", "big.bin"}, folder.path);
    program_run extract =
        run_program("/bin/sh", {"sh", "-c", limited, SFXPACK_PATH, "-x", "whole.exe", "-C", "out"},
                    folder.path);

    const std::string reason = std::strerror(EFBIG);
    EXPECT_EQ(cut.exit_status, 1);
    EXPECT_EQ(cut.errors, "sfxpack: can't write 'setup.exe': " + reason + "\n");
    EXPECT_EQ(extract.exit_status, 1);
    EXPECT_EQ(extract.errors, "sfxpack: can't write 'out/big.bin': " + reason + "\n");
    EXPECT_EQ(list_tree(folder.path),
              (std::vector<std::string>{"big.bin", "out/", "small.txt", "whole.exe"}));
}

} // namespace
