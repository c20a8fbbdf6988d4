// SPDX-License-Identifier: Zlib
#include "archive_input.h"

#include "console.h"

#include <cstring>

archive_input start_archive_input(FILE *file, char *copy_buffer) {
    return archive_input{file, copy_buffer, 0, 0};
}

// Makes at least `length` bytes available at `start`: what is left moves to the
// front and one read fills the rest of the buffer. The console text held so far
// goes out first, so it is on the console whenever the program waits for the
// archive. False when fewer than `length` bytes could be had.
static bool fill_for(archive_input *input, size_t length) {
    size_t left = input->end - input->start;
    if (left >= length)
        return true;
    std::memmove(input->buffer, input->buffer + input->start, left);
    input->start = 0;
    input->end = left;
    show_held_text();
    input->end += std::fread(input->buffer + left, 1, COPY_CHUNK - left, input->file);
    return input->end >= length;
}

record_read_result take_member_record(archive_input *input, member_record *record) {
    if (!fill_for(input, RECORD_SIZE))
        return std::feof(input->file) ? RECORD_END : RECORD_READ_FAILED;
    decode_member_record(reinterpret_cast<const unsigned char *>(input->buffer + input->start),
                         record);
    input->start += RECORD_SIZE;
    return RECORD_READ;
}

const char *take_member_chunk(archive_input *input, size_t length) {
    if (!fill_for(input, length))
        return nullptr;
    const char *chunk = input->buffer + input->start;
    input->start += length;
    return chunk;
}
