#include "pack_messages.h"

#include <cstdarg>
#include <cstdio>

static void report(const char *prefix, const char *format, va_list arguments) {
    std::fflush(stdout);
    std::fprintf(stderr, "sfxpack: %s", prefix);
    std::vfprintf(stderr, format, arguments);
    std::fputc('\n', stderr);
}

void report_error(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    report("", format, arguments);
    va_end(arguments);
}

void report_warning(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    report("warning: ", format, arguments);
    va_end(arguments);
}
