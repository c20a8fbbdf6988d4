// SPDX-License-Identifier: Zlib
// sfxpack's packing and -x in this process, with failures and rivals put in
// through the table of system calls they make (platform_pack_calls.h): what
// the real system can't be made to do for a test, as root reads every file
// and writes into every folder, or what only another user could do at the
// right moment.
#include "command_line.h"
#include "extract_files.h"
#include "pack.h"
#include "pack_messages.h"
#include "platform_pack_calls.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every message the packer's work wrote, as sfxpack would print it, and how
// many there were.
std::string messages;
long message_count;

} // namespace

void write_message(const char *prefix, const char *reason, const char *format, va_list arguments) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, arguments);
    ++message_count;
    if (messages.size() < 100000)
        messages += std::string("sfxpack: ") + prefix + text + (reason ? ": " : "") +
                    (reason ? reason : "") + "\n";
}

namespace {

// The folder a call's path is in: `folder` as the system names it, joined
// with the path. Enough to tell which folder of a test a call reaches.
std::string path_at(int folder, const char *path) {
    if (path[0] == '/')
        return path;
    std::string base = ".";
    if (folder != AT_FDCWD) {
        char target[4096];
        ssize_t length =
            readlink(("/proc/self/fd/" + std::to_string(folder)).c_str(), target, sizeof target);
        base = length > 0 ? std::string(target, static_cast<size_t>(length)) : "?";
    } else {
        char current[4096];
        base = getcwd(current, sizeof current) != nullptr ? current : "?";
    }
    return base + "/" + path;
}

// What a test does to a call before (or instead of) the system: return true
// after setting errno to fail it.
std::function<bool(const std::string &path, int flags)> refuse_open;
std::function<bool(const std::string &path)> refuse_mkdir;
std::function<void(int folder, const char *from)> before_rename;
std::function<void()> on_mkdir;

int test_openat(int folder, const char *path, int flags, mode_t mode) {
    if (refuse_open && refuse_open(path_at(folder, path), flags))
        return -1;
    return PLATFORM_SYSTEM_CALLS.openat(folder, path, flags, mode);
}

int test_mkdirat(int folder, const char *path, mode_t mode) {
    if (on_mkdir)
        on_mkdir();
    if (refuse_mkdir && refuse_mkdir(path_at(folder, path)))
        return -1;
    return PLATFORM_SYSTEM_CALLS.mkdirat(folder, path, mode);
}

int test_renameat2(int from_folder, const char *from, int to_folder, const char *to,
                   unsigned int flags) {
    if (before_rename)
        before_rename(from_folder, from);
    return PLATFORM_SYSTEM_CALLS.renameat2(from_folder, from, to_folder, to, flags);
}

// Puts the test's calls in for one test and the system's back after it.
struct injected_calls {
    injected_calls() {
        platform_calls = PLATFORM_SYSTEM_CALLS;
        platform_calls.openat = test_openat;
        platform_calls.mkdirat = test_mkdirat;
        platform_calls.renameat2 = test_renameat2;
        messages.clear();
        message_count = 0;
    }
    ~injected_calls() {
        platform_calls = PLATFORM_SYSTEM_CALLS;
        refuse_open = nullptr;
        refuse_mkdir = nullptr;
        before_rename = nullptr;
        on_mkdir = nullptr;
    }
};

bool ends_with(const std::string &text, const std::string &ending) {
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

bool fail_with(int error) {
    errno = error;
    return true;
}

// Files without a name are refused as by a file system that has none.
bool refuse_unnamed(int flags) {
    return (flags & O_TMPFILE) == O_TMPFILE && fail_with(EOPNOTSUPP);
}

// Runs sfxpack with `arguments` in `folder` in this process: its status.
int run_in(const std::string &folder, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "sfxpack");
    std::vector<char *> argv = exec_arguments(arguments);
    pack_options options;
    std::string problem;
    if (!parse_command_line(static_cast<int>(arguments.size()), argv.data(), &options, &problem)) {
        ADD_FAILURE() << problem;
        return -1;
    }
    char home[4096];
    if (getcwd(home, sizeof home) == nullptr || chdir(folder.c_str()) != 0) {
        ADD_FAILURE() << "can't enter " << folder;
        return -1;
    }
    int status = options.action == ACTION_EXTRACT ? run_extract(options) : run_pack(options);
    if (chdir(home) != 0)
        ADD_FAILURE() << "can't return to " << home;
    return status;
}

// A folder with the stub as stub.bin, for packing with -s.
struct pack_place {
    temp_folder folder;
    pack_place() {
        write_file(folder / "stub.bin", stub_image());
    }
    int pack(const std::vector<std::string> &inputs) {
        std::vector<std::string> arguments = {"-o", "setup.exe", "-s", "stub.bin"};
        arguments.insert(arguments.end(), inputs.begin(), inputs.end());
        return run_in(folder.path, arguments);
    }
};

// An input the packer may not read, file or folder, is named with the
// system's reason and no output is made.
TEST(SystemCalls, UnreadableInputIsRefused) {
    for (const char *input : {"secret.txt", "locked"}) {
        SCOPED_TRACE(input);
        injected_calls calls;
        pack_place place;
        write_file(place.folder / "secret.txt", "s");
        ASSERT_EQ(mkdir((place.folder / "locked").c_str(), 0755), 0);
        refuse_open = [&](const std::string &path, int) {
            return ends_with(path, std::string("/") + input) && fail_with(EACCES);
        };

        int status = place.pack({input});

        EXPECT_EQ(status, 1);
        EXPECT_NE(messages.find(std::string("'") + input + "'"), std::string::npos) << messages;
        EXPECT_NE(messages.find(std::strerror(EACCES)), std::string::npos) << messages;
        EXPECT_FALSE(path_exists(place.folder / "setup.exe"));
        EXPECT_EQ(list_tree(place.folder.path),
                  (std::vector<std::string>{"locked/", "secret.txt", "stub.bin"}));
    }
}

// A folder -x writes into that takes no new entry.
struct refusing_out_folder {
    temp_folder place;
    refusing_out_folder(const std::string &members) {
        write_raw_setup(place.path, members);
        EXPECT_EQ(mkdir((place / "out").c_str(), 0755), 0);
        std::string inside = place / "out/";
        refuse_open = [inside](const std::string &path, int flags) {
            bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
            return creates && path.rfind(inside, 0) == 0 && fail_with(EACCES);
        };
        refuse_mkdir = [inside](const std::string &path) {
            return path.rfind(inside, 0) == 0 && fail_with(EACCES);
        };
    }
};

TEST(SystemCalls, UnwritableFolderGivesTheSystemsReason) {
    injected_calls calls;
    refusing_out_folder out(record_bytes('f', "a.txt", 1) + "a");

    EXPECT_EQ(run_in(out.place.path, {"-x", "setup.exe", "-C", "out"}), 1);

    EXPECT_EQ(messages,
              "sfxpack: can't create 'out/a.txt': " + std::string(std::strerror(EACCES)) + "\n");
    EXPECT_EQ(list_tree(out.place / "out"), std::vector<std::string>{});
}

// A folder that can't be created is named once: the members below it, with
// or without a record of the folder, are passed over without more messages.
TEST(SystemCalls, AFolderThatCantBeCreatedIsNamedOnce) {
    injected_calls calls;
    refusing_out_folder out(record_bytes('d', "d", 0) + record_bytes('f', "d/a.txt", 1) + "a" +
                            record_bytes('f', "d/sub/b.txt", 1) + "b" +
                            record_bytes('f', "x.txt", 1) + "x" + record_bytes('f', "y/z.txt", 1) +
                            "z" + record_bytes('f', "y/w.txt", 1) + "w");

    EXPECT_EQ(run_in(out.place.path, {"-x", "setup.exe", "-C", "out"}), 1);

    const std::string reason = std::strerror(EACCES);
    EXPECT_EQ(messages, "sfxpack: can't create the folder 'out/d': " + reason +
                            "\nsfxpack: can't create 'out/x.txt': " + reason +
                            "\nsfxpack: can't create the folder 'out/y': " + reason + "\n");
    EXPECT_EQ(list_tree(out.place / "out"), std::vector<std::string>{});
}

// Records whose folders can't be created cost no memory each: 200,000 of
// them, each in a folder of its own, once grew the heap by over 60 MB.
TEST(SystemCalls, FoldersThatCantBeCreatedAreNotHeldWithoutBound) {
    const int count = 200000;
    std::string members;
    members.reserve(static_cast<size_t>(count) * (RECORD_SIZE + 1));
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "d%06d/f", i);
        members += record_bytes('f', name, 1) + "f";
    }
    injected_calls calls;
    refusing_out_folder out(members);
    members.clear();
    members.shrink_to_fit();
    // Small blocks and those the allocator maps on their own.
    auto in_use = [] {
        struct mallinfo2 now = mallinfo2();
        return now.uordblks + now.hblkhd;
    };
    size_t start = in_use();
    size_t peak = start;
    long made = 0;
    on_mkdir = [&] {
        if (++made % 1000 == 0)
            peak = std::max(peak, in_use());
    };

    EXPECT_EQ(run_in(out.place.path, {"-x", "setup.exe", "-C", "out"}), 1);

    EXPECT_EQ(made, count);
    EXPECT_EQ(message_count, count);
    EXPECT_LT(peak - start, size_t(4) << 20);
}

