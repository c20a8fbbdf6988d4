// SPDX-License-Identifier: Zlib
// sfxpack -z: the members go, as the run of records and data the plain
// layout has, into one or a few LZMA2 streams, each the data of one
// container member.
#pragma once

#include "gather.h"
#include "output_buffer.h"

#include <cstdint>
#include <string>
#include <vector>

// The level -z compresses with when --level is not given.
constexpr int DEFAULT_COMPRESSION_LEVEL = 9;

// Null when this sfxpack can compress; otherwise why it can't, for the
// message that refuses -z. The build chooses the source file: with liblzma
// compressed_pack.cpp, without it (the Windows packer: the distribution has
// no liblzma for it) compressed_pack_missing.cpp, whose put_containers is
// never reached.
const char *compression_missing_reason();

// The order inside the streams: directories first, in archive order, then
// the files grouped by their name's extension (the text after the last '.'
// of the last part; names without one first), in archive order inside a
// group. Similar files stand together, which the dictionary rewards.
std::vector<pack_member> compression_order(const std::vector<pack_member> &members, char separator);

// Compresses `ordered` into its streams on all cores and puts one container
// per stream into `out`. `show_progress`: the percentage of data taken in,
// redrawn on standard error. False after a message on standard error.
bool put_containers(output_buffer *out, const std::string &output,
                    const std::vector<pack_member> &ordered, int level, bool show_progress);
