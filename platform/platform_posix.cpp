// SPDX-License-Identifier: Zlib
#if !defined(_WIN32)

#include "platform_stub.h"

#include "ascii_case.h"
#include "platform_shared.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

const char *platform_program_name(int argc, char **argv) {
    // Some kernels hand an empty string where the command line had nothing.
    if (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0')
        return argv[0];
    static char own_path[4096];
    own_program_path(own_path, sizeof own_path);
    return own_path;
}

// A descriptor 0-2 the program was started without would be taken by the
// first file it opens, a member, and console text would go into that member.
// Each gets /dev/null instead, or the root folder, read-only, where there is
// no /dev: writes to it fail like writes to a console that went away.
static void fill_closed_standard_descriptors() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lower ones are open, so the new descriptor is this one.
        if (open("/dev/null", O_RDWR) < 0)
            open("/", O_RDONLY);
    }
}

void platform_prepare_run() {
    fill_closed_standard_descriptors();
    // Console writes are not examined: with the reader gone they simply fail.
    signal(SIGPIPE, SIG_IGN);
    catch_interruptions();
}

// Like fopen(name, "wb"), but the mode is given at creation, so the file is
// never seen with other rights.
static FILE *create_member_file(const char *name, bool executable) {
    int descriptor = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, executable ? 0777 : 0666);
    if (descriptor < 0)
        return nullptr;
    FILE *member = fdopen(descriptor, "wb");
    if (member == nullptr)
        close(descriptor);
    return member;
}

FILE *platform_open_member(const char *name, bool executable) {
    // Named before it exists: an interruption during the open removes what
    // the open may already have created or emptied.
    remove_on_interruption(AT_FDCWD, name);
    FILE *member = create_member_file(name, executable);
    if (member == nullptr)
        remove_on_interruption(AT_FDCWD, nullptr);
    return member;
}

bool platform_close_member(FILE *member) {
    bool closed = std::fclose(member) == 0;
    remove_on_interruption(AT_FDCWD, nullptr);
    return closed;
}

bool platform_knows_running_program() {
    file_identity own;
    return own_program_identity(&own);
}

bool platform_is_running_program(FILE *opened) {
    file_identity own;
    struct stat status;
    if (!own_program_identity(&own) || fstat(fileno(opened), &status) != 0)
        return true;
    return same_identity(status_identity(status), own);
}

FILE *platform_open_running_program() {
    return std::fopen("/proc/self/exe", "rb");
}

static void upper_case(char *text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        text[i] = ascii_upper(text[i]);
}

// The next component of `path` from `from` on, skipping separators and the
// "." and ".." parts (they are resolved as they stand); null at the end.
static char *next_component(char *from, size_t *length) {
    for (;;) {
        from += std::strspn(from, "/");
        if (*from == '\0')
            return nullptr;
        *length = std::strcspn(from, "/");
        bool is_dot =
            (*length == 1 && from[0] == '.') || (*length == 2 && from[0] == '.' && from[1] == '.');
        if (!is_dot)
            return from;
        from += *length;
    }
}

// Replaces the component at `part` (`length` bytes) with the entry of its
// directory that follows it in byte order among the names equal to it without
// regard to case; false when there is none. Upper-case letters sort before
// lower-case ones, so starting from the upper-case spelling (the exact name)
// this walks every look-alike in byte order.
static bool next_look_alike(char *path, char *part, size_t length) {
    char saved = *part;
    *part = '\0';
    DIR *directory = opendir(part == path ? "." : path);
    *part = saved;
    if (directory == nullptr)
        return false;
    char best[256];
    bool found = false;
    for (struct dirent *entry; (entry = readdir(directory)) != nullptr;) {
        const char *name = entry->d_name;
        if (std::strlen(name) != length || !same_ignoring_ascii_case(name, part, length) ||
            std::memcmp(name, part, length) <= 0 || (found && std::memcmp(name, best, length) >= 0))
            continue;
        std::memcpy(best, name, length);
        found = true;
    }
    closedir(directory);
    if (found)
        std::memcpy(part, best, length);
    return found;
}

// The search for the spelling of a path that leads to the running program.
struct case_search {
    char *path;
    file_identity own;
    int scans_left; // bounds the work in folders full of look-alike names
};

static bool is_own_file(const case_search *search) {
    struct stat status;
    return stat(search->path, &status) == 0 && same_identity(status_identity(status), search->own);
}

static bool rest_leads_to_own_file(case_search *search, char *from);

// True when the path up to `end`, the '/' after a component, is a directory
// from which the rest of the path leads to the running program's file.
static bool directory_leads_to_own_file(case_search *search, char *end) {
    *end = '\0';
    struct stat status;
    bool is_directory = stat(search->path, &status) == 0 && S_ISDIR(status.st_mode);
    *end = '/';
    return is_directory && rest_leads_to_own_file(search, end + 1);
}

