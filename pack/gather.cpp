#include "gather.h"

#include "archive_reader.h"
#include "archive_writer.h"
#include "pack_messages.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

namespace {

// A stored name split into its parts; the separator is added only on output.
typedef std::vector<std::string> name_parts;

struct open_directory {
    platform_entry entry;
    std::string source;
};

struct gatherer {
    const gather_settings *settings;
    // Keyed by the parts joined with NUL, which sorts below every byte a part
    // can hold: "a" and everything in it come before "a.txt".
    std::map<std::string, pack_member> members;
    std::vector<open_directory> walked; // directories being walked, outermost first
};

std::string join_parts(const name_parts &parts, size_t count, char separator) {
    std::string joined;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            joined += separator;
        joined += parts[i];
    }
    return joined;
}

std::string source_path(const gather_settings &settings, const name_parts &parts) {
    std::string relative = join_parts(parts, parts.size(), '/');
    const std::string &base = settings.directory;
    if (base.empty())
        return relative.empty() ? "." : relative;
    if (relative.empty())
        return base;
    return base.back() == '/' ? base + relative : base + "/" + relative;
}

bool same_entry(const platform_entry &a, const platform_entry &b) {
    return (a.volume != 0 || a.index != 0) && a.volume == b.volume && a.index == b.index;
}

// A part holding the separator would reach the extractor as two parts.
// (make_stored_name refuses what else the extractor would refuse, here, where
// the user can still fix it.)
bool check_name(const name_parts &parts, const std::string &name, char separator) {
    for (const std::string &part : parts) {
        if (part.find(separator) != std::string::npos) {
            report_error("'%s': the part '%s' holds the separator '%c', so the extractor "
                         "would split it",
                         name.c_str(), part.c_str(), separator);
            return false;
        }
    }
    return true;
}

bool add_member(gatherer *g, const name_parts &parts, char kind, const std::string &source,
                int64_t size) {
    std::string name = join_parts(parts, parts.size(), g->settings->separator);
    std::string stored;
    if (!check_name(parts, name, g->settings->separator) ||
        !make_stored_name(g->settings->names, parts, name, source, &stored))
        return false;
    std::string key = join_parts(parts, parts.size(), '\0');
    auto found = g->members.find(key);
    if (found != g->members.end()) {
        if (found->second.kind == kind)
            return true; // named twice, e.g. as a PATH and inside another PATH
        report_error("'%s' is given both as a file and as a directory", name.c_str());
        return false;
    }
    g->members[key] = pack_member{kind, stored, source, kind == KIND_FILE ? size : 0};
    return true;
}

bool check_file_size(const std::string &source, int64_t size) {
    if (size <= LARGEST_ARCHIVE_FILE)
        return true;
    report_error("'%s' is %lld bytes; a file must stay below 2 GiB (2147483648 bytes)",
                 source.c_str(), static_cast<long long>(size));
    return false;
}

bool add_entry(gatherer *g, const name_parts &parts);

void collect_name(const char *name, void *names) {
    static_cast<std::vector<std::string> *>(names)->push_back(name);
}

bool add_directory(gatherer *g, const name_parts &parts, const std::string &source,
                   const platform_entry &entry) {
    for (const open_directory &outer : g->walked) {
        if (same_entry(outer.entry, entry)) {
            report_error("'%s' leads back into '%s', which holds it (a loop through links)",
                         source.c_str(), outer.source.c_str());
            return false;
        }
    }
    if (!parts.empty() && !add_member(g, parts, KIND_DIRECTORY, source, 0))
        return false;
    std::vector<std::string> names;
    if (!platform_list_directory(source.c_str(), collect_name, &names)) {
        report_error("can't read the directory '%s': %s", source.c_str(), std::strerror(errno));
        return false;
    }
    // Sorted so that the first error met is the same on every run.
    std::sort(names.begin(), names.end());
    g->walked.push_back(open_directory{entry, source});
    bool ok = true;
    for (size_t i = 0; ok && i < names.size(); ++i) {
        name_parts inner = parts;
        inner.push_back(names[i]);
        ok = add_entry(g, inner);
    }
    g->walked.pop_back();
    return ok;
}

