// SPDX-License-Identifier: Zlib
// Turning the PATHs on the command line into the ordered list of members.
#pragma once

#include "platform_pack.h"
#include "stub_names.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct pack_member {
    const char *name;   // parts joined by the archive's separator, as the packer reads them
    const char *stored; // the bytes the record carries: `name` itself unless converted
    // The file whose bytes a file member carries, in `folder`; null for a directory.
    const char *source;
    const platform_folder *folder;
    int64_t size;    // data bytes; 0 for a directory
    char kind;       // KIND_DIRECTORY or KIND_FILE
    bool executable; // the file had an executable bit
};

// The members in archive order. Their names and sources are kept one after
// the other in blocks that never move, not as a string each: a tree of many
// small files then needs little memory per member.
struct member_list {
    std::vector<pack_member> members;
    std::vector<std::unique_ptr<char[]>> text_blocks;
    size_t block_used;       // bytes taken in the last block
    std::string inputs_path; // the folder the PATHs are found in
    platform_folder inputs;  // that folder, open until released
    platform_folder current; // the current directory, where the notice is found
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
                    member_list *list);

// Closes what gather_members left open for reading the members' files.
void release_members(member_list *list);

// The path of a member's file as messages show it.
std::string member_source_path(const pack_member &member);
