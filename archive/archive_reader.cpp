// SPDX-License-Identifier: Zlib
#include "archive_reader.h"

#include "ascii_case.h"
#include "layout_declaration.h"

#include <cstring>

trailer_verdict judge_length_trailer(FILE *archive, int64_t file_size, uint32_t *stored) {
    if (file_size < TRAILER_SIZE)
        return TRAILER_TOO_SHORT;
    if (file_size > LARGEST_ARCHIVE_FILE)
        return TRAILER_TOO_LARGE;
    unsigned char trailer[TRAILER_SIZE];
    if (std::fseek(archive, static_cast<long>(file_size - TRAILER_SIZE), SEEK_SET) != 0 ||
        std::fread(trailer, 1, sizeof trailer, archive) != sizeof trailer)
        return TRAILER_UNREADABLE;
    *stored = decode_le32(trailer);
    return *stored == static_cast<uint32_t>(file_size) ? TRAILER_GOOD : TRAILER_MISMATCH;
}

bool check_length_trailer(FILE *archive, int64_t file_size) {
    uint32_t stored = 0;
    return judge_length_trailer(archive, file_size, &stored) == TRAILER_GOOD;
}

bool seek_layout_declaration(FILE *archive) {
    return std::fseek(archive, DECLARATION_OFFSET, SEEK_SET) == 0;
}

static bool is_separator(char c) {
    return c == '/' || c == '\\';
}

// True when the `length` bytes at `text` spell `word` in any letter case.
static bool spells(const char *text, size_t length, const char *word) {
    return std::strlen(word) == length && same_ignoring_ascii_case(text, word, length);
}

bool find_name_part(const char *name, name_part_test test, void *context) {
    const char *part = name;
    for (;;) {
        size_t length = std::strcspn(part, "/\\");
        if (test(part, length, context))
            return true;
        if (part[length] == '\0')
            return false;
        part += length + 1;
    }
}

// Windows drops trailing dots and blanks from every path part, so ".. " and
// "..." can reach the parent as surely as "..": any part made only of dots and
// blanks that holds two dots or more is taken as a way up.
bool is_parent_part(const char *part, size_t length) {
    size_t dots = 0;
    for (size_t i = 0; i < length; ++i) {
        if (part[i] == '.')
            ++dots;
        else if (part[i] != ' ')
            return false;
    }
    return dots >= 2;
}

static bool leads_to_parent(const char *part, size_t length, void *) {
    return is_parent_part(part, length);
}

// Anyone can alter the archive and then fix its trailer, so no name may reach
// outside the folder the user runs in.
// Windows takes any byte before a ':' as a drive, digits and blanks included.
// Parts are split at every '/' and '\\' byte, also where a double-byte code
// page reads one as the second half of a character: the judging can only be
// stricter than the system, never miss a part it sees.
bool is_contained_name(const char *name) {
    if (is_separator(name[0]))
        return false;
    if (name[0] != '\0' && name[1] == ':')
        return false;
    return !find_name_part(name, leads_to_parent, nullptr);
}

static bool is_superscript_digit(unsigned char c) {
    return c == 0xB9 || c == 0xB2 || c == 0xB3;
}

// The digit of COM1 or LPT1: 0-9, or a superscript 1, 2 or 3 (U+00B9, U+00B2,
// U+00B3). Names are judged as the system reads them, in UTF-8, so the code
// page's own bytes for those digits (A9 F7 is a superscript 2 in code page
// 949) count too.
static bool is_port_digit(const unsigned char *digit, size_t length) {
    if (length == 1)
        return digit[0] >= '0' && digit[0] <= '9';
    return length == 2 && digit[0] == 0xC2 && is_superscript_digit(digit[1]);
}

// Windows opens these names as devices in every folder: data written to AUX
// or COM1 goes out of the machine's serial port.
// It reads only what comes before the first dot (or a ':' stream name),
// without trailing blanks.
static bool is_device_part(const char *part, size_t length, void *) {
    // One table each, not a string per name: the stub stays small also where
    // every string gets its own guard data (sanitizer builds).
    static const char DEVICES[][8] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    static const char PORTS[][4] = {"COM", "LPT"};
    size_t base = 0;
    while (base < length && part[base] != '.' && part[base] != ':')
        ++base;
    while (base > 0 && part[base - 1] == ' ')
        --base;
    for (const char *device : DEVICES)
        if (spells(part, base, device))
            return true;
    if (base < 4 || !(spells(part, 3, PORTS[0]) || spells(part, 3, PORTS[1])))
        return false;
    return is_port_digit(reinterpret_cast<const unsigned char *>(part) + 3, base - 3);
}

bool holds_device_name(const char *name) {
    return find_name_part(name, is_device_part, nullptr);
}

// Control bytes could fake or hide console lines where the name is printed,
// and Windows can't hold them in a name.
bool holds_control_byte(const char *name) {
    for (const char *at = name; *at != '\0'; ++at)
        if (static_cast<unsigned char>(*at) < 0x20 || *at == 0x7F)
            return true;
    return false;
}

