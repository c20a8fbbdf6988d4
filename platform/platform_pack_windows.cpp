#if defined(_WIN32)

// File-system calls only the packer needs, apart from the stub's own so the
// stub never links them (nor the formatting code they pull in).

#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <io.h>
#include <string>
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

bool platform_list_directory(const char *path, void (*visit)(const char *name, void *context),
                             void *context) {
    char pattern[MAX_PATH + 1];
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
    FILE *file = std::fopen(temp_path, "wb");
    if (file == nullptr)
        DeleteFileA(temp_path);
    return file;
}

bool platform_replace_file(const char *from, const char *to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

// Windows runs any file whose name ends in .exe; there is no mode to set.
bool platform_make_executable(const char *) {
    return true;
}

bool platform_is_terminal(FILE *stream) {
    return _isatty(_fileno(stream)) != 0;
}

// The UTF-16 form of `text` in code page `codepage`; empty on a byte that
// means no character there.
static std::wstring to_wide(UINT codepage, const char *text) {
    int length = MultiByteToWideChar(codepage, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codepage, MB_ERR_INVALID_CHARS, text, -1, &wide[0], length);
    return wide;
}

bool platform_utf8_to_codepage(int codepage, const char *text, char *out, size_t room) {
    std::wstring wide = to_wide(CP_UTF8, text);
    if (wide.empty() || room == 0)
        return false;
    // No best fit: a character the code page lacks is refused, never turned
    // into a look-alike such as 'a' for 'ā'.
    BOOL used_default = FALSE;
    int length =
        WideCharToMultiByte(static_cast<UINT>(codepage), WC_NO_BEST_FIT_CHARS, wide.c_str(), -1,
                            out, static_cast<int>(room), nullptr, &used_default);
    return length > 0 && !used_default;
}

bool platform_codepage_to_utf8(int codepage, const char *text, char *out, size_t room) {
    std::wstring wide = to_wide(static_cast<UINT>(codepage), text);
    if (wide.empty() || room == 0)
        return false;
    return WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, out, static_cast<int>(room), nullptr,
                               nullptr) > 0;
}

#endif
