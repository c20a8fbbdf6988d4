// SPDX-License-Identifier: Zlib
#include "lzma2_pair.h"

#include "lzma2_decoder.h"

#include <lzma.h>

#include <memory>

lzma2_outcome decode_ours(const std::vector<uint8_t> &stream, uint32_t dictionary_size,
                          uint64_t decoded_length, size_t input_piece, size_t output_piece) {
    lzma2_outcome outcome{false, {}};
    std::unique_ptr<lzma2_decoder> decoder(new lzma2_decoder);
    std::vector<uint8_t> dictionary(dictionary_size);
    lzma2_decoder_start(decoder.get(), dictionary.data(), dictionary_size, stream.size(),
                        decoded_length);
    size_t taken = 0;
    size_t offered = 0; // bytes of the current piece not yet taken
    for (;;) {
        if (offered == 0) {
            offered = stream.size() - taken;
            if (offered > input_piece)
                offered = input_piece;
        }
        lzma2_step step;
        lzma2_status status =
            lzma2_decode(decoder.get(), stream.data() + taken, offered, output_piece, &step);
        if (step.input_used > offered || step.output_length > output_piece)
            return outcome;
        taken += step.input_used;
        offered -= step.input_used;
        outcome.bytes.insert(outcome.bytes.end(), step.output, step.output + step.output_length);
        if (status == LZMA2_END) {
            outcome.whole = true;
            return outcome;
        }
        if (status == LZMA2_DAMAGED)
            return outcome;
        // A call that went on must have moved, unless it lacked input.
        if (step.input_used == 0 && step.output_length == 0 && offered != 0)
            return outcome;
        if (step.input_used == 0 && step.output_length == 0 && taken == stream.size())
            return outcome;
    }
}

lzma2_outcome decode_reference(const std::vector<uint8_t> &stream, uint32_t dictionary_size,
                               uint64_t decoded_length) {
    lzma2_outcome outcome{false, {}};
    lzma_options_lzma options{};
    options.dict_size = dictionary_size;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    // One byte of room more than declared shows a stream that gives more.
    outcome.bytes.resize(static_cast<size_t>(decoded_length) + 1);
    size_t in_position = 0;
    size_t out_position = 0;
    lzma_ret result =
        lzma_raw_buffer_decode(filters, nullptr, stream.data(), &in_position, stream.size(),
                               outcome.bytes.data(), &out_position, outcome.bytes.size());
    outcome.bytes.resize(out_position);
    outcome.whole =
        result == LZMA_OK && in_position == stream.size() && out_position == decoded_length;
    return outcome;
}

std::vector<uint8_t> encode_reference(const std::vector<uint8_t> &data,
                                      const lzma2_settings &settings) {
    lzma_options_lzma options;
    lzma_lzma_preset(&options, settings.preset);
    options.dict_size = settings.dictionary_size;
    options.lc = settings.lc;
    options.lp = settings.lp;
    options.pb = settings.pb;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    // Stored chunks bound the growth: 3 bytes per 64 KiB, and the end byte.
    std::vector<uint8_t> stream(data.size() + data.size() / 1024 + 64);
    size_t length = 0;
    if (lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), stream.data(), &length,
                               stream.size()) != LZMA_OK)
        length = 0;
    stream.resize(length);
    return stream;
}
