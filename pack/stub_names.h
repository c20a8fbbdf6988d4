// SPDX-License-Identifier: Zlib
// Member names as the stub a file is packed for will take them.
#pragma once

#include "platform_pack.h"

#include <cstddef>
#include <string>
#include <vector>

// The name rules of the stub whose image starts with the `size` bytes at
// `image`: Windows rules for a PE program, POSIX rules for anything else.
name_rules stub_name_rules(const char *image, size_t size);

// A member's name split into its parts; the separator is added only when the
// parts are joined.
typedef std::vector<std::string> name_parts;

// The first `count` parts joined by `separator`.
std::string join_parts(const name_parts &parts, size_t count, char separator);

// How names are stored for the stub being packed for.
struct name_storing {
    name_rules rules;
    int codepage; // Windows rules: names are stored in this code page
};

// How names are stored under `rules` with the code page the user asked for
// (`codepage`, 0 for the default). False when a code page is asked for but
// the rules are not Windows ones: names for such a stub are not converted.
// From now on the judge reads names under Windows rules in that code page.
bool choose_name_storing(name_rules rules, int codepage, name_storing *storing);

// The bytes stored for a member whose name has the UTF-8 `parts`, joined by
// `separator` into `name`; `source` is the path it was found under, for
// messages. For a Windows stub the name must be one Windows can create and is
// converted to the code page; for a POSIX stub its bytes stay as they are.
// Either way it must fit the record and pass the stub's own judging. False,
// after a message naming the path, when it can't be stored.
bool make_stored_name(const name_storing &storing, const name_parts &parts, const std::string &name,
                      const std::string &source, std::string *stored);

// A stored name as sfxpack shows it: converted back to UTF-8 for a Windows
// stub, with bytes that mean nothing in the code page shown as \xNN.
std::string shown_name(const name_storing &storing, const char *stored);
