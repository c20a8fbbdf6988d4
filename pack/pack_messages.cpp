// SPDX-License-Identifier: Zlib
#include "pack_messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

bool error_reported;
bool progress_open;

} // namespace

void start_reported_run() {
    error_reported = false;
}

int reported_run_status() {
    return error_reported ? 1 : 0;
}

void report_progress_line(int percent) {
    std::fprintf(stderr, "\rsfxpack: packing %3d %%", percent);
    std::fflush(stderr);
    progress_open = true;
}

// A message never goes on the end of the figure: it starts a line of its own.
void end_progress_line() {
    if (!progress_open)
        return;
    std::fputc('\n', stderr);
    progress_open = false;
}

void report_error(const char *format, ...) {
    end_progress_line();
    error_reported = true;
    va_list arguments;
    va_start(arguments, format);
    write_message("", nullptr, format, arguments);
    va_end(arguments);
}

void report_system_error(int error_number, const char *format, ...) {
    // Taken before anything else runs: the sink's flush may change errno.
    const char *reason = std::strerror(error_number);
    end_progress_line();
    error_reported = true;
    va_list arguments;
    va_start(arguments, format);
    write_message("", reason, format, arguments);
    va_end(arguments);
}

void report_warning(const char *format, ...) {
    end_progress_line();
    va_list arguments;
    va_start(arguments, format);
    write_message("warning: ", nullptr, format, arguments);
    va_end(arguments);
}
