// SPDX-License-Identifier: Zlib
// A decoder of raw LZMA2 streams: a sequence of chunks ended by the byte 0x00,
// without any container around it. It allocates nothing and keeps no global
// state: the caller hands it the state struct and a dictionary buffer of the
// size the container names. Input goes in as pieces of any size; output comes
// out as pointer and length of the bytes just decoded, at most a given amount
// per call, straight from the circular dictionary. Every malformed stream ends
// in one verdict, LZMA2_DAMAGED, and the decoder never reads or writes outside
// the buffers it was given.
//
// A chunk starts with its control byte:
//   0x00         end of the stream
//   0x01         stored chunk, the dictionary is reset first
//   0x02         stored chunk, the dictionary is kept
//   0x03..0x7F   invalid
//   0x80..0xFF   LZMA chunk; bits 0..4 are bits 16..20 of its decoded size
//                less one; bits 5..6 say what is reset first:
//                0 nothing, 1 the coder state, 2 the state and new
//                properties follow, 3 all that and the dictionary
// A stored chunk has 2 bytes (big-endian) of its size less one, then the
// bytes. An LZMA chunk has 2 bytes (big-endian) of the low 16 bits of its
// decoded size less one, 2 bytes of its coded size less one, the properties
// byte ((pb * 5 + lp) * 9 + lc) when bit 6 is set, then the range-coded data.
//
// Use:
//   lzma2_decoder_start(&d, dictionary, dictionary_size, coded_length, decoded_length);
//   loop: lzma2_decode(&d, input, input_length, output_max, &step);
//     the first step.input_used bytes of input were taken (give the rest
//     again, or the next piece once all are taken); step.output holds
//     step.output_length new bytes, valid until the next call;
//     LZMA2_GOING: call again; LZMA2_END: the stream is whole and every byte
//     is out; LZMA2_DAMAGED: stop, the stream is malformed.
// A call that returns LZMA2_GOING has taken input or given output, unless it
// was given no input while it needed some.
#pragma once

#include <cstddef>
#include <cstdint>

// The largest dictionary a container may name.
constexpr uint32_t LZMA2_DICTIONARY_MAX = 64u << 20;

// Chunk control bytes and their fields.
constexpr uint8_t LZMA2_CONTROL_END = 0x00;
constexpr uint8_t LZMA2_CONTROL_STORED_RESET = 0x01;
constexpr uint8_t LZMA2_CONTROL_STORED = 0x02;
constexpr uint8_t LZMA2_CONTROL_LZMA = 0x80;
constexpr int LZMA2_RESET_SHIFT = 5;
constexpr uint8_t LZMA2_RESET_STATE = 1;
constexpr uint8_t LZMA2_RESET_PROPERTIES = 2;
constexpr uint8_t LZMA2_RESET_DICTIONARY = 3;

// A chunk's coded size is at most 64 KiB; an LZMA chunk decodes to at most
// 2 MiB, a stored chunk holds at most 64 KiB.
constexpr uint32_t LZMA2_CODED_CHUNK_MAX = 1u << 16;
constexpr uint32_t LZMA2_DECODED_CHUNK_MAX = 1u << 21;

// The properties byte: lc + lp at most 4 in LZMA2, pb at most 4.
constexpr int LZMA_LC_LP_MAX = 4;
constexpr int LZMA_PB_MAX = 4;
constexpr int LZMA_PROPERTIES_LIMIT = (LZMA_PB_MAX + 1) * 5 * 9;

// The probability model of the LZMA coder.
constexpr int LZMA_STATES = 12;
constexpr int LZMA_LITERAL_STATES = 7;
constexpr int LZMA_POSITION_STATES_MAX = 1 << LZMA_PB_MAX;
constexpr int LZMA_LITERAL_CODER_SIZE = 0x300;
constexpr int LZMA_LITERAL_CODERS_MAX = 1 << LZMA_LC_LP_MAX;
constexpr int LZMA_LENGTH_LOW_BITS = 3;
constexpr int LZMA_LENGTH_MID_BITS = 3;
constexpr int LZMA_LENGTH_HIGH_BITS = 8;
constexpr int LZMA_MATCH_LENGTH_MIN = 2;
constexpr int LZMA_DISTANCE_STATES = 4;
constexpr int LZMA_DISTANCE_SLOT_BITS = 6;
constexpr int LZMA_DISTANCE_MODEL_START = 4;
constexpr int LZMA_DISTANCE_MODEL_END = 14;
constexpr int LZMA_FULL_DISTANCES = 1 << (LZMA_DISTANCE_MODEL_END >> 1);
constexpr int LZMA_ALIGN_BITS = 4;

