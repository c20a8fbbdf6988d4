// SPDX-License-Identifier: Zlib
// Times our LZMA2 decoder against liblzma's raw decoder on one file: both
// decode the same raw stream (made by liblzma at the given preset), fed in
// 16000-byte pieces and read out 16000 bytes at a time, as the stub reads.
// Prints the best of the rounds for each, in milliseconds and MB/s of output.
// Usage: lzma2_decode FILE PRESET ROUNDS
#include "lzma2_decoder.h"

#include <lzma.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

static const size_t STEP = 16000;

static std::vector<uint8_t> read_file(const char *path) {
    std::vector<uint8_t> data;
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr)
        return data;
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        data.insert(data.end(), buffer, buffer + got);
    std::fclose(file);
    return data;
}

static double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Our decoder; false unless it gave exactly `expected` bytes and ended.
static bool decode_ours(lzma2_decoder *decoder, std::vector<uint8_t> &dictionary,
                        const std::vector<uint8_t> &stream, size_t expected, uint32_t *sum) {
    lzma2_decoder_start(decoder, dictionary.data(), static_cast<uint32_t>(dictionary.size()),
                        stream.size(), expected);
    size_t taken = 0;
    size_t given = 0;
    for (;;) {
        size_t piece = stream.size() - taken < STEP ? stream.size() - taken : STEP;
        lzma2_step step;
        lzma2_status status = lzma2_decode(decoder, stream.data() + taken, piece, STEP, &step);
        taken += step.input_used;
        given += step.output_length;
        if (step.output_length > 0)
            *sum += step.output[step.output_length - 1];
        if (status == LZMA2_END)
            return given == expected;
        if (status == LZMA2_DAMAGED)
            return false;
    }
}

static bool decode_liblzma(const lzma_filter *filters, const std::vector<uint8_t> &stream,
                           size_t expected, uint32_t *sum) {
    lzma_stream coder = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&coder, filters) != LZMA_OK)
        return false;
    std::vector<uint8_t> out(STEP);
    size_t taken = 0;
    size_t given = 0;
    lzma_ret result = LZMA_OK;
    while (result == LZMA_OK) {
        if (coder.avail_in == 0) {
            size_t piece = stream.size() - taken < STEP ? stream.size() - taken : STEP;
            coder.next_in = stream.data() + taken;
            coder.avail_in = piece;
            taken += piece;
        }
        coder.next_out = out.data();
        coder.avail_out = STEP;
        result = lzma_code(&coder, LZMA_RUN);
        size_t now = STEP - coder.avail_out;
        given += now;
        if (now > 0)
            *sum += out[now - 1];
    }
    lzma_end(&coder);
    return result == LZMA_STREAM_END && given == expected;
}

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: lzma2_decode FILE PRESET ROUNDS\n");
        return 2;
    }
    std::vector<uint8_t> data = read_file(argv[1]);
    uint32_t preset = static_cast<uint32_t>(std::atoi(argv[2]));
    int rounds = std::atoi(argv[3]);
    lzma_options_lzma options;
    lzma_lzma_preset(&options, preset);
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::vector<uint8_t> stream(data.size() + data.size() / 1024 + 64);
    size_t length = 0;
    if (lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), stream.data(), &length,
                               stream.size()) != LZMA_OK) {
        std::fprintf(stderr, "lzma2_decode: liblzma could not encode %s\n", argv[1]);
        return 1;
    }
    stream.resize(length);

    std::unique_ptr<lzma2_decoder> decoder(new lzma2_decoder);
    std::vector<uint8_t> dictionary(options.dict_size);
    double ours = 1e30, reference = 1e30;
    uint32_t sum = 0;
    for (int round = 0; round < rounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        if (!decode_ours(decoder.get(), dictionary, stream, data.size(), &sum)) {
            std::fprintf(stderr, "lzma2_decode: our decoder failed on %s\n", argv[1]);
            return 1;
        }
        double took = seconds_since(start);
        ours = took < ours ? took : ours;
        start = std::chrono::steady_clock::now();
        if (!decode_liblzma(filters, stream, data.size(), &sum)) {
            std::fprintf(stderr, "lzma2_decode: liblzma failed on %s\n", argv[1]);
            return 1;
        }
        took = seconds_since(start);
        reference = took < reference ? took : reference;
    }
    double megabytes = data.size() / 1e6;
    std::printf("%-12s %9.1f MB -> %8.1f MB  ours %7.1f ms %6.1f MB/s  liblzma %7.1f ms %6.1f MB/s"
                "  ours/liblzma %.2f\n",
                argv[1], megabytes, length / 1e6, ours * 1e3, megabytes / ours, reference * 1e3,
                megabytes / reference, ours / reference);
    return sum == 0xFFFFFFFFu ? 3 : 0;
}
