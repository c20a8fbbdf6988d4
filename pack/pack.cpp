// SPDX-License-Identifier: Zlib
#include "pack.h"

#include "archive_reader.h"
#include "archive_writer.h"
#include "ascii_case.h"
#include "compressed_pack.h"
#include "gather.h"
#include "member_encoding.h"
#include "member_extension.h"
#include "output_buffer.h"
#include "pack_messages.h"
#include "platform_pack.h"
#include "program_image.h"
#include "signed_archive.h"
#include "stub_location.h"
#include "stub_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Below this much file data a progress figure would only flicker.
constexpr int64_t PROGRESS_THRESHOLD = INT64_C(16) * 1024 * 1024;

struct progress_state {
    int64_t total;
    int64_t done;
    int shown_percent; // -1 before the first figure
};

void report_stub_too_large(const std::string &path, long long size) {
    report_error("the stub '%s' is %lld bytes; it must fit in the first %ld bytes of the file",
                 path.c_str(), size, static_cast<long>(DECLARATION_OFFSET));
}

bool read_stub(const std::string &path, std::string *image) {
    platform_entry entry;
    if (!status_of_regular_file(path, "stub", &entry))
        return false;
    if (!stub_fits(entry.size)) {
        report_stub_too_large(path, static_cast<long long>(entry.size));
        return false;
    }
    FILE *stub = platform_open(path.c_str(), "rb");
    if (stub == nullptr) {
        report_system_error(errno, "can't read the stub '%s'", path.c_str());
        return false;
    }
    // One byte more than fits, to notice a stub that grew since its size was read.
    image->resize(static_cast<size_t>(ARCHIVE_START) + 1);
    size_t got = std::fread(&(*image)[0], 1, image->size(), stub);
    bool read_failed = std::ferror(stub) != 0;
    std::fclose(stub);
    image->resize(got);
    if (read_failed) {
        report_error("can't read the stub '%s'", path.c_str());
        return false;
    }
    if (!stub_fits(static_cast<int64_t>(got))) {
        report_stub_too_large(path, static_cast<long long>(got));
        return false;
    }
    if (got == 0) {
        report_error("the stub '%s' is empty", path.c_str());
        return false;
    }
    if (program_kind_of(image->data(), image->size()) == PROGRAM_NONE) {
        report_error("the stub '%s' is neither an ELF nor a PE program", path.c_str());
        return false;
    }
    if (is_signed_program(image->data(), image->size())) {
        report_error("the stub '%s' is signed: the extractor refuses a file whose certificate "
                     "table does not end it; pack with an unsigned stub and sign the packed file",
                     path.c_str());
        return false;
    }
    return true;
}

// True when the stub's image holds the marker of a stub that reads
// compressed containers.
bool stub_reads_containers(const std::string &stub_image) {
    return stub_image.find(std::string(STUB_CONTAINER_MARKER, STUB_CONTAINER_MARKER_SIZE)) !=
           std::string::npos;
}

// Windows programs take '\\' between name parts.
char choose_separator(const pack_options &options, name_rules rules) {
    if (options.separator != 0)
        return options.separator;
    return rules == NAME_RULES_WINDOWS ? '\\' : '/';
}

// A POSIX stub takes a backslash as part of a name: for "a\b" it creates one
// file of that name where the user expects a folder "a".
void warn_about_separator(const pack_options &options, name_rules rules) {
    if (options.separator == '\\' && rules != NAME_RULES_WINDOWS)
        report_warning("the stub is not a Windows program: with --separator=\\ it creates "
                       "files whose names hold '\\' instead of folders");
}

// Sums the members' data into `data_total`; when `plain`, refuses a file
// that would reach 2 GiB.
bool check_total_size(const std::vector<pack_member> &members, bool plain, int64_t *data_total) {
    int64_t total = ARCHIVE_START + TRAILER_SIZE;
    *data_total = 0;
    for (const pack_member &member : members) {
        total += RECORD_SIZE + member.size;
        *data_total += member.size;
    }
    return !plain || check_file_length(total);
}

// True when `name` ends in `ending`, whatever the letter case of either.
bool ends_with_ignoring_case(const std::string &name, const char *ending) {
    size_t length = std::strlen(ending);
    return name.size() >= length &&
           same_ignoring_ascii_case(name.c_str() + name.size() - length, ending, length);
}

void advance_progress(int32_t bytes, void *context) {
    progress_state *progress = static_cast<progress_state *>(context);
    progress->done += bytes;
    int percent = static_cast<int>(progress->done * 100 / progress->total);
    if (percent == progress->shown_percent)
        return;
    progress->shown_percent = percent;
    report_progress_line(percent);
}

