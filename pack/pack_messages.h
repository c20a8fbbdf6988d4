// The packer's own messages, all on standard error with the program's name.
#pragma once

// "sfxpack: TEXT\n"; `format` as for printf.
void report_error(const char *format, ...);

// "sfxpack: warning: TEXT\n".
void report_warning(const char *format, ...);
