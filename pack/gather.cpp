// SPDX-License-Identifier: Zlib
#include "gather.h"

#include "archive_reader.h"
#include "archive_writer.h"
#include "codepage.h"
#include "pack_messages.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

struct open_directory {
    platform_entry entry;
    std::string source;
};

struct gatherer {
    const gather_settings *settings;
    member_list *list;                  // in the order found, repeats included, until sorted
    std::vector<open_directory> walked; // directories being walked, outermost first
    // Set when a symbolic link was met that can't be stored (any link without
    // -L, a dangling one with it), or a name that can't be stored; the walk
    // goes on, so one run names every input to fix.
    bool links_refused;
    bool names_refused;
};

constexpr size_t TEXT_BLOCK_SIZE = 64 * 1024;

// A lasting copy of `text` in the list's blocks.
const char *keep_text(member_list *list, const std::string &text) {
    size_t need = text.size() + 1;
    if (list->text_blocks.empty() || list->block_used + need > TEXT_BLOCK_SIZE) {
        list->text_blocks.emplace_back(new char[std::max(need, TEXT_BLOCK_SIZE)]);
        list->block_used = 0;
    }
    char *kept = list->text_blocks.back().get() + list->block_used;
    std::memcpy(kept, text.c_str(), need);
    list->block_used += need;
    return kept;
}

