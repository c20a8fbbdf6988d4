// SPDX-License-Identifier: Zlib
// sfxpack -x: recreating the members of a self-extracting file without running
// its stub, judged by the stub's own rules, never writing outside the chosen
// folder, and with an exit status that says whether every member came out whole.
#include "sfxpack_run.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder `out` to extract into, inside a temporary folder that also holds
// the archive, so that listing the temporary folder shows anything written
// beside `out`.
struct extract_place {
    temp_folder outer;
    std::string out = outer / "out";
    extract_place() {
        mkdir(out.c_str(), 0755);
    }
    // Everything below the temporary folder but the archive.
    std::vector<std::string> written() const {
        std::vector<std::string> entries;
        for (const std::string &entry : list_tree(outer.path))
            if (entry != "setup.exe")
                entries.push_back(entry);
        return entries;
    }
};

std::vector<std::string> under_out(const std::vector<std::string> &entries) {
    std::vector<std::string> prefixed{"out/"};
    for (const std::string &entry : entries)
        prefixed.push_back("out/" + entry);
    return prefixed;
}

// Packs a small tree with the stub chosen by `stub_options` (run from the
// folder that holds stub.bin), checks how the inner name is stored, and
// extracts it again with -x.
void check_round_trip(const std::string &stub, const std::vector<std::string> &stub_options,
                      const std::string &stored_inner) {
    extract_place place;
    const std::string src = place.outer / "src";
    make_folder(src);
    make_folder(src + "/docs");
    make_folder(src + "/docs/guides");
    make_folder(src + "/empty");
    // More than one copy chunk, and not a whole number of them.
    write_file(src + "/big.bin", patterned_data(600001, 4));
    write_file(src + "/docs/guides/usage.txt", "use it\n");
    write_file(src + "/zero.txt", "");
    write_file(place.outer / "stub.bin", stub);
    std::vector<std::string> pack_arguments = stub_options;
    pack_arguments.insert(pack_arguments.end(), {"-o", "setup.exe", "-C", "src", "."});
    program_run pack = run_sfxpack(pack_arguments, place.outer.path);
    ASSERT_EQ(pack.exit_status, 0) << pack.errors;
    program_run list = run_sfxpack({"-l", "setup.exe"}, place.outer.path);
    EXPECT_NE(list.output.find(" " + stored_inner + "\n"), std::string::npos) << list.output;

    program_run extract = run_sfxpack({"-x", "setup.exe", "-C", "out", "-v"}, place.outer.path);

    EXPECT_EQ(extract.exit_status, 0) << extract.errors;
    EXPECT_EQ(extract.errors, "");
    // -v names each member as it comes, in archive order, folders with '/'.
    EXPECT_EQ(extract.output,
              "big.bin\ndocs/\ndocs/guides/\ndocs/guides/usage.txt\nempty/\nzero.txt\n");
    EXPECT_EQ(list_tree(place.out), list_tree(src));
    for (const char *file : {"big.bin", "docs/guides/usage.txt", "zero.txt"})
        EXPECT_TRUE(read_file(place.out + "/" + file) == read_file(src + "/" + file)) << file;
}

TEST(ExtractFiles, RoundTripForPosixAndWindowsStubs) {
    {
        SCOPED_TRACE("the built POSIX stub");
        check_round_trip(stub_image(), {"-s", "stub.bin"}, "docs/guides/usage.txt");
    }
    {
        // Only the PE header tells a Windows program; -x never runs the stub.
        SCOPED_TRACE("a stand-in for a Windows stub");
        check_round_trip(pe_stub_bytes(4002, 2), {"-s", "stub.bin"}, "docs\\guides\\usage.txt");
    }
}

TEST(ExtractFiles, RoundTripForTheCrossBuiltWindowsStubs) {
    if (!SFX_WINDOWS_STUBS)
        GTEST_SKIP() << "the Windows stubs are not built (SFX_WINDOWS_STUBS is OFF)";
    for (const char *target : {"win32", "win64"}) {
        SCOPED_TRACE(target);
        check_round_trip("", {"--target", target}, "docs\\guides\\usage.txt");
    }
}

