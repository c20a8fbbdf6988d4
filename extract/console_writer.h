// SPDX-License-Identifier: Zlib
// The few pieces of formatting the console texts need, written here so the
// stub carries no printf engine: plain text, and the progress figure.
#pragma once

#include <cstddef>

// Room for a progress figure and its NUL: at most "100.0".
constexpr size_t SHARE_FIGURE_SIZE = 8;

// Puts `text` in standard output's buffer.
void write_text(const char *text);

// Writes `share` (0 <= share < 1000) with one decimal, exactly as
// printf("%03.1f") does: the double's exact value rounded to the nearest
// tenth, a tie to the even tenth.
void format_share(double share, char figure[SHARE_FIGURE_SIZE]);

// Puts `text` in standard output's buffer after as many blanks as make it
// `width` columns wide, as printf("%5s") does for width 5.
void write_right_aligned(const char *text, size_t width);
