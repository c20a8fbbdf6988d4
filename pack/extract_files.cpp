// SPDX-License-Identifier: Zlib
#include "extract_files.h"

#include "archive_reader.h"
#include "archive_walk.h"
#include "codepage.h"
#include "member_extension.h"
#include "pack_messages.h"
#include "platform_extract.h"
#include "platform_pack.h"
#include "stub_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// Bytes moved by one read and one write while a member's data is copied.
// Small writes: on a virtual machine whose free memory went back to its host,
// writes of 64 KiB or more make the page cache take large blocks of such
// memory and a 512 MiB member took up to twice as long as with 16 KiB.
constexpr size_t EXTRACT_CHUNK = 16 * 1024;

// A folder on the way of the member written last, held open for the next.
struct held_folder {
    std::string name; // its part of the member's name; "" for the extraction folder
    platform_out_folder folder;
};

// What -x knows and keeps while it recreates the members of one file.
struct extraction {
    std::string root; // the extraction folder ending in '/', or empty for the current one
    bool verbose;
    // The extraction folder, then each folder on the last member's way.
    std::vector<held_folder> held;
    name_storing names;     // how the stub at the file's front reads the stored names
    platform_entry archive; // the file being read, never to be replaced by a member
    bool all_whole;         // cleared by the first member that did not come out whole
    char temp_name[256];    // the name of the last temporary file, "" before the first
    // Folders that could not be created, each reported once: the members
    // below one are passed over without a message of their own.
    std::set<std::string> failed_folders;
    std::vector<char> buffer;
};

enum copy_result {
    COPY_DONE,
    COPY_ARCHIVE_SHORT, // the archive ended or failed inside the member's data
    COPY_NOT_WRITTEN,   // the member's file refused a write; see errno
    COPY_DAMAGED,       // the member's check value does not match its data
};

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
            job->failed_folders.insert(path);
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
        if (job->failed_folders.count(path) != 0)
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

copy_result copy_member_data(FILE *archive, int out, int32_t size, std::vector<char> *buffer,
                             member_check *check) {
    int64_t remaining = size;
    while (remaining > 0) {
        size_t chunk = remaining < static_cast<int64_t>(buffer->size())
                           ? static_cast<size_t>(remaining)
                           : buffer->size();
        if (std::fread(buffer->data(), 1, chunk, archive) != chunk)
            return COPY_ARCHIVE_SHORT;
        continue_member_check(check, buffer->data(), chunk);
        if (!platform_write_out(out, buffer->data(), chunk))
            return COPY_NOT_WRITTEN;
        remaining -= static_cast<int64_t>(chunk);
    }
    return COPY_DONE;
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
};

// Gives the whole temporary file `temp_name` the member's name. A name no
// entry has yet, as in a fresh folder, is taken in one move; only a name in
// use is looked at, so a link, a folder or the archive is never replaced.
place_result place_member(const extraction &job, const platform_out_folder *folder,
                          const char *temp_name, const char *name, const std::string &path) {
    if (platform_place_out(folder, temp_name, name))
        return PLACE_DONE;
    if (errno != EEXIST)
        return PLACE_FAILED;
    if (!may_replace(job, folder, name, path))
        return PLACE_REFUSED;
    return platform_replace_out(folder, temp_name, name) ? PLACE_DONE : PLACE_FAILED;
}

// The start of the temporary file's name. The file goes into the member's own
// folder, so that the rename stays on one volume; a short name of its own
// keeps it within the length a folder entry may have, whatever the member's.
constexpr const char *TEMPORARY_PREFIX = ".sfxpack-part";

// Copies the member's data into the open temporary file `out`, checking it
// on the way, and closes it.
copy_result write_temporary(int out, FILE *archive, int32_t size, std::vector<char> *buffer,
                            member_check *check, int *write_error) {
    copy_result result = copy_member_data(archive, out, size, buffer, check);
    *write_error = errno;
    if (!platform_close_out(out) && result == COPY_DONE) {
        result = COPY_NOT_WRITTEN;
        *write_error = errno;
    }
    if (result == COPY_DONE && member_check_failed(check))
        result = COPY_DAMAGED;
    return result;
}