bool add_entry(gatherer *g, const name_parts &parts) {
    std::string source = source_path(*g->settings, parts);
    platform_entry entry;
    if (!platform_entry_status(source.c_str(), g->settings->follow_links, &entry)) {
        report_error("can't read '%s': %s", source.c_str(), std::strerror(entry.error_number));
        return false;
    }
    switch (entry.kind) {
    case PLATFORM_ENTRY_DIRECTORY:
        return add_directory(g, parts, source, entry);
    case PLATFORM_ENTRY_FILE:
        if (g->settings->has_output && same_entry(entry, g->settings->output))
            return true; // the file being rebuilt is never packed into itself
        if (parts.empty()) {
            report_error("'%s' is not a directory, so '.' names nothing to pack", source.c_str());
            return false;
        }
        return check_file_size(source, entry.size) &&
               add_member(g, parts, KIND_FILE, source, entry.size);
    case PLATFORM_ENTRY_LINK:
        report_error("'%s' is a symbolic link; -L stores what links point to", source.c_str());
        return false;
    case PLATFORM_ENTRY_OTHER:
    case PLATFORM_ENTRY_MISSING:
        break;
    }
    report_error("'%s' is neither a regular file nor a directory", source.c_str());
    return false;
}

// A PATH from the command line, split into parts; "." parts and doubled
// slashes drop out, so "./docs//a.txt" is stored as "docs" + "a.txt".
bool split_path_argument(const std::string &argument, name_parts *parts) {
    if (argument.empty()) {
        report_error("an empty PATH names nothing");
        return false;
    }
    if (argument[0] == '/') {
        report_error("'%s' is absolute; the extractor only takes names inside its folder "
                     "(use -C DIR to pack from elsewhere)",
                     argument.c_str());
        return false;
    }
    size_t start = 0;
    while (start <= argument.size()) {
        size_t end = argument.find('/', start);
        if (end == std::string::npos)
            end = argument.size();
        std::string part = argument.substr(start, end - start);
        if (part == "..") {
            report_error("'%s' has a '..' part, which the extractor refuses", argument.c_str());
            return false;
        }
        if (!part.empty() && part != ".")
            parts->push_back(part);
        start = end + 1;
    }
    return true;
}

bool add_path_argument(gatherer *g, const std::string &argument) {
    name_parts parts;
    if (!split_path_argument(argument, &parts))
        return false;
    // Each directory on the way gets its own record, parent first: the
    // extractor creates one level per record.
    for (size_t count = 1; count < parts.size(); ++count) {
        name_parts parent(parts.begin(), parts.begin() + static_cast<long>(count));
        if (!add_member(g, parent, KIND_DIRECTORY, source_path(*g->settings, parent), 0))
            return false;
    }
    return add_entry(g, parts);
}

bool add_notice(gatherer *g) {
    const std::string &source = g->settings->notice;
    platform_entry entry;
    if (!status_of_regular_file(source, "notice", &entry))
        return false;
    if (!check_file_size(source, entry.size))
        return false;
    if (g->members.count(NOTICE_FILE_NAME) != 0) {
        report_error("both --notice and a PATH give '%s'", NOTICE_FILE_NAME);
        return false;
    }
    g->members[NOTICE_FILE_NAME] = pack_member{KIND_FILE, NOTICE_FILE_NAME, source, entry.size};
    return true;
}

} // namespace

bool status_of_regular_file(const std::string &path, const char *role, platform_entry *entry) {
    if (!platform_entry_status(path.c_str(), true, entry)) {
        report_error("can't read the %s '%s': %s", role, path.c_str(),
                     std::strerror(entry->error_number));
        return false;
    }
    if (entry->kind != PLATFORM_ENTRY_FILE) {
        report_error("the %s '%s' is not a regular file", role, path.c_str());
        return false;
    }
    return true;
}

bool gather_members(const gather_settings &settings, const std::vector<std::string> &paths,
                    std::vector<pack_member> *members) {
    gatherer g{&settings, {}, {}};
    for (const std::string &path : paths)
        if (!add_path_argument(&g, path))
            return false;
    if (!settings.notice.empty() && !add_notice(&g))
        return false;
    members->clear();
    for (const auto &keyed : g.members)
        members->push_back(keyed.second);
    return true;
}