// The path of `relative` in the folder `base`, as messages show it.
std::string source_path(const std::string &base, const std::string &relative) {
    if (base.empty())
        return relative.empty() ? "." : relative;
    if (relative.empty())
        return base;
    return base.back() == '/' ? base + relative : base + "/" + relative;
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

// `relative`: the file in the input folder whose bytes a file member carries;
// `source`: the path messages name it by. False, after a message, when its
// name can't be stored: the caller goes on with the walk.
bool add_member(gatherer *gathering, const name_parts &parts, char kind,
                const std::string &relative, const std::string &source, int64_t size,
                bool executable) {
    std::string name = join_parts(parts, parts.size(), gathering->settings->separator);
    std::string stored;
    if (!check_name(parts, name, gathering->settings->separator) ||
        !make_stored_name(gathering->settings->names, parts, name, source, &stored)) {
        gathering->names_refused = true;
        return false;
    }
    bool is_file = kind == KIND_FILE;
    const char *kept_name = keep_text(gathering->list, name);
    const char *kept_stored = stored == name ? kept_name : keep_text(gathering->list, stored);
    gathering->list->members.push_back(pack_member{
        kept_name, kept_stored, is_file ? keep_text(gathering->list, relative) : nullptr,
        &gathering->list->inputs, is_file ? size : 0, kind, is_file && executable});
    return true;
}

// Where a stored name's byte sorts: the end first, then the separator, then
// every byte a part can hold, so "a" and everything in it come before "a.txt".
int name_byte_rank(char byte, char separator) {
    if (byte == '\0')
        return 0;
    return byte == separator ? 1 : static_cast<unsigned char>(byte) + 2;
}

int compare_names(const char *a, const char *b, char separator) {
    while (*a == *b && *a != '\0') {
        ++a;
        ++b;
    }
    return name_byte_rank(*a, separator) - name_byte_rank(*b, separator);
}

// Sorts the members into archive order and keeps one of each name.
bool sort_members(member_list *list, char separator) {
    std::vector<pack_member> &members = list->members;
    auto before = [separator](const pack_member &a, const pack_member &b) {
        return compare_names(a.name, b.name, separator) < 0;
    };
    // A walk finds each directory's entries in order already.
    if (!std::is_sorted(members.begin(), members.end(), before))
        std::sort(members.begin(), members.end(), before);
    size_t kept = 0;
    for (const pack_member &member : members) {
        if (kept > 0 && compare_names(members[kept - 1].name, member.name, separator) == 0) {
            if (members[kept - 1].kind == member.kind)
                continue; // named twice, e.g. as a PATH and inside another PATH
            report_error("'%s' is given both as a file and as a directory", member.name);
            return false;
        }
        members[kept++] = member;
    }
    members.resize(kept);
    return true;
}

bool check_file_size(const std::string &source, int64_t size) {
    if (size <= LARGEST_ARCHIVE_FILE)
        return true;
    report_error("'%s' is %lld bytes; a file must stay below %s (%lld bytes)", source.c_str(),
                 static_cast<long long>(size), ARCHIVE_LIMIT_WORDS,
                 static_cast<long long>(LARGEST_ARCHIVE_FILE + 1));
    return false;
}

bool add_entry(gatherer *gathering, name_parts *parts);

void collect_name(const char *name, void *names) {
    static_cast<std::vector<std::string> *>(names)->push_back(name);
}

bool add_directory(gatherer *gathering, name_parts *parts, const std::string &relative,
                   const std::string &source, const platform_entry &entry) {
    for (const open_directory &outer : gathering->walked) {
        if (platform_same_entry(outer.entry, entry)) {
            report_error("'%s' leads back into '%s', which holds it (a loop through links)",
                         source.c_str(), outer.source.c_str());
            return false;
        }
    }
    // A directory whose name is refused is not walked: every name in it
    // would be refused for the same part.
    if (!parts->empty() &&
        !add_member(gathering, *parts, KIND_DIRECTORY, relative, source, 0, false))
        return true;
    std::vector<std::string> names;
    if (!platform_list_directory_in(&gathering->list->inputs, relative.c_str(), collect_name,
                                    &names)) {
        report_system_error(errno, "can't read the directory '%s'", source.c_str());
        return false;
    }
    // Sorted so that the first error met is the same on every run.
    std::sort(names.begin(), names.end());
    gathering->walked.push_back(open_directory{entry, source});
    bool ok = true;
    for (size_t i = 0; ok && i < names.size(); ++i) {
        parts->push_back(names[i]);
        ok = add_entry(gathering, parts);
        parts->pop_back();
    }
    gathering->walked.pop_back();
    return ok;
}

// With -L, a link that leads nowhere is named as a link, and the walk goes on
// so that one run names every such link. False when `relative` is no link.
bool report_unfollowable_link(gatherer *gathering, const std::string &relative,
                              const std::string &source, int error_number) {
    platform_entry link;
    if (!platform_entry_status_in(&gathering->list->inputs, relative.c_str(), false, &link) ||
        link.kind != PLATFORM_ENTRY_LINK)
        return false;
    if (error_number == ENOENT || error_number == ENOTDIR)
        report_error("'%s' is a dangling symbolic link: what it points to does not exist",
                     source.c_str());
    else
        report_system_error(error_number, "'%s' is a symbolic link that can't be followed",
                            source.c_str());
    gathering->links_refused = true;
    return true;
}

bool add_entry(gatherer *gathering, name_parts *parts) {
    std::string relative = join_parts(*parts, parts->size(), '/');
    std::string source = source_path(gathering->settings->directory, relative);
    platform_entry entry;
    if (!platform_entry_status_in(&gathering->list->inputs, relative.c_str(),
                                  gathering->settings->follow_links, &entry)) {
        if (gathering->settings->follow_links &&
            report_unfollowable_link(gathering, relative, source, entry.error_number))
            return true;
        report_system_error(entry.error_number, "can't read '%s'", source.c_str());
        return false;
    }
    switch (entry.kind) {
    case PLATFORM_ENTRY_DIRECTORY:
        return add_directory(gathering, parts, relative, source, entry);
    case PLATFORM_ENTRY_FILE:
        if (gathering->settings->has_output &&
            platform_same_entry(entry, gathering->settings->output))
            return true; // the file being rebuilt is never packed into itself
        if (parts->empty()) {
            report_error("'%s' is not a directory, so '.' names nothing to pack", source.c_str());
            return false;
        }
        if (!check_file_size(source, entry.size))
            return false;
        add_member(gathering, *parts, KIND_FILE, relative, source, entry.size, entry.executable);
        return true;
    case PLATFORM_ENTRY_LINK:
        // Reported and passed over, so one run names every link to fix.
        report_error("'%s' is a symbolic link; -L stores what links point to", source.c_str());
        gathering->links_refused = true;
        return true;
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
    if (platform_is_absolute_path(argument.c_str())) {
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
        if (is_parent_part(part.c_str(), part.size())) {
            report_error("'%s' has a '..' part, which the extractor refuses", argument.c_str());
            return false;
        }
        if (!part.empty() && part != ".")
            parts->push_back(part);
        start = end + 1;
    }
    return true;
}

bool add_path_argument(gatherer *gathering, const std::string &argument) {
    name_parts parts;
    if (!split_path_argument(argument, &parts))
        return false;
    // Each directory on the way gets its own record, parent first: the
    // extractor creates one level per record.
    for (size_t count = 1; count < parts.size(); ++count) {
        name_parts parent(parts.begin(), parts.begin() + static_cast<long>(count));
        std::string source =
            source_path(gathering->settings->directory, join_parts(parent, count, '/'));
        if (!add_member(gathering, parent, KIND_DIRECTORY, std::string(), source, 0, false))
            return true;
    }
    return add_entry(gathering, &parts);
}

bool add_notice(gatherer *gathering) {
    const std::string &source = gathering->settings->notice;
    platform_entry entry;
    if (!status_of_regular_file(source, "notice", &entry))
        return false;
    if (!check_file_size(source, entry.size))
        return false;
    for (const pack_member &member : gathering->list->members) {
        if (std::strcmp(member.name, NOTICE_FILE_NAME) == 0) {
            report_error("both --notice and a PATH give '%s'", NOTICE_FILE_NAME);
            return false;
        }
    }
    gathering->list->members.push_back(
        pack_member{NOTICE_FILE_NAME, NOTICE_FILE_NAME, keep_text(gathering->list, source),
                    &gathering->list->current, entry.size, KIND_FILE, false});
    return true;
}

// The path of `member` as messages show it: its file, or for a directory the
// folder it was found as.
std::string shown_source(const gather_settings &settings, const pack_member &member) {
    if (member.source != nullptr)
        return member_source_path(member);
    std::string relative = member.name;
    std::replace(relative.begin(), relative.end(), settings.separator, '/');
    return source_path(settings.directory, relative);
}

// Windows takes names that differ only in letter case as one: the later
// member would replace the earlier one, or land in its folder. Every such
// pair is named, each later name with the first of its kind. The stored
// bytes are read back through the code page, so names that reach the same
// bytes meet too.
bool check_letter_case(const gather_settings &settings, const member_list &list) {
    if (settings.names.rules != NAME_RULES_WINDOWS)
        return true;
    std::vector<std::pair<std::string, size_t>> keys;
    keys.reserve(list.members.size());
    for (size_t i = 0; i < list.members.size(); ++i) {
        const char *stored = list.members[i].stored;
        std::string name;
        if (!name_from_codepage(settings.names.codepage, stored, &name))
            name = stored;
        keys.emplace_back(upper_cased_name(name), i);
    }
    std::sort(keys.begin(), keys.end());
    bool distinct = true;
    for (size_t first = 0, i = 1; i < keys.size(); ++i) {
        if (keys[i].first != keys[first].first) {
            first = i;
            continue;
        }
        report_error("'%s' and '%s' are one name on Windows, which ignores letter case",
                     shown_source(settings, list.members[keys[first].second]).c_str(),
                     shown_source(settings, list.members[keys[i].second]).c_str());
        distinct = false;
    }
    return distinct;
}

} // namespace

bool status_of_regular_file(const std::string &path, const char *role, platform_entry *entry) {
    if (!platform_entry_status(path.c_str(), true, entry)) {
        report_system_error(entry->error_number, "can't read the %s '%s'", role, path.c_str());
        return false;
    }
    if (entry->kind != PLATFORM_ENTRY_FILE) {
        report_error("the %s '%s' is not a regular file", role, path.c_str());
        return false;
    }
    return true;
}

bool gather_members(const gather_settings &settings, const std::vector<std::string> &paths,
                    member_list *list) {
    list->members.clear();
    list->text_blocks.clear();
    list->block_used = 0;
    platform_open_folder("", &list->current);
    list->inputs_path = settings.directory;
    if (!platform_open_folder(list->inputs_path.c_str(), &list->inputs)) {
        report_system_error(errno, "can't read the folder '%s'", settings.directory.c_str());
        return false;
    }
    gatherer gathering{&settings, list, {}, false, false};
    for (const std::string &path : paths)
        if (!add_path_argument(&gathering, path))
            return false;
    if (!settings.notice.empty() && !add_notice(&gathering))
        return false;
    if (!sort_members(list, settings.separator))
        return false;
    bool cases_distinct = check_letter_case(settings, *list);
    return cases_distinct && !gathering.links_refused && !gathering.names_refused;
}

void release_members(member_list *list) {
    platform_close_folder(&list->inputs);
}

std::string member_source_path(const pack_member &member) {
    return source_path(member.folder->path, member.source);
}
