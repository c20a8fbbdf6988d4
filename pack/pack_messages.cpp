// SPDX-License-Identifier: Zlib
#include "pack_messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

// `reason`, when not null, follows the text after ": ".
static void report(const char *prefix, const char *reason, const char *format, va_list arguments) {
    std::fflush(stdout);
    std::fprintf(stderr, "sfxpack: %s", prefix);
    std::vfprintf(stderr, format, arguments);
    if (reason != nullptr)
        std::fprintf(stderr, ": %s", reason);
    std::fputc('\n', stderr);
}

void report_error(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    report("", nullptr, format, arguments);
    va_end(arguments);
}

void report_system_error(int error_number, const char *format, ...) {
    // Taken before anything else runs: the flush in report may change errno.
    const char *reason = std::strerror(error_number);
    va_list arguments;
    va_start(arguments, format);
    report("", reason, format, arguments);
    va_end(arguments);
}

void report_warning(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    report("warning: ", nullptr, format, arguments);
    va_end(arguments);
}
