// SPDX-License-Identifier: Zlib
#if !defined(_WIN32)

// File-system calls only the packer needs, apart from the stub's own so the
// stub never links them.

#include "platform_extract.h"
#include "platform_pack.h"

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
    if (room == 0)
        return false;
    ssize_t length = readlink("/proc/self/exe", path, room - 1);
    if (length <= 0 || static_cast<size_t>(length) >= room - 1)
        return false;
    path[length] = '\0';
    return true;
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
    entry->volume = static_cast<uint64_t>(status.st_dev);
    entry->index = static_cast<uint64_t>(status.st_ino);
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
    int descriptor =
        openat(folder->descriptor, path_below(relative), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
    return openat(folder->descriptor, path_below(relative), O_RDONLY | O_CLOEXEC);
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

FILE *platform_create_temp_file(const char *near_path, char *temp_path, size_t room) {
    if (std::snprintf(temp_path, room, "%s.XXXXXX", near_path) >= static_cast<int>(room)) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    int descriptor = mkstemp(temp_path);
    if (descriptor < 0)
        return nullptr;
    FILE *file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        int open_error = errno;
        close(descriptor);
        unlink(temp_path);
        errno = open_error;
    }
    return file;
}

bool platform_replace_file(const char *from, const char *to) {
    return std::rename(from, to) == 0;
}

bool platform_is_read_only(const char *path) {
    struct stat status;
    if (lstat(path, &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    return (status.st_mode & 0222) == 0 || (access(path, W_OK) != 0 && errno == EACCES);
}

bool platform_make_executable(const char *path) {
    return chmod(path, 0755) == 0;
}

bool platform_is_terminal(FILE *stream) {
    return isatty(fileno(stream)) != 0;
}

static const int INTERRUPT_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Read by the signal handler, so kept in static storage: the handler may only
// make async-signal-safe calls and can't allocate.
static char interrupt_path[4096];
static int interrupt_folder = AT_FDCWD; // what a relative interrupt_path is inside
static volatile sig_atomic_t interrupt_path_set;

static void remove_and_end(int signal_number) {
    if (interrupt_path_set)
        unlinkat(interrupt_folder, interrupt_path, 0);
    std::signal(signal_number, SIG_DFL);
    raise(signal_number);
}

static void catch_interrupts() {
    static bool caught;
    if (caught)
        return;
    caught = true;
    for (int signal_number : INTERRUPT_SIGNALS) {
        struct sigaction action;
        if (sigaction(signal_number, nullptr, &action) != 0 || action.sa_handler == SIG_IGN)
            continue;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = remove_and_end;
        sigemptyset(&action.sa_mask);
        for (int other : INTERRUPT_SIGNALS)
            sigaddset(&action.sa_mask, other);
        sigaction(signal_number, &action, nullptr);
    }
}

static void remove_on_interrupt_at(int folder, const char *path) {
    interrupt_path_set = 0;
    if (path == nullptr || std::strlen(path) >= sizeof interrupt_path)
        return;
    catch_interrupts();
    interrupt_folder = folder;
    std::memcpy(interrupt_path, path, std::strlen(path) + 1);
    interrupt_path_set = 1;
}

void platform_remove_on_interrupt(const char *path) {
    remove_on_interrupt_at(AT_FDCWD, path);
}

bool platform_open_out_root(const char *path, platform_out_folder *folder) {
    folder->path.clear();
    if (path[0] == '\0') {
        folder->descriptor = AT_FDCWD;
        return true;
    }
    folder->descriptor = open(path, FOLDER_OPEN_MODE | O_DIRECTORY | O_CLOEXEC);
    return folder->descriptor >= 0;
}

// With O_NOFOLLOW a link at `name` fails the open (ELOOP or ENOTDIR) instead
// of leading anywhere.
bool platform_open_out_folder(const platform_out_folder *parent, const char *name,
                              platform_out_folder *folder) {
    folder->path.clear();
    folder->descriptor =
        openat(parent->descriptor, name, FOLDER_OPEN_MODE | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return folder->descriptor >= 0;
}

void platform_close_out_folder(platform_out_folder *folder) {
    if (folder->descriptor >= 0)
        close(folder->descriptor);
    folder->descriptor = -1;
}

bool platform_make_out_folder(const platform_out_folder *parent, const char *name) {
    return mkdirat(parent->descriptor, name, 0777) == 0;
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

// The mode goes with the creation, so the umask applies to it and no later
// call changes it; O_EXCL with O_NOFOLLOW refuses any entry already there.
// The name tried first is the one of the call before, which its rename has
// freed: the system still knows that it names nothing and need not search
// the folder for it, as it must for a name it has never seen.
int platform_create_out_file(const platform_out_folder *folder, const char *prefix, bool executable,
                             char *name, size_t room) {
    size_t length = std::strlen(prefix) + 7;
    bool earlier =
        std::strncmp(name, prefix, std::strlen(prefix)) == 0 && std::strlen(name) == length;
    if (length >= room) {
        errno = ENAMETOOLONG;
        return -1;
    }
    if (!earlier)
        std::snprintf(name, room, "%s.XXXXXX", prefix);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (attempt > 0 || !earlier)
            fresh_letters(name + length - 6);
        int descriptor =
            openat(folder->descriptor, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   executable ? 0777 : 0666);
        if (descriptor >= 0 || errno != EEXIST)
            return descriptor;
    }
    return -1;
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

bool platform_close_out(int out) {
    return close(out) == 0;
}

bool platform_place_out(const platform_out_folder *folder, const char *from, const char *to) {
#if defined(RENAME_NOREPLACE)
    if (renameat2(folder->descriptor, from, folder->descriptor, to, RENAME_NOREPLACE) == 0)
        return true;
    // A file system without the flag says EINVAL; the caller then looks first.
    if (errno == EINVAL || errno == ENOSYS)
        errno = EEXIST;
    return false;
#else
    (void)folder;
    (void)from;
    (void)to;
    errno = EEXIST;
    return false;
#endif
}

bool platform_replace_out(const platform_out_folder *folder, const char *from, const char *to) {
    return renameat(folder->descriptor, from, folder->descriptor, to) == 0;
}

void platform_remove_out(const platform_out_folder *folder, const char *name) {
    unlinkat(folder->descriptor, name, 0);
}

void platform_remove_on_interrupt_in(const platform_out_folder *folder, const char *name) {
    remove_on_interrupt_at(folder->descriptor, name);
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
