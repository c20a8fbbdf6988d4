// SPDX-License-Identifier: Zlib
// The Linux stub needs nothing of the system it lands on: no program
// interpreter, no shared library, so a self-extracting file runs on any
// x86-64 Linux, whatever its C library.
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool under_ci() {
    const char *ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0' && std::strcmp(ci, "false") != 0 &&
           std::strcmp(ci, "0") != 0;
}

// Skips the test on a developer's machine that lacks what it needs; under CI
// that is a failure (tests/run-all installs it).
#define SKIP_OR_FAIL(why)                                                                          \
    do {                                                                                           \
        if (under_ci())                                                                            \
            FAIL() << (why);                                                                       \
        GTEST_SKIP() << (why);                                                                     \
    } while (false)

// Standard output of a shell command line.
std::string command_output(const std::string &command) {
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "";
    std::string text;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        text.append(chunk, got);
    pclose(pipe);
    return text;
}

// How the build made the stub; SFX_STUB_BUILD is one of these.
#define SFX_STUB_STATIC 0
#define SFX_STUB_INSTRUMENTED 1 // the sanitizer runtimes need the system's C library
#define SFX_STUB_WITHOUT_MUSL 2 // musl was not found

void require_static_stub() {
    if (SFX_STUB_BUILD == SFX_STUB_INSTRUMENTED)
        GTEST_SKIP() << "an instrumented build's stub uses the system's C library; the plain "
                        "build checks the static stub";
    if (SFX_STUB_BUILD == SFX_STUB_WITHOUT_MUSL)
        SKIP_OR_FAIL("musl is missing (Debian: musl-tools), so the stub is not static");
}

TEST(StaticStub, HasNoInterpreterAndNoDynamicSection) {
    require_static_stub();
    if (IsSkipped() || HasFatalFailure())
        return;
    std::string segments = command_output("readelf -lW '" + stub_program() + "' 2>&1");
    std::string dynamic = command_output("readelf -dW '" + stub_program() + "' 2>&1");

    EXPECT_NE(segments.find("LOAD"), std::string::npos) << segments;
    EXPECT_EQ(segments.find("INTERP"), std::string::npos) << segments;
    EXPECT_NE(dynamic.find("There is no dynamic section"), std::string::npos) << dynamic;
    EXPECT_EQ(dynamic.find("NEEDED"), std::string::npos) << dynamic;
    EXPECT_LE(stub_image().size(), static_cast<size_t>(DECLARATION_OFFSET));
}

// Runs `./setup.exe` with `root` as the root directory and the current one.
program_run run_in_root(const std::string &root) {
    int out_pipe[2];
    if (pipe(out_pipe) != 0)
        return {-1, "", ""};
    pid_t child = fork();
    if (child == 0) {
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, 0);
        dup2(out_pipe[1], 1);
        close(out_pipe[0]);
        if (chroot(root.c_str()) != 0 || chdir("/") != 0)
            _exit(126);
        std::vector<char *> argv = exec_arguments({"./setup.exe"});
        execv("/setup.exe", argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    program_run run{0, "", ""};
    char chunk[4096];
    ssize_t got;
    while ((got = read(out_pipe[0], chunk, sizeof chunk)) > 0)
        run.output.append(chunk, static_cast<size_t>(got));
    close(out_pipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - WTERMSIG(status);
    return run;
}

// A root that holds nothing but the self-extracting file: no loader, no C
// library, no /proc, no /dev. It extracts as in any folder, with the same
// console bytes.
TEST(StaticStub, ExtractsInAnOtherwiseEmptyRoot) {
    require_static_stub();
    if (IsSkipped() || HasFatalFailure())
        return;
    if (geteuid() != 0)
        SKIP_OR_FAIL("changing the root directory needs root");
    const std::vector<archive_member> members = {
        directory_member("docs"), file_member("docs/guide.txt", patterned_data(40000)),
        file_member("_setup_.txt", "Thank you.\n")};
    temp_folder root;
    write_setup(root.path, members);

    program_run run = run_in_root(root.path);

    EXPECT_EQ(run.output,
              "File : ./SETUP.EXE\n" + directory_line("docs") +
                  file_line("docs/guide.txt", figure("0.0") + figure("40.0") + figure("80.0")) +
                  file_line("_setup_.txt", figure("0.0")) + SEPARATOR + "Thank you.\n");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(list_tree(root.path),
              (std::vector<std::string>{"_setup_.txt", "docs/", "docs/guide.txt", "setup.exe"}));
    EXPECT_EQ(read_file(root / "docs/guide.txt"), members[1].data);
}

} // namespace
