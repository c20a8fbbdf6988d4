// The processors' own CRC-32C instructions. Each is compiled for its
// instruction set alone (a target attribute), so the rest of the program
// stays runnable on processors without it; on x86 the processor is asked at
// run time whether it has SSE4.2.
#include "crc32c.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <nmmintrin.h>

__attribute__((target("sse4.2"))) static uint32_t crc32c_sse42(uint32_t crc, const void *data,
                                                                size_t length) {
    const unsigned char *at = static_cast<const unsigned char *>(data);
    uint32_t state = ~crc;
#if defined(__x86_64__)
    uint64_t wide = state;
    for (; length >= 8; length -= 8, at += 8) {
        uint64_t word;
        std::memcpy(&word, at, sizeof word);
        wide = _mm_crc32_u64(wide, word);
    }
    state = static_cast<uint32_t>(wide);
#else
    for (; length >= 4; length -= 4, at += 4) {
        uint32_t word;
        std::memcpy(&word, at, sizeof word);
        state = _mm_crc32_u32(state, word);
    }
#endif
    for (; length > 0; --length, ++at)
        state = _mm_crc32_u8(state, *at);
    return ~state;
}

crc32c_function crc32c_hardware() {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_SSE4_2) == 0)
        return nullptr;
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
