// SPDX-License-Identifier: Zlib
// Every text the extractor writes to the console, one function per message.
// Messages go out as soon as they are written. The texts of a member's line
// (its name, progress figures, done text) are held until the program next
// does something that may wait: reads the archive, creates a directory or
// opens a member. So a line names its member before the member is created, a
// progress figure is on the console before the chunk it announces is read,
// and one write carries a line's end with the next line's start.
#pragma once

#include <cstdint>

void report_no_memory();
void report_program_file(const char *path);
void report_open_failed();
void report_wrong_length();
void report_no_files();
void report_bad_record();

void report_directory_start(const char *name);
void report_directory_done();
void report_directory_failed();

void report_file_start(const char *name);
void report_progress(int32_t total, int32_t remaining);

// Room for a progress figure, "0.0" to "100.0".
constexpr int PROGRESS_FIGURE_SIZE = 8;
// The figure report_progress shows for a member of `total` bytes with
// `remaining` still to come: the share done, to one decimal, as printf's
// "%03.1f" shows it.
void progress_figure(int32_t total, int32_t remaining, char *figure);
void report_file_done();
void report_file_failed();
void report_create_failed();
void report_write_failed();
// A member whose check value does not match what was read.
void report_damaged();

void report_separator();

// Puts the held texts on the console.
void show_held_text();

// True once any "!!!Error, " message has been written: the run then ends
// with status 1, whether or not it closes with the notice.
bool error_was_reported();
