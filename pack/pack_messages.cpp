// SPDX-License-Identifier: Zlib
#include "pack_messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void report_error(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    write_message("", nullptr, format, arguments);
    va_end(arguments);
}

void report_system_error(int error_number, const char *format, ...) {
    // Taken before anything else runs: the sink's flush may change errno.
    const char *reason = std::strerror(error_number);
    va_list arguments;
    va_start(arguments, format);
    write_message("", reason, format, arguments);
    va_end(arguments);
}

void report_warning(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    write_message("warning: ", nullptr, format, arguments);
    va_end(arguments);
}

void show_packing_percent(int percent) {
    std::fprintf(stderr, "\rsfxpack: packing %3d %%", percent);
    std::fflush(stderr);
}
