// SPDX-License-Identifier: Zlib
// LZMA2 streams made of stored chunks only: containers for tests and the
// fuzzer without an encoder.
#pragma once

#include <string>

// `bytes` as a raw LZMA2 stream of stored chunks of at most 64 KiB: the
// first resets the dictionary, the end byte closes it.
std::string stored_lzma2_stream(const std::string &bytes);
