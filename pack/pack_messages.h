// SPDX-License-Identifier: Zlib
// The packer's own messages, all on standard error with the program's name.
// The reporter keeps the run's outcome: an error reported makes the run's
// exit status 1, so no caller keeps a flag of its own beside a report.
#pragma once

#include "platform_pack.h"

#include <cstdarg>

// "sfxpack: TEXT\n"; `format` as for printf.
void report_error(const char *format, ...) PLATFORM_PRINTF(1, 2);

// "sfxpack: TEXT: REASON\n", REASON the system's text for `error_number`
// (an errno value), for a call that failed.
void report_system_error(int error_number, const char *format, ...) PLATFORM_PRINTF(2, 3);

// "sfxpack: warning: TEXT\n".
void report_warning(const char *format, ...) PLATFORM_PRINTF(1, 2);

// Starts a run: nothing reported yet. A process that runs the packer's work
// more than once (the fuzzer) starts each run so.
void start_reported_run();

// 1 when an error was reported since the run started, else 0.
int reported_run_status();

// Shows "sfxpack: packing NNN %" on standard error in place of the figure
// shown before (the line stays open); the next message, or
// end_progress_line, ends the line first.
void report_progress_line(int percent);

// Ends an open progress line; nothing when none is open.
void end_progress_line();

// Where the three above put a message: "sfxpack: PREFIX TEXT[: REASON]\n" on
// standard error in sfxpack (message_sink.cpp); a program that drives the
// packer's work in its own process (the fuzzer) links a sink of its own.
// `reason` is null when there is none.
void write_message(const char *prefix, const char *reason, const char *format, va_list arguments)
    PLATFORM_PRINTF(3, 0);
