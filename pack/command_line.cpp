// SPDX-License-Identifier: Zlib
#include "command_line.h"

#include "codepage.h"
#include "compressed_pack.h"

#include <cstring>

namespace {

enum option_id {
    OPTION_OUTPUT,
    OPTION_STUB,
    OPTION_DIRECTORY,
    OPTION_LIST,
    OPTION_TEST,
    OPTION_EXTRACT,
    OPTION_VERBOSE,
    OPTION_NOTICE,
    OPTION_SEPARATOR,
    OPTION_FOLLOW_LINKS,
    OPTION_CODEPAGE,
    OPTION_HELP,
    OPTION_VERSION,
    OPTION_TARGET,
    OPTION_TARGETS,
    OPTION_COMPRESS,
    OPTION_LEVEL,
};

struct known_option {
    char short_name; // 0: long form only
    const char *long_name;
    bool takes_value;
    option_id id;
};

const known_option OPTIONS[] = {
    {'o', "output", true, OPTION_OUTPUT},       {'s', "stub", true, OPTION_STUB},
    {'C', "directory", true, OPTION_DIRECTORY}, {'l', "list", true, OPTION_LIST},
    {'t', "test", true, OPTION_TEST},           {'x', "extract", true, OPTION_EXTRACT},
    {'v', "verbose", false, OPTION_VERBOSE},    {0, "notice", true, OPTION_NOTICE},
    {0, "separator", true, OPTION_SEPARATOR},   {'L', "follow-links", false, OPTION_FOLLOW_LINKS},
    {0, "codepage", true, OPTION_CODEPAGE},     {'h', "help", false, OPTION_HELP},
    {0, "version", false, OPTION_VERSION},      {0, "target", true, OPTION_TARGET},
    {0, "targets", false, OPTION_TARGETS},      {'z', "compress", false, OPTION_COMPRESS},
    {0, "level", true, OPTION_LEVEL},
};

// Where the command line stands while it is read.
struct argument_cursor {
    int argc;
    char **argv;
    int next; // index of the next unread argument
};

const known_option *find_short_option(char name) {
    for (const known_option &option : OPTIONS)
        if (option.short_name != 0 && option.short_name == name)
            return &option;
    return nullptr;
}

const known_option *find_long_option(const std::string &name) {
    for (const known_option &option : OPTIONS)
        if (name == option.long_name)
            return &option;
    return nullptr;
}

// A file or folder option names one: a second one is a mistake, never
// silently the one that wins.
bool set_once(std::string *field, const known_option &option, const std::string &value,
              std::string *problem) {
    if (!field->empty()) {
        *problem = std::string("option --") + option.long_name + " given twice";
        return false;
    }
    *field = value;
    return true;
}

bool apply_option(const known_option &option, const std::string &value, pack_options *options,
                  std::string *problem) {
    switch (option.id) {
    case OPTION_OUTPUT:
        return set_once(&options->output, option, value, problem);
    case OPTION_STUB:
        return set_once(&options->stub, option, value, problem);
    case OPTION_DIRECTORY:
        return set_once(&options->directory, option, value, problem);
    case OPTION_LIST:
        return set_once(&options->listed, option, value, problem);
    case OPTION_TEST:
        return set_once(&options->tested, option, value, problem);
    case OPTION_EXTRACT:
        return set_once(&options->extracted, option, value, problem);
    case OPTION_NOTICE:
        return set_once(&options->notice, option, value, problem);
    case OPTION_VERBOSE:
        options->verbose = true;
        break;
    case OPTION_SEPARATOR:
        if (value != "/" && value != "\\") {
            *problem = "--separator takes '/' or '\\', not '" + value + "'";
            return false;
        }
        options->separator = value[0];
        break;
    case OPTION_FOLLOW_LINKS:
        options->follow_links = true;
        break;
    case OPTION_CODEPAGE:
        if (!parse_codepage(value, &options->codepage)) {
            *problem = "--codepage takes one of " + known_codepages() + ", not '" + value + "'";
            return false;
        }
        break;
    case OPTION_HELP:
        options->action = ACTION_HELP;
        break;
    case OPTION_VERSION:
        options->action = ACTION_VERSION;
        break;
    case OPTION_TARGET:
        return set_once(&options->target, option, value, problem);
    case OPTION_TARGETS:
        options->action = ACTION_TARGETS;
        break;
    case OPTION_COMPRESS:
        options->compress = true;
        break;
    case OPTION_LEVEL:
        if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
            *problem = "--level takes 0 to 9, not '" + value + "'";
            return false;
        }
        options->level = value[0] - '0';
        break;
    }
    return true;
}

