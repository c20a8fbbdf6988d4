// SPDX-License-Identifier: Zlib
#include "extract_files.h"

#include "archive_reader.h"
#include "archive_walk.h"
#include "codepage.h"
#include "member_extension.h"
#include "pack_messages.h"
#include "platform_pack.h"
#include "platform_pack_extract.h"
#include "stub_names.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A folder on the way of the member written last, held open for the next.
struct held_folder {
    std::string name; // its part of the member's name; "" for the extraction folder
    platform_out_folder folder;
};

// What -x knows and keeps while it recreates the members of one file.
struct extraction {
    std::string directory; // the extraction folder as given, or empty for the current one
    std::string root;      // the same ending in '/', or empty for the current one
    bool verbose;
    // The extraction folder, then each folder on the last member's way.
    std::vector<held_folder> held;
    name_storing names;     // how the stub at the file's front reads the stored names
    platform_entry archive; // the file being read, never to be replaced by a member
    // Folders that could not be created, each reported once: the members
    // below one are passed over without a message of their own. Only the
    // latest few are kept, as a file may hold any number of such folders;
    // members are in byte order, so those below one follow it.
    std::vector<std::string> failed_folders;
    // The file member being written: its temporary file (whose name is the
    // last temporary one), in `folder`, its name there and its path in
    // messages.
    platform_out_file file;
    const platform_out_folder *folder;
    std::string name;
    std::string path;
    int write_error; // errno of the write that failed, 0 while all went well
};

// How many folders that could not be created are kept: enough for every
// level of one member's way, whatever the order of members in the file.
constexpr size_t FAILED_FOLDERS_KEPT = 64;

void remember_failed_folder(extraction *job, const std::string &path) {
    if (job->failed_folders.size() == FAILED_FOLDERS_KEPT)
        job->failed_folders.erase(job->failed_folders.begin());
    job->failed_folders.push_back(path);
}

bool is_failed_folder(const extraction &job, const std::string &path) {
    return std::find(job.failed_folders.begin(), job.failed_folders.end(), path) !=
           job.failed_folders.end();
}

bool keep_local_part(const char *part, size_t length, void *parts) {
    std::string text(part, length);
    if (!text.empty() && text != ".")
        static_cast<name_parts *>(parts)->push_back(text);
    return false;
}

// The stored name as the parts of a local name. Both separators split it, as
// the stub's judge reads them; empty and "." parts drop out. Behind a Windows
// stub the name is converted from its code page to UTF-8 first; false when it
// holds bytes that mean no character there.
bool local_name_parts(const name_storing &names, const char *stored, name_parts *parts) {
    std::string converted;
    if (names.rules == NAME_RULES_WINDOWS) {
        if (!name_from_codepage(names.codepage, stored, &converted))
            return false;
        stored = converted.c_str();
    }
    parts->clear();
    find_name_part(stored, keep_local_part, parts);
    return true;
}

std::string local_path(const extraction &job, const name_parts &parts, size_t count) {
    std::string path = job.root + join_parts(parts, count, '/');
    return path.empty() ? "." : path;
}

// The judge keeps every name inside the extraction folder, but a symbolic
// link already in it could still lead out. So no link is followed: a member
// whose path passes through or ends on one is refused.
bool refuse_link(const std::string &path, const platform_entry &entry) {
    if (entry.kind != PLATFORM_ENTRY_LINK)
        return false;
    report_error("'%s' is a symbolic link; -x never follows or replaces one", path.c_str());
    return true;
}

// Why a folder on a member's way could not be entered.
enum folder_outcome {
    FOLDER_ENTERED,
    FOLDER_IS_LINK,
    FOLDER_IS_NOT_ONE, // a file or anything else but a folder has its name
    FOLDER_NOT_MADE,   // see the error number
};

