#include "extract_files.h"

#include "archive_reader.h"
#include "archive_walk.h"
#include "codepage.h"
#include "pack_messages.h"
#include "platform.h"
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

struct extractor {
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
};

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
    const char *part = stored;
    for (;;) {
        size_t length = std::strcspn(part, "/\\");
        std::string text(part, length);
        if (!text.empty() && text != ".")
            parts->push_back(text);
        if (part[length] == '\0')
            return true;
        part += length + 1;
    }
}

std::string local_path(const extractor &x, const name_parts &parts, size_t count) {
    std::string path = x.root + join_parts(parts, count, '/');
    return path.empty() ? "." : path;
}

// IMPORTANT SECURITY NOTE: the judge keeps every name inside the extraction
// folder, but a symbolic link already in it could still lead out. So no link
// is followed: a member whose path passes through or ends on one is refused.
bool refuse_link(const std::string &path, const platform_entry &entry) {
    if (entry.kind != PLATFORM_ENTRY_LINK)
        return false;
    report_error("'%s' is a symbolic link; -x never follows or replaces one", path.c_str());
    return true;
}

// Creates the folder `path`, or says once why it can't.
bool create_folder(extractor *x, const std::string &path) {
    if (x->failed_folders.count(path) != 0)
        return false;
    if (platform_create_directory(path.c_str()))
        return true;
    report_error("can't create the folder '%s': %s", path.c_str(), std::strerror(errno));
    x->failed_folders.insert(path);
    return false;
}

// Every folder on the member's way must be a real folder; missing ones are
// made, so a member comes out even when its folder had no record of its own.
bool make_parents(extractor *x, const name_parts &parts) {
    for (size_t count = 1; count < parts.size(); ++count) {
        std::string path = local_path(*x, parts, count);
        if (x->failed_folders.count(path) != 0)
            return false;
        platform_entry entry;
        platform_entry_status(path.c_str(), false, &entry);
        if (refuse_link(path, entry))
            return false;
        if (entry.kind == PLATFORM_ENTRY_DIRECTORY)
            continue;
        if (entry.kind != PLATFORM_ENTRY_MISSING) {
            report_error("can't create '%s': %s ('%s')",
                         local_path(*x, parts, parts.size()).c_str(), std::strerror(ENOTDIR),
                         path.c_str());
            return false;
        }
        if (!create_folder(x, path))
            return false;
    }
    return true;
}

bool extract_directory(extractor *x, const name_parts &parts) {
    std::string path = local_path(*x, parts, parts.size());
    platform_entry entry;
    platform_entry_status(path.c_str(), false, &entry);
    if (refuse_link(path, entry))
        return false;
    return create_folder(x, path);
}

copy_result copy_member_data(FILE *archive, FILE *out, int32_t size, std::vector<char> *buffer) {
    int64_t remaining = size;
    while (remaining > 0) {
        size_t chunk = remaining < static_cast<int64_t>(buffer->size())
                           ? static_cast<size_t>(remaining)
                           : buffer->size();
        if (std::fread(buffer->data(), 1, chunk, archive) != chunk)
            return COPY_ARCHIVE_SHORT;
        if (std::fwrite(buffer->data(), 1, chunk, out) != chunk)
            return COPY_NOT_WRITTEN;
        remaining -= static_cast<int64_t>(chunk);
    }
    return COPY_DONE;
}

bool is_the_archive(const extractor &x, const platform_entry &entry) {
    return entry.kind == PLATFORM_ENTRY_FILE && (entry.volume != 0 || entry.index != 0) &&
           entry.volume == x.archive.volume && entry.index == x.archive.index;
}

