// SPDX-License-Identifier: Zlib
#include "pack_messages.h"

#include "archive_reader.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The message with every character that drives a terminal shown as \xNN
// for each of its bytes: names in messages come from file systems and
// archives, and ESC ] 0 ; or a bidirectional control in one would retitle
// the terminal or reorder the line.
std::string shown_message(const char *format, va_list arguments) {
    va_list measured;
    va_copy(measured, arguments);
    int length = std::vsnprintf(nullptr, 0, format, measured);
    va_end(measured);
    std::string text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, arguments);
    std::string shown;
    for (const char *at = text.c_str(); *at != '\0';) {
        size_t control = control_character_length(at);
        if (control == 0) {
            size_t length = character_length(at);
            shown.append(at, length);
            at += length;
            continue;
        }
        for (; control > 0; --control, ++at) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(*at));
            shown += escaped;
        }
    }
    return shown;
}

void pass_on(const char *prefix, const char *reason, const char *format, ...) PLATFORM_PRINTF(3, 4);

void pass_on(const char *prefix, const char *reason, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    write_message(prefix, reason, format, arguments);
    va_end(arguments);
}

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
    std::string shown = shown_message(format, arguments);
    va_end(arguments);
    pass_on("", nullptr, "%s", shown.c_str());
}

void report_system_error(int error_number, const char *format, ...) {
    // Taken before anything else runs: the sink's flush may change errno.
    const char *reason = std::strerror(error_number);
    end_progress_line();
    error_reported = true;
    va_list arguments;
    va_start(arguments, format);
    std::string shown = shown_message(format, arguments);
    va_end(arguments);
    pass_on("", reason, "%s", shown.c_str());
}

void report_warning(const char *format, ...) {
    end_progress_line();
    va_list arguments;
    va_start(arguments, format);
    std::string shown = shown_message(format, arguments);
    va_end(arguments);
    pass_on("warning: ", nullptr, "%s", shown.c_str());
}
