// SPDX-License-Identifier: Zlib
#include "output_buffer.h"

#include "crc32c.h"
#include "platform_pack.h"

#include <algorithm>
#include <cstring>

void output_start(output_buffer *out, FILE *file) {
    std::setvbuf(file, nullptr, _IONBF, 0);
    out->file = file;
    out->bytes.resize(OUTPUT_BUFFER_SIZE);
    out->used = 0;
    out->written = 0;
}

int64_t output_position(const output_buffer *out) {
    return out->written + static_cast<int64_t>(out->used);
}

bool output_flush(output_buffer *out) {
    if (out->used == 0)
        return true;
    if (std::fwrite(out->bytes.data(), 1, out->used, out->file) != out->used)
        return false;
    out->written += static_cast<int64_t>(out->used);
    out->used = 0;
    return true;
}

// Room left before the buffer must be written; flushes a full buffer first.
static bool make_room(output_buffer *out, size_t *room) {
    if (out->used == out->bytes.size() && !output_flush(out))
        return false;
    *room = out->bytes.size() - out->used;
    return true;
}

bool output_put(output_buffer *out, const void *data, size_t size) {
    const char *from = static_cast<const char *>(data);
    while (size > 0) {
        size_t room;
        if (!make_room(out, &room))
            return false;
        size_t piece = size < room ? size : room;
        std::memcpy(&out->bytes[out->used], from, piece);
        out->used += piece;
        from += piece;
        size -= piece;
    }
    return true;
}

bool output_repeat(output_buffer *out, unsigned char byte, size_t count) {
    while (count > 0) {
        size_t room;
        if (!make_room(out, &room))
            return false;
        size_t piece = count < room ? count : room;
        std::memset(&out->bytes[out->used], byte, piece);
        out->used += piece;
        count -= piece;
    }
    return true;
}

bool read_exactly(int input, char *bytes, size_t size) {
    while (size > 0) {
        long got = platform_read_input(input, bytes, size);
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

data_copy_result output_copy_from(output_buffer *out, int input, int32_t size,
                                  data_copy_progress progress, void *context, uint32_t *check) {
    size_t remaining = static_cast<size_t>(size);
    while (remaining > 0) {
        size_t room;
        if (!make_room(out, &room))
            return DATA_NOT_WRITTEN;
        size_t piece = remaining < room ? remaining : room;
        if (!read_exactly(input, &out->bytes[out->used], piece))
            return DATA_SHORT;
        if (check != nullptr)
            *check = crc32c_update(*check, &out->bytes[out->used], piece);
        out->used += piece;
        remaining -= piece;
        if (progress != nullptr)
            progress(static_cast<int32_t>(piece), context);
    }
    return DATA_COPIED;
}

bool output_patch(output_buffer *out, int64_t position, const void *data, size_t size) {
    const char *from = static_cast<const char *>(data);
    // The part, if any, that went to the file already.
    if (size > 0 && position < out->written) {
        size_t piece = static_cast<size_t>(
            std::min<int64_t>(static_cast<int64_t>(size), out->written - position));
        if (std::fseek(out->file, static_cast<long>(position), SEEK_SET) != 0 ||
            std::fwrite(from, 1, piece, out->file) != piece ||
            std::fseek(out->file, static_cast<long>(out->written), SEEK_SET) != 0)
            return false;
        position += static_cast<int64_t>(piece);
        from += piece;
        size -= piece;
    }
    if (size > 0)
        std::memcpy(&out->bytes[static_cast<size_t>(position - out->written)], from, size);
    return true;
}
