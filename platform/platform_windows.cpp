// SPDX-License-Identifier: Zlib
#if defined(_WIN32)

#include "platform_stub.h"

#include "platform_shared.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
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

static HANDLE open_nul() {
    return CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

static bool is_open_handle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return false;
    SetLastError(NO_ERROR);
    return GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
}

// A program may be started without standard handles, or with ones that are
// not open in it. The runtime marks descriptors 0-2 open even then, so a
// member's descriptor is never one of them; a descriptor left free all the
// same gets NUL here, before any member can take it and the console text
// with it. A missing standard handle gets NUL too, so the interpreter of the
// notice is never handed a handle value that a member's file may have taken.
static void fill_missing_standard_handles() {
    static const DWORD STANDARD_HANDLES[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (DWORD which : STANDARD_HANDLES) {
        if (is_open_handle(GetStdHandle(which)))
            continue;
        HANDLE nul = open_nul();
        if (nul != INVALID_HANDLE_VALUE)
            SetStdHandle(which, nul);
    }
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        errno = 0;
        if (_get_osfhandle(descriptor) != -1 || errno != EBADF)
            continue;
        int nul = _open("NUL", _O_RDWR);
        if (nul >= 0 && nul != descriptor) {
            _dup2(nul, descriptor);
            _close(nul);
        }
    }
}

void platform_prepare_run() {
    fill_missing_standard_handles();
    catch_interruptions();
}

// The file systems ignore letter case: the upper-cased name opens as it is.
void platform_match_letter_case(char *) {}

// Characters a stored name of at most 254 bytes can stand for, with its NUL.
static const int NAME_FIELD_CHARACTERS = 256;

// The longest path the system knows.
static const DWORD LONGEST_PATH = 32768;

static bool running_program_identity(file_identity *identity) {
    // On the stack, as a static array would be stored whole in the program file.
    wchar_t own_path[LONGEST_PATH];
    return own_program_path(own_path, LONGEST_PATH) && path_identity(own_path, identity);
}

bool platform_knows_running_program() {
    return true;
}

bool platform_is_running_program(FILE *opened) {
    file_identity own, other;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(opened)));
    if (!running_program_identity(&own) || !handle_identity(handle, &other))
        return true;
    return same_identity(own, other);
}

FILE *platform_open_running_program() {
    wchar_t own_path[LONGEST_PATH];
    return own_program_path(own_path, LONGEST_PATH) ? _wfopen(own_path, L"rb") : nullptr;
}

// Like fopen(name, "wb"), but the handle lets the interruption handler delete
// the file while it is open.
static FILE *create_deletable_file(const char *name) {
    HANDLE handle =
        CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (descriptor == -1) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE *member = _fdopen(descriptor, "wb");
    if (member == nullptr)
        _close(descriptor);
    return member;
}

// The wide form of the 8-bit `name`, as the file calls that take 8-bit
// names read it; false when it does not fit in MAX_PATH + 1 characters.
static bool wide_file_name(const char *name, wchar_t *wide) {
    UINT codepage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    return MultiByteToWideChar(codepage, 0, name, -1, wide, MAX_PATH + 1) > 0;
}

// The name as the interruption handler removes it: in the code page the
// file calls read 8-bit names in.
static void remove_member_on_interruption(const char *name) {
    wchar_t wide[MAX_PATH + 1];
    if (wide_file_name(name, wide))
        remove_on_interruption(wide);
}

FILE *platform_open_member(const char *name, bool) {
    hold_interruptions();
    FILE *member = create_deletable_file(name);
    if (member != nullptr)
        remove_member_on_interruption(name);
    release_interruptions();
    return member;
}

bool platform_close_member(FILE *member) {
    hold_interruptions();
    bool closed = std::fclose(member) == 0;
    remove_on_interruption(nullptr);
    release_interruptions();
    return closed;
}

bool platform_file_size(FILE *file, int64_t *size) {
    struct _stati64 status;
    if (_fstati64(_fileno(file), &status) != 0)
        return false;
    *size = static_cast<int64_t>(status.st_size);
    return true;
}

void platform_make_directory(const char *path) {
    _mkdir(path);
}

name_rules platform_name_rules() {
    return NAME_RULES_WINDOWS;
}

// The 8-bit file calls convert names by the same table, so the stub judges
// the very characters the file system will see.
bool platform_read_name(const char *name, char *text, size_t room) {
    wchar_t wide[NAME_FIELD_CHARACTERS];
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, wide,
                               NAME_FIELD_CHARACTERS) != 0 &&
           WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, static_cast<int>(room), nullptr,
                               nullptr) != 0;
}

