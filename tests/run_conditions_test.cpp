// SPDX-License-Identifier: Zlib
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
#include <poll.h>
#include <sys/resource.h>
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
};

// Whatever the letter case or the search path make of the start name, the
// running file's own members are extracted, and only those: a name that
// leads to another file, or to none, gives way to the running file itself.
TEST(OwnFile, OnlyTheRunningFileIsExtracted) {
    // One case a line: what, directories, archives, copies, links, program,
    // start name, run in, shown.
    // clang-format off
    const own_file_case cases[] = {
        {"a look-alike of the start name in the folder above",
         {"sub"}, {"foo", "FOO.exe"}, {}, {}, "foo", "../foo", "sub", "../FOO.EXE"},
        {"lower-case folder beside an upper-case one",
         {"a", "A"}, {"a/setup.exe", "A/setup.exe"}, {}, {},
         "a/setup.exe", "./a/setup.exe", "", "./A/SETUP.EXE"},
        {"upper-case folder beside a lower-case one",
         {"a", "A"}, {"a/setup.exe", "A/setup.exe"}, {}, {},
         "A/setup.exe", "./A/setup.exe", "", "./A/SETUP.EXE"},
        {"empty upper-case folder beside the program's",
         {"a", "A"}, {"a/setup.exe"}, {}, {},
         "a/setup.exe", "./a/setup.exe", "", "./A/SETUP.EXE"},
        {"the exact folder leads on to another spelling only",
         {"A", "a", "A/b", "a/B"}, {"A/b/setup.exe", "a/B/setup.exe"}, {}, {},
         "a/B/setup.exe", "./a/B/setup.exe", "", "./A/B/SETUP.EXE"},
        {"found along the search path, another archive of that name here",
         {"bin", "work"}, {"bin/setup.exe", "work/SETUP.EXE"}, {}, {},
         "bin/setup.exe", "setup.exe", "work", "SETUP.EXE"},
        {"found along the search path, a byte-identical copy here",
         {"bin", "work"}, {"bin/setup.exe"}, {{"bin/setup.exe", "work/setup.exe"}}, {},
         "bin/setup.exe", "setup.exe", "work", "SETUP.EXE"},
        {"found along the search path, run from an empty folder",
         {"bin", "empty"}, {"bin/setup.exe"}, {}, {},
         "bin/setup.exe", "setup.exe", "empty", "SETUP.EXE"},
        {"a name without .exe",
         {}, {"setup.run"}, {}, {}, "setup.run", "./setup.run", "", "./SETUP.RUN.EXE"},
        {"a name without .exe, a file of the shown name beside it",
         {}, {"setup.run", "SETUP.RUN.EXE"}, {}, {},
         "setup.run", "./setup.run", "", "./SETUP.RUN.EXE"},
        {"started through a symbolic link to it",
         {}, {"setup.exe"}, {}, {{"setup.exe", "link.exe"}},
         "setup.exe", "./link.exe", "", "./LINK.EXE"},
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
        EXPECT_EQ(run.output,
                  "File : " + c.shown + "\n" + file_line(member, figure("0.0")) + SEPARATOR);
        EXPECT_EQ(run.exit_status, 0);
        std::vector<std::string> expected = before;
        expected.push_back(c.run_in.empty() ? member : c.run_in + "/" + member);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(list_tree(root.path), expected);
    }
}

// The shell finds the program along PATH and hands it the bare name.
TEST(OwnFile, RunThroughTheSearchPathFromAnEmptyFolder) {
    temp_folder root;
    make_folder(root / "bin");
    make_folder(root / "empty");
    write_setup(root / "bin", {file_member("a.txt", "a")}, "setup.run");

    program_run run = run_program(
        "/bin/sh", {"sh", "-c", "PATH='" + root / "bin" + "':$PATH && setup.run"}, root / "empty");

    EXPECT_EQ(run.output, "File : SETUP.RUN.EXE\n" + file_line("a.txt", figure("0.0")) + SEPARATOR);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(list_tree(root / "empty"), std::vector<std::string>{"a.txt"});
}

