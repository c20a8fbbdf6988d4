// The stub under the conditions a recipient meets: a name that leads to
// another file than the one running, a console reader that goes away, an
// interruption in the middle of a member.
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The one member of the archive at `path`: its name tells which archive was extracted.
std::string member_of(const std::string &path) {
    std::string name = "from-" + path + ".txt";
    for (char &c : name)
        if (c == '/')
            c = '-';
    return name;
}

struct own_file_case {
    const char *what;
    std::vector<std::string> directories;                    // created first, parents first
    std::vector<std::string> archives;                       // each holds member_of(its path)
    std::vector<std::pair<std::string, std::string>> copies; // byte for byte: from, to
    std::vector<std::pair<std::string, std::string>> links;  // symbolic: target, link
    std::string program;                                     // the file that runs
    std::string start_name;                                  // what it was started as
    std::string run_in;                                      // the current directory
    std::string shown;                                       // on the "File :" line
    bool opens;                                              // else: as a missing file
};

// Whatever the letter case or the search path make of the start name, only
// the running file's own members are extracted.
TEST(OwnFile, OnlyTheRunningFileIsExtracted) {
    // One case a line: what, directories, archives, copies, links, program,
    // start name, run in, shown, opens.
    // clang-format off
    const own_file_case cases[] = {
        {"a look-alike of the start name in the folder above",
         {"sub"}, {"foo", "FOO.exe"}, {}, {}, "foo", "../foo", "sub", "../FOO.EXE", false},
        {"lower-case folder beside an upper-case one",
         {"a", "A"}, {"a/setup.exe", "A/setup.exe"}, {}, {},
         "a/setup.exe", "./a/setup.exe", "", "./A/SETUP.EXE", true},
        {"upper-case folder beside a lower-case one",
         {"a", "A"}, {"a/setup.exe", "A/setup.exe"}, {}, {},
         "A/setup.exe", "./A/setup.exe", "", "./A/SETUP.EXE", true},
        {"empty upper-case folder beside the program's",
         {"a", "A"}, {"a/setup.exe"}, {}, {},
         "a/setup.exe", "./a/setup.exe", "", "./A/SETUP.EXE", true},
        {"the exact folder leads on to another spelling only",
         {"A", "a", "A/b", "a/B"}, {"A/b/setup.exe", "a/B/setup.exe"}, {}, {},
         "a/B/setup.exe", "./a/B/setup.exe", "", "./A/B/SETUP.EXE", true},
        {"found along the search path, another archive of that name here",
         {"bin", "work"}, {"bin/setup.exe", "work/SETUP.EXE"}, {}, {},
         "bin/setup.exe", "setup.exe", "work", "SETUP.EXE", false},
        {"found along the search path, a byte-identical copy here",
         {"bin", "work"}, {"bin/setup.exe"}, {{"bin/setup.exe", "work/setup.exe"}}, {},
         "bin/setup.exe", "setup.exe", "work", "SETUP.EXE", false},
        {"started through a symbolic link to it",
         {}, {"setup.exe"}, {}, {{"setup.exe", "link.exe"}},
         "setup.exe", "./link.exe", "", "./LINK.EXE", true},
    };
    // clang-format on
    for (const own_file_case &c : cases) {
        SCOPED_TRACE(c.what);
        temp_folder root;
        for (const std::string &directory : c.directories)
            ASSERT_EQ(mkdir((root / directory).c_str(), 0755), 0);
        for (const std::string &archive : c.archives)
            write_setup(root.path, {file_member(member_of(archive), "x")}, archive);
        for (const auto &copy : c.copies) {
            write_file(root / copy.second, read_file(root / copy.first));
            chmod((root / copy.second).c_str(), 0755);
        }
        for (const auto &link : c.links)
            ASSERT_EQ(symlink(link.first.c_str(), (root / link.second).c_str()), 0);
        std::vector<std::string> before = list_tree(root.path);
        std::string folder = c.run_in.empty() ? root.path : root / c.run_in;

        program_run run = run_program(root / c.program, {c.start_name}, folder);

        std::string member = member_of(c.program);
        std::string rest = c.opens ? file_line(member, figure("0.0")) + SEPARATOR : NOT_OPENED;
        EXPECT_EQ(run.output, "File : " + c.shown + "\n" + rest);
        EXPECT_EQ(run.exit_status, 0);
        std::vector<std::string> expected = before;
        if (c.opens) {
            expected.push_back(c.run_in.empty() ? member : c.run_in + "/" + member);
            std::sort(expected.begin(), expected.end());
        }
        EXPECT_EQ(list_tree(root.path), expected);
    }
}