// Bytes of the well-formed UTF-8 sequence of two bytes or more at `at`; 0
// where none starts (an ASCII byte, a stray or cut-off byte, an overlong
// form, a surrogate, a value above U+10FFFF).
static size_t utf8_sequence_length(const unsigned char *at) {
    unsigned char lead = at[0];
    size_t length = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    for (size_t i = 1; i < length; ++i)
        if ((at[i] & 0xC0) != 0x80)
            return 0;
    if ((lead == 0xE0 && at[1] < 0xA0) || (lead == 0xED && at[1] > 0x9F) ||
        (lead == 0xF0 && at[1] < 0x90) || (lead == 0xF4 && at[1] > 0x8F))
        return 0;
    return length;
}

// A terminal takes U+0080-U+009F as C1 controls (C2 9B is the one-byte CSI
// of the Linux console and xterm), and many take a byte 0x80-0x9F that no
// UTF-8 sequence holds as one too. The bidirectional controls U+202A-U+202E
// and U+2066-U+2069 reorder what follows: "readme<U+202E>txt.exe" shows as
// "readmeexe.txt".
size_t control_character_length(const char *text) {
    const unsigned char *at = reinterpret_cast<const unsigned char *>(text);
    size_t length = utf8_sequence_length(at);
    if (length == 0)
        return (at[0] > 0 && at[0] < 0x20) || (at[0] >= 0x7F && at[0] <= 0x9F) ? 1 : 0;
    if (length == 2)
        return at[0] == 0xC2 && at[1] <= 0x9F ? 2 : 0;
    bool bidirectional = length == 3 && at[0] == 0xE2 &&
                         ((at[1] == 0x80 && at[2] >= 0xAA && at[2] <= 0xAE) ||
                          (at[1] == 0x81 && at[2] >= 0xA6 && at[2] <= 0xA9));
    return bidirectional ? 3 : 0;
}

size_t character_length(const char *text) {
    size_t length = utf8_sequence_length(reinterpret_cast<const unsigned char *>(text));
    return length != 0 ? length : 1;
}

// Steps over whole characters, so that no byte of a sequence is taken for
// one on its own.
bool holds_control_character(const char *text) {
    for (; *text != '\0'; text += character_length(text))
        if (control_character_length(text) != 0)
            return true;
    return false;
}

// Windows reads a file member's name up to a ':' as the file and the rest as
// a stream in it: "ab:c" writes into a hidden part of "ab".
static bool holds_stream_name(const char *name) {
    return std::strchr(name, ':') != nullptr;
}

static windows_name_reader windows_reader = platform_read_name;

void read_windows_names_with(windows_name_reader reader) {
    windows_reader = reader;
}

// Under Windows rules the bytes are stored in a code page: the characters
// they stand for are judged, as the system reads them.
record_verdict judge_member_name(const char *name, name_rules rules) {
    if (name[0] == '\0')
        return RECORD_BAD_NAME;
    if (holds_control_byte(name))
        return RECORD_CONTROL_NAME;
    if (!is_contained_name(name))
        return RECORD_UNSAFE_NAME;
    if (rules == NAME_RULES_POSIX)
        return holds_control_character(name) ? RECORD_CONTROL_NAME : RECORD_GOOD;
    if (holds_stream_name(name))
        return RECORD_STREAM_NAME;
    char text[READ_NAME_ROOM];
    if (!windows_reader(name, text, sizeof text))
        return RECORD_UNREADABLE_NAME;
    if (holds_control_character(text))
        return RECORD_CONTROL_NAME;
    return holds_device_name(text) ? RECORD_DEVICE_NAME : RECORD_GOOD;
}

// Windows drops trailing dots and blanks from a name, so there a last part of
// nothing else names the folder itself, as an empty or "." last part does
// everywhere.
static bool is_folder_part(const char *part, size_t length, name_rules rules) {
    size_t dots = 0;
    for (size_t i = 0; i < length; ++i) {
        if (part[i] == '.')
            ++dots;
        else if (rules == NAME_RULES_POSIX || part[i] != ' ')
            return false;
    }
    return dots <= 1 && (rules == NAME_RULES_WINDOWS || length == dots);
}

// A file member named "x/" or "x/." names a folder: no file can be created
// under it, so every reader refuses it alike.
bool names_a_folder(const char *name, name_rules rules) {
    const char *last = name + std::strlen(name);
    while (last > name && !is_separator(last[-1]))
        --last;
    return is_folder_part(last, std::strlen(last), rules);
}

record_verdict judge_member_record(const member_record *record, int64_t bytes_after_record,
                                   name_rules rules) {
    if (record->magic != RECORD_MAGIC)
        return RECORD_BAD_MAGIC;
    if (record->kind != KIND_DIRECTORY && record->kind != KIND_FILE)
        return RECORD_BAD_KIND;
    if (std::memchr(record->name, '\0', NAME_FIELD_SIZE) == nullptr)
        return RECORD_BAD_NAME;
    record_verdict name_verdict = judge_member_name(record->name, rules);
    if (name_verdict != RECORD_GOOD)
        return name_verdict;
    if (record->kind == KIND_FILE && names_a_folder(record->name, rules))
        return RECORD_FOLDER_NAME;
    if (record->kind == KIND_FILE && (record->size < 0 || record->size > bytes_after_record))
        return RECORD_BAD_SIZE;
    return RECORD_GOOD;
}

int32_t member_data_size(const member_record *record) {
    return record->kind == KIND_FILE ? record->size : 0;
}
