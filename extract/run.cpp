// SPDX-License-Identifier: Zlib
#include "run.h"

#include "archive_reader.h"
#include "ascii_case.h"
#include "closing_notice.h"
#include "console.h"
#include "container_walk.h"
#include "layout_declaration.h"
#include "member_output.h"
#include "member_walk.h"
#include "platform_stub.h"
#include "signed_file.h"

#include <cstdlib>
#include <cstring>

// True when `path` holds ".EXE" anywhere. A loop of its own: the library's
// substring search would bring a kilobyte of general code into the stub.
static bool holds_exe_text(const char *path) {
    for (; *path != '\0'; ++path)
        if (std::strncmp(path, ".EXE", 4) == 0)
            return true;
    return false;
}

// The name shown and opened: the start name upper-cased (ASCII letters only),
// with ".EXE" appended when it holds ".EXE" nowhere. Null when out of memory.
static char *make_program_path(const char *start_name) {
    size_t length = std::strlen(start_name);
    char *path = static_cast<char *>(std::malloc(length + sizeof ".EXE"));
    if (path == nullptr)
        return nullptr;
    for (size_t i = 0; i <= length; ++i)
        path[i] = ascii_upper(start_name[i]);
    if (!holds_exe_text(path))
        std::strcat(path, ".EXE");
    return path;
}

// The copy buffer is held until the process ends, never freed. A global keeps
// it reachable after the run returns, so leak checkers see a buffer held on
// purpose, not one lost; volatile keeps the compiler from dropping the store.
static char *volatile held_copy_buffer;

// sfxpack -z takes a stub only when its image holds these bytes. The store
// of their address keeps them through link-time optimisation and the
// linker's removal of unused sections.
static const char *volatile held_container_marker;

// Reads the archive through the stream unbuffered: the walk's copy buffer does
// the reading ahead. The console text held so far goes out first, so it is on
// the console whenever the program waits for the archive.
static long read_archive(void *source, char *buffer, size_t length) {
    show_held_text();
    return read_bounded_stream(source, buffer, length);
}

// The walk's end as the stub reports it: a walk inside a container that
// ended early is reported as the walk itself, damage to a container as
// damage to data. False when the memory for a container could not be had.
static bool take_container_end(const container_reader *reader, walk_outcome *outcome) {
    if (reader->failure == CONTAINER_NO_MEMORY)
        return false;
    if (reader->failure == CONTAINER_INNER_END)
        *outcome = reader->inner;
    else if (reader->failure != CONTAINER_NONE)
        outcome->end = WALK_INPUT_DAMAGED;
    return true;
}

// Reads through the copy buffer and never seeks: the walk only keeps the
// offsets, so that each record's size is judged against the bytes after it.
void walk_members(FILE *archive, int64_t archive_end, char *copy_buffer, run_flags *flags) {
    if (!seek_layout_declaration(archive))
        return;
    // Nothing after the archive's end is read: a signed file's certificate
    // table follows it.
    bounded_stream bounded = {archive, archive_end - DECLARATION_OFFSET};
    walk_input input = {read_archive, nullptr, &bounded};
    int version = UNDECLARED_LAYOUT;
    // A declaration that is damaged, or newer than this stub, stops the run
    // as a bad record does.
    if (read_layout_declaration(input, &version) != DECLARATION_GOOD) {
        flags->record_seen = true;
        report_bad_record();
        flags->error = true;
        return;
    }
    member_output output = {nullptr, 0};
    walk_visitor visitor = member_output_visitor(&output);
    // The members inside a container come in the same chunks as in a plain
    // file, so a run shows the same progress figures.
    container_reader reader;
    start_container_reader(&reader, &visitor, platform_name_rules(), COPY_CHUNK);
    walk_visitor outer = container_reader_visitor(&reader);
    walk_outcome outcome =
        walk_members_of(input, walk_buffer{copy_buffer, COPY_CHUNK}, ARCHIVE_START,
                        archive_end - TRAILER_SIZE, platform_name_rules(), &outer);
    end_container_reader(&reader);
    // Containers walked through whole are no members of their own: one
    // that holds none leaves nothing to extract, as an empty plain file.
    int64_t members = outcome.members - reader.containers + reader.members;
    if (members != 0 || outcome.end != WALK_AT_END)
        flags->record_seen = true;
    if (!take_container_end(&reader, &outcome)) {
        report_no_memory();
        flags->no_memory = true;
        flags->error = true;
        return;
    }
    if (outcome.end == WALK_AT_END)
        return;
    // The visitor has said why a member failed; a record that could not be
    // read or judged, or data that ended early, is a bad record.
    if (outcome.end == WALK_RECORD_UNREADABLE || outcome.end == WALK_BAD_RECORD ||
        outcome.end == WALK_DATA_MISSING)
        report_bad_record();
    else if (outcome.end == WALK_INPUT_DAMAGED)
        report_damaged();
    flags->error = true;
}

