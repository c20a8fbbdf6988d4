#if defined(_WIN32)

#include "platform.h"

#include <cstdio>
#include <cstdlib>
#include <direct.h>
#include <sys/stat.h>
#include <windows.h>

const char *platform_program_name(int argc, char **argv) {
    // Some kernels hand an empty string where the command line had nothing.
    if (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0')
        return argv[0];
    static char own_path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, own_path, MAX_PATH);
    own_path[length <= MAX_PATH ? length : 0] = '\0';
    return own_path;
}

// The file systems ignore letter case: the upper-cased name opens as it is.
void platform_match_letter_case(char *) {}

bool platform_file_size(const char *path, int64_t *size) {
    struct _stati64 status;
    if (_stati64(path, &status) != 0)
        return false;
    *size = static_cast<int64_t>(status.st_size);
    return true;
}

bool platform_exists(const char *path) {
    struct _stati64 status;
    return _stati64(path, &status) == 0;
}

void platform_make_directory(const char *path) {
    _mkdir(path);
}

void platform_show_text_file(const char *path) {
    char command[MAX_PATH + 8];
    std::snprintf(command, sizeof command, "type %s", path);
    std::fflush(stdout);
    std::system(command);
}

#endif
