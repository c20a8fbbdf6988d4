#if defined(_WIN32)

#include "platform_stub.h"

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

// The member being written and the guard that keeps the interruption handler,
// which runs on a thread of its own, from deleting it while it is being
// created or closed, and the main thread from creating one after the handler
// took over.
static CRITICAL_SECTION member_guard;
static const char *member_being_written;

// Ctrl-C, Ctrl-Break and closing the console window: the member being written
// goes (its handle allows deleting, so it vanishes once the process ends),
// then the program ends with the status Ctrl-C gives. The guard stays held,
// so the main thread can't start another member meanwhile.
static BOOL WINAPI end_interrupted(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    EnterCriticalSection(&member_guard);
    if (member_being_written != nullptr)
        DeleteFileA(member_being_written);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

void platform_prepare_run() {
    InitializeCriticalSection(&member_guard);
    SetConsoleCtrlHandler(end_interrupted, TRUE);
}

// The file systems ignore letter case: the upper-cased name opens as it is.
void platform_match_letter_case(char *) {}

// Volume serial number and file index name one file on a running system.
static bool same_file(const BY_HANDLE_FILE_INFORMATION *a, const BY_HANDLE_FILE_INFORMATION *b) {
    return a->dwVolumeSerialNumber == b->dwVolumeSerialNumber &&
           a->nFileIndexHigh == b->nFileIndexHigh && a->nFileIndexLow == b->nFileIndexLow;
}

static bool running_program_information(BY_HANDLE_FILE_INFORMATION *information) {
    // The longest path the system knows; on the stack, as a static array
    // would be stored whole in the program file.
    wchar_t own_path[32768];
    DWORD length = GetModuleFileNameW(nullptr, own_path, sizeof own_path / sizeof own_path[0]);
    if (length == 0 || length >= sizeof own_path / sizeof own_path[0])
        return false;
    HANDLE own = CreateFileW(own_path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (own == INVALID_HANDLE_VALUE)
        return false;
    bool known = GetFileInformationByHandle(own, information) != 0;
    CloseHandle(own);
    return known;
}

bool platform_is_running_program(FILE *opened) {
    BY_HANDLE_FILE_INFORMATION own, other;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(opened)));
    if (!running_program_information(&own) || handle == INVALID_HANDLE_VALUE ||
        !GetFileInformationByHandle(handle, &other))
        return true;
    return same_file(&own, &other);
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

FILE *platform_open_member(const char *name, bool) {
    EnterCriticalSection(&member_guard);
    FILE *member = create_deletable_file(name);
    member_being_written = member != nullptr ? name : nullptr;
    LeaveCriticalSection(&member_guard);
    return member;
}

bool platform_close_member(FILE *member) {
    EnterCriticalSection(&member_guard);
    bool closed = std::fclose(member) == 0;
    member_being_written = nullptr;
    LeaveCriticalSection(&member_guard);
    return closed;
}

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

name_rules platform_name_rules() {
    return NAME_RULES_WINDOWS;
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

// The current folder holds what the archive just extracted, so a cmd.exe
// there must never run. A relative COMSPEC, or none,
// would have the runtime look there first.
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

// The command interpreter's own type command shows the text, so it appears
// exactly as the user's console shows any text file. It writes to the same
// console or pipe as the stub and is waited for; its result is not looked at.
void platform_show_text_file(const char *path) {
    char interpreter[MAX_PATH + 1];
    if (!find_interpreter(interpreter, sizeof interpreter))
        return;
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
    // What the interpreter writes must come after everything printed so far.
    std::fflush(stdout);
    if (!CreateProcessA(interpreter, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
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