// Where the file system has no files without a name, each member goes to a
// named temporary file beside it: the members come out, a file already
// there is replaced, and no temporary file is left; the same for -o.
TEST(SystemCalls, WithoutUnnamedFilesNamedTemporaryFilesServe) {
    injected_calls calls;
    bool named = false;
    refuse_open = [&](const std::string &, int flags) {
        named = named || (flags & O_CREAT) != 0;
        return refuse_unnamed(flags);
    };
    pack_place place;
    make_folder(place.folder / "src");
    write_file(place.folder / "src/a.txt", "a");
    write_file(place.folder / "src/b.txt", patterned_data(100000));
    write_file(place.folder / "setup.exe", "old");

    ASSERT_EQ(place.pack({"-C", "src", "."}), 0) << messages;
    make_folder(place.folder / "out");
    write_file(place.folder / "out/a.txt", "old");
    EXPECT_EQ(run_in(place.folder.path, {"-x", "setup.exe", "-C", "out"}), 0) << messages;

    EXPECT_TRUE(named);
    EXPECT_EQ(messages, "");
    EXPECT_EQ(list_tree(place.folder / "out"), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(read_file(place.folder / "out/a.txt"), "a");
    EXPECT_EQ(read_file(place.folder / "out/b.txt"), patterned_data(100000));
    EXPECT_EQ(list_tree(place.folder.path),
              (std::vector<std::string>{"out/", "out/a.txt", "out/b.txt", "setup.exe", "src/",
                                        "src/a.txt", "src/b.txt", "stub.bin"}));
}

// Someone who may write into the folder moves his own file onto the named
// temporary file just before it takes its name: the name then holds his
// file, not the one written. The run says so, removes it and fails.
TEST(SystemCalls, ASwappedTemporaryFileIsFoundAndRemoved) {
    struct swap_case {
        const char *what;
        std::vector<std::string> arguments;
        const char *temporary; // how the temporary file's name starts
        std::string message;
        std::vector<std::string> left;
    };
    const swap_case cases[] = {
        {"-x",
         {"-x", "setup.exe", "-C", "out"},
         ".sfxpack-part.",
         "sfxpack: 'out/a.txt' is not the member written: another file took the place of its "
         "temporary file; it is removed\n",
         {"out/", "setup.exe", "src/", "src/a.txt", "stub.bin"}},
        {"-o",
         {"-o", "setup.exe", "-s", "stub.bin", "-C", "src", "."},
         "setup.exe.",
         "sfxpack: 'setup.exe' is not the file written: another took the place of its "
         "temporary file; it is removed\n",
         {"out/", "src/", "src/a.txt", "stub.bin"}},
    };
    for (const swap_case &c : cases) {
        SCOPED_TRACE(c.what);
        pack_place place;
        make_folder(place.folder / "src");
        write_file(place.folder / "src/a.txt", "a");
        make_folder(place.folder / "out");
        ASSERT_EQ(place.pack({"-C", "src", "."}), 0);
        injected_calls calls;
        refuse_open = [](const std::string &, int flags) { return refuse_unnamed(flags); };
        const std::string rival = place.folder / "rival";
        before_rename = [&](int folder, const char *from) {
            if (std::strncmp(from, c.temporary, std::strlen(c.temporary)) != 0)
                return;
            write_file(rival + ".new", "#!/bin/sh\necho not yours\n");
            PLATFORM_SYSTEM_CALLS.renameat2(AT_FDCWD, (rival + ".new").c_str(), folder, from, 0);
        };

        EXPECT_EQ(run_in(place.folder.path, c.arguments), 1);

        EXPECT_EQ(messages, c.message);
        EXPECT_EQ(list_tree(place.folder.path), c.left);
    }
}

} // namespace
