// SPDX-License-Identifier: Zlib
#if !defined(_WIN32)

// File-system calls only the packer needs, apart from the stub's own so the
// stub never links them.

#include "platform_pack_calls.h"
#include "platform_pack_extract.h"
#include "platform_shared.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <locale.h>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <wctype.h>

static int system_openat(int folder, const char *path, int flags, mode_t mode) {
    return openat(folder, path, flags, mode);
}

static int system_renameat2(int from_folder, const char *from, int to_folder, const char *to,
                            unsigned int flags) {
#if defined(RENAME_NOREPLACE)
    return renameat2(from_folder, from, to_folder, to, flags);
#else
    if (flags != 0) {
        errno = EINVAL;
        return -1;
    }
    return renameat(from_folder, from, to_folder, to);
#endif
}

const platform_pack_calls PLATFORM_SYSTEM_CALLS = {system_openat, mkdirat, system_renameat2, linkat,
                                                   unlinkat};
platform_pack_calls platform_calls = PLATFORM_SYSTEM_CALLS;

void platform_utf8_arguments(int *, char ***) {}

bool platform_is_absolute_path(const char *path) {
    return path[0] == '/';
}

FILE *platform_open(const char *path, const char *mode) {
    return std::fopen(path, mode);
}

bool platform_remove(const char *path) {
    return std::remove(path) == 0;
}

bool platform_own_program_file(char *path, size_t room) {
    return own_program_path(path, room);
}

static platform_entry_kind entry_kind(mode_t mode) {
    if (S_ISREG(mode))
        return PLATFORM_ENTRY_FILE;
    if (S_ISDIR(mode))
        return PLATFORM_ENTRY_DIRECTORY;
    if (S_ISLNK(mode))
        return PLATFORM_ENTRY_LINK;
    return PLATFORM_ENTRY_OTHER;
}

