// SPDX-License-Identifier: Zlib
#include "lzma2_decoder.h"

#include <cstring>

// The coder's inner steps are inlined even where the build optimises for
// size: one call per coded bit would halve the speed.
#define LZMA_INLINE inline __attribute__((always_inline))

namespace {

constexpr uint32_t RANGE_TOP = 1u << 24;
constexpr int PROBABILITY_BITS = 11;
constexpr uint32_t PROBABILITY_ONE = 1u << PROBABILITY_BITS;
constexpr lzma_probability PROBABILITY_START = PROBABILITY_ONE / 2;
constexpr int ADAPT_SHIFT = 5;
constexpr int RANGE_START_BYTES = 5;

// The range decoder's registers, kept in locals while a chunk is decoded.
struct range_decoder {
    uint32_t range;
    uint32_t code;
    const uint8_t *in;
};

} // namespace

static LZMA_INLINE void normalize(range_decoder &rc) {
    if (rc.range < RANGE_TOP) {
        rc.range <<= 8;
        rc.code = (rc.code << 8) | *rc.in++;
    }
}

static LZMA_INLINE uint32_t decode_bit(range_decoder &rc, lzma_probability *probability) {
    uint32_t p = *probability;
    uint32_t bound = (rc.range >> PROBABILITY_BITS) * p;
    uint32_t bit;
    if (rc.code < bound) {
        rc.range = bound;
        *probability = static_cast<lzma_probability>(p + ((PROBABILITY_ONE - p) >> ADAPT_SHIFT));
        bit = 0;
    } else {
        rc.range -= bound;
        rc.code -= bound;
        *probability = static_cast<lzma_probability>(p - (p >> ADAPT_SHIFT));
        bit = 1;
    }
    normalize(rc);
    return bit;
}

// A symbol of `bits` bits, highest bit first, each bit's probability picked
// by the bits before it.
static LZMA_INLINE uint32_t decode_tree(range_decoder &rc, lzma_probability *probabilities,
                                        int bits) {
    uint32_t symbol = 1;
    for (int i = 0; i < bits; ++i)
        symbol = (symbol << 1) | decode_bit(rc, probabilities + symbol);
    return symbol - (1u << bits);
}

// The same tree read lowest bit first.
static LZMA_INLINE uint32_t decode_reverse_tree(range_decoder &rc, lzma_probability *probabilities,
                                                int bits) {
    uint32_t node = 1;
    uint32_t symbol = 0;
    for (int i = 0; i < bits; ++i) {
        uint32_t bit = decode_bit(rc, probabilities + node);
        node = (node << 1) | bit;
        symbol |= bit << i;
    }
    return symbol;
}

// Bits of even probability, highest first.
static LZMA_INLINE uint32_t decode_direct(range_decoder &rc, int bits) {
    uint32_t value = 0;
    for (int i = 0; i < bits; ++i) {
        rc.range >>= 1;
        uint32_t bit = rc.code >= rc.range;
        rc.code -= rc.range & (0u - bit);
        value = (value << 1) | bit;
        normalize(rc);
    }
    return value;
}

// A match length less the shortest one (0..271).
static LZMA_INLINE uint32_t decode_length(range_decoder &rc, lzma_length_model *model,
                                          uint32_t position_state) {
    if (!decode_bit(rc, &model->choice))
        return decode_tree(rc, model->low[position_state], LZMA_LENGTH_LOW_BITS);
    if (!decode_bit(rc, &model->choice2))
        return (1u << LZMA_LENGTH_LOW_BITS) +
               decode_tree(rc, model->mid[position_state], LZMA_LENGTH_MID_BITS);
    return (1u << LZMA_LENGTH_LOW_BITS) + (1u << LZMA_LENGTH_MID_BITS) +
           decode_tree(rc, model->high, LZMA_LENGTH_HIGH_BITS);
}

// A match's distance less one, after its length (less the shortest) chose
// the slot model.
static LZMA_INLINE uint32_t decode_distance(range_decoder &rc, lzma_model *model, uint32_t length) {
    uint32_t distance_state = length < LZMA_DISTANCE_STATES - 1 ? length : LZMA_DISTANCE_STATES - 1;
    uint32_t slot = decode_tree(rc, model->distance_slot[distance_state], LZMA_DISTANCE_SLOT_BITS);
    if (slot < LZMA_DISTANCE_MODEL_START)
        return slot;
    int extra_bits = static_cast<int>(slot >> 1) - 1;
    uint32_t distance = (2 | (slot & 1)) << extra_bits;
    if (slot < LZMA_DISTANCE_MODEL_END)
        return distance +
               decode_reverse_tree(rc, model->distance_special + distance - slot, extra_bits);
    distance += decode_direct(rc, extra_bits - LZMA_ALIGN_BITS) << LZMA_ALIGN_BITS;
    return distance + decode_reverse_tree(rc, model->align, LZMA_ALIGN_BITS);
}