// The most input bytes one literal or match can take: one per coded bit.
constexpr int LZMA_SYMBOL_BYTES_MAX = 1 + 1 + 2 + 2 + LZMA_LENGTH_HIGH_BITS + 6 + 26 + 4;

typedef uint16_t lzma_probability;

struct lzma_length_model {
    lzma_probability choice;
    lzma_probability choice2;
    lzma_probability low[LZMA_POSITION_STATES_MAX][1 << LZMA_LENGTH_LOW_BITS];
    lzma_probability mid[LZMA_POSITION_STATES_MAX][1 << LZMA_LENGTH_MID_BITS];
    lzma_probability high[1 << LZMA_LENGTH_HIGH_BITS];
};

struct lzma_model {
    lzma_probability is_match[LZMA_STATES][LZMA_POSITION_STATES_MAX];
    lzma_probability is_rep[LZMA_STATES];
    lzma_probability is_rep0[LZMA_STATES];
    lzma_probability is_rep1[LZMA_STATES];
    lzma_probability is_rep2[LZMA_STATES];
    lzma_probability is_rep0_long[LZMA_STATES][LZMA_POSITION_STATES_MAX];
    lzma_probability distance_slot[LZMA_DISTANCE_STATES][1 << LZMA_DISTANCE_SLOT_BITS];
    lzma_probability distance_special[1 + LZMA_FULL_DISTANCES - LZMA_DISTANCE_MODEL_END];
    lzma_probability align[1 << LZMA_ALIGN_BITS];
    lzma_length_model match_length;
    lzma_length_model rep_length;
    lzma_probability literal[LZMA_LITERAL_CODERS_MAX][LZMA_LITERAL_CODER_SIZE];
};

enum lzma2_status { LZMA2_GOING, LZMA2_END, LZMA2_DAMAGED };

// Where the decoder is between calls; the caller only reads `status`.
enum lzma2_phase {
    LZMA2_AT_CONTROL,
    LZMA2_IN_HEADER,
    LZMA2_IN_STORED,
    LZMA2_GATHERING,
    LZMA2_IN_LZMA,
    LZMA2_AFTER_END,
    LZMA2_FAILED
};

struct lzma2_decoder {
    lzma2_status status;
    lzma2_phase phase;

    // The dictionary: `size` bytes, written at `position`, which wraps to 0
    // when it reaches `size` and starts at 0 after a reset. Until it wraps
    // (`full`), no distance may reach back past its start.
    uint8_t *dictionary;
    uint32_t size;
    uint32_t position;
    bool full;
    // Bytes decoded since the last dictionary reset, modulo 2^32: the
    // coder's position bits come from it.
    uint32_t decoded_since_reset;

    uint64_t coded_left;   // stream bytes not yet taken
    uint64_t decoded_left; // bytes the stream still has to give

    // The chunk being read.
    uint8_t control;
    uint8_t header[5];
    uint32_t header_length; // bytes of `header` this chunk has
    uint32_t header_have;
    uint32_t chunk_decoded_left;
    uint32_t chunk_coded_size;
    uint32_t chunk_have;

    // What the chunks so far have set up.
    bool needs_dictionary_reset;
    bool needs_properties;

    // The LZMA coder.
    uint32_t lc, lp_mask, pb_mask;
    uint32_t state;
    uint32_t rep0, rep1, rep2, rep3;
    uint32_t match_left; // bytes of a match not yet copied
    uint32_t range, code;
    uint32_t coded_position; // read offset in `coded`
    lzma_model model;

    // A whole LZMA chunk's coded bytes, followed by zeros: a symbol never
    // reads past them, and a chunk that would is found after the symbol.
    uint8_t coded[LZMA2_CODED_CHUNK_MAX + LZMA_SYMBOL_BYTES_MAX];
};

struct lzma2_step {
    size_t input_used;
    const uint8_t *output;
    size_t output_length;
};

// Readies `decoder` for one stream of `coded_length` bytes that decodes to
// `decoded_length` bytes, with `dictionary` (size bytes, 1..LZMA2_DICTIONARY_MAX)
// as its window. Any other size makes the decoder report damage.
void lzma2_decoder_start(lzma2_decoder *decoder, uint8_t *dictionary, uint32_t size,
                         uint64_t coded_length, uint64_t decoded_length);

// Takes input and gives at most `output_max` (at least 1) decoded bytes.
lzma2_status lzma2_decode(lzma2_decoder *decoder, const uint8_t *input, size_t input_length,
                          size_t output_max, lzma2_step *step);
