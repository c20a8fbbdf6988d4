// SPDX-License-Identifier: Zlib
// Windows code pages for member names. The packer keeps names as UTF-8; a
// Windows stub hands the stored bytes to the system's 8-bit ("ANSI") calls,
// which read them in the code page of the machine it runs on.
#pragma once

#include <string>

// The code page names are stored in for a Windows stub unless told otherwise.
constexpr int DEFAULT_CODEPAGE = 1252;

// Reads a code page given as "1252" or "CP1252" (any letter case). False when
// it is not one of known_codepages().
bool parse_codepage(const std::string &text, int *codepage);

// The code pages parse_codepage takes, for messages: "437, 737, ...".
std::string known_codepages();

// Converts the UTF-8 `name` into code page `codepage`. False when `name` is
// not valid UTF-8 or holds a character the code page lacks: nothing is ever
// replaced or approximated.
bool name_to_codepage(int codepage, const std::string &name, std::string *stored);

// Converts `stored`, a NUL-terminated name in code page `codepage`, back to
// UTF-8. False when a byte or byte pair means no character there.
bool name_from_codepage(int codepage, const char *stored, std::string *name);

// The UTF-8 `name` with every letter upper-cased as the system does it, one
// character for one; bytes that are not UTF-8 stay as they are.
std::string upper_cased_name(const std::string &name);

// The first character of the UTF-8 `name` that code page `codepage` can't
// hold, as "'é' (U+00E9)"; empty when there is none or `name` is not valid
// UTF-8.
std::string first_character_lacking(int codepage, const std::string &name);
