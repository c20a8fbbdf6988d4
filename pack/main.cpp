// SPDX-License-Identifier: Zlib
#include "command_line.h"
#include "extract_files.h"
#include "list.h"
#include "pack.h"
#include "pack_messages.h"
#include "platform_pack.h"
#include "stub_location.h"
#include "test_archive.h"

#include <cstdio>

int main(int argc, char **argv) {
    platform_utf8_arguments(&argc, &argv);
    pack_options options;
    std::string problem;
    if (!parse_command_line(argc, argv, &options, &problem)) {
        report_error("%s", problem.c_str());
        std::fputs("Try 'sfxpack --help'.\n", stderr);
        return 2;
    }
    int status = 0;
    switch (options.action) {
    case ACTION_HELP:
        print_usage(stdout);
        break;
    case ACTION_VERSION:
        print_version(stdout);
        break;
    case ACTION_TARGETS:
        status = run_list_targets();
        break;
    case ACTION_LIST:
        status = run_list(options.listed.c_str(), options.codepage);
        break;
    case ACTION_TEST:
        status = run_test(options.tested.c_str(), options.codepage);
        break;
    case ACTION_EXTRACT:
        status = run_extract(options);
        break;
    case ACTION_PACK:
        status = run_pack(options);
        break;
    }
    // Some mistakes show only once the stub or the file is read: a target
    // with no stub, a code page for names that are not in one.
    if (status == 2)
        std::fputs("Try 'sfxpack --help'.\n", stderr);
    return status;
}
