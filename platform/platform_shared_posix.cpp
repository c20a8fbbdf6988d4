// SPDX-License-Identifier: Zlib
#if !defined(_WIN32)

#include "platform_shared.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

file_identity status_identity(const struct stat &status) {
    return file_identity{static_cast<uint64_t>(status.st_dev),
                         static_cast<uint64_t>(status.st_ino)};
}

bool own_program_path(char *path, size_t room) {
    ssize_t length = readlink("/proc/self/exe", path, room - 1);
    // A full buffer means the path may have been cut short: it would name another file.
    if (length <= 0 || static_cast<size_t>(length) >= room - 1) {
        path[0] = '\0';
        return false;
    }
    path[length] = '\0';
    return true;
}

bool own_program_identity(file_identity *identity) {
    int own = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (own < 0)
        return false;
    struct stat status;
    bool known = fstat(own, &status) == 0;
    close(own);
    if (known)
        *identity = status_identity(status);
    return known;
}

// Interruptions that end the program while a file may be half written.
static const int INTERRUPTIONS[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

// The file being written, for the signal handler: named before the file is
// created, forgotten once it is closed or in place.
static volatile int removed_folder = AT_FDCWD;
static const char *volatile removed_name;

// Removes the file being written, then ends the program by the same signal
// with its default action (reset on entry), so the caller sees what killed it.
// Only async-signal-safe calls.
static void end_interrupted(int signal_number) {
    const char *name = removed_name;
    if (name != nullptr)
        unlinkat(removed_folder, name, 0);
    raise(signal_number);
}

void catch_interruptions() {
    signal(SIGXFSZ, SIG_IGN);
    struct sigaction interrupted;
    std::memset(&interrupted, 0, sizeof interrupted);
    interrupted.sa_handler = end_interrupted;
    interrupted.sa_flags = SA_RESETHAND;
    sigemptyset(&interrupted.sa_mask);
    for (int signal_number : INTERRUPTIONS)
        sigaddset(&interrupted.sa_mask, signal_number);
    for (int signal_number : INTERRUPTIONS) {
        struct sigaction previous;
        // Whoever started us with a signal ignored (nohup, say) wants it ignored.
        if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaction(signal_number, &interrupted, nullptr);
    }
}

void remove_on_interruption(int folder, const char *name) {
    removed_name = nullptr;
    if (name == nullptr)
        return;
    removed_folder = folder;
    removed_name = name;
}

#endif