// Copies `length` bytes from `distance` back to `position`; the caller made
// sure the target does not pass the buffer's end. A source before the start
// of the buffer continues at its end.
static LZMA_INLINE void copy_match(uint8_t *dictionary, uint32_t size, uint32_t position,
                                   uint32_t distance, uint32_t length) {
    uint8_t *to = dictionary + position;
    if (distance <= position) {
        const uint8_t *from = to - distance;
        if (distance >= length) {
            std::memcpy(to, from, length);
        } else {
            // The match repeats bytes it is writing: forward, byte by byte.
            for (uint32_t i = 0; i < length; ++i)
                to[i] = from[i];
        }
        return;
    }
    uint32_t from = position + size - distance;
    uint32_t before_end = size - from;
    uint32_t first = length < before_end ? length : before_end;
    // The source lies after the target, so a forward copy reads each byte
    // before it is overwritten.
    std::memmove(to, dictionary + from, first);
    for (uint32_t i = first; i < length; ++i)
        to[i] = dictionary[i - first];
}

static void reset_model(lzma2_decoder *decoder) {
    lzma_probability *first = &decoder->model.is_match[0][0];
    size_t count = sizeof decoder->model / sizeof(lzma_probability);
    for (size_t i = 0; i < count; ++i)
        first[i] = PROBABILITY_START;
    decoder->state = 0;
    decoder->rep0 = decoder->rep1 = decoder->rep2 = decoder->rep3 = 0;
}

static void reset_dictionary(lzma2_decoder *decoder) {
    decoder->position = 0;
    decoder->full = false;
    decoder->decoded_since_reset = 0;
}

static lzma2_status fail(lzma2_decoder *decoder) {
    decoder->phase = LZMA2_FAILED;
    decoder->status = LZMA2_DAMAGED;
    return LZMA2_DAMAGED;
}

void lzma2_decoder_start(lzma2_decoder *decoder, uint8_t *dictionary, uint32_t size,
                         uint64_t coded_length, uint64_t decoded_length) {
    decoder->status = LZMA2_GOING;
    decoder->phase = LZMA2_AT_CONTROL;
    decoder->dictionary = dictionary;
    decoder->size = size;
    reset_dictionary(decoder);
    decoder->coded_left = coded_length;
    decoder->decoded_left = decoded_length;
    decoder->needs_dictionary_reset = true;
    decoder->needs_properties = true;
    decoder->lc = 0;
    decoder->lp_mask = 0;
    decoder->pb_mask = 0;
    decoder->match_left = 0;
    decoder->state = 0;
    decoder->rep0 = decoder->rep1 = decoder->rep2 = decoder->rep3 = 0;
    if (dictionary == nullptr || size == 0 || size > LZMA2_DICTIONARY_MAX)
        fail(decoder);
}

