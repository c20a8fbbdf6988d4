// SPDX-License-Identifier: Zlib
// Apart from the rest of the judging, so the stub, which never explains a
// verdict, links none of these texts.
#include "archive_reader.h"

const char *describe_record_verdict(record_verdict verdict) {
    switch (verdict) {
    case RECORD_GOOD:
        return "good";
    case RECORD_BAD_MAGIC:
        return "wrong magic number";
    case RECORD_BAD_KIND:
        return "unknown member kind";
    case RECORD_BAD_NAME:
        return "name empty or not terminated";
    case RECORD_CONTROL_NAME:
        return "name holds a control character";
    case RECORD_UNSAFE_NAME:
        return "name leaves the extraction folder";
    case RECORD_STREAM_NAME:
        return "name holds ':', which Windows takes as a stream of a file";
    case RECORD_UNREADABLE_NAME:
        return "name holds bytes that mean nothing in the code page";
    case RECORD_DEVICE_NAME:
        return "name holds a device name";
    case RECORD_FOLDER_NAME:
        return "a file's name ends in a separator or '.'";
    case RECORD_BAD_SIZE:
        return "size negative or past the end of the archive";
    }
    return "unknown";
}