// Opens the folder `name` in `parent`, making it first when it is missing, so
// a member comes out even when its folder had no record of its own.
folder_outcome open_or_make_folder(const platform_out_folder *parent, const std::string &name,
                                   platform_out_folder *folder, int *error) {
    if (platform_open_out_folder(parent, name.c_str(), folder))
        return FOLDER_ENTERED;
    if (errno == ENOENT) {
        if (!platform_make_out_folder(parent, name.c_str()) && errno != EEXIST) {
            *error = errno;
            return FOLDER_NOT_MADE;
        }
        if (platform_open_out_folder(parent, name.c_str(), folder))
            return FOLDER_ENTERED;
    }
    *error = errno;
    platform_entry entry;
    platform_out_entry_status(parent, name.c_str(), &entry);
    if (entry.kind == PLATFORM_ENTRY_LINK)
        return FOLDER_IS_LINK;
    if (entry.kind != PLATFORM_ENTRY_DIRECTORY && entry.kind != PLATFORM_ENTRY_MISSING)
        return FOLDER_IS_NOT_ONE;
    return FOLDER_NOT_MADE;
}

// Says why the folder `path`, the first `count` parts of a member's name,
// could not be entered; `is_member` when that folder is the member itself. A
// folder that could not be made is said once.
void report_folder(extraction *job, const name_parts &parts, const std::string &path,
                   bool is_member, folder_outcome outcome, int error) {
    platform_entry link = {};
    link.kind = PLATFORM_ENTRY_LINK;
    if (outcome == FOLDER_IS_LINK) {
        refuse_link(path, link);
    } else if (outcome == FOLDER_IS_NOT_ONE && !is_member) {
        report_error("can't create '%s': %s ('%s')", local_path(*job, parts, parts.size()).c_str(),
                     std::strerror(ENOTDIR), path.c_str());
    } else {
        report_system_error(outcome == FOLDER_IS_NOT_ONE ? EEXIST : error,
                            "can't create the folder '%s'", path.c_str());
        if (outcome == FOLDER_NOT_MADE)
            remember_failed_folder(job, path);
    }
}

// The folder of the first `count` parts of a member's name, entered from the
// folders held for the member before: those it shares with that one's way are
// kept open, the others closed, the rest opened (and made where missing). Null
// after saying why when a part can't be entered.
const platform_out_folder *enter_folder(extraction *job, const name_parts &parts, size_t count,
                                        bool is_member) {
    size_t shared = 0;
    while (shared < count && shared + 1 < job->held.size() &&
           job->held[shared + 1].name == parts[shared])
        ++shared;
    while (job->held.size() > shared + 1) {
        platform_close_out_folder(&job->held.back().folder);
        job->held.pop_back();
    }
    for (size_t part = shared; part < count; ++part) {
        std::string path = local_path(*job, parts, part + 1);
        if (is_failed_folder(*job, path))
            return nullptr;
        held_folder next;
        next.name = parts[part];
        int error = 0;
        folder_outcome outcome =
            open_or_make_folder(&job->held.back().folder, next.name, &next.folder, &error);
        if (outcome != FOLDER_ENTERED) {
            report_folder(job, parts, path, is_member && part + 1 == parts.size(), outcome, error);
            return nullptr;
        }
        job->held.push_back(next);
    }
    return &job->held.back().folder;
}

bool is_the_archive(const extraction &job, const platform_entry &entry) {
    return entry.kind == PLATFORM_ENTRY_FILE && platform_same_entry(entry, job.archive);
}

// Judges what has the member's own name, `name` in `folder`, once its data
// is whole in a temporary file; `path` names it in messages. True when the
// member may replace it.
bool may_replace(const extraction &job, const platform_out_folder *folder, const char *name,
                 const std::string &path) {
    platform_entry entry;
    platform_out_entry_status(folder, name, &entry);
    if (refuse_link(path, entry))
        return false;
    if (entry.kind == PLATFORM_ENTRY_DIRECTORY) {
        report_system_error(EISDIR, "can't create '%s'", path.c_str());
        return false;
    }
    if (is_the_archive(job, entry)) {
        report_error("can't create '%s': it is the file being extracted", path.c_str());
        return false;
    }
    // The stub would write into a FIFO or a device at the name, or fail to
    // open a read-only file; neither is replaced behind the user's back.
    if (entry.kind == PLATFORM_ENTRY_OTHER) {
        report_error("can't create '%s': a FIFO, socket or device is there", path.c_str());
        return false;
    }
    if (entry.kind == PLATFORM_ENTRY_FILE && platform_is_read_only(path.c_str())) {
        report_error("can't create '%s': a read-only file is there", path.c_str());
        return false;
    }
    return true;
}

