#if defined(_WIN32)

// File-system calls only the packer needs, apart from the stub's own so the
// stub never links them (nor the formatting code they pull in).

#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

bool platform_own_program_file(char *path, size_t room) {
    if (room == 0)
        return false;
    DWORD length = GetModuleFileNameA(nullptr, path, static_cast<DWORD>(room));
    if (length == 0 || length >= room)
        return false;
    path[length] = '\0';
    return true;
}

// Volume serial and file index name one file or directory, whatever path
// reached it.
static void read_file_identity(const char *path, platform_entry *entry) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(handle, &information)) {
        entry->volume = information.dwVolumeSerialNumber;
        entry->index =
            static_cast<uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    }
    CloseHandle(handle);
}

bool platform_entry_status(const char *path, bool follow_links, platform_entry *entry) {
    *entry = platform_entry{PLATFORM_ENTRY_MISSING, 0, 0, 0, 0};
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        entry->error_number = ENOENT;
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !follow_links) {
        entry->kind = PLATFORM_ENTRY_LINK;
        return true;
    }
    struct _stati64 status;
    if (_stati64(path, &status) != 0) {
        entry->error_number = errno;
        return false;
    }
    if ((status.st_mode & _S_IFMT) == _S_IFDIR)
        entry->kind = PLATFORM_ENTRY_DIRECTORY;
    else if ((status.st_mode & _S_IFMT) == _S_IFREG)
        entry->kind = PLATFORM_ENTRY_FILE;
    else
        entry->kind = PLATFORM_ENTRY_OTHER;
    entry->size = static_cast<int64_t>(status.st_size);
    read_file_identity(path, entry);
    return true;
}

// The path of `relative` in `folder`, in `path` (`room` bytes); false when it
// does not fit. Windows takes '/' between parts as well as backslashes.
static bool path_in_folder(const platform_folder *folder, const char *relative, char *path,
                           size_t room) {
    const char *base = folder->path;
    size_t length = std::strlen(base);
    bool has_end = length > 0 && (base[length - 1] == '/' || base[length - 1] == '\\');
    const char *between = length == 0 || has_end || relative[0] == '\0' ? "" : "\\";
    if (length == 0 && relative[0] == '\0')
        relative = ".";
    if (std::snprintf(path, room, "%s%s%s", base, between, relative) >= static_cast<int>(room)) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

// Windows has no calls relative to an open folder: each call takes the whole path.
bool platform_open_folder(const char *path, platform_folder *folder) {
    folder->path = path;
    folder->descriptor = -1;
    if (path[0] == '\0')
        return true;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        errno = ENOENT;
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

void platform_close_folder(platform_folder *) {}

bool platform_entry_status_in(const platform_folder *folder, const char *relative,
                              bool follow_links, platform_entry *entry) {
    char path[MAX_PATH + 1];
    if (!path_in_folder(folder, relative, path, sizeof path)) {
        *entry = platform_entry{PLATFORM_ENTRY_MISSING, 0, 0, 0, ENAMETOOLONG};
        return false;
    }
    return platform_entry_status(path, follow_links, entry);
}

bool platform_list_directory_in(const platform_folder *folder, const char *relative,
                                void (*visit)(const char *name, void *context), void *context) {
    char path[MAX_PATH + 1];
    char pattern[MAX_PATH + 1];
    if (!path_in_folder(folder, relative, path, sizeof path))
        return false;
    if (std::snprintf(pattern, sizeof pattern, "%s\\*", path) >= static_cast<int>(sizeof pattern)) {
        errno = ENAMETOOLONG;
        return false;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        errno = EACCES;
        return false;
    }
    do {
        if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0)
            visit(found.cFileName, context);
    } while (FindNextFileA(search, &found));
    bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    if (!complete)
        errno = EIO;
    return complete;
}

static int errno_from_last_error() {
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

// Opened with FILE_SHARE_DELETE, so the Ctrl-C handler, which runs on its own
// thread while the file is still open, can remove it.
static FILE *open_removable_for_writing(const char *path, DWORD disposition) {
    HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = errno_from_last_error();
        return nullptr;
    }
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
    if (descriptor < 0) {
        CloseHandle(handle);
        DeleteFileA(path);
        errno = EMFILE;
        return nullptr;
    }
    FILE *file = _fdopen(descriptor, "wb");
    if (file == nullptr) {
        _close(descriptor);
        DeleteFileA(path);
        errno = EMFILE;
    }
    return file;
}

int platform_open_input_in(const platform_folder *folder, const char *relative) {
    char path[MAX_PATH + 1];
    if (!path_in_folder(folder, relative, path, sizeof path))
        return -1;
    return _open(path, _O_RDONLY | _O_BINARY);
}

long platform_read_input(int input, void *bytes, size_t size) {
    unsigned int piece = size > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(size);
    return _read(input, bytes, piece);
}

void platform_close_input(int input) {
    _close(input);
}

FILE *platform_create_temp_file(const char *near_path, char *temp_path, size_t room) {
    char folder[MAX_PATH + 1];
    const char *cut = std::strrchr(near_path, '\\');
    const char *slash = std::strrchr(near_path, '/');
    if (slash != nullptr && (cut == nullptr || slash > cut))
        cut = slash;
    int length = cut == nullptr ? 0 : static_cast<int>(cut - near_path + 1);
    if (length > MAX_PATH || room < MAX_PATH + 1) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    if (length == 0)
        std::strcpy(folder, ".");
    else
        std::snprintf(folder, sizeof folder, "%.*s", length, near_path);
    if (GetTempFileNameA(folder, "sfx", 0, temp_path) == 0) {
        errno = EACCES;
        return nullptr;
    }
    FILE *file = open_removable_for_writing(temp_path, TRUNCATE_EXISTING);
    if (file == nullptr)
        DeleteFileA(temp_path);
    return file;
}

bool platform_replace_file(const char *from, const char *to) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0)
        return true;
    errno = errno_from_last_error();
    return false;
}

// Windows runs any file whose name ends in .exe; there is no mode to set.
bool platform_make_executable(const char *) {
    return true;
}

bool platform_is_terminal(FILE *stream) {
    return _isatty(_fileno(stream)) != 0;
}

// Read by the console handler, which runs on a thread of its own.
static char interrupt_path[MAX_PATH + 1];
static volatile LONG interrupt_path_set;

// Returning FALSE hands the event on to the default handler, which ends the
// process as Ctrl-C would have.
static BOOL WINAPI remove_on_console_event(DWORD event) {
    if ((event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) &&
        interrupt_path_set)
        DeleteFileA(interrupt_path);
    return FALSE;
}

void platform_remove_on_interrupt(const char *path) {
    static bool caught;
    InterlockedExchange(&interrupt_path_set, 0);
    if (path == nullptr || std::strlen(path) >= sizeof interrupt_path)
        return;
    if (!caught)
        caught = SetConsoleCtrlHandler(remove_on_console_event, TRUE) != 0;
    std::memcpy(interrupt_path, path, std::strlen(path) + 1);
    InterlockedExchange(&interrupt_path_set, 1);
}

// Windows files carry no mode; a new file's rights come from its folder.
bool platform_make_ordinary(const char *) {
    return true;
}

bool platform_create_directory(const char *path) {
    if (_mkdir(path) == 0)
        return true;
    int make_error = errno;
    DWORD attributes = GetFileAttributesA(path);
    if (make_error == EEXIST && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_DIRECTORY)
        return true;
    errno = make_error;
    return false;
}

#endif
