// SPDX-License-Identifier: Zlib
// A packer built without liblzma (the Windows one: the distribution has no
// liblzma for it) can't compress; the command line refuses -z with this
// reason before anything else calls in here.
#include "stream_encoder.h"

const char *stream_encoder_missing_reason() {
    return "this sfxpack was built without liblzma, which -z needs";
}

uint32_t level_dictionary_size(int) {
    return 0;
}

uint64_t encoder_memory(const encoder_settings &) {
    return UINT64_MAX;
}

stream_encoder *start_stream_encoder(const encoder_settings &, const unsigned char *, size_t,
                                     std::vector<unsigned char> *) {
    return nullptr;
}

bool encode_stream_bytes(stream_encoder *, const void *, size_t) {
    return false;
}

bool finish_stream_encoder(stream_encoder *) {
    return false;
}

void abandon_stream_encoder(stream_encoder *) {}
