// SPDX-License-Identifier: Zlib
// Our LZMA2 decoder and liblzma's raw decoder side by side, for the
// differential tests and the decoder fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct lzma2_outcome {
    bool whole; // the stream decoded soundly to exactly the declared length
    std::vector<uint8_t> bytes;
};

// Decodes `stream` with our decoder and a dictionary of `dictionary_size`
// bytes, declaring `decoded_length`; input goes in `input_piece` bytes at a
// time and output is taken at most `output_piece` bytes at a time. Fails the
// outcome (and stops) when the decoder breaks its promise of progress.
lzma2_outcome decode_ours(const std::vector<uint8_t> &stream, uint32_t dictionary_size,
                          uint64_t decoded_length, size_t input_piece, size_t output_piece);

// The same stream through liblzma's raw LZMA2 decoder: whole when it ends
// at the end byte, took every byte and gave exactly `decoded_length` bytes.
lzma2_outcome decode_reference(const std::vector<uint8_t> &stream, uint32_t dictionary_size,
                               uint64_t decoded_length);

struct lzma2_settings {
    uint32_t preset;
    uint32_t dictionary_size;
    uint32_t lc, lp, pb;
};

// The raw LZMA2 stream liblzma makes of `data`.
std::vector<uint8_t> encode_reference(const std::vector<uint8_t> &data,
                                      const lzma2_settings &settings);
