#if !defined(_WIN32)

// File-system calls only the packer needs, apart from the stub's own so the
// stub never links them.

#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool platform_entry_status(const char *path, bool follow_links, platform_entry *entry) {
    *entry = platform_entry{PLATFORM_ENTRY_MISSING, 0, 0, 0, 0};
    struct stat status;
    if ((follow_links ? stat(path, &status) : lstat(path, &status)) != 0) {
        entry->error_number = errno;
        return false;
    }
    entry->kind = entry_kind(status.st_mode);
    entry->size = static_cast<int64_t>(status.st_size);
    entry->volume = static_cast<uint64_t>(status.st_dev);
    entry->index = static_cast<uint64_t>(status.st_ino);
    return true;
}

bool platform_list_directory(const char *path, void (*visit)(const char *name, void *context),
                             void *context) {
    DIR *directory = opendir(path);
    if (directory == nullptr)
        return false;
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
static volatile sig_atomic_t interrupt_path_set;

static void remove_and_end(int signal_number) {
    if (interrupt_path_set)
        unlink(interrupt_path);
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

void platform_remove_on_interrupt(const char *path) {
    interrupt_path_set = 0;
    if (path == nullptr || std::strlen(path) >= sizeof interrupt_path)
        return;
    catch_interrupts();
    std::memcpy(interrupt_path, path, std::strlen(path) + 1);
    interrupt_path_set = 1;
}

bool platform_make_ordinary(const char *path) {
    mode_t mask = umask(0);
    umask(mask);
    return chmod(path, 0666 & ~mask) == 0;
}

bool platform_create_directory(const char *path) {
    if (mkdir(path, 0777) == 0)
        return true;
    int make_error = errno;
    struct stat status;
    if (make_error == EEXIST && lstat(path, &status) == 0 && S_ISDIR(status.st_mode))
        return true;
    errno = make_error;
    return false;
}

#endif