// Decodes the current LZMA chunk until the dictionary position reaches
// `limit`, which the caller keeps within the chunk and the buffer. False
// when the data is malformed.
static bool decode_lzma(lzma2_decoder *decoder, uint32_t limit) {
    uint8_t *dictionary = decoder->dictionary;
    const uint32_t size = decoder->size;
    uint32_t position = decoder->position;
    const uint32_t start = position;
    const bool full = decoder->full;
    // The decoded position since the reset, modulo 2^32, is base + position.
    const uint32_t base = decoder->decoded_since_reset - position;
    const uint32_t chunk_end = position + decoder->chunk_decoded_left;
    const uint32_t lc = decoder->lc;
    const uint32_t lp_mask = decoder->lp_mask;
    const uint32_t pb_mask = decoder->pb_mask;
    uint32_t state = decoder->state;
    uint32_t rep0 = decoder->rep0, rep1 = decoder->rep1, rep2 = decoder->rep2, rep3 = decoder->rep3;
    lzma_model *model = &decoder->model;
    range_decoder rc = {decoder->range, decoder->code, decoder->coded + decoder->coded_position};
    const uint8_t *coded_end = decoder->coded + decoder->chunk_coded_size;
    bool sound = true;

    if (decoder->match_left > 0) {
        uint32_t now = decoder->match_left;
        if (now > limit - position)
            now = limit - position;
        copy_match(dictionary, size, position, rep0 + 1, now);
        position += now;
        decoder->match_left -= now;
    }

    while (position < limit) {
        if (rc.in > coded_end) {
            sound = false;
            break;
        }
        uint32_t position_state = (base + position) & pb_mask;
        if (!decode_bit(rc, &model->is_match[state][position_state])) {
            uint32_t previous = 0;
            if (position > 0)
                previous = dictionary[position - 1];
            else if (full)
                previous = dictionary[size - 1];
            lzma_probability *probabilities =
                model->literal[(((base + position) & lp_mask) << lc) + (previous >> (8 - lc))];
            uint32_t symbol = 1;
            if (state < LZMA_LITERAL_STATES) {
                do
                    symbol = (symbol << 1) | decode_bit(rc, probabilities + symbol);
                while (symbol < 0x100);
                state = state < 4 ? 0 : state - 3;
            } else {
                // The byte at the last distance steers the model while the
                // bits agree with it.
                uint32_t match_byte =
                    dictionary[rep0 < position ? position - rep0 - 1 : position + size - rep0 - 1];
                uint32_t offset = 0x100;
                do {
                    match_byte <<= 1;
                    uint32_t match_bit = match_byte & offset;
                    uint32_t bit = decode_bit(rc, probabilities + offset + match_bit + symbol);
                    symbol = (symbol << 1) | bit;
                    offset &= bit ? match_bit : ~match_bit;
                } while (symbol < 0x100);
                state = state < 10 ? state - 3 : state - 6;
            }
            dictionary[position++] = static_cast<uint8_t>(symbol);
            continue;
        }

        uint32_t length;
        if (decode_bit(rc, &model->is_rep[state])) {
            if (!decode_bit(rc, &model->is_rep0[state])) {
                if (!decode_bit(rc, &model->is_rep0_long[state][position_state])) {
                    // One byte from the last distance.
                    if (!full && rep0 >= position) {
                        sound = false;
                        break;
                    }
                    state = state < LZMA_LITERAL_STATES ? 9 : 11;
                    dictionary[position] = dictionary[rep0 < position ? position - rep0 - 1
                                                                      : position + size - rep0 - 1];
                    ++position;
                    continue;
                }
            } else {
                uint32_t distance;
                if (!decode_bit(rc, &model->is_rep1[state])) {
                    distance = rep1;
                } else {
                    if (!decode_bit(rc, &model->is_rep2[state])) {
                        distance = rep2;
                    } else {
                        distance = rep3;
                        rep3 = rep2;
                    }
                    rep2 = rep1;
                }
                rep1 = rep0;
                rep0 = distance;
            }
            length = decode_length(rc, &model->rep_length, position_state);
            state = state < LZMA_LITERAL_STATES ? 8 : 11;
        } else {
            rep3 = rep2;
            rep2 = rep1;
            rep1 = rep0;
            length = decode_length(rc, &model->match_length, position_state);
            state = state < LZMA_LITERAL_STATES ? 7 : 10;
            rep0 = decode_distance(rc, model, length);
        }
        length += LZMA_MATCH_LENGTH_MIN;
        // A distance before the dictionary's start (the end marker's
        // 0xFFFFFFFF among them) or a match past the chunk's end is damage.
        if ((!full && rep0 >= position) || rep0 >= size || length > chunk_end - position) {
            sound = false;
            break;
        }
        uint32_t now = length < limit - position ? length : limit - position;
        copy_match(dictionary, size, position, rep0 + 1, now);
        position += now;
        decoder->match_left = length - now;
    }
    if (rc.in > coded_end)
        sound = false;

    decoder->state = state;
    decoder->rep0 = rep0;
    decoder->rep1 = rep1;
    decoder->rep2 = rep2;
    decoder->rep3 = rep3;
    decoder->range = rc.range;
    decoder->code = rc.code;
    decoder->coded_position = static_cast<uint32_t>(rc.in - decoder->coded);
    uint32_t produced = position - start;
    decoder->position = position;
    decoder->decoded_since_reset += produced;
    decoder->chunk_decoded_left -= produced;
    decoder->decoded_left -= produced;
    return sound;
}