// Without /proc the system can't name the running file: only a start name
// that leads to it opens it, and another file under that name is not read
// either. Needs a mount namespace of its own (root); skipped otherwise.
TEST(OwnFile, WithoutProcOnlyTheStartNameLeadsToTheFile) {
    struct start_case {
        std::string start_name;
        std::string output; // after the "File :" line
        int exit_status;
        bool look_alike = false; // SETUP.EXE, another archive, lies beside setup.exe
    };
    const start_case cases[] = {
        {"./setup.exe", file_line("a.txt", figure("0.0")) + SEPARATOR, 0},
        {"./setup", file_line("a.txt", figure("0.0")) + SEPARATOR, 0},
        {"./setup.run", NOT_OPENED, 1},
        // A look-alike beside it is another archive: the exact name wins.
        {"./setup.exe", file_line("a.txt", figure("0.0")) + SEPARATOR, 0, true},
    };
    if (INSTRUMENTED_BUILD)
        GTEST_SKIP() << "the sanitizer runtimes need /proc";
    if (run_program("/usr/bin/unshare", {"unshare", "-m", "sh", "-c", "mount -t tmpfs none /proc"},
                    "/")
            .exit_status != 0)
        GTEST_SKIP() << "no mount namespace of our own here (needs root)";
    for (const start_case &c : cases) {
        SCOPED_TRACE(c.start_name);
        temp_folder folder;
        write_setup(folder.path, {file_member("a.txt", "a")});
        if (c.look_alike)
            write_setup(folder.path, {file_member("other.txt", "o")}, "SETUP.EXE");
        write_file(folder / "_setup_.txt", "not shown after an error");

        program_run run =
            run_program("/usr/bin/unshare",
                        {"unshare", "-m", "bash", "-c",
                         "mount -t tmpfs none /proc && exec -a \"$0\" ./setup.exe", c.start_name},
                        folder.path);

        std::string shown = c.start_name;
        for (char &ch : shown)
            if (ch >= 'a' && ch <= 'z')
                ch = static_cast<char>(ch - 'a' + 'A');
        if (shown.find(".EXE") == std::string::npos)
            shown += ".EXE";
        std::string notice = c.exit_status == 0 ? "not shown after an error" : "";
        EXPECT_EQ(run.output, "File : " + shown + "\n" + c.output + notice);
        EXPECT_EQ(run.exit_status, c.exit_status);
        EXPECT_EQ(path_exists(folder / "a.txt"), c.exit_status == 0);
        EXPECT_FALSE(path_exists(folder / "other.txt"));
    }
}

// A member that outgrows the file size limit: the write fails (SIGXFSZ is
// ignored, so the program does not end by it), the file goes and the run
// ends with the write error.
TEST(FileSizeLimit, AWriteBeyondItFailsAndTheFileGoes) {
    temp_folder folder;
    write_setup(folder.path,
                {file_member("small.txt", "s"), file_member("big.bin", patterned_data(3000000)),
                 file_member("after.txt", "a")});

    program_run run =
        run_program("/bin/sh", {"sh", "-c", "ulimit -f 1000 && exec ./setup.exe"}, folder.path);

    const std::string ending = "\b, failed\n!!!Error, file could not be written.\n";
    EXPECT_EQ(run.output.rfind(
                  FILE_LINE + file_line("small.txt", figure("0.0")) + "Extracting : big.bin ", 0),
              0u)
        << run.output;
    ASSERT_GE(run.output.size(), ending.size());
    EXPECT_EQ(run.output.substr(run.output.size() - ending.size()), ending);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(list_tree(folder.path), (std::vector<std::string>{"setup.exe", "small.txt"}));
}

