// SPDX-License-Identifier: Zlib
// The install tree as a user gets it: `cmake --install` into a prefix that is
// then moved elsewhere, the Debian package unpacked into a scratch root, and
// the build folder itself. In each, sfxpack finds the stubs relative to its
// own file, lists them and packs a file that runs. The package also carries
// what a distribution asks for, and its checker finds nothing to object to.
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>

namespace {

struct installed_stub {
    std::string target;
    std::string relative_path; // below the tree's lib/sfx/
    char separator;            // between the parts of the names it is packed with
};

// Every stub the build installs, sorted by target name: the native one, the
// Linux ones for other processors (SFX_LINUX_CROSS_TARGETS, blank-separated
// names) and the Windows ones.
std::vector<installed_stub> built_stubs() {
    std::vector<installed_stub> stubs{{SFX_NATIVE_TARGET, SFX_NATIVE_TARGET "/sfxstub", '/'}};
    std::istringstream cross_targets(SFX_LINUX_CROSS_TARGETS);
    for (std::string target; cross_targets >> target;)
        stubs.push_back({target, target + "/sfxstub", '/'});
    if (SFX_WINDOWS_STUBS) {
        stubs.push_back({"win32", "win32/sfxstub.exe", '\\'});
        stubs.push_back({"win64", "win64/sfxstub.exe", '\\'});
    }
    std::sort(stubs.begin(), stubs.end(),
              [](const installed_stub &a, const installed_stub &b) { return a.target < b.target; });
    return stubs;
}

bool in_ci() {
    const char *ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0' && std::string(ci) != "false" && std::string(ci) != "0";
}

bool tool_exists(const std::string &name) {
    return run_program("/bin/sh", {"sh", "-c", "command -v " + name}, "/").exit_status == 0;
}

// Output of a shell command line run in `folder`; $0 is `argument`.
program_run run_shell(const std::string &command, const std::string &argument,
                      const std::string &folder) {
    return run_program("/bin/sh", {"sh", "-c", command, argument}, folder);
}

// A gzip file that gives the same bytes on every build: no file name and no
// date in its header (bytes 3 to 7: flags, then the time).
void expect_reproducible_gzip(const std::string &path) {
    std::string bytes = read_file(path);
    ASSERT_GE(bytes.size(), 10u) << path;
    EXPECT_EQ(bytes.substr(0, 2), "\x1f\x8b") << path;
    EXPECT_EQ(bytes.substr(3, 5), std::string(5, '\0')) << path << ": a name or a date is stored";
}

std::string gunzipped(const std::string &path) {
    program_run unzip = run_shell("gzip -dc \"$0\"", path, "/");
    EXPECT_EQ(unzip.exit_status, 0) << path << ": " << unzip.errors;
    return unzip.output;
}

program_run run_sfxpack(const std::string &sfxpack, const std::vector<std::string> &arguments,
                        const std::string &folder) {
    std::vector<std::string> all{"sfxpack"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return run_program(sfxpack, all, folder);
}

// The --targets listing of a tree whose stubs are below `lib_sfx`.
std::string targets_listing(const std::string &lib_sfx) {
    std::string text;
    for (const installed_stub &stub : built_stubs()) {
        char line[4096];
        std::snprintf(line, sizeof line, "%-14s %s\n", stub.target.c_str(),
                      (lib_sfx + "/" + stub.relative_path).c_str());
        text += line;
    }
    return text;
}

// Installs the build into `prefix`.
void install_into(const std::string &prefix) {
    program_run install =
        run_program(CMAKE_COMMAND, {"cmake", "--install", BUILD_DIR, "--prefix", prefix}, "/");
    ASSERT_EQ(install.exit_status, 0) << install.output << install.errors;
}

void move_tree(const std::string &from, const std::string &to) {
    ASSERT_EQ(std::rename(from.c_str(), to.c_str()), 0) << from << " -> " << to;
}

// Packs a small tree with `sfxpack` and the stub-choosing `stub_arguments`,
// runs the file in a fresh folder and checks what it prints and recreates.
// `expected_stub` is the file that must stand in front.
void check_pack_and_run(const std::string &sfxpack, const std::vector<std::string> &stub_arguments,
                        const std::string &expected_stub) {
    temp_folder folder;
    ASSERT_EQ(mkdir((folder / "tree").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((folder / "tree/docs").c_str(), 0755), 0);
    write_file(folder / "tree/docs/guide.txt", "read this\n");
    std::vector<std::string> arguments = stub_arguments;
    arguments.insert(arguments.end(), {"-o", "setup.exe", "-C", "tree", "docs"});
    program_run pack = run_sfxpack(sfxpack, arguments, folder.path);
    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    EXPECT_EQ(pack.errors, "");
    std::string stub = read_file(expected_stub);
    ASSERT_EQ(read_file(folder / "setup.exe").substr(0, stub.size()), stub);

    ASSERT_EQ(mkdir((folder / "run").c_str(), 0755), 0);
    ASSERT_EQ(std::rename((folder / "setup.exe").c_str(), (folder / "run/setup.exe").c_str()), 0);
    program_run run = run_setup(folder / "run");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output, "File : ./SETUP.EXE\n" + directory_line("docs") +
                              file_line("docs/guide.txt", figure("0.0")) + SEPARATOR);
    EXPECT_EQ(read_file(folder / "run/docs/guide.txt"), "read this\n");
}

TEST(InstallTree, MovedPrefixHoldsTheLayoutAndFindsEveryStub) {
    temp_folder folder;
    install_into(folder / "prefix");
    move_tree(folder / "prefix", folder / "moved");
    std::string moved = folder / "moved";

    std::vector<std::string> expected{"bin/",
                                      "bin/sfxpack",
                                      "lib/",
                                      "lib/sfx/",
                                      "share/",
                                      "share/bash-completion/",
                                      "share/bash-completion/completions/",
                                      "share/bash-completion/completions/sfxpack",
                                      "share/man/",
                                      "share/man/man1/",
                                      "share/man/man1/sfxpack.1.gz"};
    for (const installed_stub &stub : built_stubs()) {
        expected.push_back("lib/sfx/" + stub.target + "/");
        expected.push_back("lib/sfx/" + stub.relative_path);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(list_tree(moved), expected);
    expect_reproducible_gzip(moved + "/share/man/man1/sfxpack.1.gz");
    EXPECT_EQ(gunzipped(moved + "/share/man/man1/sfxpack.1.gz"), read_file(MAN_PAGE_PATH));
    EXPECT_EQ(read_file(moved + "/share/bash-completion/completions/sfxpack"),
              read_file(COMPLETION_PATH));
    EXPECT_EQ(read_file(moved + "/lib/sfx/" SFX_NATIVE_TARGET "/sfxstub"), stub_image());

    program_run targets = run_sfxpack(moved + "/bin/sfxpack", {"--targets"}, folder.path);
    EXPECT_EQ(targets.exit_status, 0) << targets.errors;
    EXPECT_EQ(targets.output, targets_listing(moved + "/lib/sfx"));
    EXPECT_EQ(targets.errors, "");
}

TEST(InstallTree, MovedPrefixPacksWithTheInstalledStubs) {
    temp_folder folder;
    install_into(folder / "prefix");
    move_tree(folder / "prefix", folder / "moved");
    std::string sfxpack = folder / "moved/bin/sfxpack";
    std::string native = folder / "moved/lib/sfx/" SFX_NATIVE_TARGET "/sfxstub";
    {
        SCOPED_TRACE("default stub");
        check_pack_and_run(sfxpack, {}, native);
    }
    {
        SCOPED_TRACE("--target " SFX_NATIVE_TARGET);
        check_pack_and_run(sfxpack, {"--target", SFX_NATIVE_TARGET}, native);
    }

    // Another target's file can't run here; its stub and the separator of its
    // names ('\\' for Windows) show that the right one was picked.
    for (const installed_stub &stub : built_stubs()) {
        if (stub.target == SFX_NATIVE_TARGET)
            continue;
        SCOPED_TRACE(stub.target);
        program_run pack = run_sfxpack(
            sfxpack, {"--target", stub.target, "-o", "other.exe", "-C", folder / "moved", "share"},
            folder.path);
        ASSERT_EQ(pack.exit_status, 0) << pack.errors;
        std::string image = read_file(folder / "moved/lib/sfx/" + stub.relative_path);
        EXPECT_EQ(read_file(folder / "other.exe").substr(0, image.size()), image);
        program_run list = run_sfxpack(sfxpack, {"-l", "other.exe"}, folder.path);
        EXPECT_EQ(list.exit_status, 0) << list.errors;
        std::string name = std::string("share") + stub.separator + "man" + stub.separator + "man1" +
                           stub.separator + "sfxpack.1.gz\n";
        EXPECT_NE(list.output.find(name), std::string::npos) << list.output;
    }
}

TEST(InstallTree, MissingStubsAreNamedAndNothingIsWritten) {
    temp_folder folder;
    install_into(folder / "prefix");
    std::string prefix = folder / "prefix";
    std::string sfxpack = prefix + "/bin/sfxpack";
    write_file(folder / "a.txt", "a");

    struct missing_case {
        const char *what;
        std::vector<std::string> arguments;
        const char *message;
    };
    const missing_case cases[] = {
        {"unknown target", {"--target", "win99"}, "no stub for target 'win99'; found: "},
        {"a path is no target", {"--target", "../bin"}, "'../bin' is not a target name"},
    };
    for (const missing_case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {"-o", "setup.exe", "a.txt"});
        program_run pack = run_sfxpack(sfxpack, arguments, folder.path);
        // A target the tree has no stub for is a mistake on the command line.
        EXPECT_EQ(pack.exit_status, 2);
        EXPECT_NE(pack.errors.find(c.message), std::string::npos) << pack.errors;
        EXPECT_NE(pack.errors.find("Try 'sfxpack --help'."), std::string::npos) << pack.errors;
        EXPECT_FALSE(path_exists(folder / "setup.exe"));
    }

    // Without the native stub the default has nothing to pack with, and the
    // message says where it looked.
    std::string native = prefix + "/lib/sfx/" SFX_NATIVE_TARGET;
    ASSERT_EQ(std::remove((native + "/sfxstub").c_str()), 0);
    program_run pack = run_sfxpack(sfxpack, {"-o", "setup.exe", "a.txt"}, folder.path);
    EXPECT_EQ(pack.exit_status, 1);
    EXPECT_NE(pack.errors.find("no stub for this system (looked for " + native + "/sfxstub"),
              std::string::npos)
        << pack.errors;
    EXPECT_FALSE(path_exists(folder / "setup.exe"));
    program_run targets = run_sfxpack(sfxpack, {"--targets"}, folder.path);
    if (built_stubs().size() > 1) {
        EXPECT_EQ(targets.exit_status, 0);
        EXPECT_EQ(targets.output.find(SFX_NATIVE_TARGET), std::string::npos) << targets.output;
    } else {
        EXPECT_EQ(targets.exit_status, 1);
        EXPECT_EQ(targets.output, "");
    }
}

TEST(InstallTree, BuildFolderFindsTheStubsWhereTheBuildPutsThem) {
    program_run targets = run_sfxpack(SFXPACK_PATH, {"--targets"}, BUILD_DIR);
    EXPECT_EQ(targets.exit_status, 0) << targets.errors;
    std::string expected = targets_listing(BUILD_DIR "/lib/sfx");
    // The native stub is built beside sfxpack.
    std::string staged = BUILD_DIR "/lib/sfx/" SFX_NATIVE_TARGET "/sfxstub";
    expected.replace(expected.find(staged), staged.size(), stub_program());
    EXPECT_EQ(targets.output, expected);
    check_pack_and_run(SFXPACK_PATH, {"--target", SFX_NATIVE_TARGET}, stub_program());
}

// Builds the Debian package into `folder`/out and returns its path.
std::string build_package(const std::string &folder) {
    program_run cpack = run_program(
        CPACK_COMMAND,
        {"cpack", "-G", "DEB", "--config", BUILD_DIR "/CPackConfig.cmake", "-B", folder + "/out"},
        folder);
    EXPECT_EQ(cpack.exit_status, 0) << cpack.output << cpack.errors;
    program_run find = run_shell("ls out/sfx_*.deb", "", folder);
    EXPECT_EQ(find.exit_status, 0) << find.errors;
    return folder + "/" + find.output.substr(0, find.output.find('\n'));
}

// Skips the test when `tool` is missing, except under CI, where it fails.
#define REQUIRE_TOOL(tool)                                                                         \
    do {                                                                                           \
        if (!tool_exists(tool)) {                                                                  \
            if (in_ci())                                                                           \
                FAIL() << tool " is missing (tests/run-all installs it)";                          \
            GTEST_SKIP() << tool " is missing (bash tests/run-all installs it)";                   \
        }                                                                                          \
    } while (0)

TEST(DebianPackage, UnpackedPackageHoldsTheLayoutAndPacksAFileThatRuns) {
    REQUIRE_TOOL("dpkg-deb");
    temp_folder folder;
    std::string deb = build_package(folder.path);
    ASSERT_FALSE(HasFailure());

    program_run fields = run_shell("dpkg-deb -f \"$0\" Package Maintainer", deb, folder.path);
    EXPECT_EQ(fields.output, "Package: sfx\nMaintainer: " SFX_PACKAGE_MAINTAINER "\n")
        << fields.errors;
    // Found from what sfxpack is linked against, with the versions it needs.
    program_run depends = run_shell("dpkg-deb -f \"$0\" Depends", deb, folder.path);
    EXPECT_NE(depends.output.find("libc6 (>= "), std::string::npos) << depends.output;
    // sfxpack -z compresses with liblzma.
    EXPECT_NE(depends.output.find("liblzma5"), std::string::npos) << depends.output;
    EXPECT_NE(depends.output.find("libstdc++6 (>= "), std::string::npos) << depends.output;

    program_run unpack = run_shell("dpkg-deb -x \"$0\" root", deb, folder.path);
    ASSERT_EQ(unpack.exit_status, 0) << unpack.errors;
    std::string usr = folder / "root/usr";
    EXPECT_EQ(gunzipped(usr + "/share/man/man1/sfxpack.1.gz"), read_file(MAN_PAGE_PATH));
    EXPECT_FALSE(path_exists(usr + "/bin/sfxstub"));
    std::string doc = usr + "/share/doc/sfx/";
    expect_reproducible_gzip(doc + "changelog.gz");
    EXPECT_EQ(gunzipped(doc + "changelog.gz").rfind("sfx (" SFX_VERSION ") ", 0), 0u);
    std::string copyright = read_file(doc + "copyright");
    EXPECT_EQ(copyright.rfind("Format: https://www.debian.org/doc/packaging-manuals/"
                              "copyright-format/1.0/\n",
                              0),
              0u)
        << copyright;
    EXPECT_NE(copyright.find("\nLicense: Zlib\n This software is provided 'as-is'"),
              std::string::npos)
        << copyright;
    EXPECT_EQ(read_file(usr + "/share/bash-completion/completions/sfxpack"),
              read_file(COMPLETION_PATH));

    program_run targets = run_sfxpack(usr + "/bin/sfxpack", {"--targets"}, folder.path);
    EXPECT_EQ(targets.exit_status, 0) << targets.errors;
    EXPECT_EQ(targets.output, targets_listing(usr + "/lib/sfx"));
    check_pack_and_run(usr + "/bin/sfxpack", {}, usr + "/lib/sfx/" SFX_NATIVE_TARGET "/sfxstub");
}

// A distribution's package checker reports no error and no warning; what it
// would say about the static stub is overridden in the package, with the reason.
TEST(DebianPackage, PackageCheckerFindsNoErrorOrWarning) {
    if (INSTRUMENTED_BUILD)
        GTEST_SKIP() << "an instrumented build is not what the package ships";
    REQUIRE_TOOL("dpkg-deb");
    REQUIRE_TOOL("lintian");
    temp_folder folder;
    std::string deb = build_package(folder.path);
    ASSERT_FALSE(HasFailure());
    program_run check = run_shell("lintian --fail-on error,warning \"$0\"", deb, folder.path);
    EXPECT_EQ(check.exit_status, 0) << check.output << check.errors;
    EXPECT_EQ(check.output, "");
}

} // namespace
