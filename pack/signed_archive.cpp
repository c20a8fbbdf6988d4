// SPDX-License-Identifier: Zlib
#include "signed_archive.h"

#include "pack_messages.h"

bool find_checked_archive_end(FILE *archive, const char *path, int64_t file_size,
                              archive_extent *extent) {
    archive_end_verdict verdict = find_archive_end(archive, file_size, extent);
    long long offset = static_cast<long long>(extent->table_offset);
    long long size = static_cast<long long>(extent->table_size);
    switch (verdict) {
    case ARCHIVE_END_UNSIGNED:
    case ARCHIVE_END_SIGNED:
        return true;
    case ARCHIVE_END_OUTSIDE_FILE:
        report_error("'%s': its security directory names %lld bytes at offset %lld, past the end "
                     "of the file (%lld bytes); the extractor refuses it",
                     path, size, offset, static_cast<long long>(file_size));
        return false;
    case ARCHIVE_END_AFTER_TABLE:
        report_error("'%s': its certificate table ends %lld bytes before the end of the file: "
                     "bytes were added after the signature; the extractor refuses it",
                     path, static_cast<long long>(file_size) - offset - size);
        return false;
    case ARCHIVE_END_INSIDE:
        report_error("'%s': its certificate table at offset %lld starts inside the archive (no "
                     "length trailer stands before it); the extractor refuses it",
                     path, offset);
        return false;
    case ARCHIVE_END_PADDING:
        report_error("'%s': the bytes between the length trailer and the certificate table at "
                     "offset %lld are not all zero; the extractor refuses it",
                     path, offset);
        return false;
    case ARCHIVE_END_UNREADABLE:
        break;
    }
    report_error("can't read the bytes before the certificate table of '%s'", path);
    return false;
}

bool is_signed_program(const char *image, size_t size) {
    archive_extent extent;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(image);
    int64_t image_size = static_cast<int64_t>(size);
    return find_certificate_table(bytes, size, image_size, &extent) != ARCHIVE_END_UNSIGNED;
}

void print_signature_line(const archive_extent *extent) {
    if (extent->table_size == 0)
        return;
    std::printf("signed: a certificate table of %lld bytes at offset %lld follows the archive "
                "(not verified)\n",
                static_cast<long long>(extent->table_size),
                static_cast<long long>(extent->table_offset));
}
