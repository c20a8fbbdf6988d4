// Every text the extractor writes to the console, one function per message.
// Each piece is flushed as soon as it is written: the progress figure is
// redrawn in place and must be seen before the next chunk is read.
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

void report_file_start(const char *name);
void report_progress(int32_t total, int32_t remaining);
void report_file_done();
void report_file_failed();
void report_create_failed();
void report_write_failed();

void report_separator();
