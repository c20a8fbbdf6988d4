// SPDX-License-Identifier: Zlib
// sfxpack's messages on standard error, after whatever it printed so far.
#include "pack_messages.h"

#include <cstdio>

void write_message(const char *prefix, const char *reason, const char *format, va_list arguments) {
    std::fflush(stdout);
    std::fprintf(stderr, "sfxpack: %s", prefix);
    std::vfprintf(stderr, format, arguments);
    if (reason != nullptr)
        std::fprintf(stderr, ": %s", reason);
    std::fputc('\n', stderr);
}
