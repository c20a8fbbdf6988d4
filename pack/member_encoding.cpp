// SPDX-License-Identifier: Zlib
#include "member_encoding.h"

#include "archive_writer.h"
#include "member_extension.h"
#include "pack_messages.h"

#include <cstring>

bool has_room_for_check(const pack_member &member) {
    return std::strlen(member.stored) <= LONGEST_CHECKED_NAME;
}

static unsigned char member_flags(const pack_member &member) {
    return member.executable ? MEMBER_FLAG_EXECUTABLE : 0;
}

bool encode_pack_record(const pack_member &member, unsigned char *bytes, uint32_t *check,
                        bool *checked) {
    int32_t size = static_cast<int32_t>(member.size);
    *checked = has_room_for_check(member);
    *check = 0;
    if (!*checked)
        return encode_new_record(member.kind, member.stored, size, bytes);
    member_extension extension = {0, member_flags(member)};
    if (!encode_checked_record(member.kind, member.stored, size, &extension, bytes))
        return false;
    member_record record;
    decode_member_record(bytes, &record);
    *check = start_member_check(&record, extension.flags);
    return true;
}

size_t pack_record_check_offset(const pack_member &member) {
    return record_check_offset(std::strlen(member.stored));
}

bool check_file_length(int64_t length) {
    if (length <= LARGEST_ARCHIVE_FILE)
        return true;
    report_error("the self-extracting file would be %lld bytes; it must stay below %s (%lld "
                 "bytes)",
                 static_cast<long long>(length), ARCHIVE_LIMIT_WORDS,
                 static_cast<long long>(LARGEST_ARCHIVE_FILE + 1));
    return false;
}
