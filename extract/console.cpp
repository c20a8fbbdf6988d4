// SPDX-License-Identifier: Zlib
#include "console.h"

#include "platform_stub.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

// Every error message starts so; a run that printed one ends with status 1.
static const char ERROR_PREFIX[] = "!!!Error, ";

static bool error_said;

// Writes a text and puts it on the console at once, after any held text.
PLATFORM_RUNTIME_PRINTF(1, 2) static void say(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    platform_print(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
    if (std::strncmp(format, ERROR_PREFIX, sizeof ERROR_PREFIX - 1) == 0)
        error_said = true;
}

// Writes a text of a member's line and holds it in the stream's buffer until
// the program next does something that may wait (show_held_text) or says
// something else: a line's end then goes out with the next line's start.
PLATFORM_RUNTIME_PRINTF(1, 2) static void say_held(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    platform_print(format, arguments);
    va_end(arguments);
}

void show_held_text() {
    std::fflush(stdout);
}

bool error_was_reported() {
    return error_said;
}

void report_no_memory() {
    say("!!!Error, not enough memory for malloc.\n");
}

void report_program_file(const char *path) {
    say("File : %s\n", path);
}

void report_open_failed() {
    say("!!!Error, file could not be opened.\n");
}

void report_wrong_length() {
    say("!!!Error, This file is not of the original's length.\n");
    say("!!!Error, It is recommended to obtain another copy.\n");
}

void report_no_files() {
    say("!!!Error, no files for extraction.\n");
}

void report_bad_record() {
    say("!!!Error, bad file record.\n");
}

void report_directory_start(const char *name) {
    say_held("Directory  : %s", name);
}

void report_directory_done() {
    say_held(", done\n");
}

void report_file_start(const char *name) {
    say_held("Extracting : %s ", name);
}

// True when the double nearest to the share, `tenths` + 0.5 tenths exactly,
// lies above it: printf rounds that double, not the share.
static bool share_rounds_up(int32_t total, int32_t remaining, int32_t tenths) {
    double share = (static_cast<double>(total) - remaining) * 100.0 / total;
    uint64_t bits;
    std::memcpy(&bits, &share, sizeof bits);
    // share = mantissa * 2^-shift, and 20 * share is close to 2 * tenths + 1,
    // so both sides stay below 2^58.
    uint64_t mantissa = (bits & ((UINT64_C(1) << 52) - 1)) | UINT64_C(1) << 52;
    int shift = 1075 - static_cast<int>(bits >> 52);
    uint64_t doubled = mantissa * 20;
    uint64_t tie = static_cast<uint64_t>(2 * tenths + 1) << shift;
    if (doubled != tie)
        return doubled > tie;
    return (tenths & 1) != 0;
}

// The share is worked out in integers: it rounds to the nearest tenth as the
// double (total - remaining) * 100.0 / total does under "%.1f", including
// where that double lies exactly halfway (rounded to even).
void progress_figure(int32_t total, int32_t remaining, char *figure) {
    int64_t scaled = (static_cast<int64_t>(total) - remaining) * 1000;
    int32_t tenths = static_cast<int32_t>(scaled / total);
    int64_t twice_rest = 2 * (scaled % total);
    if (twice_rest > total || (twice_rest == total && share_rounds_up(total, remaining, tenths)))
        ++tenths;
    char *at = figure + PROGRESS_FIGURE_SIZE - 1;
    *at = '\0';
    *--at = static_cast<char>('0' + tenths % 10);
    *--at = '.';
    int32_t whole = tenths / 10;
    do {
        *--at = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole != 0);
    std::memmove(figure, at, static_cast<size_t>(figure + PROGRESS_FIGURE_SIZE - at));
}

// The share taken before this chunk, right-aligned in five columns, then the
// cursor goes back seven columns so the next figure overwrites this one.
void report_progress(int32_t total, int32_t remaining) {
    char figure[PROGRESS_FIGURE_SIZE];
    progress_figure(total, remaining, figure);
    say_held("%5s %%\b\b\b\b\b\b\b", figure);
}

// The backspace and the eight characters after it cover the blank after the
// name and the whole figure field.
void report_file_done() {
    say_held("\b, done  \n");
}

void report_file_failed() {
    say("\b, failed\n");
}

void report_directory_failed() {
    say(", failed\n");
}

void report_damaged() {
    say("!!!Error, the data of this file is damaged.\n");
    say("!!!Error, It is recommended to obtain another copy.\n");
}

void report_create_failed() {
    say("!!!Error, file could not be created.\n");
}

void report_write_failed() {
    say("!!!Error, file could not be written.\n");
}

void report_separator() {
    say("-------------------------------------------------------------------------------\n");
}
