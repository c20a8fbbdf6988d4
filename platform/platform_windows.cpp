#if defined(_WIN32)

#include "platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <direct.h>
#include <sys/stat.h>
#include <windows.h>

const char *platform_program_name(int argc, char **argv) {
    // A process may be started with an empty command line; the system still
    // knows which file it runs.
    if (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0')
        return argv[0];
    static char own_path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, own_path, sizeof own_path);
    // A full buffer means the path was cut short: it would name another file.
    if (length == 0 || length >= sizeof own_path)
        length = 0;
    own_path[length] = '\0';
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

// The command interpreter's own type command shows the text, so it appears
// exactly as the user's console shows any text file.
void platform_show_text_file(const char *path) {
    static const char TYPE_COMMAND[] = "type ";
    char command[sizeof TYPE_COMMAND + MAX_PATH];
    if (std::strlen(path) >= MAX_PATH)
        return;
    std::strcpy(command, TYPE_COMMAND);
    std::strcat(command, path);
    // What the interpreter writes must come after everything printed so far.
    std::fflush(stdout);
    std::system(command);
}

// __ms_vfprintf is the runtime DLL's vfprintf; the plain name would pull in
// MinGW's own formatting engine, which the C++ headers always select.
void platform_print(const char *format, va_list arguments) {
    __ms_vfprintf(stdout, format, arguments);
}

void platform_format(char *text, size_t size, const char *format, ...) {
    if (size == 0)
        return;
    va_list arguments;
    va_start(arguments, format);
    // The runtime's _vsnprintf leaves a full buffer unterminated.
    _vsnprintf(text, size - 1, format, arguments);
    va_end(arguments);
    text[size - 1] = '\0';
}

#endif