// Started with standard descriptors closed, the stub must not let a member
// take their place: every member receives its own bytes and nothing else.
TEST(ClosedDescriptors, MembersGetOnlyTheirBytes) {
    const char *closings[] = {"<&- >&-", ">&-", "<&- >&- 2>&-", "2>&-"};
    const std::vector<archive_member> members = {
        directory_member("dir"), file_member("dir/a.bin", patterned_data(40000)),
        file_member("b.txt", "b"), file_member("_setup_.txt", "notice")};
    for (const char *closing : closings) {
        SCOPED_TRACE(closing);
        temp_folder folder;
        write_setup(folder.path, members);

        program_run run = run_program(
            "/bin/sh", {"sh", "-c", std::string("exec ./setup.exe ") + closing}, folder.path);

        EXPECT_EQ(run.exit_status, 0);
        for (const archive_member &member : members) {
            if (member.kind == KIND_FILE) {
                EXPECT_EQ(read_file(folder / member.name), member.data) << member.name;
            }
        }
        EXPECT_EQ(list_tree(folder.path), (std::vector<std::string>{"_setup_.txt", "b.txt", "dir/",
                                                                    "dir/a.bin", "setup.exe"}));
    }
}

// With too little memory for the copy buffer the run ends at once with -1
// (255). The data limit is raised step by step from one the program can't
// even start under: the first run that gets as far as its own code must be
// the one whose copy buffer can't be had.
TEST(LittleMemory, NoCopyBufferEndsWithStatus255) {
    if (INSTRUMENTED_BUILD)
        GTEST_SKIP() << "the sanitizer runtimes need more memory than the stub";
    temp_folder folder;
    write_setup(folder.path, {file_member("a.txt", "a")});
    program_run run{0, "", ""};
    for (int kib = 4; kib <= 256; kib += 4) {
        run = run_program("/bin/sh",
                          {"sh", "-c", "ulimit -d " + std::to_string(kib) + " && exec ./setup.exe"},
                          folder.path);
        if (run.exit_status > -1000)
            break;
    }
    if (run.exit_status <= -1000)
        GTEST_SKIP() << "the stub never started under a data limit of 256 KiB or less";
    EXPECT_EQ(run.output, "!!!Error, not enough memory for malloc.\n");
    EXPECT_EQ(run.exit_status, 255);
    EXPECT_EQ(list_tree(folder.path), std::vector<std::string>{"setup.exe"});
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
        for (int signal_number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ})
            signal(signal_number, signal_number == ignored ? SIG_IGN : SIG_DFL);
        // SIGQUIT would leave a core file in the folder.
        struct rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
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

// Reads from `fd` until `count` bytes came, the writer closed it or ten
// seconds passed without a byte.
std::string read_some_in_time(int fd, size_t count) {
    std::string text;
    while (text.size() < count) {
        struct pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, 10000) <= 0)
            break;
        char chunk[4096];
        ssize_t got = read(fd, chunk, std::min(sizeof chunk, count - text.size()));
        if (got <= 0)
            break;
        text.append(chunk, static_cast<size_t>(got));
    }
    return text;
}

// A member's name leads to a FIFO in the folder: opening it waits for a
// reader. The line naming that member is on the console while it waits.
TEST(Waiting, TheLineIsShownBeforeAMemberOpenThatWaits) {
    temp_folder folder;
    write_setup(folder.path, {file_member("a.txt", "a"), file_member("b.fifo", "fifo data"),
                              file_member("c.txt", "c")});
    ASSERT_EQ(mkfifo((folder / "b.fifo").c_str(), 0600), 0);
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);

    pid_t child = start_program(folder / "setup.exe", "./setup.exe", folder.path, ends[1]);
    close(ends[1]);
    const std::string until_open =
        "File : ./SETUP.EXE\n" + file_line("a.txt", figure("0.0")) + "Extracting : b.fifo ";
    std::string shown = read_some_in_time(ends[0], until_open.size());
    int status = 0;
    bool still_waiting = waitpid(child, &status, WNOHANG) == 0;
    int fifo = open((folder / "b.fifo").c_str(), O_RDONLY);
    std::string received = fifo >= 0 ? read_to_end(fifo) : "";
    std::string rest = read_to_end(ends[0]);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(ends[0]);
    if (fifo >= 0)
        close(fifo);

    EXPECT_EQ(shown, until_open);
    EXPECT_TRUE(still_waiting) << "the stub went past the FIFO without a reader";
    EXPECT_EQ(received, "fifo data");
    EXPECT_EQ(shown + rest, until_open + figure("0.0") + "\b, done  \n" +
                                file_line("c.txt", figure("0.0")) + SEPARATOR);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
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
        {SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGQUIT, false}, {SIGHUP, true}};
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
