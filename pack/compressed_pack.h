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

// The order inside the streams: directories first, in archive order, then
// the files grouped by their name's extension (the text after the last '.'
// of the last part; names without one first), in archive order inside a
// group. Similar files stand together, which the dictionary rewards.
std::vector<pack_member> compression_order(const std::vector<pack_member> &members, char separator);

// Where the streams begin: indexes into `ordered` (the first always 0), from
// the members' sizes and the dictionary size alone, never from the machine.
// A run shorter than STREAM_DICTIONARIES dictionaries stays one stream; a
// longer one is cut into about equal streams of at most that length, only
// at a member's start and never before the last directory.
std::vector<size_t> stream_starts(const std::vector<pack_member> &ordered,
                                  uint32_t dictionary_size);

// Streams are cut at about this many dictionaries each.
constexpr int STREAM_DICTIONARIES = 4;

// The dictionary the level gives, shrunk to what the longest stream needs.
uint32_t container_dictionary_size(const std::vector<pack_member> &ordered,
                                   const std::vector<size_t> &starts, int level);

// Compresses `ordered` into its streams on all cores and puts one container
// per stream into `out`. `show_progress`: the percentage of data taken in,
// redrawn on standard error. False after a message on standard error.
bool put_containers(output_buffer *out, const std::string &output,
                    const std::vector<pack_member> &ordered, int level, bool show_progress);
