// SPDX-License-Identifier: Zlib
#include "fuzz_folders.h"

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

bool fuzz_checking_paths;
bool fuzz_forbidding_changes;

static std::string sentinel;
static std::string scratch;

void fuzz_fail(const char *what, const std::string &detail) {
    std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

static int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
    return __real_remove(path);
}

static void remove_sentinel() {
    nftw(sentinel.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string fuzz_make_sentinel() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/sfxfuzz.XXXXXX";
    char *made = mkdtemp(&pattern[0]);
    if (made == nullptr)
        fuzz_fail("cannot create the sentinel folder", pattern);
    char resolved[PATH_MAX];
    if (realpath(made, resolved) == nullptr)
        fuzz_fail("cannot resolve", made);
    sentinel = resolved;
    std::atexit(remove_sentinel);
    return sentinel;
}

void fuzz_set_scratch(const std::string &resolved) {
    scratch = resolved;
}

static bool inside_scratch(const char *resolved) {
    size_t length = scratch.size();
    return std::strncmp(resolved, scratch.c_str(), length) == 0 &&
           (resolved[length] == '\0' || resolved[length] == '/');
}

// The folder that would hold the path is resolved by the file system, links
// and all, not by the rules of the code under test; when that folder does not
// exist the call fails and touches nothing.
void fuzz_check_path_stays_inside(const char *path) {
    if (fuzz_forbidding_changes)
        fuzz_fail("a change where none may be made", path);
    if (!fuzz_checking_paths)
        return;
    std::string folder = path;
    size_t slash = folder.find_last_of('/');
    std::string last = slash == std::string::npos ? folder : folder.substr(slash + 1);
    if (last == ".." || last == "." || last.empty())
        slash = folder.size(); // the path names a folder itself: resolve it whole
    folder = slash == std::string::npos ? "." : folder.substr(0, slash);
    if (folder.empty())
        folder = "/";
    char resolved[PATH_MAX];
    if (realpath(folder.c_str(), resolved) == nullptr)
        return;
    if (!inside_scratch(resolved))
        fuzz_fail("path resolves outside the scratch folder", path);
}

// The calls both fuzzers route here by the linker (--wrap).
extern "C" FILE *__wrap_fopen(const char *path, const char *mode) {
    if (std::strpbrk(mode, "wa+") != nullptr)
        fuzz_check_path_stays_inside(path);
    return __real_fopen(path, mode);
}

// Files are also created by open, which takes the mode for a new file.
extern "C" int __wrap_open(const char *path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, int));
        va_end(arguments);
    }
    if ((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0)
        fuzz_check_path_stays_inside(path);
    return __real_open(path, flags, mode);
}

extern "C" int __wrap_mkdir(const char *path, mode_t mode) {
    fuzz_check_path_stays_inside(path);
    return __real_mkdir(path, mode);
}

extern "C" int __wrap_remove(const char *path) {
    fuzz_check_path_stays_inside(path);
    return __real_remove(path);
}

void fuzz_make_folder(const std::string &path) {
    if (__real_mkdir(path.c_str(), 0755) != 0)
        fuzz_fail("cannot create", path);
}

int fuzz_lowest_free_descriptor() {
    int probe = open("/dev/null", O_RDONLY);
    close(probe);
    return probe;
}