// Starts `program` in `folder` with standard output on `output`, as a shell
// would: the interruptions and SIGPIPE with their default actions (whatever
// this test program was given), except `ignored` (0 for none).
pid_t start_program(const std::string &program, const std::string &start_name,
                    const std::string &folder, int output, int ignored = 0) {
    start_command start = stub_start(program, {start_name});
    std::vector<char *> argv = exec_arguments(start.arguments);
    pid_t child = fork();
    if (child == 0) {
        for (int signal_number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
            signal(signal_number, signal_number == ignored ? SIG_IGN : SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(output, 1);
        dup2(null_fd, 2);
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        execv(start.program.c_str(), argv.data());
        _exit(127);
    }
    return child;
}

// Reads from `fd` until `count` bytes came or the writer closed it.
std::string read_some(int fd, size_t count) {
    std::string text;
    char chunk[4096];
    while (text.size() < count) {
        ssize_t got = read(fd, chunk, std::min(sizeof chunk, count - text.size()));
        if (got <= 0)
            break;
        text.append(chunk, static_cast<size_t>(got));
    }
    return text;
}

std::string read_to_end(int fd) {
    return read_some(fd, SIZE_MAX);
}

// A pipe of one page, so a test fills it with little output. Its capacity
// goes to `capacity`. Neither end passes to a started program but as its
// standard output: with the read end in the stub, its reader never leaves.
void make_small_pipe(int ends[2], size_t *capacity) {
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    int size = fcntl(ends[1], F_SETPIPE_SZ, 4096);
    ASSERT_GT(size, 0);
    *capacity = static_cast<size_t>(size);
}

// Members for the runs below: their console text is well beyond one pipe's
// capacity, so the stub still writes long after its reader has gone.
std::vector<archive_member> many_members() {
    std::vector<archive_member> members = {directory_member("d")};
    for (int i = 0; i < 150; ++i)
        members.push_back(file_member("d/f" + std::to_string(i) + ".txt", std::to_string(i)));
    members.push_back(file_member("d/big.bin", patterned_data(1000000)));
    for (int i = 150; i < 300; ++i)
        members.push_back(file_member("d/f" + std::to_string(i) + ".txt", std::to_string(i)));
    return members;
}

// `./setup.exe | head -c N`: the reader takes N bytes and leaves; the stub
// finishes the run and extracts everything.
TEST(ClosedConsole, RunFinishesAfterTheReaderLeft) {
    for (size_t taken : {size_t(0), size_t(1), size_t(100)}) {
        SCOPED_TRACE(taken);
        temp_folder folder;
        std::vector<archive_member> members = many_members();
        write_setup(folder.path, members);
        int ends[2];
        size_t capacity = 0;
        make_small_pipe(ends, &capacity);

        pid_t child = start_program(folder / "setup.exe", "./setup.exe", folder.path, ends[1]);
        close(ends[1]);
        EXPECT_EQ(read_some(ends[0], taken).size(), taken);
        close(ends[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);

        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
        for (const archive_member &member : members) {
            if (member.kind == KIND_FILE) {
                EXPECT_EQ(read_file(folder / member.name), member.data) << member.name;
            }
        }
    }
}

// Waits until `path` holds `size` bytes; false after ten seconds.
bool wait_for_size(const std::string &path, off_t size) {
    for (int i = 0; i < 1000; ++i) {
        struct stat status;
        if (stat(path.c_str(), &status) == 0 && status.st_size == size)
            return true;
        usleep(10000);
    }
    return false;
}

// The signal comes while the second member is being written: the stub
// blocks in the console write before its third chunk, as the pipe has no room
// left. That member is removed, the one before stays, none after is begun,
// and the program ends by the signal. One ignored when the program started
// stays ignored: the run then finishes.
TEST(Interruption, RemovesTheMemberBeingWritten) {
    struct signal_case {
        int signal_number;
        bool ignored_at_start;
    };
    const signal_case cases[] = {
        {SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGHUP, true}};
    const std::string big = patterned_data(5 * COPY_CHUNK);
    for (const signal_case &c : cases) {
        // The user-mode emulator lets even an ignored signal break off the
        // blocked console write (the stub then sees EINTR and loses that
        // figure), which a kernel never does.
        if (c.ignored_at_start && stub_is_emulated())
            continue;
        SCOPED_TRACE(strsignal(c.signal_number) +
                     std::string(c.ignored_at_start ? ", ignored" : ""));
        temp_folder folder;
        write_setup(folder.path, {file_member("done.txt", "kept"), file_member("big.bin", big),
                                  file_member("after.txt", "a")});
        const std::string until_blocked = "File : ./SETUP.EXE\n" +
                                          file_line("done.txt", figure("0.0")) +
                                          "Extracting : big.bin " + figure("0.0") + figure("20.0");
        int ends[2];
        size_t capacity = 0;
        make_small_pipe(ends, &capacity);
        ASSERT_LT(until_blocked.size(), capacity);
        const std::string filler(capacity - until_blocked.size(), '.');
        ASSERT_EQ(write(ends[1], filler.data(), filler.size()),
                  static_cast<ssize_t>(filler.size()));

        pid_t child = start_program(folder / "setup.exe", "./setup.exe", folder.path, ends[1],
                                    c.ignored_at_start ? c.signal_number : 0);
        close(ends[1]);
        bool blocked = wait_for_size(folder / "big.bin", 2 * COPY_CHUNK);
        EXPECT_TRUE(blocked) << "the stub never reached the second chunk of big.bin";
        kill(child, c.signal_number);
        // Room in the pipe could let a blocked write finish before the signal
        // acts: the pipe is read only once the stub has ended, unless it goes on.
        int status = 0;
        std::string output;
        if (c.ignored_at_start)
            output = read_to_end(ends[0]);
        ASSERT_EQ(waitpid(child, &status, 0), child);
        output += read_to_end(ends[0]);
        close(ends[0]);

        EXPECT_EQ(read_file(folder / "done.txt"), "kept");
        if (c.ignored_at_start) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
            EXPECT_EQ(output,
                      filler + "File : ./SETUP.EXE\n" + file_line("done.txt", figure("0.0")) +
                          file_line("big.bin", figure("0.0") + figure("20.0") + figure("40.0") +
                                                   figure("60.0") + figure("80.0")) +
                          file_line("after.txt", figure("0.0")) + SEPARATOR);
            EXPECT_EQ(read_file(folder / "big.bin"), big);
            EXPECT_EQ(read_file(folder / "after.txt"), "a");
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal_number)
                << "wait status " << status;
            EXPECT_EQ(output, filler + until_blocked);
            EXPECT_EQ(list_tree(folder.path), (std::vector<std::string>{"done.txt", "setup.exe"}));
        }
    }
}

} // namespace
