// SPDX-License-Identifier: Zlib
#include "run.h"

#include "archive_reader.h"
#include "ascii_case.h"
#include "closing_notice.h"
#include "console.h"
#include "layout_declaration.h"
#include "member_output.h"
#include "platform_stub.h"

#include <cstdlib>
#include <cstring>

// The name shown and opened: the start name upper-cased (ASCII letters only),
// with ".EXE" appended when it holds ".EXE" nowhere. Null when out of memory.
static char *make_program_path(const char *start_name) {
    size_t length = std::strlen(start_name);
    char *path = static_cast<char *>(std::malloc(length + sizeof ".EXE"));
    if (path == nullptr)
        return nullptr;
    for (size_t i = 0; i <= length; ++i)
        path[i] = ascii_upper(start_name[i]);
    if (std::strstr(path, ".EXE") == nullptr)
        std::strcat(path, ".EXE");
    return path;
}

// The declaration arrives with the first records, in the first read. A file
// that ends before it declares nothing.
static bool take_declaration(archive_input *input) {
    int version = UNDECLARED_LAYOUT;
    const char *bytes = take_member_chunk(input, DECLARATION_SIZE);
    return take_layout_declaration(reinterpret_cast<const unsigned char *>(bytes), &version) ==
           DECLARATION_GOOD;
}

// Reads through the copy buffer and never seeks: the walk only keeps the
// offsets, so that each record's size is judged against the bytes after it.
void walk_members(FILE *archive, int64_t file_size, char *copy_buffer, run_flags *flags) {
    if (!seek_layout_declaration(archive))
        return;
    archive_input input = start_archive_input(archive, copy_buffer);
    record_walk walk = start_record_walk(file_size);
    member_record record;
    if (!take_declaration(&input)) {
        flags->record_seen = true;
        report_bad_record();
        flags->error = true;
        return;
    }
    for (;;) {
        record_read_result read = take_member_record(&input, &record);
        if (read == RECORD_END)
            return;
        flags->record_seen = true;
        if (read == RECORD_READ_FAILED ||
            judge_walked_record(&walk, &record, platform_name_rules()) != RECORD_GOOD) {
            report_bad_record();
            flags->error = true;
            return;
        }
        if (output_member(&record, &input) != MEMBER_DONE) {
            flags->error = true;
            return;
        }
        step_past_record(&walk, &record);
    }
}

// Checks the length and walks the members of the open archive.
static void extract_archive(FILE *archive, char *copy_buffer, run_flags *flags) {
    int64_t file_size = 0;
    bool size_known = platform_file_size(archive, &file_size);
    if (!size_known || !check_length_trailer(archive, file_size)) {
        report_wrong_length();
        flags->error = true;
        return;
    }
    walk_members(archive, file_size, copy_buffer, flags);
    if (!flags->record_seen)
        report_no_files();
}

// Opens the program's own file: under `path` when that leads to it, else as
// the system names the running file. A name may lead elsewhere or nowhere (a
// look-alike in another letter case, a file of the same name in the current
// directory when the program was found along the search path, a name without
// .EXE): another file's members are never the ones the user chose to run.
static FILE *open_own_file(const char *path) {
    FILE *archive = std::fopen(path, "rb");
    if (archive != nullptr && platform_is_running_program(archive))
        return archive;
    if (archive != nullptr)
        std::fclose(archive);
    return platform_open_running_program();
}

// The copy buffer is held until the process ends, never freed. A global keeps
// it reachable after the run returns, so leak checkers see a buffer held on
// purpose, not one lost; volatile keeps the compiler from dropping the store.
static char *volatile held_copy_buffer;

int run_extractor(int argc, char **argv) {
    platform_prepare_run();
    char *copy_buffer = static_cast<char *>(std::malloc(COPY_CHUNK));
    held_copy_buffer = copy_buffer;
    char *path = copy_buffer ? make_program_path(platform_program_name(argc, argv)) : nullptr;
    if (path == nullptr) {
        report_no_memory();
        return -1;
    }
    report_program_file(path);
    platform_match_letter_case(path);

    run_flags flags = {false, false};
    FILE *archive = open_own_file(path);
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
    if (!flags.error)
        run_closing_notice();
    // "No files for extraction" closes with the notice, yet the run failed.
    return error_was_reported() ? 1 : 0;
}
