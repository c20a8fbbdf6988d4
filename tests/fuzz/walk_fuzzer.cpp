// SPDX-License-Identifier: Zlib
// Feeds arbitrary bytes, as everything after ARCHIVE_START, to the real record
// walk and member output. The length trailer is appended as a packer would, so
// every input passes the length check: anyone can alter an archive and fix the
// trailer, since it is no checksum.
//
// Each input runs in an empty scratch folder that lies two levels inside a
// sentinel folder. After each input the walk must have ended (with the error
// flag or at the end of the file), the sentinel must hold nothing new, no
// descriptor may stay open, and while the walk ran no path it wrote, created or
// removed may have resolved outside the scratch folder.
#include "archive_reader.h"
#include "fuzz_folders.h"
#include "member_record.h"
#include "run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

static std::string sentinel;     // holds the archive file and outer/scratch
static std::string archive_path; // the self-extracting file of the input
static std::string scratch;      // the run's current folder, resolved
static int home_folder;          // where the fuzzer was started, for its own paths

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    sentinel = fuzz_make_sentinel();
    archive_path = sentinel + "/setup.exe";
    fuzz_make_folder(sentinel + "/outer");
    fuzz_make_folder(sentinel + "/outer/scratch");
    scratch = sentinel + "/outer/scratch";
    fuzz_set_scratch(scratch);
    home_folder = open(".", O_RDONLY | O_DIRECTORY);
    if (home_folder < 0)
        fuzz_fail("cannot open", "the current folder");
    // The console text is not what is tested here, and a terminal would slow
    // every input down.
    int quiet = open("/dev/null", O_WRONLY);
    if (quiet < 0 || dup2(quiet, STDOUT_FILENO) < 0)
        fuzz_fail("cannot silence", "standard output");
    close(quiet);
    return 0;
}

// Writes the self-extracting file: a hole where the stub and filler would be
// (never read), the input, and a trailer holding the file's length.
static int64_t write_archive(const uint8_t *data, size_t size) {
    int descriptor = open(archive_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (descriptor < 0)
        fuzz_fail("cannot write", archive_path.c_str());
    int64_t file_size = ARCHIVE_START + static_cast<int64_t>(size) + TRAILER_SIZE;
    unsigned char trailer[TRAILER_SIZE];
    encode_le32(static_cast<uint32_t>(file_size), trailer);
    bool written = pwrite(descriptor, data, size, ARCHIVE_START) == static_cast<ssize_t>(size) &&
                   pwrite(descriptor, trailer, TRAILER_SIZE,
                          ARCHIVE_START + static_cast<off_t>(size)) == TRAILER_SIZE;
    close(descriptor);
    if (!written)
        fuzz_fail("cannot write", archive_path.c_str());
    return file_size;
}

static bool is_directory(const std::string &path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The names in `folder`, which must be exactly `expected` (in any order).
static void check_folder_holds(const std::string &folder, const char *const *expected,
                               int expected_count) {
    DIR *directory = opendir(folder.c_str());
    if (directory == nullptr)
        fuzz_fail("cannot list", folder.c_str());
    int count = 0;
    for (struct dirent *entry; (entry = readdir(directory)) != nullptr;) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        bool known = false;
        for (int i = 0; i < expected_count; ++i)
            known = known || std::strcmp(entry->d_name, expected[i]) == 0;
        if (!known)
            fuzz_fail("something was created outside the scratch folder", entry->d_name);
        ++count;
    }
    closedir(directory);
    if (count != expected_count)
        fuzz_fail("the sentinel folder lost an entry", folder.c_str());
}

static void check_sentinel_unchanged() {
    static const char *const sentinel_entries[] = {"setup.exe", "outer"};
    static const char *const outer_entries[] = {"scratch"};
    check_folder_holds(sentinel, sentinel_entries, 2);
    check_folder_holds(sentinel + "/outer", outer_entries, 1);
    if (!is_directory(sentinel + "/outer") || !is_directory(scratch))
        fuzz_fail("a folder of the sentinel was replaced", scratch.c_str());
}

static int remove_below_scratch(const char *path, const struct stat *, int, struct FTW *place) {
    if (place->level > 0 && __real_remove(path) != 0)
        fuzz_fail("cannot clear", path);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Inputs stay far below 2^31 bytes, so every one passes the length check.
    if (size > (1u << 24))
        return -1;
    int first_free_descriptor = fuzz_lowest_free_descriptor();
    int64_t file_size = write_archive(data, size);
    FILE *archive = __real_fopen(archive_path.c_str(), "rb");
    if (archive == nullptr)
        fuzz_fail("cannot open", archive_path.c_str());
    static char copy_buffer[COPY_CHUNK];
    run_flags flags = {false, false, false};

    // Only the walk runs in the scratch folder: the fuzzer's own relative
    // paths (corpus, dictionary) are resolved from where it was started.
    if (chdir(scratch.c_str()) != 0)
        fuzz_fail("cannot enter", scratch.c_str());
    fuzz_checking_paths = true;
    walk_members(archive, file_size, copy_buffer, &flags);
    fuzz_checking_paths = false;
    if (fchdir(home_folder) != 0)
        fuzz_fail("cannot return to", "the starting folder");

    // Returning is not enough: the walk may only stop on an error it reported
    // or where no whole record is left before the end of the file, never
    // part-way through sound records.
    long read_to = std::ftell(archive);
    if (!flags.error && !std::feof(archive) && read_to + RECORD_SIZE <= file_size)
        fuzz_fail("the walk stopped without an error before the end", "");
    std::fclose(archive);
    check_sentinel_unchanged();
    if (fuzz_lowest_free_descriptor() != first_free_descriptor)
        fuzz_fail("the walk left a descriptor open", "");
    if (nftw(scratch.c_str(), remove_below_scratch, 16, FTW_DEPTH | FTW_PHYS) != 0)
        fuzz_fail("cannot clear", scratch.c_str());
    return 0;
}