// The option's value: `attached` when the argument carried one, otherwise the
// next argument.
bool take_value(const known_option &option, const char *attached, argument_cursor *cursor,
                std::string *value, std::string *problem) {
    if (attached != nullptr) {
        *value = attached;
        return true;
    }
    if (cursor->next >= cursor->argc) {
        *problem = std::string("option --") + option.long_name + " needs a value";
        return false;
    }
    *value = cursor->argv[cursor->next++];
    return true;
}

bool read_long_option(const char *text, argument_cursor *cursor, pack_options *options,
                      std::string *problem) {
    const char *equals = std::strchr(text, '=');
    std::string name = equals ? std::string(text, equals) : std::string(text);
    const known_option *option = find_long_option(name);
    if (option == nullptr) {
        *problem = "unknown option --" + name;
        return false;
    }
    if (!option->takes_value && equals != nullptr) {
        *problem = "option --" + name + " takes no value";
        return false;
    }
    std::string value;
    if (option->takes_value &&
        !take_value(*option, equals ? equals + 1 : nullptr, cursor, &value, problem))
        return false;
    return apply_option(*option, value, options, problem);
}

// A cluster like "-Lo out.exe" or "-oout.exe": flags first, a value option
// takes the rest of the argument or the next one.
bool read_short_options(const char *text, argument_cursor *cursor, pack_options *options,
                        std::string *problem) {
    for (const char *at = text; *at != '\0'; ++at) {
        const known_option *option = find_short_option(*at);
        if (option == nullptr) {
            *problem = std::string("unknown option -") + *at;
            return false;
        }
        std::string value;
        if (option->takes_value) {
            if (!take_value(*option, at[1] != '\0' ? at + 1 : nullptr, cursor, &value, problem))
                return false;
            return apply_option(*option, value, options, problem);
        }
        if (!apply_option(*option, value, options, problem))
            return false;
    }
    return true;
}

// -z and --level go with building a file, and -z with a packer that can
// compress.
bool check_compression(pack_options *options, std::string *problem) {
    if (options->action == ACTION_HELP || options->action == ACTION_VERSION)
        return true;
    if (options->level >= 0 && !options->compress) {
        *problem = "--level goes with -z";
        return false;
    }
    if (options->compress && options->action != ACTION_PACK) {
        *problem = "-z goes with building a file (-o) only";
        return false;
    }
    if (options->compress && compression_missing_reason() != nullptr) {
        *problem = std::string("-z can't be used: ") + compression_missing_reason();
        return false;
    }
    if (options->level < 0)
        options->level = DEFAULT_COMPRESSION_LEVEL;
    return true;
}

bool check_combination(pack_options *options, std::string *problem) {
    if (options->action != ACTION_PACK)
        return true;
    if (!options->extracted.empty()) {
        options->action = ACTION_EXTRACT;
        if (!options->listed.empty() || !options->tested.empty() || !options->output.empty() ||
            !options->stub.empty() || !options->target.empty() || !options->notice.empty() ||
            options->separator != 0 || options->follow_links || !options->paths.empty()) {
            *problem = "-x extracts one file into DIR; it takes only -C DIR, -v and --codepage";
            return false;
        }
        return true;
    }
    if (options->verbose) {
        *problem = "-v goes with -x only";
        return false;
    }
    if (!options->stub.empty() && !options->target.empty()) {
        *problem = "-s STUB and --target NAME both choose the stub; give one";
        return false;
    }
    if (!options->tested.empty()) {
        options->action = ACTION_TEST;
        if (!options->listed.empty() || !options->output.empty() || !options->stub.empty() ||
            !options->target.empty() || !options->notice.empty() || options->separator != 0 ||
            options->follow_links || !options->directory.empty() || !options->paths.empty()) {
            *problem = "-t tests one file; it takes only --codepage";
            return false;
        }
        return true;
    }
    if (!options->listed.empty()) {
        options->action = ACTION_LIST;
        if (!options->output.empty() || !options->paths.empty() || !options->notice.empty()) {
            *problem = "-l lists one file; it takes no -o, --notice or PATH";
            return false;
        }
        return true;
    }
    if (options->output.empty()) {
        *problem = "no output file given (-o FILE)";
        return false;
    }
    if (options->paths.empty()) {
        *problem = "nothing to pack: give one or more PATHs";
        return false;
    }
    return true;
}

} // namespace

