#include "command_line.h"
#include "extract_files.h"
#include "list.h"
#include "pack.h"
#include "pack_messages.h"
#include "platform.h"
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
    switch (options.action) {
    case ACTION_HELP:
        print_usage(stdout);
        return 0;
    case ACTION_VERSION:
        print_version(stdout);
        return 0;
    case ACTION_TARGETS:
        return run_list_targets();
    case ACTION_LIST:
        return run_list(options.listed.c_str(), options.codepage);
    case ACTION_TEST:
        return run_test(options.tested.c_str(), options.codepage);
    case ACTION_EXTRACT:
        return run_extract(options);
    case ACTION_PACK:
        break;
    }
    return run_pack(options);
}
