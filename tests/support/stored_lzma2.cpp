// SPDX-License-Identifier: Zlib
#include "stored_lzma2.h"

#include "lzma2_decoder.h"

#include <algorithm>

std::string stored_lzma2_stream(const std::string &bytes) {
    std::string stream;
    for (size_t at = 0; at < bytes.size(); at += LZMA2_CODED_CHUNK_MAX) {
        size_t length = std::min<size_t>(LZMA2_CODED_CHUNK_MAX, bytes.size() - at);
        stream += static_cast<char>(at == 0 ? LZMA2_CONTROL_STORED_RESET : LZMA2_CONTROL_STORED);
        stream += static_cast<char>((length - 1) >> 8);
        stream += static_cast<char>((length - 1) & 0xFF);
        stream += bytes.substr(at, length);
    }
    return stream + '\0';
}