// Where the archive of the open file of `file_size` bytes ends: before the
// certificate table of a signed program. False when the table is not one
// the archive may be followed by.
static bool find_own_archive_end(FILE *archive, int64_t file_size, int64_t *archive_end) {
    *archive_end = file_size;
    if (!PLATFORM_SIGNED_PROGRAMS)
        return true;
    archive_extent extent;
    bool found = archive_end_found(find_archive_end(archive, file_size, &extent));
    *archive_end = extent.end;
    return found;
}

// Checks the length and walks the members of the open archive.
static void extract_archive(FILE *archive, char *copy_buffer, run_flags *flags) {
    int64_t file_size = 0, archive_end = 0;
    bool size_known = platform_file_size(archive, &file_size);
    if (!size_known || !find_own_archive_end(archive, file_size, &archive_end) ||
        !check_length_trailer(archive, archive_end)) {
        report_wrong_length();
        flags->error = true;
        return;
    }
    walk_members(archive, archive_end, copy_buffer, flags);
    if (!flags->record_seen)
        report_no_files();
}

// Opens the program's own file: under `path` when that leads to it, else as
// the system names the running file. A name may lead elsewhere or nowhere (a
// look-alike in another letter case, a file of the same name in the current
// directory when the program was found along the search path, a name without
// .EXE): another file's members are never the ones the user chose to run.
// Where the system can't tell which file runs, the start name exactly as
// given is tried first: it named the file the system started, while its
// upper-cased form may name a look-alike beside it.
static FILE *open_own_file(const char *path, const char *start_name) {
    FILE *archive = platform_knows_running_program() ? nullptr : std::fopen(start_name, "rb");
    if (archive == nullptr)
        archive = std::fopen(path, "rb");
    if (archive != nullptr && platform_is_running_program(archive))
        return archive;
    if (archive != nullptr)
        std::fclose(archive);
    return platform_open_running_program();
}

int run_extractor(int argc, char **argv) {
    platform_prepare_run();
    char *copy_buffer = static_cast<char *>(std::malloc(COPY_CHUNK));
    held_copy_buffer = copy_buffer;
    held_container_marker = STUB_CONTAINER_MARKER;
    const char *start_name = platform_program_name(argc, argv);
    char *path = copy_buffer ? make_program_path(start_name) : nullptr;
    if (path == nullptr) {
        report_no_memory();
        return -1;
    }
    report_program_file(path);
    platform_match_letter_case(path);

    run_flags flags = {false, false, false};
    FILE *archive = open_own_file(path, start_name);
    if (archive == nullptr) {
        report_open_failed();
        flags.error = true;
    } else {
        // The copy buffer does the reading ahead: the stream's own buffer
        // would only split each chunk into two reads and a copy.
        std::setvbuf(archive, nullptr, _IONBF, 0);
        extract_archive(archive, copy_buffer, &flags);
        std::fclose(archive);
    }
    std::free(path);
    if (flags.no_memory)
        return -1;
    if (!flags.error)
        run_closing_notice();
    // "No files for extraction" closes with the notice, yet the run failed.
    return error_was_reported() ? 1 : 0;
}
