// SPDX-License-Identifier: Zlib
#include "console.h"

#include "platform_stub.h"

#include <cstdio>
#include <cstring>

// Every error message starts so; a run that printed one ends with status 1.
static const char ERROR_PREFIX[] = "!!!Error, ";

static bool error_said;

// Writes a text and puts it on the console at once, after any held text.
static void say(const char *text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
    if (std::strncmp(text, ERROR_PREFIX, sizeof ERROR_PREFIX - 1) == 0)
        error_said = true;
}

// Writes a text of a member's line and holds it in the stream's buffer until
// the program next does something that may wait (show_held_text) or says
// something else: a line's end then goes out with the next line's start.
static void say_held(const char *text) {
    std::fputs(text, stdout);
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
    say_held("File : ");
    say_held(path);
    say("\n");
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
    say_held("Directory  : ");
    say_held(name);
}

void report_directory_done() {
    say_held(", done\n");
}

void report_file_start(const char *name) {
    say_held("Extracting : ");
    say_held(name);
    say_held(" ");
}

// The share taken before this chunk as "%03.1f" shows the double
// (total - remaining) * 100.0 / total.
void format_progress_figure(char *figure, int32_t total, int32_t remaining) {
    double share = (static_cast<double>(total) - remaining) * 100.0 / total;
    platform_format_share(share, figure, PROGRESS_FIGURE_SIZE);
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