// Names behind a Windows stub are stored in its code page and come back as
// the UTF-8 names they were packed from; a stored name that means nothing in
// the code page is reported and passed over, and the run ends with 1.
TEST(ExtractFiles, NamesComeBackFromTheCodePage) {
    struct codepage_case {
        std::vector<std::string> codepage_options;
        std::string name; // UTF-8, on disk before packing and after extracting
    };
    const codepage_case cases[] = {
        {{}, "caf\xc3\xa9.txt"},
        {{"--codepage", "1251"}, "\xd0\xbf\xd1\x80\xd0\xb8.txt"},
        {{"--codepage", "932"}, "\xe8\xa1\xa8\xe7\xa4\xba.txt"},
    };
    for (const codepage_case &c : cases) {
        SCOPED_TRACE(c.name);
        extract_place place;
        make_folder(place.outer / "src");
        write_file(place.outer / ("src/" + c.name), "named");
        write_file(place.outer / "stub.bin", pe_stub_bytes(102, 3));
        std::vector<std::string> pack_arguments = {"-s", "stub.bin", "-o", "setup.exe",
                                                   "-C", "src",      "."};
        pack_arguments.insert(pack_arguments.end(), c.codepage_options.begin(),
                              c.codepage_options.end());
        program_run pack = run_sfxpack(pack_arguments, place.outer.path);
        ASSERT_EQ(pack.exit_status, 0) << pack.errors;
        std::vector<std::string> extract_arguments = {"-x", "setup.exe", "-C", "out"};
        extract_arguments.insert(extract_arguments.end(), c.codepage_options.begin(),
                                 c.codepage_options.end());

        program_run extract = run_sfxpack(extract_arguments, place.outer.path);

        EXPECT_EQ(extract.exit_status, 0) << extract.errors;
        EXPECT_EQ(list_tree(place.out), (std::vector<std::string>{c.name}));
        EXPECT_EQ(read_file(place.out + "/" + c.name), "named");
    }
    {
        // The Windows stub refuses such a record, and so does -x: the walk
        // ends there.
        SCOPED_TRACE("a byte without meaning in code page 1252");
        extract_place place;
        std::string stub = pe_stub_bytes(102, 3);
        write_raw_setup(place.outer.path,
                        record_bytes('f', "ok.txt", 2) + "ok" +
                            record_bytes('f', "bad\x81.txt", 1) + "b" +
                            record_bytes('f', "after.txt", 1) + "a",
                        0, "setup.exe", &stub);

        program_run extract = run_sfxpack({"-x", "setup.exe", "-C", "out"}, place.outer.path);

        EXPECT_EQ(extract.exit_status, 1);
        EXPECT_EQ(extract.errors, "sfxpack: 'setup.exe': bad record at offset 54266 (name holds "
                                  "bytes that mean nothing in the code page); the extractor "
                                  "stops there\n");
        EXPECT_EQ(list_tree(place.out), (std::vector<std::string>{"ok.txt"}));
    }
}

// -l, -t, -x and the stub decide alike on every record: each stops at the
// record the stub refuses, and takes up those before it.
TEST(ExtractFiles, EveryReaderRefusesWhatTheStubRefuses) {
    const std::string first = record_bytes('f', "first.txt", 1) + "1";
    const std::string later = record_bytes('f', "later.txt", 1) + "L";
    const char *refused[] = {
        "x/", "y/.", ".", "z\\", "csi\xc2\x9b", "raw\x85", "bidi\xe2\x81\xa6x"};
    for (const char *name : refused) {
        SCOPED_TRACE(testing::PrintToString(std::string(name)));
        extract_place place;
        write_raw_setup(place.outer.path, first + record_bytes('f', name, 1) + "X" + later);

        program_run run = run_setup(place.outer.path);
        program_run list = run_sfxpack({"-l", "setup.exe"}, place.outer.path);
        program_run test = run_sfxpack({"-t", "setup.exe"}, place.outer.path);
        program_run extract = run_sfxpack({"-x", "setup.exe", "-C", "out"}, place.outer.path);

        EXPECT_EQ(run.output, FILE_LINE + file_line("first.txt", figure("0.0")) + BAD_RECORD);
        EXPECT_EQ(list.output, "f unchecked -          1 first.txt\n");
        for (const program_run *reader : {&list, &test, &extract}) {
            EXPECT_EQ(reader->exit_status, 1);
            EXPECT_NE(reader->errors.find("bad record at offset 54265"), std::string::npos)
                << reader->errors;
        }
        EXPECT_EQ(list_tree(place.out), (std::vector<std::string>{"first.txt"}));
    }
}

