// Turning the PATHs on the command line into the ordered list of members.
#pragma once

#include "platform.h"

#include <cstdint>
#include <string>
#include <vector>

struct pack_member {
    char kind;          // KIND_DIRECTORY or KIND_FILE
    std::string name;   // as stored: parts joined by the archive's separator
    std::string source; // the file on disk whose bytes a file member carries
    int64_t size;       // data bytes; 0 for a directory
};

struct gather_settings {
    std::string directory; // PATHs are found relative to it; empty: the current one
    std::string notice;    // stored as NOTICE_NAME when not empty
    char separator;        // between the parts of a stored name
    bool follow_links;
    // The file being built, when it exists already: it is never packed into itself.
    bool has_output;
    platform_entry output;
};

// The member a notice file is stored as; the stub shows it after extraction.
extern const char *const NOTICE_NAME;

// Walks every PATH (directories with all they hold) and returns the members in
// archive order: sorted part by part in byte order, so each directory comes
// before what it holds and the order never depends on the file system. False,
// after a message on standard error, when an input can't or mustn't be packed.
bool gather_members(const gather_settings &settings, const std::vector<std::string> &paths,
                    std::vector<pack_member> *members);
