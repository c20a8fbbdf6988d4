// SPDX-License-Identifier: Zlib
// CRC-32C: the 32-bit cyclic redundancy check with the Castagnoli polynomial
// (0x1EDC6F41, bits reflected, 0x82F63B78), started from and ended with all
// bits set. It catches every burst of up to 32 damaged bits and misses other
// damage with a chance of 2^-32. The check value of a member's extension.
#pragma once

#include <cstddef>
#include <cstdint>

// The check value of `length` bytes at `data` following bytes whose check
// value is `crc` (0 before the first byte), so a run of bytes may be fed in
// pieces of any size: crc32c_update(crc32c_update(0, a), b) is the value of
// a and b one after the other. Uses the processor's instruction when it has
// one, chosen on the first call.
uint32_t crc32c_update(uint32_t crc, const void *data, size_t length);

// The same value, table-driven, on any processor.
uint32_t crc32c_portable(uint32_t crc, const void *data, size_t length);

typedef uint32_t (*crc32c_function)(uint32_t crc, const void *data, size_t length);

// The same value by the processor's own instruction; null when the processor
// running the program, or the one the program is built for, has none.
crc32c_function crc32c_hardware();