static void fill_entry(const struct stat &status, platform_entry *entry) {
    entry->kind = entry_kind(status.st_mode);
    entry->size = static_cast<int64_t>(status.st_size);
    entry->executable = (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
    file_identity identity = status_identity(status);
    entry->volume = identity.volume;
    entry->index = identity.index;
}

bool platform_entry_status(const char *path, bool follow_links, platform_entry *entry) {
    *entry = platform_entry{PLATFORM_ENTRY_MISSING, 0, false, 0, 0, 0};
    struct stat status;
    if ((follow_links ? stat(path, &status) : lstat(path, &status)) != 0) {
        entry->error_number = errno;
        return false;
    }
    fill_entry(status, entry);
    return true;
}

// Searching a folder needs only the right to pass through it; where the
// system has O_PATH the folder is opened for that alone, as a path walk would.
#if defined(O_PATH)
static const int FOLDER_OPEN_MODE = O_PATH;
#else
static const int FOLDER_OPEN_MODE = O_RDONLY;
#endif

bool platform_open_folder(const char *path, platform_folder *folder) {
    folder->path = path;
    if (path[0] == '\0') {
        folder->descriptor = AT_FDCWD;
        return true;
    }
    folder->descriptor = open(path, FOLDER_OPEN_MODE | O_DIRECTORY | O_CLOEXEC);
    return folder->descriptor >= 0;
}

void platform_close_folder(platform_folder *folder) {
    if (folder->descriptor >= 0)
        close(folder->descriptor);
    folder->descriptor = -1;
}

#if defined(RENAME_NOREPLACE)
static const unsigned int RENAME_NOREPLACE_FLAG = RENAME_NOREPLACE;
#else
static const unsigned int RENAME_NOREPLACE_FLAG = 1;
#endif

static const char *path_below(const char *relative) {
    return relative[0] == '\0' ? "." : relative;
}

bool platform_entry_status_in(const platform_folder *folder, const char *relative,
                              bool follow_links, platform_entry *entry) {
    *entry = platform_entry{PLATFORM_ENTRY_MISSING, 0, false, 0, 0, 0};
    struct stat status;
    if (fstatat(folder->descriptor, path_below(relative), &status,
                follow_links ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        entry->error_number = errno;
        return false;
    }
    fill_entry(status, entry);
    return true;
}

bool platform_list_directory_in(const platform_folder *folder, const char *relative,
                                void (*visit)(const char *name, void *context), void *context) {
    int descriptor = platform_calls.openat(folder->descriptor, path_below(relative),
                                           O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (descriptor < 0)
        return false;
    DIR *directory = fdopendir(descriptor);
    if (directory == nullptr) {
        int open_error = errno;
        close(descriptor);
        errno = open_error;
        return false;
    }
    errno = 0;
    for (struct dirent *entry; (entry = readdir(directory)) != nullptr; errno = 0) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            visit(entry->d_name, context);
    }
    int read_error = errno;
    closedir(directory);
    errno = read_error;
    return read_error == 0;
}

int platform_open_input_in(const platform_folder *folder, const char *relative) {
    return platform_calls.openat(folder->descriptor, path_below(relative), O_RDONLY | O_CLOEXEC, 0);
}

long platform_read_input(int input, void *bytes, size_t size) {
    ssize_t got;
    do
        got = read(input, bytes, size);
    while (got < 0 && errno == EINTR);
    return static_cast<long>(got);
}

void platform_close_input(int input) {
    close(input);
}

bool platform_is_read_only(const char *path) {
    struct stat status;
    if (lstat(path, &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    return (status.st_mode & 0222) == 0 || (access(path, W_OK) != 0 && errno == EACCES);
}

bool platform_is_terminal(FILE *stream) {
    return isatty(fileno(stream)) != 0;
}

bool platform_open_out_root(const char *path, platform_out_folder *folder) {
    folder->path.clear();
    if (path[0] == '\0') {
        folder->descriptor = AT_FDCWD;
        return true;
    }
    folder->descriptor =
        platform_calls.openat(AT_FDCWD, path, FOLDER_OPEN_MODE | O_DIRECTORY | O_CLOEXEC, 0);
    return folder->descriptor >= 0;
}

bool platform_open_folder_of(const char *path, platform_out_folder *folder, std::string *name) {
    std::string whole(path);
    size_t cut = whole.find_last_of('/');
    *name = cut == std::string::npos ? whole : whole.substr(cut + 1);
    std::string above = cut == std::string::npos ? "" : whole.substr(0, cut + 1);
    return platform_open_out_root(above.c_str(), folder);
}

// With O_NOFOLLOW a link at `name` fails the open (ELOOP or ENOTDIR) instead
// of leading anywhere.
bool platform_open_out_folder(const platform_out_folder *parent, const char *name,
                              platform_out_folder *folder) {
    folder->path.clear();
    folder->descriptor = platform_calls.openat(
        parent->descriptor, name, FOLDER_OPEN_MODE | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
    return folder->descriptor >= 0;
}

void platform_close_out_folder(platform_out_folder *folder) {
    if (folder->descriptor >= 0)
        close(folder->descriptor);
    folder->descriptor = -1;
}

bool platform_make_out_folder(const platform_out_folder *parent, const char *name) {
    return platform_calls.mkdirat(parent->descriptor, name, 0777) == 0;
}

bool platform_out_entry_status(const platform_out_folder *folder, const char *name,
                               platform_entry *entry) {
    platform_folder held = {"", folder->descriptor};
    return platform_entry_status_in(&held, name, false, entry);
}

// Six letters or digits that differ from run to run and from name to name.
// They need not be unpredictable: the file is created only where no entry,
// not even a link, has its name yet, and a name found taken is drawn again.
static void fresh_letters(char *letters) {
    static const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static uint64_t state;
    if (state == 0) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        state = (static_cast<uint64_t>(now.tv_sec) << 30 ^ static_cast<uint64_t>(now.tv_nsec) ^
                 static_cast<uint64_t>(getpid()) << 20) |
                1;
    }
    for (int i = 0; i < 6; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        letters[i] = ALPHABET[state % (sizeof ALPHABET - 1)];
    }
}

// A file without a name in `folder`, to be linked in once whole, or -1 where
// the file system or the kernel has no such files. Linking one in goes
// through /proc/self/fd; without /proc it could never get its name, so then
// it is not made at all.
static int create_unnamed(int folder, mode_t mode) {
#if defined(O_TMPFILE)
    int descriptor = platform_calls.openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (descriptor < 0)
        return -1;
    // /proc stays where it is for the run: once seen, it is not looked for again.
    static bool proc_seen;
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
    if (!proc_seen && access(link, F_OK) != 0) {
        close(descriptor);
        return -1;
    }
    proc_seen = true;
    return descriptor;
#else
    (void)folder;
    (void)mode;
    return -1;
#endif
}

// Gives the unnamed file open as `descriptor` the name `to` in `folder`;
// fails with EEXIST when the name is taken.
static bool link_unnamed(int descriptor, int folder, const char *to) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
    return platform_calls.linkat(AT_FDCWD, link, folder, to, AT_SYMLINK_FOLLOW) == 0;
}

// Makes `name`, which may hold an earlier name of the same shape, a fresh
// name starting with `prefix`; false when it would not fit.
static bool start_temporary_name(const char *prefix, char *name, size_t room, bool *earlier) {
    size_t length = std::strlen(prefix) + 7;
    *earlier = std::strncmp(name, prefix, std::strlen(prefix)) == 0 && std::strlen(name) == length;
    if (length >= room) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (!*earlier)
        std::snprintf(name, room, "%s.XXXXXX", prefix);
    return true;
}

// The mode goes with the creation, so the umask applies to it and no later
// call changes it; O_EXCL with O_NOFOLLOW refuses any entry already there.
// The name tried first is the one of the call before, which its rename has
// freed: the system still knows that it names nothing and need not search
// the folder for it, as it must for a name it has never seen.
static int create_named(int folder, const char *prefix, mode_t mode, char *name, size_t room) {
    bool earlier = false;
    if (!start_temporary_name(prefix, name, room, &earlier))
        return -1;
    size_t length = std::strlen(name);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (attempt > 0 || !earlier)
            fresh_letters(name + length - 6);
        int descriptor = platform_calls.openat(
            folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (descriptor >= 0 || errno != EEXIST)
            return descriptor;
    }
    return -1;
}

bool platform_create_out_file(const platform_out_folder *folder, const char *prefix,
                              bool executable, platform_out_file *file) {
    static bool caught;
    if (!caught)
        catch_interruptions();
    caught = true;
    mode_t mode = executable ? 0777 : 0666;
    file->stream = nullptr;
    file->kept = -1;
    file->temporary = false;
    file->descriptor = create_unnamed(folder->descriptor, mode);
    file->unnamed = file->descriptor >= 0;
    if (file->unnamed)
        return true;
    file->descriptor =
        create_named(folder->descriptor, prefix, mode, file->name, sizeof file->name);
    file->temporary = file->descriptor >= 0;
    if (file->temporary)
        remove_on_interruption(folder->descriptor, file->name);
    return file->temporary;
}

FILE *platform_out_stream(platform_out_file *file) {
    file->stream = fdopen(file->descriptor, "wb");
    return file->stream;
}

bool platform_write_out(int out, const void *bytes, size_t size) {
    const char *at = static_cast<const char *>(bytes);
    while (size > 0) {
        ssize_t written = write(out, at, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        at += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// The writes are closed through their own descriptor, whose close reports
// what the system could not write; a copy of it keeps the file open, to link
// it in or to compare it with what has its name.
bool platform_close_out(platform_out_file *file) {
    file->kept = dup(file->descriptor);
    if (file->kept < 0) {
        int dup_error = errno;
        if (file->stream != nullptr)
            std::fclose(file->stream);
        else
            close(file->descriptor);
        file->stream = nullptr;
        file->descriptor = -1;
        errno = dup_error;
        return false;
    }
    bool closed =
        file->stream != nullptr ? std::fclose(file->stream) == 0 : close(file->descriptor) == 0;
    file->stream = nullptr;
    file->descriptor = -1;
    return closed;
}

bool platform_make_out_executable(platform_out_file *file) {
    return fchmod(file->kept, 0755) == 0;
}

// After a rename: the name must hold the file written, not one someone put
// in place of the temporary name. Where its status can't be read, it is
// not known to be another.
static platform_placing check_placed(int folder, const char *to, int kept) {
    struct stat placed, written;
    if (fstatat(folder, to, &placed, AT_SYMLINK_NOFOLLOW) != 0 || fstat(kept, &written) != 0)
        return PLATFORM_PLACED;
    return same_identity(status_identity(placed), status_identity(written)) ? PLATFORM_PLACED
                                                                            : PLATFORM_SWAPPED;
}

// Moves the temporary name onto `to`.
static platform_placing rename_temporary(int folder, platform_out_file *file, const char *to,
                                         unsigned int flags) {
    if (platform_calls.renameat2(folder, file->name, folder, to, flags) != 0) {
        // A file system without the flag says EINVAL; the caller then looks first.
        if (flags != 0 && (errno == EEXIST || errno == EINVAL || errno == ENOSYS))
            return PLATFORM_NAME_TAKEN;
        return PLATFORM_NOT_PLACED;
    }
    file->temporary = false;
    remove_on_interruption(AT_FDCWD, nullptr);
    return check_placed(folder, to, file->kept);
}

platform_placing platform_place_out(const platform_out_folder *folder, platform_out_file *file,
                                    const char *to) {
    if (!file->unnamed)
        return rename_temporary(folder->descriptor, file, to, RENAME_NOREPLACE_FLAG);
    if (link_unnamed(file->kept, folder->descriptor, to))
        return PLATFORM_PLACED;
    return errno == EEXIST ? PLATFORM_NAME_TAKEN : PLATFORM_NOT_PLACED;
}

// An unnamed file can't be linked over a name in use: it takes a temporary
// name for a moment, moved onto the one it replaces.
platform_placing platform_replace_out(const platform_out_folder *folder, platform_out_file *file,
                                      const char *to) {
    if (file->unnamed) {
        bool earlier = false;
        if (!start_temporary_name(".sfxpack-link", file->name, sizeof file->name, &earlier))
            return PLATFORM_NOT_PLACED;
        remove_on_interruption(folder->descriptor, file->name);
        size_t length = std::strlen(file->name);
        for (int attempt = 0; attempt < 100 && !file->temporary; ++attempt) {
            fresh_letters(file->name + length - 6);
            if (link_unnamed(file->kept, folder->descriptor, file->name))
                file->temporary = true;
            else if (errno != EEXIST)
                break;
        }
        if (!file->temporary) {
            remove_on_interruption(AT_FDCWD, nullptr);
            return PLATFORM_NOT_PLACED;
        }
    }
    return rename_temporary(folder->descriptor, file, to, 0);
}

void platform_discard_out(const platform_out_folder *folder, platform_out_file *file) {
    if (file->descriptor >= 0) {
        if (file->stream != nullptr)
            std::fclose(file->stream);
        else
            close(file->descriptor);
    }
    if (file->kept >= 0)
        close(file->kept);
    file->stream = nullptr;
    file->descriptor = -1;
    file->kept = -1;
    if (file->temporary)
        platform_calls.unlinkat(folder->descriptor, file->name, 0);
    file->temporary = false;
    remove_on_interruption(AT_FDCWD, nullptr);
}

void platform_remove_out(const platform_out_folder *folder, const char *name) {
    platform_calls.unlinkat(folder->descriptor, name, 0);
}

// One converter per direction, kept for the next name: most runs convert
// every name into the same code page.
struct codepage_converter {
    iconv_t handle;
    int codepage;
};

static iconv_t converter_for(codepage_converter *kept, int codepage, bool to_codepage) {
    if (kept->handle != reinterpret_cast<iconv_t>(-1) && kept->codepage == codepage)
        return kept->handle;
    if (kept->handle != reinterpret_cast<iconv_t>(-1))
        iconv_close(kept->handle);
    std::string name = "CP" + std::to_string(codepage);
    kept->handle =
        to_codepage ? iconv_open(name.c_str(), "UTF-8") : iconv_open("UTF-8", name.c_str());
    kept->codepage = codepage;
    return kept->handle;
}

// Without //TRANSLIT, the C library's iconv refuses a character the target
// lacks instead of approximating it.
static bool convert(iconv_t converter, const char *text, char *out, size_t room) {
    if (converter == reinterpret_cast<iconv_t>(-1) || room == 0)
        return false;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char *in = const_cast<char *>(text);
    size_t in_left = std::strlen(text);
    char *at = out;
    size_t out_left = room - 1;
    bool ok = iconv(converter, &in, &in_left, &at, &out_left) == 0 && in_left == 0 &&
              iconv(converter, nullptr, nullptr, &at, &out_left) == 0;
    *at = '\0';
    return ok;
}

bool platform_utf8_to_codepage(int codepage, const char *text, char *out, size_t room) {
    static codepage_converter kept = {reinterpret_cast<iconv_t>(-1), 0};
    return convert(converter_for(&kept, codepage, true), text, out, room);
}

bool platform_codepage_to_utf8(int codepage, const char *text, char *out, size_t room) {
    static codepage_converter kept = {reinterpret_cast<iconv_t>(-1), 0};
    return convert(converter_for(&kept, codepage, false), text, out, room);
}

// Unicode's mapping as the C library has it, in a UTF-8 locale whatever the
// user's own; ASCII letters only where the library has none.
uint32_t platform_upper_case_character(uint32_t character) {
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (unicode != static_cast<locale_t>(0))
        return static_cast<uint32_t>(towupper_l(static_cast<wint_t>(character), unicode));
    return character >= 'a' && character <= 'z' ? character - 'a' + 'A' : character;
}

#endif
