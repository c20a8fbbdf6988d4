// SPDX-License-Identifier: Zlib
// The processors' own CRC-32C instructions. Each is compiled for its
// instruction set alone (a target attribute), so the rest of the program
// stays runnable on processors without it; on x86 the processor is asked at
// run time whether it has SSE4.2.
#include "crc32c.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <nmmintrin.h>

// One crc32 instruction waits for the one before it, but the processor can
// run three at once: each large piece is taken as three lanes computed side
// by side, then joined. Three lanes fill a 16000-byte copy chunk.
constexpr size_t LANE = 5328;

// Moves a register by LANE zero bytes, one table per register byte: the
// lanes after the first start from 0, so the register of the lane before
// is moved past them and added in.
static uint32_t lane_shift[4][256];

#if defined(__x86_64__)
typedef uint64_t crc_word;
#define CRC32_WORD _mm_crc32_u64
#else
typedef uint32_t crc_word;
#define CRC32_WORD _mm_crc32_u32
#endif

__attribute__((target("sse4.2"))) static uint32_t take_word(uint32_t state,
                                                            const unsigned char *at) {
    crc_word word;
    std::memcpy(&word, at, sizeof word);
    return static_cast<uint32_t>(CRC32_WORD(state, word));
}

// The register after `length` bytes (a multiple of the word size).
__attribute__((target("sse4.2"))) static uint32_t
take_words(uint32_t state, const unsigned char *at, size_t length) {
    for (size_t i = 0; i < length; i += sizeof(crc_word))
        state = take_word(state, at + i);
    return state;
}

static uint32_t shift_past_lane(uint32_t state) {
    return lane_shift[0][state & 0xFF] ^ lane_shift[1][(state >> 8) & 0xFF] ^
           lane_shift[2][(state >> 16) & 0xFF] ^ lane_shift[3][state >> 24];
}

// Moving a register past zero bytes is linear in its bits, so the tables
// follow from what LANE zero bytes do to each single bit.
__attribute__((target("sse4.2"))) static void build_lane_shift() {
    static const unsigned char zeros[sizeof(crc_word)] = {};
    uint32_t moved_bit[32];
    for (int bit = 0; bit < 32; ++bit) {
        uint32_t state = UINT32_C(1) << bit;
        for (size_t i = 0; i < LANE; i += sizeof(crc_word))
            state = take_word(state, zeros);
        moved_bit[bit] = state;
    }
    for (int k = 0; k < 4; ++k)
        for (int byte = 0; byte < 256; ++byte) {
            uint32_t value = 0;
            for (int bit = 0; bit < 8; ++bit)
                if ((byte >> bit) & 1)
                    value ^= moved_bit[8 * k + bit];
            lane_shift[k][byte] = value;
        }
}

__attribute__((target("sse4.2"))) static uint32_t crc32c_sse42(uint32_t crc, const void *data,
                                                               size_t length) {
    const unsigned char *at = static_cast<const unsigned char *>(data);
    uint32_t state = ~crc;
    for (; length >= 3 * LANE; length -= 3 * LANE, at += 3 * LANE) {
        uint32_t first = state, second = 0, third = 0;
        for (size_t i = 0; i < LANE; i += sizeof(crc_word)) {
            first = take_word(first, at + i);
            second = take_word(second, at + LANE + i);
            third = take_word(third, at + 2 * LANE + i);
        }
        state = shift_past_lane(shift_past_lane(first) ^ second) ^ third;
    }
    size_t words = length - length % sizeof(crc_word);
    state = take_words(state, at, words);
    for (at += words, length -= words; length > 0; --length, ++at)
        state = _mm_crc32_u8(state, *at);
    return ~state;
}

crc32c_function crc32c_hardware() {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_SSE4_2) == 0)
        return nullptr;
    build_lane_shift();
    return crc32c_sse42;
}

#elif defined(__ARM_FEATURE_CRC32) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__

#include <arm_acle.h>

// Built for a processor that has the instructions: nothing to ask.
static uint32_t crc32c_arm(uint32_t crc, const void *data, size_t length) {
    const unsigned char *at = static_cast<const unsigned char *>(data);
    uint32_t state = ~crc;
#if defined(__aarch64__)
    for (; length >= 8; length -= 8, at += 8) {
        uint64_t word;
        std::memcpy(&word, at, sizeof word);
        state = __crc32cd(state, word);
    }
#endif
    for (; length >= 4; length -= 4, at += 4) {
        uint32_t word;
        std::memcpy(&word, at, sizeof word);
        state = __crc32cw(state, word);
    }
    for (; length > 0; --length, ++at)
        state = __crc32cb(state, *at);
    return ~state;
}

crc32c_function crc32c_hardware() {
    return crc32c_arm;
}

#else

crc32c_function crc32c_hardware() {
    return nullptr;
}

#endif