enum place_result {
    PLACE_DONE,
    PLACE_REFUSED, // what has the name may not be replaced; said why
    PLACE_FAILED,  // see errno
    PLACE_SWAPPED, // the name holds another file than the one written
};

place_result place_result_of(platform_placing placing) {
    if (placing == PLATFORM_PLACED)
        return PLACE_DONE;
    return placing == PLATFORM_SWAPPED ? PLACE_SWAPPED : PLACE_FAILED;
}

// Gives the whole temporary file the member's name. A name no entry has
// yet, as in a fresh folder, is taken in one step; only a name in use is
// looked at, so a link, a folder or the archive is never replaced.
place_result place_member(extraction *job, const platform_out_folder *folder, const char *name,
                          const std::string &path) {
    platform_placing placing = platform_place_out(folder, &job->file, name);
    if (placing != PLATFORM_NAME_TAKEN)
        return place_result_of(placing);
    if (!may_replace(*job, folder, name, path))
        return PLACE_REFUSED;
    return place_result_of(platform_replace_out(folder, &job->file, name));
}

// The start of the temporary file's name. The file goes into the member's own
// folder, so that the rename stays on one volume; a short name of its own
// keeps it within the length a folder entry may have, whatever the member's.
constexpr const char *TEMPORARY_PREFIX = ".sfxpack-part";

// Begins one file member. Its data goes to a fresh file beside it, renamed
// onto the member's name only when whole (end_file), so a failure or an
// interruption never leaves a partial file and a file already there keeps its
// bytes until then. The executable flag of the member's check gives the file
// its mode at creation. A member that can't be begun is passed over.
visit_step begin_file(extraction *job, const name_parts &parts, const walked_member *member) {
    job->path = local_path(*job, parts, parts.size());
    size_t folder_parts = parts.empty() ? 0 : parts.size() - 1;
    job->folder = enter_folder(job, parts, folder_parts, false);
    if (job->folder == nullptr)
        return VISIT_SKIP;
    job->name = parts.empty() ? "." : parts.back();
    if (!platform_create_out_file(job->folder, TEMPORARY_PREFIX,
                                  member_is_executable(&member->check), &job->file)) {
        report_system_error(errno, "can't create '%s'", job->path.c_str());
        return VISIT_SKIP;
    }
    job->write_error = 0;
    return VISIT_DATA;
}

bool write_data(void *context, const walked_member *, const char *chunk, size_t length) {
    extraction *job = static_cast<extraction *>(context);
    if (platform_write_out(job->file.descriptor, chunk, length))
        return true;
    job->write_error = errno;
    return false;
}

// Ends a file member: the temporary file is closed and, when it holds the
// member whole, given the member's name; otherwise it is removed. False only
// when the archive's data could not be read, which ends the walk; a member
// that could not be written is reported and the walk goes on.
bool end_file(void *context, walked_member *member, member_data_result result) {
    extraction *job = static_cast<extraction *>(context);
    if (!platform_close_out(&job->file) && (result == MEMBER_WHOLE || result == MEMBER_DAMAGED)) {
        result = MEMBER_REFUSED;
        job->write_error = errno;
    }
    place_result placed = PLACE_FAILED;
    if (result == MEMBER_WHOLE) {
        placed = place_member(job, job->folder, job->name.c_str(), job->path);
        job->write_error = errno;
    }
    platform_discard_out(job->folder, &job->file);
    if (placed == PLACE_DONE)
        return true;
    if (result == MEMBER_DATA_MISSING) {
        report_error("can't read the data of '%s'; nothing after it is read", job->path.c_str());
        return false;
    }
    if (result == MEMBER_DAMAGED) {
        // Inside a container the decoder may find the data damaged before
        // all of it came: then no check value was compared.
        report_error("'%s' is damaged: %s; it is not extracted", job->path.c_str(),
                     member->remaining == 0 ? "its data does not give its check value"
                                            : "its compressed data is damaged");
        return true;
    }
    if (placed == PLACE_SWAPPED) {
        // What took the member's name is someone else's file, not its data.
        platform_remove_out(job->folder, job->name.c_str());
        report_error("'%s' is not the member written: another file took the place of its "
                     "temporary file; it is removed",
                     job->path.c_str());
        return true;
    }
    if (placed == PLACE_FAILED)
        report_system_error(job->write_error, "can't write '%s'", job->path.c_str());
    return true;
}