bool copy_file_member(output_buffer *out, const std::string &output, const pack_member &member,
                      progress_state *progress, uint32_t *check) {
    int input = platform_open_input_in(member.folder, member.source);
    if (input < 0) {
        report_system_error(errno, "can't read '%s'", member_source_path(member).c_str());
        return false;
    }
    data_copy_result result =
        output_copy_from(out, input, static_cast<int32_t>(member.size),
                         progress ? advance_progress : nullptr, progress, check);
    int copy_error = errno;
    platform_close_input(input);
    if (result == DATA_SHORT)
        report_error("can't read '%s' whole: it failed or has shrunk below %lld bytes",
                     member_source_path(member).c_str(), static_cast<long long>(member.size));
    else if (result == DATA_NOT_WRITTEN)
        report_system_error(copy_error, "can't write '%s'", output.c_str());
    return result == DATA_COPIED;
}

// A record whose extension block waits for its check value until the data
// has passed.
struct pending_check {
    bool checked;
    int64_t position; // of the check value in the output
    uint32_t value;   // of what was put so far
};

bool put_record(output_buffer *out, const pack_member &member, pending_check *check) {
    unsigned char bytes[RECORD_SIZE];
    if (!encode_pack_record(member, bytes, &check->value, &check->checked))
        return false;
    check->position = output_position(out) + static_cast<int64_t>(pack_record_check_offset(member));
    return output_put(out, bytes, sizeof bytes);
}

bool finish_check(output_buffer *out, const pending_check &check) {
    if (!check.checked)
        return true;
    unsigned char value[4];
    encode_le32(check.value, value);
    return output_patch(out, check.position, value, sizeof value);
}

// Names too long to leave room for the extension block: said once, all of
// them, as those members go unchecked and lose their executable bit.
void warn_about_unchecked(const std::vector<pack_member> &members) {
    std::string names;
    int count = 0;
    for (const pack_member &member : members) {
        if (has_room_for_check(member))
            continue;
        names += (count++ == 0 ? "'" : ", '") + std::string(member.name) + "'";
    }
    if (count > 0)
        report_warning("names over %d bytes leave no room for a check value; packed unchecked: %s",
                       static_cast<int>(LONGEST_CHECKED_NAME), names.c_str());
}

// read_stub made sure the stub fits. Every member whose name leaves room
// gets its block, as the declaration says; a file of containers declares the
// version that holds them, so a stub that predates them refuses it.
bool put_stub_and_filler(output_buffer *out, const std::string &stub_image, bool compress) {
    unsigned char declaration[DECLARATION_SIZE];
    encode_layout_declaration(compress ? CONTAINER_LAYOUT_VERSION : PLAIN_LAYOUT_VERSION,
                              declaration);
    return output_put(out, stub_image.data(), stub_image.size()) &&
           output_repeat(out, FILLER_BYTE, filler_after_stub(stub_image.size())) &&
           output_put(out, declaration, sizeof declaration);
}

bool put_length_trailer(output_buffer *out) {
    unsigned char trailer[TRAILER_SIZE];
    return encode_length_trailer(output_position(out), trailer) &&
           output_put(out, trailer, sizeof trailer);
}

// The members one after the other, as the plain layout has them.
bool put_plain_members(output_buffer *out, const std::string &output,
                       const std::vector<pack_member> &members, progress_state *progress) {
    for (const pack_member &member : members) {
        pending_check check;
        if (!put_record(out, member, &check)) {
            report_system_error(errno, "can't write '%s'", output.c_str());
            return false;
        }
        if (member.kind == KIND_FILE && !copy_file_member(out, output, member, progress,
                                                          check.checked ? &check.value : nullptr))
            return false;
        if (!finish_check(out, check)) {
            report_system_error(errno, "can't write '%s'", output.c_str());
            return false;
        }
    }
    return true;
}

// What the file is to hold and how.
struct pack_plan {
    const std::string *stub_image;
    const std::vector<pack_member> *members; // in the order they are put
    bool compress;
    int level;
    progress_state *progress; // null: no progress line
};

// The whole file through `out`; false after a message on standard error.
bool put_everything(output_buffer *out, const std::string &output, const pack_plan &plan) {
    if (!put_stub_and_filler(out, *plan.stub_image, plan.compress)) {
        report_system_error(errno, "can't write '%s'", output.c_str());
        return false;
    }
    if (!(plan.compress
              ? put_containers(out, output, *plan.members, plan.level, plan.progress != nullptr)
              : put_plain_members(out, output, *plan.members, plan.progress)))
        return false;
    if (!put_length_trailer(out) || !output_flush(out)) {
        report_system_error(errno, "can't write '%s'", output.c_str());
        return false;
    }
    return true;
}

