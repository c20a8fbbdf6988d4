// SPDX-License-Identifier: Zlib
// ASCII letter case, the same on every system and in every locale: only the
// letters 'a'-'z' and 'A'-'Z' have two cases. Here, the lowest layer, so the
// archive judging, both programs and the platform code share it.
#pragma once

#include <cstddef>

inline char ascii_upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// True when the `length` bytes at `a` and at `b` differ at most in the case
// of ASCII letters.
inline bool same_ignoring_ascii_case(const char *a, const char *b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (ascii_upper(a[i]) != ascii_upper(b[i]))
            return false;
    return true;
}
