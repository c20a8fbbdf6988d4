// SPDX-License-Identifier: Zlib
#include "console_writer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

void write_text(const char *text) {
    std::fputs(text, stdout);
}

// The number of tenths in `share`, rounded to the nearest, a tie to even.
// The double is m * 2^e with an integer m below 2^53; m * 10 fits in 64
// bits, and shifting it right by -e with the bits shifted out judged against
// a half gives the rounding exactly.
static uint64_t tenths(double share) {
    uint64_t bits;
    std::memcpy(&bits, &share, sizeof bits);
    int exponent_field = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    int exponent = -1074;
    if (exponent_field != 0) {
        mantissa |= uint64_t{1} << 52;
        exponent = exponent_field - 1075;
    }
    uint64_t scaled = mantissa * 10;
    if (exponent >= 0)
        return scaled << exponent;
    int shift = -exponent;
    // Below 2^57, the scaled value is less than a half of 2^64 or more.
    if (shift >= 64)
        return 0;
    uint64_t whole = scaled >> shift;
    uint64_t rest = scaled & ((uint64_t{1} << shift) - 1);
    uint64_t half = uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (whole & 1) != 0))
        ++whole;
    return whole;
}

void format_share(double share, char figure[SHARE_FIGURE_SIZE]) {
    // Below 10000 in the documented range: 32-bit digits need no helper
    // routines on 32-bit processors.
    uint32_t count = static_cast<uint32_t>(tenths(share));
    char digits[SHARE_FIGURE_SIZE];
    size_t length = 0;
    digits[length++] = static_cast<char>('0' + count % 10);
    digits[length++] = '.';
    count /= 10;
    do {
        digits[length++] = static_cast<char>('0' + count % 10);
        count /= 10;
    } while (count != 0 && length < SHARE_FIGURE_SIZE - 1);
    for (size_t i = 0; i < length; ++i)
        figure[i] = digits[length - 1 - i];
    figure[length] = '\0';
}

void write_right_aligned(const char *text, size_t width) {
    for (size_t length = std::strlen(text); length < width; ++length)
        std::fputc(' ', stdout);
    write_text(text);
}