bool parse_command_line(int argc, char **argv, pack_options *options, std::string *problem) {
    *options = pack_options{};
    options->level = -1;
    argument_cursor cursor{argc, argv, 1};
    bool options_ended = false;
    while (cursor.next < argc) {
        const char *argument = argv[cursor.next++];
        bool ok = true;
        if (options_ended || argument[0] != '-' || argument[1] == '\0')
            options->paths.push_back(argument);
        else if (std::strcmp(argument, "--") == 0)
            options_ended = true;
        else if (argument[1] == '-')
            ok = read_long_option(argument + 2, &cursor, options, problem);
        else
            ok = read_short_options(argument + 1, &cursor, options, problem);
        if (!ok)
            return false;
    }
    return check_combination(options, problem) && check_compression(options, problem);
}

void print_usage(FILE *stream) {
    std::fputs("Usage: sfxpack -o OUTPUT.exe [-s STUB | --target NAME] [-C DIR] [-z]\n"
               "               [--level=N] [--notice FILE] [-L] [--separator=/|\\]\n"
               "               [--codepage CP] PATH...\n"
               "       sfxpack -l FILE [--codepage CP]\n"
               "       sfxpack -t FILE [--codepage CP]\n"
               "       sfxpack --targets\n"
               "       sfxpack -x FILE [-C DIR] [-v] [--codepage CP]\n"
               "       sfxpack --help | --version\n"
               "\n"
               "Builds a self-extracting file: the stub, then every PATH (a file, or a\n"
               "directory with all it holds), which the stub recreates in the folder it\n"
               "is run in. Names are stored relative to DIR, each directory before what\n"
               "it holds, in byte order, so the same tree always gives the same file.\n"
               "\n"
               "  -o, --output FILE     the self-extracting file to write\n"
               "  -s, --stub FILE       the extractor to put in front (default: the\n"
               "                        installed one for this system)\n"
               "      --target NAME     use the installed extractor for NAME\n"
               "                        (linux-x86_64, linux-i686, linux-aarch64,\n"
               "                        linux-armv7, win32, win64)\n"
               "  -C, --directory DIR   find PATHs in DIR and name them relative to it\n"
               "                        (\".\" packs all DIR holds)\n"
               "  -z, --compress        compress the members into LZMA2 containers, which\n"
               "                        the stub must be able to read\n"
               "      --level=N         with -z: 0 (fastest) to 9 (smallest, the default)\n"
               "      --notice FILE     store FILE as _setup_.txt, shown after extraction\n"
               "  -L, --follow-links    store what symbolic links point to (refused\n"
               "                        otherwise)\n"
               "      --separator=SEP   '/' or '\\' between name parts (default: '\\' for a\n"
               "                        Windows stub, '/' otherwise)\n"
               "      --codepage CP     for a Windows stub, store names in Windows code\n"
               "                        page CP (default 1252; 437, 850, 866, 932, 936,\n"
               "                        949, 950, 1250-1258 and others); names it can't\n"
               "                        hold are refused. With -l or -x: read names in CP\n"
               "  -l, --list FILE       list the members of FILE as the stub walks them\n"
               "                        and check it as the stub would\n"
               "  -t, --test FILE       read every member of FILE and compare its check\n"
               "                        value, as the stub does, writing nothing\n"
               "      --targets         list the installed extractors and where they are\n"
               "  -x, --extract FILE    recreate the members of FILE in DIR (-C, default\n"
               "                        the current folder) without running it\n"
               "  -v, --verbose         with -x: name each member on standard output\n"
               "  -h, --help            show this text\n"
               "      --version         show the version\n"
               "\n"
               "Exit status: 0 on success, 1 when a file is refused or can't be\n"
               "built, checked or extracted whole, 2 for a mistake on the command line.\n",
               stream);
}

void print_version(FILE *stream) {
    std::fprintf(stream, "sfxpack %s\n", SFX_VERSION);
}