// Reads a chunk's control byte: what the chunk resets, and how long its
// header is. False when the byte is invalid here.
static bool take_control(lzma2_decoder *decoder, uint8_t control) {
    decoder->control = control;
    decoder->header_have = 0;
    if (control == LZMA2_CONTROL_END) {
        decoder->phase = LZMA2_AFTER_END;
        return true;
    }
    if (control == LZMA2_CONTROL_STORED_RESET || control == LZMA2_CONTROL_STORED) {
        if (control == LZMA2_CONTROL_STORED_RESET) {
            reset_dictionary(decoder);
            decoder->needs_dictionary_reset = false;
            decoder->needs_properties = true;
        } else if (decoder->needs_dictionary_reset) {
            return false;
        }
        decoder->header_length = 2;
        decoder->phase = LZMA2_IN_HEADER;
        return true;
    }
    if (control < LZMA2_CONTROL_LZMA)
        return false;
    uint32_t reset = (control >> LZMA2_RESET_SHIFT) & 3;
    if (reset == LZMA2_RESET_DICTIONARY) {
        reset_dictionary(decoder);
        decoder->needs_dictionary_reset = false;
    } else if (decoder->needs_dictionary_reset) {
        return false;
    }
    if (reset < LZMA2_RESET_PROPERTIES && decoder->needs_properties)
        return false;
    decoder->header_length = reset >= LZMA2_RESET_PROPERTIES ? 5 : 4;
    decoder->phase = LZMA2_IN_HEADER;
    return true;
}

// Takes the properties byte: false when lc, lp or pb is out of range.
static bool take_properties(lzma2_decoder *decoder, uint32_t properties) {
    if (properties >= LZMA_PROPERTIES_LIMIT)
        return false;
    uint32_t lc = properties % 9;
    properties /= 9;
    uint32_t lp = properties % 5;
    uint32_t pb = properties / 5;
    if (lc + lp > LZMA_LC_LP_MAX)
        return false;
    decoder->lc = lc;
    decoder->lp_mask = (1u << lp) - 1;
    decoder->pb_mask = (1u << pb) - 1;
    decoder->needs_properties = false;
    return true;
}

// The chunk's header is complete: judge its sizes against the stream's
// `coded_left` bytes and its decoded length left, and ready its data.
static bool take_header(lzma2_decoder *decoder, uint64_t coded_left) {
    const uint8_t *header = decoder->header;
    uint32_t control = decoder->control;
    if (control < LZMA2_CONTROL_LZMA) {
        decoder->chunk_decoded_left = ((header[0] << 8) | header[1]) + 1u;
        if (decoder->chunk_decoded_left > coded_left)
            return false;
        decoder->phase = LZMA2_IN_STORED;
    } else {
        decoder->chunk_decoded_left = ((control & 0x1Fu) << 16) + (header[0] << 8) + header[1] + 1u;
        decoder->chunk_coded_size = ((header[2] << 8) | header[3]) + 1u;
        uint32_t reset = (control >> LZMA2_RESET_SHIFT) & 3;
        if (reset >= LZMA2_RESET_PROPERTIES && !take_properties(decoder, header[4]))
            return false;
        if (reset >= LZMA2_RESET_STATE)
            reset_model(decoder);
        if (decoder->chunk_coded_size > coded_left)
            return false;
        decoder->chunk_have = 0;
        decoder->phase = LZMA2_GATHERING;
    }
    return decoder->chunk_decoded_left <= decoder->decoded_left;
}

// The chunk's coded bytes are all here: pad them and start the range decoder.
static bool start_range_decoder(lzma2_decoder *decoder) {
    std::memset(decoder->coded + decoder->chunk_coded_size, 0, LZMA_SYMBOL_BYTES_MAX);
    const uint8_t *coded = decoder->coded;
    if (coded[0] != 0)
        return false;
    decoder->range = 0xFFFFFFFFu;
    decoder->code = (uint32_t{coded[1]} << 24) | (uint32_t{coded[2]} << 16) |
                    (uint32_t{coded[3]} << 8) | coded[4];
    decoder->coded_position = RANGE_START_BYTES;
    decoder->match_left = 0;
    decoder->phase = LZMA2_IN_LZMA;
    return true;
}

// A finished LZMA chunk must have used its coded bytes exactly, down to a
// range decoder that is left with nothing.
static bool chunk_ended_cleanly(const lzma2_decoder *decoder) {
    return decoder->match_left == 0 && decoder->coded_position == decoder->chunk_coded_size &&
           decoder->code == 0;
}

// Adds input to a buffer that holds `*have` of the `wanted` bytes it waits
// for; returns the bytes taken (at most `here`).
static size_t gather(uint8_t *buffer, uint32_t *have, uint32_t wanted, const uint8_t *input,
                     size_t here) {
    size_t now = wanted - *have;
    if (now > here)
        now = here;
    std::memcpy(buffer + *have, input, now);
    *have += static_cast<uint32_t>(now);
    return now;
}

