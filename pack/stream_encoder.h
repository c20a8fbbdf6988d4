// SPDX-License-Identifier: Zlib
// The packer's LZMA2 encoder, by liblzma: a raw stream (chunks and the end
// byte, no other framing), as a container's data holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What a level means: the dictionary it compresses with and the encoder's
// memory for it, in bytes. Levels are 0..9.
struct encoder_settings {
    int level;
    uint32_t dictionary_size; // at most the level's own
};

// The dictionary size of `level` alone.
uint32_t level_dictionary_size(int level);

// The memory one encoder of `settings` takes, in bytes.
uint64_t encoder_memory(const encoder_settings &settings);

struct stream_encoder;

// A new encoder appending its stream to `output`; null when it can't be made
// (memory). `history_size` bytes at `history` (at
// most the dictionary size; 0 for none) are the run's bytes right before
// this part: the encoder finds matches in them, and its first chunk resets
// the state and sets the properties but keeps the dictionary, so the stream
// continues one whose decompressed bytes end with `history`.
stream_encoder *start_stream_encoder(const encoder_settings &settings, const unsigned char *history,
                                     size_t history_size, std::vector<unsigned char> *output);

// Takes in the next `size` bytes of the decompressed run. False when the
// encoder failed (memory).
bool encode_stream_bytes(stream_encoder *encoder, const void *data, size_t size);

// Ends the stream (its end byte included) and releases the encoder. False
// when it failed; the encoder is released either way.
bool finish_stream_encoder(stream_encoder *encoder);

// Releases an encoder whose stream is abandoned.
void abandon_stream_encoder(stream_encoder *encoder);
