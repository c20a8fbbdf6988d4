#include "extract_files.h"

#include "archive_reader.h"
#include "archive_walk.h"
#include "codepage.h"
#include "member_extension.h"
#include "pack_messages.h"
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
constexpr size_t EXTRACT_CHUNK = 256 * 1024;

// What -x knows and keeps while it recreates the members of one file.
struct extraction {
    std::string root; // the extraction folder ending in '/', or empty for the current one
    bool verbose;
    name_storing names;     // how the stub at the file's front reads the stored names
    platform_entry archive; // the file being read, never to be replaced by a member
    bool all_whole;         // cleared by the first member that did not come out whole
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
// link already in it could still lead out. So no link
// is followed: a member whose path passes through or ends on one is refused.
bool refuse_link(const std::string &path, const platform_entry &entry) {
    if (entry.kind != PLATFORM_ENTRY_LINK)
        return false;
    report_error("'%s' is a symbolic link; -x never follows or replaces one", path.c_str());
    return true;
}

// Creates the folder `path`, or says once why it can't.
bool create_folder(extraction *job, const std::string &path) {
    if (job->failed_folders.count(path) != 0)
        return false;
    if (platform_create_directory(path.c_str()))
        return true;
    report_system_error(errno, "can't create the folder '%s'", path.c_str());
    job->failed_folders.insert(path);
    return false;
}

// Every folder on the member's way must be a real folder; missing ones are
// made, so a member comes out even when its folder had no record of its own.
bool make_parents(extraction *job, const name_parts &parts) {
    for (size_t count = 1; count < parts.size(); ++count) {
        std::string path = local_path(*job, parts, count);
        if (job->failed_folders.count(path) != 0)
            return false;
        platform_entry entry;
        platform_entry_status(path.c_str(), false, &entry);
        if (refuse_link(path, entry))
            return false;
        if (entry.kind == PLATFORM_ENTRY_DIRECTORY)
            continue;
        if (entry.kind != PLATFORM_ENTRY_MISSING) {
            report_error("can't create '%s': %s ('%s')",
                         local_path(*job, parts, parts.size()).c_str(), std::strerror(ENOTDIR),
                         path.c_str());
            return false;
        }
        if (!create_folder(job, path))
            return false;
    }
    return true;
}

bool extract_directory(extraction *job, const name_parts &parts) {
    std::string path = local_path(*job, parts, parts.size());
    platform_entry entry;
    platform_entry_status(path.c_str(), false, &entry);
    if (refuse_link(path, entry))
        return false;
    return create_folder(job, path);
}

copy_result copy_member_data(FILE *archive, FILE *out, int32_t size, std::vector<char> *buffer,
                             member_check *check) {
    int64_t remaining = size;
    while (remaining > 0) {
        size_t chunk = remaining < static_cast<int64_t>(buffer->size())
                           ? static_cast<size_t>(remaining)
                           : buffer->size();
        if (std::fread(buffer->data(), 1, chunk, archive) != chunk)
            return COPY_ARCHIVE_SHORT;
        continue_member_check(check, buffer->data(), chunk);
        if (std::fwrite(buffer->data(), 1, chunk, out) != chunk)
            return COPY_NOT_WRITTEN;
        remaining -= static_cast<int64_t>(chunk);
    }
    return COPY_DONE;
}

bool is_the_archive(const extraction &job, const platform_entry &entry) {
    return entry.kind == PLATFORM_ENTRY_FILE && platform_same_entry(entry, job.archive);
}

// Checks what is at the member's own name before its data is written.
bool may_create_file(const extraction &job, const std::string &path) {
    platform_entry entry;
    platform_entry_status(path.c_str(), false, &entry);
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

// The temporary file a member's data goes to, in the member's own folder so
// that the rename stays on one volume. A short name of its own keeps it
// within the length a folder entry may have, whatever the member's name.
std::string temporary_near(const extraction &job, const name_parts &parts) {
    size_t folder_parts = parts.empty() ? 0 : parts.size() - 1;
    std::string folder = job.root + join_parts(parts, folder_parts, '/');
    if (folder_parts > 0)
        folder += '/';
    return folder + ".sfxpack-part";
}

// Copies the member's data into the open temporary file `out`, checking it
// on the way, and closes it.
copy_result write_temporary(FILE *out, FILE *archive, int32_t size, std::vector<char> *buffer,
                            member_check *check, int *write_error) {
    std::setvbuf(out, nullptr, _IONBF, 0);
    copy_result result = copy_member_data(archive, out, size, buffer, check);
    *write_error = errno;
    if (std::fclose(out) != 0 && result == COPY_DONE) {
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
// walk goes on.
bool extract_file(extraction *job, const name_parts &parts, const member_record *record,
                  FILE *archive) {
    std::string path = local_path(*job, parts, parts.size());
    if (!may_create_file(*job, path)) {
        job->all_whole = false;
        return true;
    }
    char temp_path[4096];
    FILE *out =
        platform_create_temp_file(temporary_near(*job, parts).c_str(), temp_path, sizeof temp_path);
    if (out == nullptr) {
        report_system_error(errno, "can't create '%s'", path.c_str());
        job->all_whole = false;
        return true;
    }
    platform_remove_on_interrupt(temp_path);
    int write_error = 0;
    member_check check = begin_member_check(record);
    copy_result result =
        write_temporary(out, archive, record->size, &job->buffer, &check, &write_error);
    bool placed = result == COPY_DONE &&
                  platform_make_ordinary(temp_path, member_is_executable(&check)) &&
                  platform_replace_file(temp_path, path.c_str());
    if (result == COPY_DONE && !placed)
        write_error = errno;
    if (!placed)
        platform_remove(temp_path);
    platform_remove_on_interrupt(nullptr);
    if (placed)
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
    if (!make_parents(job, parts)) {
        job->all_whole = false;
        return true;
    }
    if (record->kind == KIND_FILE)
        return extract_file(job, parts, record, archive);
    if (!extract_directory(job, parts))
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

int run_extract(const pack_options &options) {
    const char *path = options.extracted.c_str();
    extraction job;
    FILE *archive = open_checked_archive(path, &job.archive);
    if (archive == nullptr)
        return 1;
    job.verbose = options.verbose;
    job.all_whole = true;
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
    int members = 0;
    bool whole = walk_archive(archive, path, job.archive.size, job.names.rules, extract_member,
                              &job, &members);
    std::fclose(archive);
    if (whole && members == 0) {
        report_error("'%s' holds no members; there is nothing to extract", path);
        return 1;
    }
    return whole && job.all_whole ? 0 : 1;
}
