// SPDX-License-Identifier: Zlib
#include "codepage.h"

#include "ascii_case.h"
#include "platform_pack.h"

#include <cstdio>
#include <cstring>

namespace {

// The usual code pages of Windows systems: the OEM ones of the console
// (437, 850, ...), the ANSI ones (1250-1258) and those of East Asia.
const int KNOWN_CODEPAGES[] = {437,  737,  775,  850,  852,  855,  857,  860,  861, 862,
                               863,  864,  865,  866,  869,  874,  932,  936,  949, 950,
                               1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

bool is_known(int codepage) {
    for (int known : KNOWN_CODEPAGES)
        if (known == codepage)
            return true;
    return false;
}

// Bytes of the UTF-8 sequence that starts with `lead`; 0 for a byte that
// starts none.
size_t sequence_length(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// True when the `length` bytes at `bytes` are one well-formed UTF-8
// character: no overlong form, no surrogate, nothing above U+10FFFF.
bool is_well_formed(const unsigned char *bytes, size_t length) {
    for (size_t i = 1; i < length; ++i)
        if (bytes[i] < 0x80 || bytes[i] > 0xBF)
            return false;
    if (length < 3)
        return true;
    unsigned char second = bytes[1];
    switch (bytes[0]) {
    case 0xE0:
        return second >= 0xA0;
    case 0xED:
        return second <= 0x9F;
    case 0xF0:
        return second >= 0x90;
    case 0xF4:
        return second <= 0x8F;
    }
    return true;
}

unsigned long code_point(const std::string &sequence) {
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(sequence.data());
    static const unsigned char LEAD_BITS[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    unsigned long value = bytes[0] & LEAD_BITS[sequence.size()];
    for (size_t i = 1; i < sequence.size(); ++i)
        value = value << 6 | (bytes[i] & 0x3F);
    return value;
}

// The UTF-8 form of `value`, a code point up to U+10FFFF.
std::string encode_utf8(unsigned long value) {
    std::string bytes;
    if (value < 0x80) {
        bytes += static_cast<char>(value);
    } else if (value < 0x800) {
        bytes += static_cast<char>(0xC0 | value >> 6);
        bytes += static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        bytes += static_cast<char>(0xE0 | value >> 12);
        bytes += static_cast<char>(0x80 | (value >> 6 & 0x3F));
        bytes += static_cast<char>(0x80 | (value & 0x3F));
    } else {
        bytes += static_cast<char>(0xF0 | value >> 18);
        bytes += static_cast<char>(0x80 | (value >> 12 & 0x3F));
        bytes += static_cast<char>(0x80 | (value >> 6 & 0x3F));
        bytes += static_cast<char>(0x80 | (value & 0x3F));
    }
    return bytes;
}

} // namespace

bool parse_codepage(const std::string &text, int *codepage) {
    size_t start = 0;
    if (text.size() > 2 && same_ignoring_ascii_case(text.c_str(), "CP", 2))
        start = 2;
    if (start == text.size() || text.size() - start > 5)
        return false;
    int value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    if (!is_known(value))
        return false;
    *codepage = value;
    return true;
}

std::string known_codepages() {
    std::string list;
    for (int known : KNOWN_CODEPAGES) {
        if (!list.empty())
            list += ", ";
        list += std::to_string(known);
    }
    return list;
}

// A character of these code pages takes no more bytes than its UTF-8 form,
// so the converted name always fits in as many bytes as the name.
bool name_to_codepage(int codepage, const std::string &name, std::string *stored) {
    std::string converted(name.size() + 1, '\0');
    if (!platform_utf8_to_codepage(codepage, name.c_str(), &converted[0], converted.size()))
        return false;
    converted.resize(std::strlen(converted.c_str()));
    *stored = converted;
    return true;
}

// One byte becomes at most three bytes of UTF-8 (the euro sign, say), two
// bytes at most three as well.
bool name_from_codepage(int codepage, const char *stored, std::string *name) {
    std::string converted(3 * std::strlen(stored) + 1, '\0');
    if (!platform_codepage_to_utf8(codepage, stored, &converted[0], converted.size()))
        return false;
    converted.resize(std::strlen(converted.c_str()));
    *name = converted;
    return true;
}

std::string upper_cased_name(const std::string &name) {
    std::string upper;
    for (size_t at = 0; at < name.size();) {
        size_t length = sequence_length(static_cast<unsigned char>(name[at]));
        if (length == 0 || at + length > name.size() ||
            !is_well_formed(reinterpret_cast<const unsigned char *>(name.data()) + at, length)) {
            upper += name[at++];
            continue;
        }
        unsigned long value = code_point(name.substr(at, length));
        unsigned long mapped = platform_upper_case_character(static_cast<uint32_t>(value));
        upper += mapped <= 0x10FFFF && (mapped < 0xD800 || mapped > 0xDFFF)
                     ? encode_utf8(mapped)
                     : name.substr(at, length);
        at += length;
    }
    return upper;
}

std::string first_character_lacking(int codepage, const std::string &name) {
    for (size_t at = 0; at < name.size();) {
        size_t length = sequence_length(static_cast<unsigned char>(name[at]));
        if (length == 0 || at + length > name.size() ||
            !is_well_formed(reinterpret_cast<const unsigned char *>(name.data()) + at, length))
            return "";
        std::string character = name.substr(at, length);
        std::string ignored;
        if (!name_to_codepage(codepage, character, &ignored)) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04lX", code_point(character));
            return "'" + character + "' (" + code + ")";
        }
        at += length;
    }
    return "";
}
