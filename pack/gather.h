// Turning the PATHs on the command line into the ordered list of members.
#pragma once

#include "platform.h"
#include "stub_names.h"

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
    std::string notice;    // stored as NOTICE_FILE_NAME when not empty
    char separator;        // between the parts of a stored name
    name_storing names;    // how the stub packed for takes names
    bool follow_links;
    // The file being built, when it exists already: it is never packed into itself.
    bool has_output;
    platform_entry output;
};

// Reads the status of `path`, following links, and makes sure it is a regular
// file; otherwise says so on standard error, naming the file by its `role`
// ("stub", "notice"), and returns false.
bool status_of_regular_file(const std::string &path, const char *role, platform_entry *entry);

// Walks every PATH (directories with all they hold) and returns the members in
// archive order: sorted part by part in byte order, so each directory comes
// before what it holds and the order never depends on the file system. False,
// after a message on standard error, when an input can't or mustn't be packed.
bool gather_members(const gather_settings &settings, const std::vector<std::string> &paths,
                    std::vector<pack_member> *members);
