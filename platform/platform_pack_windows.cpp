// SPDX-License-Identifier: Zlib
#if defined(_WIN32)

// File-system calls only the packer needs, apart from the stub's own so the
// stub never links them (nor the formatting code they pull in).

#include "platform_pack_extract.h"
#include "platform_shared.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <windows.h>

// After windows.h, which it builds on.
#include <shellapi.h>

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

// The UTF-8 form of the wide `text`; false on a lone surrogate, which no
// UTF-8 name can carry.
static bool to_utf8(const wchar_t *text, std::string *out) {
    int length =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return false;
    out->assign(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, &(*out)[0], length, nullptr,
                        nullptr);
    out->resize(static_cast<size_t>(length - 1));
    return true;
}

// A drive, with or without its root, is outside the current folder as
// surely as a path from the root of the current drive or a network path.
bool platform_is_absolute_path(const char *path) {
    bool letter = (path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z');
    return path[0] == '/' || path[0] == '\\' || (letter && path[1] == ':');
}

// Copies `text` into `out` (`room` bytes) when it fits with its NUL.
static bool copy_fitting(const std::string &text, char *out, size_t room) {
    if (text.size() >= room)
        return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

bool platform_own_program_file(char *path, size_t room) {
    wchar_t wide[MAX_PATH + 1];
    std::string own;
    return own_program_path(wide, MAX_PATH + 1) && to_utf8(wide, &own) &&
           copy_fitting(own, path, room);
}

static void read_file_identity(const wchar_t *path, platform_entry *entry) {
    file_identity identity;
    if (!path_identity(path, &identity))
        return;
    entry->volume = identity.volume;
    entry->index = identity.index;
}

bool platform_entry_status(const char *path, bool follow_links, platform_entry *entry) {
    *entry = platform_entry{PLATFORM_ENTRY_MISSING, 0, false, 0, 0, 0};
    std::wstring wide = to_wide(CP_UTF8, path);
    DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        entry->error_number = ENOENT;
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !follow_links) {
        entry->kind = PLATFORM_ENTRY_LINK;
        return true;
    }
    struct _stati64 status;
    if (_wstati64(wide.c_str(), &status) != 0) {
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
    read_file_identity(wide.c_str(), entry);
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
    std::wstring wide = to_wide(CP_UTF8, path);
    DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
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
    char path[MAX_PATH * 3 + 1];
    if (!path_in_folder(folder, relative, path, sizeof path)) {
        *entry = platform_entry{PLATFORM_ENTRY_MISSING, 0, false, 0, 0, ENAMETOOLONG};
        return false;
    }
    return platform_entry_status(path, follow_links, entry);
}

// Names come through the wide-character calls, whatever the system's 8-bit
// code page, and go on as UTF-8.
static bool list_directory(const char *path, void (*visit)(const char *name, void *context),
                           void *context) {
    std::wstring pattern = to_wide(CP_UTF8, path);
    if (pattern.empty()) {
        errno = EILSEQ;
        return false;
    }
    pattern.resize(pattern.size() - 1);
    pattern += L"\\*";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        errno = EACCES;
        return false;
    }
    bool names_whole = true;
    do {
        std::string name;
        if (!to_utf8(found.cFileName, &name))
            names_whole = false;
        else if (name != "." && name != "..")
            visit(name.c_str(), context);
    } while (names_whole && FindNextFileW(search, &found));
    bool complete = names_whole && GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    if (!complete)
        errno = names_whole ? EIO : EILSEQ;
    return complete;
}

bool platform_list_directory_in(const platform_folder *folder, const char *relative,
                                void (*visit)(const char *name, void *context), void *context) {
    char path[MAX_PATH * 3 + 1];
    return path_in_folder(folder, relative, path, sizeof path) &&
           list_directory(path, visit, context);
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
// thread while the file is still open, can remove it. A C runtime descriptor,
// or -1 with errno set.
static int open_removable_descriptor(const char *path, DWORD disposition) {
    std::wstring wide = to_wide(CP_UTF8, path);
    if (wide.empty()) {
        errno = EILSEQ;
        return -1;
    }
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = errno_from_last_error();
        return -1;
    }
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
    if (descriptor < 0) {
        CloseHandle(handle);
        DeleteFileW(wide.c_str());
        errno = EMFILE;
    }
    return descriptor;
}

int platform_open_input_in(const platform_folder *folder, const char *relative) {
    char path[MAX_PATH * 3 + 1];
    if (!path_in_folder(folder, relative, path, sizeof path))
        return -1;
    std::wstring wide = to_wide(CP_UTF8, path);
    if (wide.empty()) {
        errno = EILSEQ;
        return -1;
    }
    return _wopen(wide.c_str(), _O_RDONLY | _O_BINARY);
}

long platform_read_input(int input, void *bytes, size_t size) {
    unsigned int piece = size > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(size);
    return _read(input, bytes, piece);
}

void platform_close_input(int input) {
    _close(input);
}

// Creates an empty file with a fresh name in `folder` (ending in a separator,
// or "" for the current folder); its path goes to `temp_path`.
static bool create_temp_name(const std::string &folder, char *temp_path, size_t room) {
    std::wstring wide_folder = to_wide(CP_UTF8, folder.empty() ? "." : folder.c_str());
    wchar_t wide_temp[MAX_PATH + 1];
    if (wide_folder.empty() || wide_folder.size() > MAX_PATH - 14) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::string temp;
    if (GetTempFileNameW(wide_folder.c_str(), L"sfx", 0, wide_temp) == 0) {
        errno = EACCES;
        return false;
    }
    if (!to_utf8(wide_temp, &temp) || !copy_fitting(temp, temp_path, room)) {
        DeleteFileW(wide_temp);
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

bool platform_is_read_only(const char *path) {
    std::wstring wide = to_wide(CP_UTF8, path);
    DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

FILE *platform_open(const char *path, const char *mode) {
    std::wstring wide_path = to_wide(CP_UTF8, path), wide_mode = to_wide(CP_UTF8, mode);
    if (wide_path.empty() || wide_mode.empty()) {
        errno = EILSEQ;
        return nullptr;
    }
    return _wfopen(wide_path.c_str(), wide_mode.c_str());
}

bool platform_remove(const char *path) {
    std::wstring wide = to_wide(CP_UTF8, path);
    return !wide.empty() && _wremove(wide.c_str()) == 0;
}

// The runtime's own arguments are in the 8-bit code page, which can't hold
// every name; the wide command line can.
void platform_utf8_arguments(int *argc, char ***argv) {
    static std::vector<std::string> arguments;
    static std::vector<char *> pointers;
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return;
    arguments.assign(static_cast<size_t>(count), std::string());
    bool whole = true;
    for (int i = 0; i < count; ++i)
        whole = whole && to_utf8(wide[i], &arguments[static_cast<size_t>(i)]);
    LocalFree(wide);
    if (!whole)
        return;
    pointers.clear();
    for (std::string &argument : arguments)
        pointers.push_back(&argument[0]);
    pointers.push_back(nullptr);
    *argc = count;
    *argv = pointers.data();
}

bool platform_is_terminal(FILE *stream) {
    return _isatty(_fileno(stream)) != 0;
}

bool platform_open_out_root(const char *path, platform_out_folder *folder) {
    folder->descriptor = -1;
    folder->path = path;
    if (!folder->path.empty() && folder->path.back() != '/' && folder->path.back() != '\\')
        folder->path += '\\';
    platform_entry entry;
    if (folder->path.empty())
        return true;
    if (!platform_entry_status(path, true, &entry)) {
        errno = entry.error_number;
        return false;
    }
    if (entry.kind != PLATFORM_ENTRY_DIRECTORY) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

bool platform_open_folder_of(const char *path, platform_out_folder *folder, std::string *name) {
    std::string whole(path);
    size_t cut = whole.find_last_of("\\/");
    *name = cut == std::string::npos ? whole : whole.substr(cut + 1);
    std::string above = cut == std::string::npos ? "" : whole.substr(0, cut + 1);
    return platform_open_out_root(above.c_str(), folder);
}

// A reparse point (a symbolic link or a junction) at `name` is refused like
// a file, so nothing below it is ever reached.
bool platform_open_out_folder(const platform_out_folder *parent, const char *name,
                              platform_out_folder *folder) {
    folder->descriptor = -1;
    folder->path = parent->path + name;
    std::wstring wide = to_wide(CP_UTF8, folder->path.c_str());
    DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        errno = wide.empty() ? EILSEQ : ENOENT;
        return false;
    }
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
        FILE_ATTRIBUTE_DIRECTORY) {
        errno = ENOTDIR;
        return false;
    }
    folder->path += '\\';
    return true;
}

void platform_close_out_folder(platform_out_folder *folder) {
    folder->path.clear();
}

bool platform_make_out_folder(const platform_out_folder *parent, const char *name) {
    std::wstring wide = to_wide(CP_UTF8, (parent->path + name).c_str());
    if (wide.empty()) {
        errno = EILSEQ;
        return false;
    }
    return _wmkdir(wide.c_str()) == 0;
}

bool platform_out_entry_status(const platform_out_folder *folder, const char *name,
                               platform_entry *entry) {
    return platform_entry_status((folder->path + name).c_str(), false, entry);
}

// GetTempFileNameW picks the fresh name; the new file takes its rights from
// its folder, as Windows files carry no mode. Created and named for the
// interruption handler as one step.
bool platform_create_out_file(const platform_out_folder *folder, const char *, bool,
                              platform_out_file *file) {
    file->stream = nullptr;
    file->kept = -1;
    file->unnamed = false;
    file->temporary = false;
    file->descriptor = -1;
    hold_interruptions();
    char path[MAX_PATH * 3 + 1];
    bool created = create_temp_name(folder->path, path, sizeof path);
    const char *below = path + std::strlen(path);
    while (created && below > path && below[-1] != '\\' && below[-1] != '/')
        --below;
    if (created && !copy_fitting(below, file->name, sizeof file->name)) {
        platform_remove(path);
        errno = ENAMETOOLONG;
        created = false;
    }
    if (created) {
        file->descriptor = open_removable_descriptor(path, TRUNCATE_EXISTING);
        if (file->descriptor < 0)
            platform_remove(path);
    }
    file->temporary = file->descriptor >= 0;
    if (file->temporary)
        remove_on_interruption(to_wide(CP_UTF8, path).c_str());
    release_interruptions();
    return file->temporary;
}

FILE *platform_out_stream(platform_out_file *file) {
    file->stream = _fdopen(file->descriptor, "wb");
    return file->stream;
}

bool platform_write_out(int out, const void *bytes, size_t size) {
    const char *at = static_cast<const char *>(bytes);
    while (size > 0) {
        unsigned int piece = size > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(size);
        int written = _write(out, at, piece);
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            return false;
        }
        at += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// The identity is taken while the file is open, to compare it with what has
// its name once moved.
bool platform_close_out(platform_out_file *file) {
    file_identity identity = {0, 0};
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file->descriptor));
    handle_identity(handle, &identity);
    file->volume = identity.volume;
    file->index = identity.index;
    bool closed =
        file->stream != nullptr ? std::fclose(file->stream) == 0 : _close(file->descriptor) == 0;
    file->stream = nullptr;
    file->descriptor = -1;
    return closed;
}

// Windows runs any file whose name ends in .exe; there is no mode to set.
bool platform_make_out_executable(platform_out_file *) {
    return true;
}

// After the move: the name must hold the file written, not one someone put in
// place of the temporary name. Where either identity is unknown, it is not
// known to be another.
static platform_placing check_placed(const std::wstring &placed, const platform_out_file *file) {
    file_identity found;
    if ((file->volume == 0 && file->index == 0) || !path_identity(placed.c_str(), &found))
        return PLATFORM_PLACED;
    return found.volume == file->volume && found.index == file->index ? PLATFORM_PLACED
                                                                      : PLATFORM_SWAPPED;
}

static platform_placing move_temporary(const platform_out_folder *folder, platform_out_file *file,
                                       const char *to, DWORD flags) {
    std::wstring wide_from = to_wide(CP_UTF8, (folder->path + file->name).c_str());
    std::wstring wide_to = to_wide(CP_UTF8, (folder->path + to).c_str());
    if (wide_from.empty() || wide_to.empty()) {
        errno = EILSEQ;
        return PLATFORM_NOT_PLACED;
    }
    hold_interruptions();
    bool moved = MoveFileExW(wide_from.c_str(), wide_to.c_str(), flags) != 0;
    if (moved) {
        file->temporary = false;
        remove_on_interruption(nullptr);
    }
    release_interruptions();
    if (moved)
        return check_placed(wide_to, file);
    errno = errno_from_last_error();
    // Whatever the refusal says, a name in use is for the caller to judge.
    if (flags == 0 && GetFileAttributesW(wide_to.c_str()) != INVALID_FILE_ATTRIBUTES)
        return PLATFORM_NAME_TAKEN;
    return PLATFORM_NOT_PLACED;
}

platform_placing platform_place_out(const platform_out_folder *folder, platform_out_file *file,
                                    const char *to) {
    return move_temporary(folder, file, to, 0);
}

platform_placing platform_replace_out(const platform_out_folder *folder, platform_out_file *file,
                                      const char *to) {
    return move_temporary(folder, file, to, MOVEFILE_REPLACE_EXISTING);
}

void platform_discard_out(const platform_out_folder *folder, platform_out_file *file) {
    if (file->descriptor >= 0) {
        if (file->stream != nullptr)
            std::fclose(file->stream);
        else
            _close(file->descriptor);
    }
    file->stream = nullptr;
    file->descriptor = -1;
    hold_interruptions();
    if (file->temporary)
        platform_remove((folder->path + file->name).c_str());
    file->temporary = false;
    remove_on_interruption(nullptr);
    release_interruptions();
}

void platform_remove_out(const platform_out_folder *folder, const char *name) {
    platform_remove((folder->path + name).c_str());
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

// LCMapStringW without linguistic casing upper-cases as the file systems
// compare names.
uint32_t platform_upper_case_character(uint32_t character) {
    wchar_t units[2], upper[2];
    int count = 1;
    if (character >= 0x10000) {
        units[0] = static_cast<wchar_t>(0xD800 + ((character - 0x10000) >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + ((character - 0x10000) & 0x3FF));
        count = 2;
    } else {
        units[0] = static_cast<wchar_t>(character);
    }
    int got = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, units, count, upper, 2);
    if (got == 1 && count == 1)
        return upper[0];
    if (got == 2 && count == 2)
        return 0x10000 + ((static_cast<uint32_t>(upper[0]) - 0xD800) << 10) +
               (static_cast<uint32_t>(upper[1]) - 0xDC00);
    return character;
}

#endif