// Puts the whole file written in place of the output, then ends the work on it.
bool place_output(const std::string &output, const platform_out_folder *folder,
                  const std::string &name, platform_out_file *file) {
    bool closed = platform_close_out(file);
    bool ok = closed && platform_make_out_executable(file);
    if (!closed)
        report_system_error(errno, "can't write '%s'", output.c_str());
    else if (!ok)
        report_system_error(errno, "can't make '%s' executable", output.c_str());
    platform_placing placed =
        ok ? platform_place_out(folder, file, name.c_str()) : PLATFORM_NOT_PLACED;
    if (placed == PLATFORM_NAME_TAKEN)
        placed = platform_replace_out(folder, file, name.c_str());
    if (ok && placed == PLATFORM_NOT_PLACED)
        report_system_error(errno, "can't write '%s'", output.c_str());
    if (placed == PLATFORM_SWAPPED) {
        report_error("'%s' is not the file written: another took the place of its temporary "
                     "file; it is removed",
                     output.c_str());
        platform_remove_out(folder, name.c_str());
    }
    platform_discard_out(folder, file);
    return placed == PLATFORM_PLACED;
}

// Everything goes to a new file beside the output that takes the output's
// name only when whole, so a refusal, a failure or an interruption never
// leaves a broken file behind; where the system allows, that file has no
// name until then, so not even a signal no program can catch leaves one.
bool write_output(const std::string &output, const pack_plan &plan) {
    platform_out_folder folder;
    std::string name;
    if (!platform_open_folder_of(output.c_str(), &folder, &name)) {
        report_system_error(errno, "can't create a file beside '%s'", output.c_str());
        return false;
    }
    platform_out_file file;
    file.name[0] = '\0';
    FILE *stream = nullptr;
    if (!platform_create_out_file(&folder, name.c_str(), false, &file) ||
        (stream = platform_out_stream(&file)) == nullptr) {
        report_system_error(errno, "can't create a file beside '%s'", output.c_str());
        platform_discard_out(&folder, &file);
        platform_close_out_folder(&folder);
        return false;
    }
    output_buffer out;
    output_start(&out, stream);
    bool ok = put_everything(&out, output, plan);
    if (ok)
        ok = place_output(output, &folder, name, &file);
    platform_discard_out(&folder, &file);
    platform_close_out_folder(&folder);
    return ok;
}

bool gather_for(const pack_options &options, const name_storing &names, member_list *list) {
    // Nothing is open yet: release_members must find nothing to close.
    list->inputs = platform_folder{"", -1};
    gather_settings settings;
    settings.names = names;
    settings.directory = options.directory;
    settings.notice = options.notice;
    settings.separator = choose_separator(options, names.rules);
    settings.follow_links = options.follow_links;
    settings.has_output = platform_entry_status(options.output.c_str(), true, &settings.output) &&
                          settings.output.kind == PLATFORM_ENTRY_FILE;
    if (!gather_members(settings, options.paths, list))
        return false;
    if (list->members.empty()) {
        report_error("nothing to pack: the PATHs hold no files or directories");
        return false;
    }
    return true;
}

} // namespace

int run_pack(const pack_options &options) {
    start_reported_run();
    std::string stub_path = options.stub;
    int missing_status = 1;
    if (stub_path.empty() &&
        !(options.target.empty() ? find_native_stub(&stub_path)
                                 : find_target_stub(options.target, &stub_path, &missing_status)))
        return missing_status;
    std::string stub_image;
    if (!read_stub(stub_path, &stub_image))
        return 1;
    name_rules rules = stub_name_rules(stub_image.data(), stub_image.size());
    // Names are stored in a code page only for a Windows stub; for any other
    // they stay the bytes the file system gave, and asking for one is a
    // mistake on the command line.
    name_storing names;
    if (!choose_name_storing(rules, options.codepage, &names)) {
        report_error("--codepage is for a Windows stub; names for this stub stay as they are");
        return 2;
    }
    warn_about_separator(options, rules);
    if (options.compress && !stub_reads_containers(stub_image)) {
        report_error("-z needs a stub that reads compressed members; '%s' does not",
                     stub_path.c_str());
        return 2;
    }
    member_list list;
    int64_t data_total = 0;
    // A compressed file's length is known only once it is compressed.
    if (!gather_for(options, names, &list) ||
        !check_total_size(list.members, !options.compress, &data_total)) {
        release_members(&list);
        return 1;
    }
    // The stub finds its own file under any name; only Windows itself starts
    // a program by its name alone when that ends in .exe or .com.
    if (rules == NAME_RULES_WINDOWS && !ends_with_ignoring_case(options.output, ".exe") &&
        !ends_with_ignoring_case(options.output, ".com"))
        report_warning("'%s' does not end in .exe or .com, which Windows needs to start it "
                       "as a program",
                       options.output.c_str());
    warn_about_unchecked(list.members);
    progress_state progress = {data_total, 0, -1};
    bool show_progress = data_total >= PROGRESS_THRESHOLD && platform_is_terminal(stderr);
    std::vector<pack_member> ordered;
    if (options.compress)
        ordered = compression_order(list.members, choose_separator(options, rules));
    pack_plan plan = {&stub_image, options.compress ? &ordered : &list.members, options.compress,
                      options.level, show_progress ? &progress : nullptr};
    bool written = write_output(options.output, plan);
    release_members(&list);
    end_progress_line();
    // Every way to fail was reported.
    return written ? reported_run_status() : 1;
}
