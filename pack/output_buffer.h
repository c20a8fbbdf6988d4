// SPDX-License-Identifier: Zlib
// The packer's writes into the self-extracting file. Everything passes through
// one large buffer, file data read straight into it, so the output leaves in
// few large writes and no byte is copied twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// Bytes per write to the output file.
constexpr size_t OUTPUT_BUFFER_SIZE = size_t(1) << 20;

struct output_buffer {
    FILE *file;              // written with one fwrite per full buffer
    std::vector<char> bytes; // OUTPUT_BUFFER_SIZE bytes
    size_t used;             // bytes waiting in `bytes`
    int64_t written;         // bytes already handed to `file`
};

// Takes over `file` for writing; turns off the stream's own buffer, which
// would only split and copy the large writes.
void output_start(output_buffer *out, FILE *file);

// The output's length so far, waiting bytes included.
int64_t output_position(const output_buffer *out);

// Each false return means a write to the file failed, with errno set.
bool output_put(output_buffer *out, const void *data, size_t size);
bool output_repeat(output_buffer *out, unsigned char byte, size_t count);
bool output_flush(output_buffer *out);

enum data_copy_result {
    DATA_COPIED,
    DATA_SHORT,       // the input ended or failed before `size` bytes
    DATA_NOT_WRITTEN, // the output file refused a write
};

// Fills `size` bytes at `bytes` from the input file `input` (see
// platform_open_input_in); false when it ends or fails first.
bool read_exactly(int input, char *bytes, size_t size);

// Called after each piece of member data is taken in, with its byte count.
typedef void (*data_copy_progress)(int32_t bytes, void *context);

// Copies exactly `size` bytes from the input file `input` (see
// platform_open_input_in) into the output, calling `progress` (may be null)
// after each piece. `check` (may be null) takes in each piece by
// crc32c_update while it is in the buffer.
data_copy_result output_copy_from(output_buffer *out, int input, int32_t size,
                                  data_copy_progress progress, void *context, uint32_t *check);

// Overwrites `size` bytes already put at `position`: in the buffer while they
// wait there, else in the file, whose position is then set back to its end.
bool output_patch(output_buffer *out, int64_t position, const void *data, size_t size);
