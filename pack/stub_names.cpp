// SPDX-License-Identifier: Zlib
#include "stub_names.h"

#include "archive_reader.h"
#include "archive_writer.h"
#include "codepage.h"
#include "pack_messages.h"
#include "program_image.h"

#include <cstdio>
#include <cstring>

namespace {

// Characters no Windows name may hold, beside the control characters.
const char WINDOWS_RESERVED_CHARACTERS[] = "<>:\"|?*\\/";

// Windows can't create what these name, or creates something else.
bool check_windows_part(const std::string &part, const std::string &source) {
    if (holds_control_character(part.c_str())) {
        report_error("'%s' holds a control character, which the extractor does not take in "
                     "names",
                     source.c_str());
        return false;
    }
    size_t reserved = part.find_first_of(WINDOWS_RESERVED_CHARACTERS);
    if (reserved != std::string::npos) {
        report_error("'%s' holds '%c', which Windows does not take in names", source.c_str(),
                     part[reserved]);
        return false;
    }
    if (holds_device_name(part.c_str())) {
        report_error("'%s': '%s' is a device name on Windows (CON, PRN, AUX, NUL, COM0-COM9, "
                     "LPT0-LPT9, CONIN$, CONOUT$, with any extension)",
                     source.c_str(), part.c_str());
        return false;
    }
    if (!part.empty() && (part.back() == '.' || part.back() == ' ')) {
        report_error("'%s': the part '%s' ends in a dot or a blank, which Windows drops",
                     source.c_str(), part.c_str());
        return false;
    }
    return true;
}

bool convert_for_windows(int codepage, const std::string &name, const std::string &source,
                         std::string *stored) {
    if (name_to_codepage(codepage, name, stored))
        return true;
    std::string lacking = first_character_lacking(codepage, name);
    if (lacking.empty())
        report_error("'%s' is not valid UTF-8, so it can't be converted to code page %d",
                     source.c_str(), codepage);
    else
        report_error("'%s' holds %s, which code page %d can't hold (see --codepage)",
                     source.c_str(), lacking.c_str(), codepage);
    return false;
}

// The code page names are stored in for the stub packed for or read.
int judged_codepage = DEFAULT_CODEPAGE;

// The judge reads names as the Windows stub will: in the code page they are
// stored in, by the same conversion the packer stores them with, so that
// sfxpack and sfxpack.exe refuse the same bytes.
bool read_in_judged_codepage(const char *name, char *text, size_t room) {
    std::string converted;
    if (!name_from_codepage(judged_codepage, name, &converted) || converted.size() >= room)
        return false;
    std::memcpy(text, converted.c_str(), converted.size() + 1);
    return true;
}

} // namespace

bool choose_name_storing(name_rules rules, int codepage, name_storing *storing) {
    storing->rules = rules;
    storing->codepage = codepage != 0 ? codepage : DEFAULT_CODEPAGE;
    judged_codepage = storing->codepage;
    read_windows_names_with(read_in_judged_codepage);
    return rules == NAME_RULES_WINDOWS || codepage == 0;
}

std::string join_parts(const name_parts &parts, size_t count, char separator) {
    std::string joined;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            joined += separator;
        joined += parts[i];
    }
    return joined;
}

name_rules stub_name_rules(const char *image, size_t size) {
    return program_kind_of(image, size) == PROGRAM_PE ? NAME_RULES_WINDOWS : NAME_RULES_POSIX;
}

bool make_stored_name(const name_storing &storing, const name_parts &parts, const std::string &name,
                      const std::string &source, std::string *stored) {
    *stored = name;
    if (storing.rules == NAME_RULES_WINDOWS) {
        for (const std::string &part : parts)
            if (!check_windows_part(part, source))
                return false;
        if (!convert_for_windows(storing.codepage, name, source, stored))
            return false;
    }
    if (stored->size() > LONGEST_MEMBER_NAME) {
        report_error("'%s' is %zu bytes long as stored; a stored name holds at most %zu bytes",
                     name.c_str(), stored->size(), LONGEST_MEMBER_NAME);
        return false;
    }
    record_verdict verdict = judge_member_name(stored->c_str(), storing.rules);
    if (verdict != RECORD_GOOD) {
        report_error("'%s' would be refused by the extractor: %s", name.c_str(),
                     describe_record_verdict(verdict));
        return false;
    }
    return true;
}

std::string shown_name(const name_storing &storing, const char *stored) {
    std::string shown;
    if (storing.rules == NAME_RULES_POSIX)
        return stored;
    if (name_from_codepage(storing.codepage, stored, &shown))
        return shown;
    for (const char *at = stored; *at != '\0'; ++at) {
        unsigned char c = static_cast<unsigned char>(*at);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
        shown += c < 0x80 ? std::string(1, *at) : std::string(escaped);
    }
    return shown;
}
