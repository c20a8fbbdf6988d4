// SPDX-License-Identifier: Zlib
// The packer's command line: what the user asked for, nothing done yet.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

enum pack_action {
    ACTION_PACK,    // build a self-extracting file
    ACTION_LIST,    // list and check an existing one
    ACTION_TEST,    // read an existing one whole and compare its check values
    ACTION_EXTRACT, // recreate the members of one without running it
    ACTION_HELP,
    ACTION_VERSION,
    ACTION_TARGETS, // show the installed stubs
};

struct pack_options {
    pack_action action;
    std::string output;    // -o: the file to build
    std::string stub;      // -s: empty means the stub for `target`
    std::string target;    // --target: empty means the system sfxpack runs on
    std::string directory; // -C: PATHs are found and named relative to it; -x extracts into it
    std::string notice;    // --notice: stored as _setup_.txt
    std::string listed;    // -l: the file to list
    std::string tested;    // -t: the file to test
    std::string extracted; // -x: the file to extract
    char separator;        // --separator: '/' or '\\'; 0 means chosen from the stub
    bool follow_links;     // -L: store what links point to instead of refusing them
    bool verbose;          // -v: -x names each member on standard output
    std::vector<std::string> paths;
    int codepage;  // --codepage: names for a Windows stub; 0 means the default
    bool compress; // -z: the members go into compressed containers
    int level;     // --level: 0..9; -1 means not given
};

// Fills `options` from the arguments after the program name. On a mistake
// returns false with a one-line explanation in `problem`.
bool parse_command_line(int argc, char **argv, pack_options *options, std::string *problem);

void print_usage(FILE *stream);
void print_version(FILE *stream);