// Checks what is at the member's own name before its data is written.
bool may_create_file(const extractor &x, const std::string &path) {
    platform_entry entry;
    platform_entry_status(path.c_str(), false, &entry);
    if (refuse_link(path, entry))
        return false;
    if (entry.kind == PLATFORM_ENTRY_DIRECTORY) {
        report_error("can't create '%s': %s", path.c_str(), std::strerror(EISDIR));
        return false;
    }
    if (is_the_archive(x, entry)) {
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
std::string temporary_near(const extractor &x, const name_parts &parts) {
    size_t folder_parts = parts.empty() ? 0 : parts.size() - 1;
    std::string folder = x.root + join_parts(parts, folder_parts, '/');
    if (folder_parts > 0)
        folder += '/';
    return folder + ".sfxpack-part";
}

// Copies the member's data into the open temporary file `out` and closes it.
copy_result write_temporary(FILE *out, FILE *archive, int32_t size, std::vector<char> *buffer,
                            int *write_error) {
    std::setvbuf(out, nullptr, _IONBF, 0);
    copy_result result = copy_member_data(archive, out, size, buffer);
    *write_error = errno;
    if (std::fclose(out) != 0 && result == COPY_DONE) {
        result = COPY_NOT_WRITTEN;
        *write_error = errno;
    }
    return result;
}

// Writes one file member. Its data goes to a fresh file beside it, renamed
// onto the member's name only when whole, so a failure or an interruption
// never leaves a partial file and a file already there keeps its bytes until
// then. False only when the archive's data could not be read, which ends the
// walk; a member that could not be written leaves all_whole cleared and the
// walk goes on.
bool extract_file(extractor *x, const name_parts &parts, const member_record *record,
                  FILE *archive) {
    std::string path = local_path(*x, parts, parts.size());
    if (!may_create_file(*x, path)) {
        x->all_whole = false;
        return true;
    }
    char temp_path[4096];
    FILE *out =
        platform_create_temp_file(temporary_near(*x, parts).c_str(), temp_path, sizeof temp_path);
    if (out == nullptr) {
        report_error("can't create '%s': %s", path.c_str(), std::strerror(errno));
        x->all_whole = false;
        return true;
    }
    platform_remove_on_interrupt(temp_path);
    int write_error = 0;
    copy_result result = write_temporary(out, archive, record->size, &x->buffer, &write_error);
    bool placed = result == COPY_DONE && platform_make_ordinary(temp_path) &&
                  platform_replace_file(temp_path, path.c_str());
    if (result == COPY_DONE && !placed)
        write_error = errno;
    if (!placed)
        platform_remove(temp_path);
    platform_remove_on_interrupt(nullptr);
    if (placed)
        return true;
    x->all_whole = false;
    if (result == COPY_ARCHIVE_SHORT) {
        report_error("can't read the data of '%s'; nothing after it is read", path.c_str());
        return false;
    }
    report_error("can't write '%s': %s", path.c_str(), std::strerror(write_error));
    return true;
}

bool extract_member(const member_record *record, int64_t, FILE *archive, void *context) {
    extractor *x = static_cast<extractor *>(context);
    name_parts parts;
    if (!local_name_parts(x->names, record->name, &parts)) {
        report_error("'%s' is not a name in code page %d; it is passed over",
                     shown_name(x->names, record->name).c_str(), x->names.codepage);
        x->all_whole = false;
        return true;
    }
    if (x->verbose) {
        std::string shown = parts.empty() ? "." : join_parts(parts, parts.size(), '/');
        std::printf("%s%s\n", shown.c_str(), record->kind == KIND_DIRECTORY ? "/" : "");
    }
    if (!make_parents(x, parts)) {
        x->all_whole = false;
        return true;
    }
    if (record->kind == KIND_FILE)
        return extract_file(x, parts, record, archive);
    if (!extract_directory(x, parts))
        x->all_whole = false;
    return true;
}

bool check_destination(const std::string &directory) {
    platform_entry entry;
    if (!platform_entry_status(directory.c_str(), true, &entry)) {
        report_error("can't extract into '%s': %s", directory.c_str(),
                     std::strerror(entry.error_number));
        return false;
    }
    if (entry.kind != PLATFORM_ENTRY_DIRECTORY) {
        report_error("can't extract into '%s': %s", directory.c_str(), std::strerror(ENOTDIR));
        return false;
    }
    return true;
}

} // namespace

int run_extract(const pack_options &options) {
    const char *path = options.extracted.c_str();
    extractor x;
    FILE *archive = open_checked_archive(path, &x.archive);
    if (archive == nullptr)
        return 1;
    x.verbose = options.verbose;
    x.all_whole = true;
    x.buffer.resize(EXTRACT_CHUNK);
    if (!options.directory.empty()) {
        if (!check_destination(options.directory)) {
            std::fclose(archive);
            return 1;
        }
        x.root = options.directory;
        if (x.root.back() != '/' && x.root.back() != '\\')
            x.root += '/';
    }
    if (!names_of_archive(archive, path, options.codepage, &x.names)) {
        std::fclose(archive);
        return 2; // a code page asked for where names are not in one
    }
    int members = 0;
    bool whole =
        walk_archive(archive, path, x.archive.size, x.names.rules, extract_member, &x, &members);
    std::fclose(archive);
    if (whole && members == 0) {
        report_error("'%s' holds no members; there is nothing to extract", path);
        return 1;
    }
    return whole && x.all_whole ? 0 : 1;
}