// Without -C the members land in the current folder; without -v nothing is
// printed. A member replaces an existing file as the stub's does, but as a
// new file with the usual rights: another hard link to the old one keeps its
// bytes and its mode.
TEST(ExtractFiles, CurrentFolderAndReplacedFiles) {
    temp_folder folder;
    write_file(folder / "old.txt", "old bytes");
    chmod((folder / "old.txt").c_str(), 0700);
    ASSERT_EQ(link((folder / "old.txt").c_str(), (folder / "other-link.txt").c_str()), 0);
    write_raw_setup(folder.path, record_bytes('f', "old.txt", 3) + "new");

    program_run extract = run_sfxpack({"-x", "setup.exe"}, folder.path);

    EXPECT_EQ(extract.exit_status, 0) << extract.errors;
    EXPECT_EQ(extract.output, "");
    EXPECT_EQ(extract.errors, "");
    EXPECT_EQ(read_file(folder / "old.txt"), "new");
    EXPECT_EQ(read_file(folder / "other-link.txt"), "old bytes");
    mode_t mask = umask(0);
    umask(mask);
    struct stat status;
    ASSERT_EQ(stat((folder / "old.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0666 & ~mask);
    ASSERT_EQ(stat((folder / "other-link.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    EXPECT_EQ(list_tree(folder.path),
              std::vector<std::string>({"old.txt", "other-link.txt", "setup.exe"}));
}

// A hostile file is judged like the stub judges it: the length first, then
// each record before anything touches the disk. Members before a bad record
// stay; nothing after it is read; nothing is ever written outside the folder.
TEST(ExtractFiles, HostileFilesAreRefusedWithNothingWrittenOutside) {
    const std::string first = record_bytes('f', "first.txt", 1) + "1";
    const std::string later = record_bytes('f', "later.txt", 1) + "L";
    struct hostile_case {
        const char *what;
        std::string members;
        int64_t trailer_error;
        std::string message;
        std::vector<std::string> extracted; // below out/
    };
    const hostile_case cases[] = {
        {"sound members, length one byte off", first + later, 1, "but its trailer says", {}},
        {"traversal with '..'",
         first + record_bytes('f', "../evil.txt", 1) + "E" + later,
         0,
         "bad record at offset 54265 (name leaves the extraction folder)",
         {"first.txt"}},
        {"traversal with '\\' between parts",
         first + record_bytes('d', "a", 0) + record_bytes('f', "a\\..\\..\\evil.txt", 1) + "E",
         0,
         "bad record at offset 54529 (name leaves the extraction folder)",
         {"a/", "first.txt"}},
        {"absolute name",
         record_bytes('f', "/tmp/evil.txt", 1) + "E",
         0,
         "bad record at offset 54000 (name leaves the extraction folder)",
         {}},
        {"drive letter",
         record_bytes('d', "C:evil", 0),
         0,
         "bad record at offset 54000 (name leaves the extraction folder)",
         {}},
        {"size past the end",
         first + record_bytes('f', "big.bin", 1000) + std::string(10, 'x'),
         0,
         "bad record at offset 54265 (size negative or past the end of the archive)",
         {"first.txt"}},
        {"wrong magic number",
         first + record_bytes('f', "bad.txt", 1, RECORD_MAGIC + 1) + "B" + later,
         0,
         "bad record at offset 54265 (wrong magic number)",
         {"first.txt"}},
        {"no members", "", 0, "holds no members", {}},
        // -x would make the file "x" of "x/"; the stub can't create it.
        {"file named as a folder",
         first + record_bytes('f', "x/", 1) + "X" + later,
         0,
         "bad record at offset 54265 (a file's name ends in a separator or '.')",
         {"first.txt"}},
        {"file named as a folder's dot",
         first + record_bytes('f', "y/.", 1) + "Y" + later,
         0,
         "bad record at offset 54265 (a file's name ends in a separator or '.')",
         {"first.txt"}},
    };
    for (const hostile_case &c : cases) {
        SCOPED_TRACE(c.what);
        extract_place place;
        write_raw_setup(place.outer.path, c.members, c.trailer_error);

        program_run extract = run_sfxpack({"-x", "setup.exe", "-C", "out"}, place.outer.path);

        EXPECT_EQ(extract.exit_status, 1);
        EXPECT_EQ(extract.errors.rfind("sfxpack: ", 0), 0u) << extract.errors;
        EXPECT_NE(extract.errors.find(c.message), std::string::npos) << extract.errors;
        EXPECT_EQ(place.written(), under_out(c.extracted));
    }
}

// The stub follows a symbolic link the user already had; -x never does, so a
// link can't carry a member out of the folder. Such a member is refused and
// the walk goes on.
TEST(ExtractFiles, SymbolicLinksInTheFolderAreNeverFollowed) {
    extract_place place;
    const std::string elsewhere = place.outer / "elsewhere";
    make_folder(elsewhere);
    write_file(elsewhere + "/target.txt", "mine");
    ASSERT_EQ(symlink("../elsewhere", (place.out + "/dirlink").c_str()), 0);
    ASSERT_EQ(symlink("../elsewhere/target.txt", (place.out + "/filelink").c_str()), 0);
    write_raw_setup(
        place.outer.path,
        record_bytes('f', "dirlink/x.txt", 1) + "X" + record_bytes('f', "dirlink\\y.txt", 1) + "Y" +
            record_bytes('d', "dirlink/sub", 0) + record_bytes('f', "filelink", 1) + "F" +
            record_bytes('d', "dirlink", 0) + record_bytes('f', "after.txt", 1) + "A");

    program_run extract = run_sfxpack({"-x", "setup.exe", "-C", "out"}, place.outer.path);

    EXPECT_EQ(extract.exit_status, 1);
    const std::string dirlink = "sfxpack: 'out/dirlink' is a symbolic link; -x never follows or "
                                "replaces one\n";
    EXPECT_EQ(extract.errors, dirlink + dirlink + dirlink +
                                  "sfxpack: 'out/filelink' is a symbolic link; -x never follows "
                                  "or replaces one\n" +
                                  dirlink);
    EXPECT_EQ(list_tree(elsewhere), std::vector<std::string>{"target.txt"});
    EXPECT_EQ(read_file(elsewhere + "/target.txt"), "mine");
    EXPECT_EQ(read_file(place.out + "/after.txt"), "A");
    EXPECT_EQ(place.written(),
              std::vector<std::string>({"elsewhere/", "elsewhere/target.txt", "out/",
                                        "out/after.txt", "out/dirlink", "out/filelink"}));
}

// A member that can't be created is named with the cause; the walk goes on
// with the next member and the exit status is 1. Folders a member needs are
// made even without records of their own.
TEST(ExtractFiles, MembersThatCantBeCreatedAreReportedAndTheRestComeOut) {
    extract_place place;
    make_folder(place.out + "/taken");
    write_raw_setup(place.outer.path,
                    record_bytes('f', "plain", 1) + "p" + record_bytes('f', "plain/inner.txt", 1) +
                        "i" + record_bytes('f', "taken", 1) + "t" + record_bytes('d', "plain", 0) +
                        record_bytes('f', "a/b/deep.txt", 4) + "deep");

    program_run extract = run_sfxpack({"-x", "setup.exe", "-C", "out", "-v"}, place.outer.path);

    EXPECT_EQ(extract.exit_status, 1);
    EXPECT_EQ(extract.output, "plain\nplain/inner.txt\ntaken\nplain/\na/b/deep.txt\n");
    EXPECT_EQ(extract.errors,
              "sfxpack: can't create 'out/plain/inner.txt': Not a directory ('out/plain')\n"
              "sfxpack: can't create 'out/taken': Is a directory\n"
              "sfxpack: can't create the folder 'out/plain': File exists\n");
    EXPECT_EQ(place.written(), under_out({"a/", "a/b/", "a/b/deep.txt", "plain", "taken/"}));
    EXPECT_EQ(read_file(place.out + "/a/b/deep.txt"), "deep");
}

// Fault found by the extraction fuzzer: -x renamed a member onto a FIFO and
// onto a read-only file, where the stub would write into the FIFO or fail on
// the read-only file. Both stay as they were, the member is refused with the
// reason and the walk goes on; a file the user may write is still replaced.
TEST(ExtractFiles, FifosAndReadOnlyFilesAreNeverReplaced) {
    extract_place place;
    ASSERT_EQ(mkfifo((place.out + "/pipe").c_str(), 0644), 0);
    write_file(place.out + "/kept.txt", "mine");
    chmod((place.out + "/kept.txt").c_str(), 0444);
    write_file(place.out + "/plain.txt", "old");
    write_raw_setup(place.outer.path, record_bytes('f', "pipe", 1) + "P" +
                                          record_bytes('f', "kept.txt", 1) + "K" +
                                          record_bytes('f', "plain.txt", 1) + "N");

    program_run extract = run_sfxpack({"-x", "setup.exe", "-C", "out"}, place.outer.path);

    EXPECT_EQ(extract.exit_status, 1);
    EXPECT_EQ(extract.errors,
              "sfxpack: can't create 'out/pipe': a FIFO, socket or device is there\n"
              "sfxpack: can't create 'out/kept.txt': a read-only file is there\n");
    struct stat status;
    ASSERT_EQ(lstat((place.out + "/pipe").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(read_file(place.out + "/kept.txt"), "mine");
    ASSERT_EQ(lstat((place.out + "/kept.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0444u);
    EXPECT_EQ(read_file(place.out + "/plain.txt"), "N");
    EXPECT_EQ(place.written(), under_out({"kept.txt", "pipe", "plain.txt"}));
}

TEST(ExtractFiles, AMemberNeverReplacesTheFileBeingExtracted) {
    temp_folder folder;
    write_raw_setup(folder.path, record_bytes('f', "setup.exe", 2) + "no" +
                                     record_bytes('f', "next.txt", 1) + "n");
    const std::string before = read_file(folder / "setup.exe");

    program_run extract = run_sfxpack({"-x", "setup.exe"}, folder.path);

    EXPECT_EQ(extract.exit_status, 1);
    EXPECT_EQ(extract.errors, "sfxpack: can't create 'setup.exe': it is the file being "
                              "extracted\n");
    EXPECT_TRUE(read_file(folder / "setup.exe") == before);
    EXPECT_EQ(read_file(folder / "next.txt"), "n");
}

TEST(ExtractFiles, ProblemsFoundBeforeAnyMember) {
    struct early_case {
        const char *what;
        std::vector<std::string> arguments;
        std::string errors;
    };
    const early_case cases[] = {
        {"missing file",
         {"-x", "none.exe"},
         "sfxpack: can't read 'none.exe': No such file or "
         "directory\n"},
        {"a folder", {"-x", "out"}, "sfxpack: 'out' is a folder, not a self-extracting file\n"},
        {"missing destination",
         {"-x", "setup.exe", "-C", "none"},
         "sfxpack: can't extract into 'none': No such file or directory\n"},
        {"destination is a file",
         {"-x", "setup.exe", "-C", "setup.exe"},
         "sfxpack: can't extract into 'setup.exe': Not a directory\n"},
    };
    for (const early_case &c : cases) {
        SCOPED_TRACE(c.what);
        extract_place place;
        write_raw_setup(place.outer.path, record_bytes('f', "a.txt", 1) + "a");

        program_run extract = run_sfxpack(c.arguments, place.outer.path);

        EXPECT_EQ(extract.exit_status, 1);
        EXPECT_EQ(extract.errors, c.errors);
        EXPECT_EQ(place.written(), std::vector<std::string>{"out/"});
    }
}

} // namespace
