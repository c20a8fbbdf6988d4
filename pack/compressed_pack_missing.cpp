// SPDX-License-Identifier: Zlib
// A packer built without liblzma can't compress: the command line refuses -z
// with this reason, so put_containers is never called here.
#include "compressed_pack.h"

#include "pack_messages.h"

const char *compression_missing_reason() {
    return "this sfxpack was built without liblzma, which -z needs";
}

bool put_containers(output_buffer *, const std::string &, const std::vector<pack_member> &, int,
                    bool) {
    report_error("%s", compression_missing_reason());
    return false;
}
