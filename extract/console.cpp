#include "console.h"

#include "platform.h"

#include <cstdarg>
#include <cstdio>

static void say(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    platform_print(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
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
    say("Directory  : %s", name);
}

void report_directory_done() {
    say(", done\n");
}

void report_file_start(const char *name) {
    say("Extracting : %s ", name);
}

// The share taken before this chunk, right-aligned in five columns, then the
// cursor goes back seven columns so the next figure overwrites this one.
void report_progress(int32_t total, int32_t remaining) {
    double share = (static_cast<double>(total) - remaining) * 100.0 / total;
    char figure[8];
    platform_format(figure, sizeof figure, "%03.1f", share);
    say("%5s %%\b\b\b\b\b\b\b", figure);
}

// The backspace and the eight characters after it cover the blank after the
// name and the whole figure field.
void report_file_done() {
    say("\b, done  \n");
}

void report_file_failed() {
    say("\b, failed\n");
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
