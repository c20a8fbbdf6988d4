// SPDX-License-Identifier: Zlib
// Archives altered on purpose, run end to end: anyone can change what follows
// ARCHIVE_START and then fix the length trailer, which is no checksum. Each
// case checks the exact console text and the exact set of files afterwards,
// listed from a folder above the run's folder so that anything created beside
// it shows too. (Names that leave the folder, unterminated or empty names and
// impossible sizes are in extract_run_test.)
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A run folder `run` inside a temporary folder, so the listing of the
// temporary folder shows whatever a run creates next to its own folder.
struct run_place {
    temp_folder outer;
    std::string run = outer / "run";
    run_place() {
        mkdir(run.c_str(), 0755);
    }
};

std::vector<std::string> with_run_prefix(const std::vector<std::string> &entries) {
    std::vector<std::string> prefixed{"run/"};
    for (const std::string &entry : entries)
        prefixed.push_back("run/" + entry);
    return prefixed;
}

bool is_regular_file(const std::string &path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The walk ends when a record read meets the end of the file, whatever part
// of a record it delivered: a record cut short by the trailer is never judged.
// A record short of exactly its check value is read whole without meeting the
// end, with the trailer as its check value, so it is judged, and is bad.
TEST(HostileArchive, RecordCutShortByTheTrailer) {
    const std::string member = record_bytes('f', "first.txt", 1) + "1";
    const std::string next = record_bytes('f', "next.txt", 0);
    struct cut_case {
        const char *what;
        std::string members;
        std::string output;
        int exit_status; // 1 after an error message, "no files for extraction" too
        std::vector<std::string> files;
    };
    const cut_case cases[] = {
        {"one byte of a record",
         member + next.substr(0, 1),
         file_line("first.txt", figure("0.0")) + SEPARATOR,
         0,
         {"first.txt", "setup.exe"}},
        {"a record without its size and magic number",
         member + next.substr(0, 256),
         file_line("first.txt", figure("0.0")) + SEPARATOR,
         0,
         {"first.txt", "setup.exe"}},
        {"a record cut short, nothing before it",
         next.substr(0, 100),
         NO_FILES + SEPARATOR,
         1,
         {"setup.exe"}},
        {"a record short of its check value",
         member + next.substr(0, RECORD_SIZE - 4),
         file_line("first.txt", figure("0.0")) + BAD_RECORD,
         1,
         {"first.txt", "setup.exe"}},
    };
    for (const cut_case &c : cases) {
        SCOPED_TRACE(c.what);
        run_place place;
        write_raw_setup(place.run, c.members);

        program_run run = run_setup(place.run);

        EXPECT_EQ(run.output, FILE_LINE + c.output);
        EXPECT_EQ(run.exit_status, c.exit_status);
        EXPECT_EQ(list_tree(place.outer.path), with_run_prefix(c.files));
    }
}

// A file member whose output path is a directory can't be opened: the run
// ends there and the directory keeps what it held. A file member whose name
// itself names a folder (a last part empty or ".") is a bad record before
// anything is tried.
TEST(HostileArchive, FileMemberOnADirectoryIsNotCreated) {
    const char *names[] = {"dir", "dir/", ".", "dir/.", "new/", "dir\\."};
    for (const char *name : names) {
        SCOPED_TRACE(name);
        std::string last = name;
        last = last.substr(last.find_last_of("/\\") + 1);
        bool names_a_folder = last.empty() || last == ".";
        run_place place;
        mkdir((place.run + "/dir").c_str(), 0755);
        write_file(place.run + "/dir/keep.txt", "keep");
        write_raw_setup(place.run, record_bytes('f', "first.txt", 1) + "1" +
                                       record_bytes('f', name, 4) + "data" +
                                       record_bytes('f', "after.txt", 1) + "a");

        program_run run = run_setup(place.run);

        EXPECT_EQ(run.output, FILE_LINE + file_line("first.txt", figure("0.0")) +
                                  (names_a_folder ? BAD_RECORD
                                                  : "Extracting : " + std::string(name) +
                                                        " \b, failed\n" + NOT_CREATED));
        EXPECT_EQ(list_tree(place.outer.path),
                  with_run_prefix({"dir/", "dir/keep.txt", "first.txt", "setup.exe"}));
        EXPECT_EQ(read_file(place.run + "/dir/keep.txt"), "keep");
    }
}

// Symbolic links the user already had are the user's own: the stub follows
// them like any other program, into a linked directory and onto a linked file,
// even when they lead out of the folder.
TEST(HostileArchive, LinksTheUserAlreadyHadAreFollowed) {
    run_place place;
    mkdir((place.outer / "elsewhere").c_str(), 0755);
    write_file(place.outer / "elsewhere/target.txt", "old");
    ASSERT_EQ(symlink("../elsewhere", (place.run + "/linked").c_str()), 0);
    ASSERT_EQ(symlink("../elsewhere/target.txt", (place.run + "/note.txt").c_str()), 0);
    write_setup(place.run, {directory_member("linked/sub"), file_member("linked/sub/a.txt", "A"),
                            file_member("note.txt", "new")});

    program_run run = run_setup(place.run);

    EXPECT_EQ(run.output, FILE_LINE + directory_line("linked/sub") +
                              file_line("linked/sub/a.txt", figure("0.0")) +
                              file_line("note.txt", figure("0.0")) + SEPARATOR);
    EXPECT_EQ(list_tree(place.outer.path),
              (std::vector<std::string>{"elsewhere/", "elsewhere/sub/", "elsewhere/sub/a.txt",
                                        "elsewhere/target.txt", "run/", "run/linked",
                                        "run/note.txt", "run/setup.exe"}));
    EXPECT_EQ(read_file(place.outer / "elsewhere/sub/a.txt"), "A");
    EXPECT_EQ(read_file(place.outer / "elsewhere/target.txt"), "new");
}

// An archive has no way to make a link: a record is a directory or a plain
// file, and a file whose bytes spell a path stays a plain file. So no later
// member can leave the folder through something an earlier member created.
TEST(HostileArchive, MembersCannotCreateLinks) {
    run_place place;
    write_raw_setup(place.run, record_bytes('f', "link", 2) + ".." + record_bytes('d', "link", 0) +
                                   record_bytes('f', "link/escape.txt", 1) + "x");

    program_run run = run_setup(place.run);

    EXPECT_EQ(run.output, FILE_LINE + file_line("link", figure("0.0")) + directory_line("link") +
                              "Extracting : link/escape.txt \b, failed\n" + NOT_CREATED);
    EXPECT_EQ(list_tree(place.outer.path), with_run_prefix({"link", "setup.exe"}));
    EXPECT_TRUE(is_regular_file(place.run + "/link"));
    EXPECT_EQ(read_file(place.run + "/link"), "..");

    // Kinds that other archive layouts use for links are bad records here.
    for (char kind : {'l', 's', 'L'}) {
        SCOPED_TRACE(kind);
        run_place other;
        write_raw_setup(other.run, record_bytes(kind, "link", 2) + "..");
        EXPECT_EQ(run_setup(other.run).output, FILE_LINE + BAD_RECORD);
        EXPECT_EQ(list_tree(other.outer.path), with_run_prefix({"setup.exe"}));
    }
}

// Names that would fake console lines, hide text or retitle the terminal when
// printed, and names whose second byte is ':', are bad records before
// anything is printed or created. Names that are devices only on Windows
// stay plain members here.
TEST(HostileArchive, ControlBytesAndDrivesAreBadDeviceNamesAreFiles) {
    for (const hostile_name &c : HOSTILE_NAMES) {
        SCOPED_TRACE(testing::PrintToString(c.name) + " " + c.kind);
        bool is_file = c.kind == KIND_FILE;
        run_place place;
        write_raw_setup(place.run, record_bytes('f', "first.txt", 1) + "1" +
                                       record_bytes(c.kind, c.name, is_file ? 4 : 0) +
                                       (is_file ? "data" : ""));

        program_run run = run_setup(place.run);

        std::string first = file_line("first.txt", figure("0.0"));
        if (!c.device) {
            EXPECT_EQ(run.output, FILE_LINE + first + BAD_RECORD);
            EXPECT_EQ(run.exit_status, 1);
            EXPECT_EQ(list_tree(place.outer.path), with_run_prefix({"first.txt", "setup.exe"}));
        } else if (is_file) {
            EXPECT_EQ(run.output, FILE_LINE + first + file_line(c.name, figure("0.0")) + SEPARATOR);
            EXPECT_EQ(read_file(place.run + "/" + c.name), "data");
        } else {
            EXPECT_EQ(run.output, FILE_LINE + first + directory_line(c.name) + SEPARATOR);
            EXPECT_EQ(list_tree(place.outer.path),
                      with_run_prefix({"first.txt", c.name + "/", "setup.exe"}));
        }
    }
}

} // namespace
