// SPDX-License-Identifier: Zlib
// Feeds arbitrary bytes as a raw LZMA2 stream to our decoder and to
// liblzma's raw decoder, with the same dictionary size: both must accept it
// or both refuse it, and where they accept it give the same bytes. The first
// input byte picks the dictionary size and the piece sizes of input and
// output, so the fuzzer reaches dictionary wraps and every resumption point.
#include "lzma2_pair.h"

#include <cstdio>
#include <cstdlib>

// Decoded output is bounded: a stream that gives more is refused by liblzma
// as it would be by the container's declared length.
static const uint64_t DECODED_LIMIT = 1u << 20;

static const uint32_t DICTIONARY_SIZES[4] = {4096, 5000, 65536, 1u << 20};
static const size_t INPUT_PIECES[4] = {1, 7, 16000, SIZE_MAX};
static const size_t OUTPUT_PIECES[4] = {1, 13, 16000, SIZE_MAX};

static void differ(const char *what) {
    std::fprintf(stderr, "lzma2_fuzzer: %s\n", what);
    std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    uint8_t choice = data[0];
    std::vector<uint8_t> stream(data + 1, data + size);
    uint32_t dictionary_size = DICTIONARY_SIZES[choice & 3];
    size_t input_piece = INPUT_PIECES[(choice >> 2) & 3];
    size_t output_piece = OUTPUT_PIECES[(choice >> 4) & 3];

    lzma2_outcome reference = decode_reference(stream, dictionary_size, DECODED_LIMIT);
    // liblzma stops at the first bad byte; the length it reached is what our
    // decoder is told, so only the stream itself can make it refuse.
    uint64_t declared = reference.bytes.size();
    if (declared > DECODED_LIMIT)
        return 0;
    bool reference_whole = decode_reference(stream, dictionary_size, declared).whole;
    lzma2_outcome ours = decode_ours(stream, dictionary_size, declared, input_piece, output_piece);
    if (ours.whole != reference_whole)
        differ(ours.whole ? "ours accepts what liblzma refuses"
                          : "ours refuses what liblzma accepts");
    if (ours.whole && ours.bytes != reference.bytes)
        differ("ours gives other bytes than liblzma");
    return 0;
}