// Writes one file member. Its data goes to a fresh file beside it, renamed
// onto the member's name only when whole, so a failure or an interruption
// never leaves a partial file and a file already there keeps its bytes until
// then. False only when the archive's data could not be read, which ends the
// walk; a member that could not be written leaves all_whole cleared and the
// walk goes on. `check` is begun on the member's record; the executable flag
// it read gives the file its mode at creation.
bool extract_file(extraction *job, const name_parts &parts, const member_record *record,
                  member_check *check, FILE *archive) {
    std::string path = local_path(*job, parts, parts.size());
    size_t folder_parts = parts.empty() ? 0 : parts.size() - 1;
    const platform_out_folder *folder = enter_folder(job, parts, folder_parts, false);
    if (folder == nullptr) {
        job->all_whole = false;
        return true;
    }
    const char *name = parts.empty() ? "." : parts.back().c_str();
    char *temp_name = job->temp_name;
    int out = platform_create_out_file(folder, TEMPORARY_PREFIX, member_is_executable(check),
                                       temp_name, sizeof job->temp_name);
    if (out < 0) {
        report_system_error(errno, "can't create '%s'", path.c_str());
        job->all_whole = false;
        return true;
    }
    platform_remove_on_interrupt_in(folder, temp_name);
    int write_error = 0;
    copy_result result =
        write_temporary(out, archive, record->size, &job->buffer, check, &write_error);
    place_result placed = PLACE_FAILED;
    if (result == COPY_DONE) {
        placed = place_member(*job, folder, temp_name, name, path);
        write_error = errno;
    }
    if (placed != PLACE_DONE)
        platform_remove_out(folder, temp_name);
    platform_remove_on_interrupt(nullptr);
    if (placed == PLACE_DONE)
        return true;
    job->all_whole = false;
    if (result == COPY_ARCHIVE_SHORT) {
        report_error("can't read the data of '%s'; nothing after it is read", path.c_str());
        return false;
    }
    if (result == COPY_DAMAGED) {
        report_error("'%s' is damaged: its data does not give its check value; it is not "
                     "extracted",
                     path.c_str());
        return true;
    }
    if (placed == PLACE_FAILED)
        report_system_error(write_error, "can't write '%s'", path.c_str());
    return true;
}

bool extract_member(const member_record *record, FILE *archive, void *context) {
    extraction *job = static_cast<extraction *>(context);
    name_parts parts;
    if (!local_name_parts(job->names, record->name, &parts)) {
        report_error("'%s' is not a name in code page %d; it is passed over",
                     shown_name(job->names, record->name).c_str(), job->names.codepage);
        job->all_whole = false;
        return true;
    }
    if (job->verbose) {
        std::string shown = parts.empty() ? "." : join_parts(parts, parts.size(), '/');
        std::printf("%s%s\n", shown.c_str(), record->kind == KIND_DIRECTORY ? "/" : "");
    }
    // A directory's check value covers its record alone.
    member_check check = begin_member_check(record);
    if (record->kind == KIND_DIRECTORY && member_check_failed(&check)) {
        report_error("'%s' is damaged: its record does not give its check value; it is not "
                     "created",
                     local_path(*job, parts, parts.size()).c_str());
        job->all_whole = false;
        return true;
    }
    if (record->kind == KIND_FILE)
        return extract_file(job, parts, record, &check, archive);
    if (enter_folder(job, parts, parts.size(), true) == nullptr)
        job->all_whole = false;
    return true;
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

} // namespace

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

int run_extract(const pack_options &options) {
    const char *path = options.extracted.c_str();
    extraction job;
    archive_extent extent;
    FILE *archive = open_checked_archive(path, &job.archive, &extent);
    if (archive == nullptr)
        return 1;
    job.verbose = options.verbose;
    job.all_whole = true;
    job.temp_name[0] = '\0';
    job.buffer.resize(EXTRACT_CHUNK);
    if (!options.directory.empty()) {
        if (!check_destination(options.directory)) {
            std::fclose(archive);
            return 1;
        }
        job.root = options.directory;
        if (job.root.back() != '/' && job.root.back() != '\\')
            job.root += '/';
    }
    if (!names_of_archive(archive, path, options.codepage, &job.names)) {
        std::fclose(archive);
        return 2; // a code page asked for where names are not in one
    }
    if (!hold_root(&job, options.directory)) {
        std::fclose(archive);
        return 1;
    }
    int members = 0;
    bool whole =
        walk_archive(archive, path, extent.end, job.names.rules, extract_member, &job, &members);
    std::fclose(archive);
    release_folders(&job);
    if (whole && members == 0) {
        report_error("'%s' holds no members; there is nothing to extract", path);
        return 1;
    }
    return whole && job.all_whole ? 0 : 1;
}
