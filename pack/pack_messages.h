// SPDX-License-Identifier: Zlib
// The packer's own messages, all on standard error with the program's name.
#pragma once

#include "platform_pack.h"

// "sfxpack: TEXT\n"; `format` as for printf.
void report_error(const char *format, ...) PLATFORM_PRINTF(1, 2);

// "sfxpack: TEXT: REASON\n", REASON the system's text for `error_number`
// (an errno value), for a call that failed.
void report_system_error(int error_number, const char *format, ...) PLATFORM_PRINTF(2, 3);

// "sfxpack: warning: TEXT\n".
void report_warning(const char *format, ...) PLATFORM_PRINTF(1, 2);
