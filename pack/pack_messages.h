// SPDX-License-Identifier: Zlib
// The packer's own messages, all on standard error with the program's name.
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

// Where the three above put a message: "sfxpack: PREFIX TEXT[: REASON]\n" on
// standard error in sfxpack (message_sink.cpp); a program that drives the
// packer's work in its own process (the fuzzer) links a sink of its own.
// `reason` is null when there is none.
void write_message(const char *prefix, const char *reason, const char *format, va_list arguments)
    PLATFORM_PRINTF(3, 0);

// "\rsfxpack: packing NNN %": the progress line, redrawn in place on
// standard error.
void show_packing_percent(int percent);