visit_step begin_member(void *context, walked_member *member) {
    extraction *job = static_cast<extraction *>(context);
    const member_record *record = &member->record;
    name_parts parts;
    if (!local_name_parts(job->names, record->name, &parts)) {
        report_error("'%s' is not a name in code page %d; it is passed over",
                     shown_name(job->names, record->name).c_str(), job->names.codepage);
        return VISIT_SKIP;
    }
    if (job->verbose) {
        std::string shown = parts.empty() ? "." : join_parts(parts, parts.size(), '/');
        std::printf("%s%s\n", shown.c_str(), record->kind == KIND_DIRECTORY ? "/" : "");
    }
    if (record->kind == KIND_FILE)
        return begin_file(job, parts, member);
    // A directory's check value covers its record alone.
    if (member_check_failed(&member->check))
        report_error("'%s' is damaged: its record does not give its check value; it is not "
                     "created",
                     local_path(*job, parts, parts.size()).c_str());
    else
        enter_folder(job, parts, parts.size(), true);
    return VISIT_SKIP;
}

bool check_destination(const std::string &directory) {
    platform_entry entry;
    if (!platform_entry_status(directory.c_str(), true, &entry)) {
        report_system_error(entry.error_number, "can't extract into '%s'", directory.c_str());
        return false;
    }
    if (entry.kind != PLATFORM_ENTRY_DIRECTORY) {
        report_system_error(ENOTDIR, "can't extract into '%s'", directory.c_str());
        return false;
    }
    return true;
}

// Opens the extraction folder as the first held folder; false after saying why.
bool hold_root(extraction *job, const std::string &directory) {
    held_folder root;
    if (!platform_open_out_root(directory.c_str(), &root.folder)) {
        report_system_error(errno, "can't extract into '%s'", directory.c_str());
        return false;
    }
    job->held.push_back(root);
    return true;
}

void release_folders(extraction *job) {
    for (held_folder &held : job->held)
        platform_close_out_folder(&held.folder);
    job->held.clear();
}

// Between opening the file and walking it: the extraction folder is checked
// and held; the file's status is kept, so that no member replaces it.
bool prepare_extraction(void *context, const platform_entry *archive) {
    extraction *job = static_cast<extraction *>(context);
    job->archive = *archive;
    if (!job->directory.empty() && !check_destination(job->directory))
        return false;
    return hold_root(job, job->directory);
}

} // namespace

int run_extract(const pack_options &options) {
    start_reported_run();
    extraction job;
    job.verbose = options.verbose;
    job.file.name[0] = '\0';
    job.directory = options.directory;
    job.root = options.directory;
    if (!job.root.empty() && job.root.back() != '/' && job.root.back() != '\\')
        job.root += '/';
    walk_visitor visitor = {begin_member, write_data, end_file, &job};
    // Small writes: on a virtual machine whose free memory went back to its
    // host, writes of 64 KiB or more make the page cache take large blocks of
    // such memory and a 512 MiB member took up to twice as long as with 16 KiB.
    std::vector<char> buffer(COPY_CHUNK);
    int64_t members = 0;
    archive_extent extent;
    int status =
        walk_archive_file(options.extracted.c_str(), options.codepage, &job.names,
                          walk_buffer{buffer.data(), buffer.size()}, &visitor, prepare_extraction,
                          "there is nothing to extract", &members, &extent, nullptr);
    release_folders(&job);
    return status != 0 ? status : reported_run_status();
}
