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

// True when printf rounds the share (total - remaining) * 100.0 / total,
// which lies halfway between `tenths` and the next tenth, up: it rounds the
// double nearest to the share, which may lie above or below it, and a double
// exactly halfway to even.
static bool tie_rounds_up(int32_t total, int32_t remaining, int tenths) {
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

// The share taken before this chunk as "%03.1f" shows the double
// (total - remaining) * 100.0 / total, without formatting a double: one call
// per chunk of a large member, where that cost more than the rest of the
// chunk's own work, and the C library's floating-point formatting would not
// fit in every stub. The tenths rounded half up are (2000 taken + total) /
// (2 total); both are whole numbers below 2^43, which a double holds exactly,
// and the quotient of two such lies at least 2^-33 from a whole number unless
// it is one, so the double's quotient is whole exactly when the exact one is
// (and then exact), and its whole part is the exact one's. A whole quotient is
// a share exactly halfway between two tenths: there printf's own rounding of
// the share as a double decides (tie_rounds_up). (No 64-bit integer division:
// 32-bit processors need library code for it.)
void format_progress_figure(char *figure, int32_t total, int32_t remaining) {
    double taken = static_cast<double>(total) - remaining;
    double quotient = (2000.0 * taken + total) / (2.0 * total);
    int tenths = static_cast<int>(quotient);
    if (tenths == quotient && !tie_rounds_up(total, remaining, tenths - 1))
        --tenths;
    char digits[PROGRESS_FIGURE_SIZE];
    int at = PROGRESS_FIGURE_SIZE - 1;
    digits[at] = '\0';
    digits[--at] = static_cast<char>('0' + tenths % 10);
    digits[--at] = '.';
    int whole = tenths / 10;
    do {
        digits[--at] = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole != 0);
    std::memcpy(figure, digits + at, static_cast<size_t>(PROGRESS_FIGURE_SIZE - at));
}

// The share taken before this chunk, right-aligned in five columns, then the
// cursor goes back seven columns so the next figure overwrites this one.
// The first figure of a member is always 0.0, so it needs no formatting.
// Held as whole bytes, once per chunk: no format to read.
void report_progress(int32_t total, int32_t remaining) {
    char figure[PROGRESS_FIGURE_SIZE] = "0.0";
    if (remaining != total)
        format_progress_figure(figure, total, remaining);
    static const char AFTER_FIGURE[] = " %\b\b\b\b\b\b\b";
    char text[5 + sizeof AFTER_FIGURE] = "     ";
    size_t length = std::strlen(figure);
    size_t start = length < 5 ? 5 - length : 0;
    std::memcpy(text + start, figure, length);
    std::memcpy(text + start + length, AFTER_FIGURE, sizeof AFTER_FIGURE);
    std::fwrite(text, 1, start + length + sizeof AFTER_FIGURE - 1, stdout);
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
