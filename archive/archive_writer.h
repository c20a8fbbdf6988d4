// SPDX-License-Identifier: Zlib
// Encoding a self-extracting file: stub, filler, members and length trailer.
// The packer and the tests put these bytes out in their own way, in order:
// the stub, filler_after_stub bytes of FILLER_BYTE, the layout declaration
// (encode_layout_declaration), each member's record and data, then the
// trailer.
#pragma once

#include "container_block.h"
#include "layout_declaration.h"
#include "member_extension.h"
#include "member_record.h"

#include <cstddef>
#include <cstdint>

// Longest name a record can hold (the field keeps one byte for the NUL).
constexpr size_t LONGEST_MEMBER_NAME = NAME_FIELD_SIZE - 1;

// True when a stub of `stub_size` bytes ends before the layout declaration.
bool stub_fits(int64_t stub_size);

// The FILLER_BYTE count between the end of a stub that fits and the layout
// declaration.
size_t filler_after_stub(size_t stub_size);

// The RECORD_SIZE bytes of one record; the unused name bytes are zero. Fails
// for a name longer than LONGEST_MEMBER_NAME or a negative size.
bool encode_new_record(char kind, const char *name, int32_t size, unsigned char *bytes);

// As encode_new_record, with the extension block behind the name. Also fails
// for a name longer than LONGEST_CHECKED_NAME.
bool encode_checked_record(char kind, const char *name, int32_t size,
                           const member_extension *extension, unsigned char *bytes);

// A container's record: a file member of `size` compressed bytes with the
// container block behind the name. Fails for a name longer than
// LONGEST_CONTAINER_NAME or a negative size.
bool encode_container_record(const char *name, int32_t size, const container_fields *fields,
                             unsigned char *bytes);

// The trailer for a file whose members end at `position`: that position plus
// the trailer's own four bytes. Fails when the length does not fit a 32-bit
// signed count.
bool encode_length_trailer(int64_t position, unsigned char *bytes);
