// SPDX-License-Identifier: Zlib
#include "container_walk.h"

#include "layout_declaration.h"
#include "lzma2_decoder.h"

#include <cstdlib>
#include <cstring>

// The one allocation of a run: after it the inner walk's buffer (`chunk`
// bytes), then the dictionary.
struct container_memory {
    lzma2_decoder decoder;
    unsigned char input[CONTAINER_INPUT_SIZE];
};

namespace {

// The decompressed sequence as a walk_input: compressed bytes from the
// container's data, through the decoder.
struct decoded_stream {
    lzma2_decoder *decoder;
    void (*before_decoding)();
    walk_input compressed; // member_data_input of the container
    unsigned char *input;  // CONTAINER_INPUT_SIZE bytes
    size_t input_start;
    size_t input_end;
    bool compressed_over; // the container's data gave its last byte
};

// Hands out what the decoder gives, `length` bytes unless the stream ends.
// A damaged stream gives nothing of this read: bytes the decoder gave before
// its verdict may already be wrong.
long read_decoded(void *source, char *buffer, size_t length) {
    decoded_stream *stream = static_cast<decoded_stream *>(source);
    if (stream->before_decoding != nullptr)
        stream->before_decoding();
    size_t got = 0;
    while (got < length) {
        if (stream->input_start == stream->input_end && !stream->compressed_over) {
            long read = stream->compressed.read(stream->compressed.source,
                                                reinterpret_cast<char *>(stream->input),
                                                CONTAINER_INPUT_SIZE);
            if (read < 0)
                return read;
            stream->input_start = 0;
            stream->input_end = static_cast<size_t>(read);
            stream->compressed_over = read == 0;
        }
        lzma2_step step;
        lzma2_status status =
            lzma2_decode(stream->decoder, stream->input + stream->input_start,
                         stream->input_end - stream->input_start, length - got, &step);
        if (status == LZMA2_DAMAGED)
            return INPUT_DAMAGED;
        stream->input_start += step.input_used;
        if (step.output_length > 0)
            std::memcpy(buffer + got, step.output, step.output_length);
        got += step.output_length;
        if (status == LZMA2_END)
            break;
        // It waits for bytes the container's data no longer has: the file
        // changed under us, as when a plain member's data ends early.
        if (step.input_used == 0 && step.output_length == 0)
            return INPUT_FAILED;
    }
    return static_cast<long>(got);
}

// False when the block names what no reader may take: the container is
// damaged.
bool container_is_sound(const container_reader *reader, const walked_member *member) {
    const container_fields &fields = reader->fields;
    if (member->record.kind != KIND_FILE || fields.method != CONTAINER_METHOD_LZMA2)
        return false;
    if (fields.dictionary_size == 0 || fields.dictionary_size > LARGEST_CONTAINER_DICTIONARY)
        return false;
    if (reader->memory != nullptr && fields.dictionary_size > reader->dictionary_size)
        return false;
    return fields.decompressed_length <= static_cast<uint64_t>(INT64_MAX);
}

bool take_memory(container_reader *reader) {
    if (reader->memory != nullptr)
        return true;
    size_t size = sizeof(container_memory) + reader->chunk + reader->fields.dictionary_size;
    reader->memory = static_cast<container_memory *>(std::malloc(size));
    if (reader->memory == nullptr)
        return false;
    reader->dictionary_size = reader->fields.dictionary_size;
    return true;
}

// Walks the members inside the container `member`, whose check value the
// outer walk takes in as its data is read. False when the walk inside did
// not reach the sequence's end sound; `failure` then says why.
bool walk_inside(container_reader *reader, walked_member *member) {
    container_memory *memory = reader->memory;
    char *chunk_buffer = reinterpret_cast<char *>(memory + 1);
    uint8_t *dictionary = reinterpret_cast<uint8_t *>(chunk_buffer + reader->chunk);
    lzma2_decoder_start(&memory->decoder, dictionary, reader->fields.dictionary_size,
                        static_cast<uint64_t>(member->data_size),
                        reader->fields.decompressed_length);
    decoded_stream stream = {&memory->decoder,
                             reader->before_decoding,
                             member_data_input(member),
                             memory->input,
                             0,
                             0,
                             false};
    walk_input input = {read_decoded, nullptr, &stream};

    int file_version = declared_layout_version();
    judge_members_by_layout(PLAIN_LAYOUT_VERSION);
    reader->inner = walk_members_of(input, walk_buffer{chunk_buffer, reader->chunk}, 0,
                                    static_cast<int64_t>(reader->fields.decompressed_length),
                                    reader->rules, reader->visitor);
    judge_members_by_layout(file_version);
    reader->members += reader->inner.members;

    const walk_outcome &inner = reader->inner;
    if (inner.end == WALK_AT_END && inner.leftover == 0)
        return true;
    reader->failure = inner.end == WALK_AT_END || inner.end == WALK_INPUT_DAMAGED
                          ? CONTAINER_DAMAGED
                          : CONTAINER_INNER_END;
    return false;
}

visit_step begin_member(void *context, walked_member *member) {
    container_reader *reader = static_cast<container_reader *>(context);
    reader->walking_container = declared_layout_version() == CONTAINER_LAYOUT_VERSION &&
                                find_container_block(&member->record, &reader->fields);
    if (!reader->walking_container)
        return reader->visitor->begin(reader->visitor->context, member);
    reader->container = member;
    if (!container_is_sound(reader, member)) {
        reader->failure = CONTAINER_REFUSED;
        return VISIT_STOP;
    }
    if (!take_memory(reader)) {
        reader->failure = CONTAINER_NO_MEMORY;
        return VISIT_STOP;
    }
    // The container's own check value, taken in as its data is read.
    member->check =
        member_check{true, false, reader->fields.check, start_container_check(&member->record), 0};
    return walk_inside(reader, member) ? VISIT_DATA : VISIT_STOP;
}

// The walk inside has read all of a container's data: nothing comes here for it.
bool pass_chunk(void *context, const walked_member *member, const char *chunk, size_t length) {
    container_reader *reader = static_cast<container_reader *>(context);
    if (reader->walking_container)
        return false;
    return reader->visitor->data(reader->visitor->context, member, chunk, length);
}

bool end_member(void *context, walked_member *member, member_data_result result) {
    container_reader *reader = static_cast<container_reader *>(context);
    if (!reader->walking_container)
        return reader->visitor->end(reader->visitor->context, member, result);
    reader->walking_container = false;
    if (result != MEMBER_WHOLE) {
        reader->failure = CONTAINER_CHECK_FAILED;
        return false;
    }
    ++reader->containers;
    reader->compressed_bytes += member->data_size;
    reader->decompressed_bytes += reader->fields.decompressed_length;
    return true;
}

} // namespace

void start_container_reader(container_reader *reader, const walk_visitor *visitor, name_rules rules,
                            size_t chunk) {
    *reader = container_reader();
    reader->visitor = visitor;
    reader->rules = rules;
    reader->chunk = chunk;
    reader->failure = CONTAINER_NONE;
}

walk_visitor container_reader_visitor(container_reader *reader) {
    return walk_visitor{begin_member, pass_chunk, end_member, reader};
}

void end_container_reader(container_reader *reader) {
    std::free(reader->memory);
    reader->memory = nullptr;
    reader->dictionary_size = 0;
}