// A second line behind the device names the record judging refuses: whatever
// name reached something other than a disk file, it is not written to.
bool platform_is_disk_file(FILE *file) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK;
}

static bool is_existing_file(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A drive letter with its root ("C:\\"), or a network path ("\\\\server").
static bool is_fully_qualified_path(const char *path) {
    bool letter = (path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z');
    if (letter && path[1] == ':' && (path[2] == '\\' || path[2] == '/'))
        return true;
    return (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/');
}

// The interpreter COMSPEC names when that is an absolute path to a file,
// else the system folder's cmd.exe. A relative COMSPEC, or none, would have
// the runtime look in the current folder first.
static bool find_interpreter(char *path, size_t room) {
    const char *named = std::getenv("COMSPEC");
    if (named != nullptr && is_fully_qualified_path(named) && std::strlen(named) < room &&
        is_existing_file(named)) {
        std::strcpy(path, named);
        return true;
    }
    static const char CMD_NAME[] = "\\cmd.exe";
    UINT length = GetSystemDirectoryA(path, static_cast<UINT>(room));
    if (length == 0 || length + sizeof CMD_NAME > room)
        return false;
    std::strcat(path, CMD_NAME);
    return true;
}

// The identity of the file or folder `path`.
static bool identify(const char *path, file_identity *identity) {
    wchar_t wide[MAX_PATH + 1];
    return wide_file_name(path, wide) && path_identity(wide, identity);
}

// True when the file `path` lies in the current folder or in a folder below
// it, where the archive may have put it; also when that can't be told. The
// folders are compared as the file system knows them, so no spelling of a
// name (letter case, short names, another drive letter for it) escapes.
static bool lies_in_current_folder(const char *path) {
    file_identity current, folder;
    char full[MAX_PATH + 1];
    DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full || !identify(".", &current))
        return true;
    // Each folder on the way up, from the file's own one to the root of its
    // drive or share; the walk ends early at one that can't be opened, but
    // the file's own folder must be known.
    bool known = false;
    char *end = std::strrchr(full, '\\');
    while (end != nullptr) {
        bool is_root = end == std::strchr(full, '\\');
        end[is_root ? 1 : 0] = '\0';
        if (!identify(full, &folder))
            return !known;
        known = true;
        if (same_identity(current, folder))
            return true;
        end = is_root ? nullptr : std::strrchr(full, '\\');
    }
    return !known;
}

// The file's bytes, unchanged, straight to the console, as type shows them.
static void copy_to_console(const char *path) {
    HANDLE text = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (text == INVALID_HANDLE_VALUE)
        return;
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    char chunk[4096];
    DWORD got = 0, written = 0;
    while (ReadFile(text, chunk, sizeof chunk, &got, nullptr) && got > 0)
        if (!WriteFile(console, chunk, got, &written, nullptr))
            break;
    CloseHandle(text);
}

// The command interpreter's own type command shows the text, so it appears
// exactly as the user's console shows any text file. It writes to the same
// console or pipe as the stub and is waited for; its result is not looked at.
// An interpreter the archive may have put in place is never started, and
// without one the stub copies the text itself.
// True when `path` reaches a file on disk, not a folder, a device or a pipe.
static bool is_disk_file(const char *path) {
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    bool disk_file = GetFileType(handle) == FILE_TYPE_DISK &&
                     GetFileInformationByHandle(handle, &information) &&
                     (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    CloseHandle(handle);
    return disk_file;
}

void platform_show_text_file(const char *path) {
    if (!is_disk_file(path))
        return;
    // What the interpreter or the copy writes must come after everything printed so far.
    std::fflush(stdout);
    char interpreter[MAX_PATH + 1];
    if (!find_interpreter(interpreter, sizeof interpreter) || lies_in_current_folder(interpreter)) {
        copy_to_console(path);
        return;
    }
    static const char TYPE_ARGUMENTS[] = "\" /c type ";
    char command[1 + sizeof interpreter + sizeof TYPE_ARGUMENTS + MAX_PATH];
    if (std::strlen(path) >= MAX_PATH)
        return;
    std::strcpy(command, "\"");
    std::strcat(command, interpreter);
    std::strcat(command, TYPE_ARGUMENTS);
    std::strcat(command, path);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(interpreter, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        copy_to_console(path);
        return;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// The DLL's own _snprintf: MinGW's formatting engine, which the C++ headers
// would otherwise select, is about 28 KB.
void platform_format_share(double share, char *text, size_t size) {
    // The runtime's _snprintf leaves a full buffer unterminated.
    _snprintf(text, size - 1, "%03.1f", share);
    text[size - 1] = '\0';
}

#endif
