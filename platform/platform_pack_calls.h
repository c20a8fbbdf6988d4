// SPDX-License-Identifier: Zlib
// The system calls through which the packer reads its inputs and creates,
// moves and removes files on POSIX, as one table. Everything sfxpack does to
// a folder's entries goes through it, so a program that drives the packer's
// work in its own process can put calls of its own in: the extraction fuzzer
// checks every path a change reaches, tests make a call fail where the real
// system can't be made to (root reads every file). Only POSIX has it.
#pragma once

#if !defined(_WIN32)

#include <sys/types.h>

struct platform_pack_calls {
    // openat(2); `mode` counts only with O_CREAT or O_TMPFILE.
    int (*openat)(int folder, const char *path, int flags, mode_t mode);
    int (*mkdirat)(int folder, const char *path, mode_t mode);
    // renameat2(2); flags 0 or RENAME_NOREPLACE. Where the system lacks the
    // flag, a call with it fails with EINVAL.
    int (*renameat2)(int from_folder, const char *from, int to_folder, const char *to,
                     unsigned int flags);
    int (*linkat)(int from_folder, const char *from, int to_folder, const char *to, int flags);
    int (*unlinkat)(int folder, const char *path, int flags);
};

// The table in use; it starts with the system's own calls.
extern platform_pack_calls platform_calls;

// The system's own calls, to restore or to pass on to.
extern const platform_pack_calls PLATFORM_SYSTEM_CALLS;

#endif
