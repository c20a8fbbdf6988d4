// SPDX-License-Identifier: Zlib
// A packed member's record, for the plain layout and for the run a container
// holds alike: the name, size and extension block the packer gives it; and
// the length both layouts must keep the whole file within.
#pragma once

#include "gather.h"
#include "member_record.h"

#include <cstddef>
#include <cstdint>

// True when the member's stored name leaves room for the extension block.
bool has_room_for_check(const pack_member &member);

// The record of `member` in `bytes` (RECORD_SIZE), its check value still 0
// when it has the block. `check` gets the check value of the record's own
// part; crc32c_update over the member's data completes it. `checked` says
// whether the record has the block. False for a name the record can't hold.
bool encode_pack_record(const pack_member &member, unsigned char *bytes, uint32_t *check,
                        bool *checked);

// Offset of the check value in the record bytes of `member`.
size_t pack_record_check_offset(const pack_member &member);

// True when a self-extracting file of `length` bytes stays within what its
// length trailer can describe; otherwise false after a message.
bool check_file_length(int64_t length);