// Tries, for the next component from `from` on, each spelling in byte order
// (the exact name first), each with every spelling of what follows.
static bool rest_leads_to_own_file(case_search *search, char *from) {
    size_t length = 0;
    char *part = next_component(from, &length);
    if (part == nullptr)
        return is_own_file(search);
    upper_case(part, length);
    char *end = part + length;
    do {
        if (*end == '\0' ? is_own_file(search) : directory_leads_to_own_file(search, end))
            return true;
    } while (--search->scans_left > 0 && next_look_alike(search->path, part, length));
    return false;
}

// The spelling without knowing the running program's file: per component,
// the exact name when it exists, else the first look-alike in byte order.
static void match_by_name_only(char *path) {
    size_t length = 0;
    for (char *part = path; (part = next_component(part, &length)) != nullptr; part += length) {
        upper_case(part, length);
        char *end = part + length;
        char saved = *end;
        *end = '\0';
        struct stat status;
        bool exists = lstat(path, &status) == 0;
        *end = saved;
        if (!exists)
            next_look_alike(path, part, length);
    }
}

void platform_match_letter_case(char *path) {
    case_search search = {path, {0, 0}, 4096};
    if (own_program_identity(&search.own) && rest_leads_to_own_file(&search, path))
        return;
    match_by_name_only(path);
}

bool platform_file_size(FILE *file, int64_t *size) {
    struct stat status;
    if (fstat(fileno(file), &status) != 0)
        return false;
    *size = static_cast<int64_t>(status.st_size);
    return true;
}

void platform_make_directory(const char *path) {
    mkdir(path, 0777);
}

name_rules platform_name_rules() {
    return NAME_RULES_POSIX;
}

bool platform_read_name(const char *name, char *text, size_t room) {
    size_t at = 0;
    for (; *name != '\0'; ++name) {
        unsigned char c = static_cast<unsigned char>(*name);
        if (at + 3 > room)
            return false;
        if (c >= 0x80) {
            text[at++] = static_cast<char>(0xC0 | c >> 6);
            c = 0x80 | (c & 0x3F);
        }
        text[at++] = static_cast<char>(c);
    }
    text[at] = '\0';
    return true;
}

// A name that stays in the folder reaches a device or a pipe only where the
// user put one, like any other file of theirs.
bool platform_is_disk_file(FILE *) {
    return true;
}

// POSIX has no interpreter with a type command: copy the bytes ourselves,
// unchanged, so no shell ever sees a command line.
void platform_show_text_file(const char *path) {
    // Without waiting for a writer, should a FIFO have the name: what was
    // opened is looked at before anything is read from it.
    int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return;
    struct stat status;
    FILE *text = nullptr;
    if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode))
        text = fdopen(descriptor, "rb");
    if (text == nullptr) {
        close(descriptor);
        return;
    }
    std::fflush(stdout);
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, text)) > 0)
        if (std::fwrite(chunk, 1, got, stdout) != got)
            break;
    std::fflush(stdout);
    std::fclose(text);
}

// The number of tenths in `share`, rounded to the nearest, a tie to even.
// The double is m * 2^e with an integer m below 2^53; m * 10 fits in 64
// bits, and shifting it right by -e with the bits shifted out judged against
// a half gives the rounding exactly.
static uint64_t tenths_of(double share) {
    uint64_t bits;
    std::memcpy(&bits, &share, sizeof bits);
    int exponent_field = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    int exponent = -1074;
    if (exponent_field != 0) {
        mantissa |= uint64_t{1} << 52;
        exponent = exponent_field - 1075;
    }
    uint64_t scaled = mantissa * 10;
    if (exponent >= 0)
        return scaled << exponent;
    int shift = -exponent;
    // Below 2^57, the scaled value is less than a half of 2^64 or more.
    if (shift >= 64)
        return 0;
    uint64_t whole = scaled >> shift;
    uint64_t rest = scaled & ((uint64_t{1} << shift) - 1);
    uint64_t half = uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (whole & 1) != 0))
        ++whole;
    return whole;
}

void platform_format_share(double share, char *text, size_t size) {
    // At most 1000 tenths: 32-bit digits need no helper routines on 32-bit
    // processors.
    uint32_t count = static_cast<uint32_t>(tenths_of(share));
    char digits[8];
    size_t length = 0;
    digits[length++] = static_cast<char>('0' + count % 10);
    digits[length++] = '.';
    count /= 10;
    do {
        digits[length++] = static_cast<char>('0' + count % 10);
        count /= 10;
    } while (count != 0 && length < size - 1 && length < sizeof digits);
    for (size_t i = 0; i < length; ++i)
        text[i] = digits[length - 1 - i];
    text[length] = '\0';
}

#endif