lzma2_status lzma2_decode(lzma2_decoder *decoder, const uint8_t *input, size_t input_length,
                          size_t output_max, lzma2_step *step) {
    step->input_used = 0;
    step->output = nullptr;
    step->output_length = 0;
    if (decoder->status != LZMA2_GOING)
        return decoder->status;

    // The stream's own bytes only; whatever follows them is not taken.
    size_t available = input_length;
    if (available > decoder->coded_left)
        available = static_cast<size_t>(decoder->coded_left);
    size_t used = 0;

    if (decoder->position == decoder->size) {
        decoder->position = 0;
        decoder->full = true;
    }
    uint32_t output_start = decoder->position;
    uint32_t budget = decoder->size - output_start;
    if (output_max < budget)
        budget = static_cast<uint32_t>(output_max);

    bool going = true;
    while (going) {
        size_t here = available - used;
        switch (decoder->phase) {
        case LZMA2_AT_CONTROL: {
            if (here == 0) {
                going = false;
                break;
            }
            uint8_t control = input[used];
            bool resets = control == LZMA2_CONTROL_STORED_RESET ||
                          (control >= LZMA2_CONTROL_LZMA &&
                           ((control >> LZMA2_RESET_SHIFT) & 3) == LZMA2_RESET_DICTIONARY);
            // A reset moves the dictionary's position: this call's output
            // must stay one run of bytes.
            if (resets && decoder->position != output_start) {
                going = false;
                break;
            }
            ++used;
            if (!take_control(decoder, control))
                return fail(decoder);
            if (resets) {
                output_start = 0;
                budget = decoder->size;
                if (output_max < budget)
                    budget = static_cast<uint32_t>(output_max);
            }
            break;
        }
        case LZMA2_IN_HEADER: {
            used += gather(decoder->header, &decoder->header_have, decoder->header_length,
                           input + used, here);
            if (decoder->header_have < decoder->header_length) {
                going = false;
                break;
            }
            // A chunk longer than the stream's bytes left is cut off.
            if (!take_header(decoder, decoder->coded_left - used))
                return fail(decoder);
            break;
        }
        case LZMA2_IN_STORED: {
            size_t now = decoder->chunk_decoded_left;
            if (now > here)
                now = here;
            uint32_t room = budget - (decoder->position - output_start);
            if (now > room)
                now = room;
            std::memcpy(decoder->dictionary + decoder->position, input + used, now);
            used += now;
            uint32_t length = static_cast<uint32_t>(now);
            decoder->position += length;
            decoder->decoded_since_reset += length;
            decoder->chunk_decoded_left -= length;
            decoder->decoded_left -= length;
            if (decoder->chunk_decoded_left == 0)
                decoder->phase = LZMA2_AT_CONTROL;
            else
                going = false;
            break;
        }
        case LZMA2_GATHERING: {
            used += gather(decoder->coded, &decoder->chunk_have, decoder->chunk_coded_size,
                           input + used, here);
            if (decoder->chunk_have < decoder->chunk_coded_size) {
                going = false;
                break;
            }
            if (!start_range_decoder(decoder))
                return fail(decoder);
            break;
        }
        case LZMA2_IN_LZMA: {
            uint32_t room = budget - (decoder->position - output_start);
            if (room == 0) {
                going = false;
                break;
            }
            uint32_t now = decoder->chunk_decoded_left < room ? decoder->chunk_decoded_left : room;
            if (!decode_lzma(decoder, decoder->position + now))
                return fail(decoder);
            if (decoder->chunk_decoded_left == 0) {
                if (!chunk_ended_cleanly(decoder))
                    return fail(decoder);
                decoder->phase = LZMA2_AT_CONTROL;
            }
            break;
        }
        case LZMA2_AFTER_END:
            going = false;
            break;
        case LZMA2_FAILED:
            return fail(decoder);
        }
    }

    decoder->coded_left -= used;
    step->input_used = used;
    step->output = decoder->dictionary + output_start;
    step->output_length = decoder->position - output_start;
    if (decoder->phase == LZMA2_AFTER_END) {
        // Nothing may follow the end byte, and the stream must have given
        // exactly the length the container names.
        if (decoder->coded_left != 0 || decoder->decoded_left != 0)
            return fail(decoder);
        if (step->output_length == 0)
            decoder->status = LZMA2_END;
        return decoder->status;
    }
    // The stream's bytes ran out before its end byte.
    if (decoder->coded_left == 0 && used == available && step->output_length == 0)
        return fail(decoder);
    return LZMA2_GOING;
}
