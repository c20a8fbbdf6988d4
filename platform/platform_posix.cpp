#if !defined(_WIN32)

#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

const char *platform_program_name(int argc, char **argv) {
    // Some kernels hand an empty string where the command line had nothing.
    if (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0')
        return argv[0];
    static char own_path[4096];
    ssize_t length = readlink("/proc/self/exe", own_path, sizeof own_path - 1);
    own_path[length > 0 ? length : 0] = '\0';
    return own_path;
}

static bool same_ignoring_ascii_case(const char *a, const char *b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// `path` holds the components up to and including the one at `part` (length
// `length`), NUL-terminated there. When no entry has that exact name, the
// directory's first case-insensitive match (in byte order) replaces it.
static void match_component(char *path, char *part, size_t length) {
    struct stat status;
    if (lstat(path, &status) == 0)
        return;
    char saved = *part;
    *part = '\0';
    DIR *directory = opendir(part == path ? "." : path);
    *part = saved;
    if (directory == nullptr)
        return;
    char best[256] = "";
    for (struct dirent *entry; (entry = readdir(directory)) != nullptr;) {
        if (std::strlen(entry->d_name) != length ||
            !same_ignoring_ascii_case(entry->d_name, part, length))
            continue;
        if (best[0] == '\0' || std::strcmp(entry->d_name, best) < 0)
            std::memcpy(best, entry->d_name, length + 1);
    }
    closedir(directory);
    if (best[0] != '\0')
        std::memcpy(part, best, length);
}

void platform_match_letter_case(char *path) {
    char *part = path;
    while (*part != '\0') {
        size_t length = std::strcspn(part, "/");
        char *end = part + length;
        char saved = *end;
        *end = '\0';
        bool is_dot =
            (length == 1 && part[0] == '.') || (length == 2 && part[0] == '.' && part[1] == '.');
        if (length > 0 && !is_dot)
            match_component(path, part, length);
        *end = saved;
        part = saved == '\0' ? end : end + 1;
    }
}

bool platform_file_size(const char *path, int64_t *size) {
    struct stat status;
    if (stat(path, &status) != 0)
        return false;
    *size = static_cast<int64_t>(status.st_size);
    return true;
}

bool platform_exists(const char *path) {
    struct stat status;
    return stat(path, &status) == 0;
}

void platform_make_directory(const char *path) {
    mkdir(path, 0777);
}

name_rules platform_name_rules() {
    return NAME_RULES_POSIX;
}

// A name that stays in the folder reaches a device or a pipe only where the
// user put one, like any other file of theirs.
bool platform_is_disk_file(FILE *) {
    return true;
}

// POSIX has no interpreter with a type command: copy the bytes ourselves,
// unchanged, so no shell ever sees a command line.
void platform_show_text_file(const char *path) {
    FILE *text = std::fopen(path, "rb");
    if (text == nullptr)
        return;
    std::fflush(stdout);
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, text)) > 0)
        if (std::fwrite(chunk, 1, got, stdout) != got)
            break;
    std::fflush(stdout);
    std::fclose(text);
}

void platform_print(const char *format, va_list arguments) {
    std::vprintf(format, arguments);
}

void platform_format(char *text, size_t size, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, size, format, arguments);
    va_end(arguments);
}

#endif
