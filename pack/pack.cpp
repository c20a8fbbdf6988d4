#include "pack.h"

#include "archive_reader.h"
#include "archive_writer.h"
#include "codepage.h"
#include "gather.h"
#include "pack_messages.h"
#include "platform.h"
#include "stub_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Below this much file data a progress figure would only flicker.
constexpr int64_t PROGRESS_THRESHOLD = INT64_C(16) * 1024 * 1024;

// Names the stub may have next to sfxpack: as built here, or for Windows.
const char *const STUB_NAMES[] = {"sfxstub", "sfxstub.exe"};

struct progress_state {
    int64_t total;
    int64_t done;
    int shown_percent; // -1 before the first figure
};

bool find_default_stub(std::string *stub) {
    char own_path[4096];
    if (!platform_own_program_file(own_path, sizeof own_path)) {
        report_error("can't tell where sfxpack lives; give the stub with -s STUB");
        return false;
    }
    std::string folder(own_path);
    size_t cut = folder.find_last_of("/\\");
    folder = cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
    for (const char *name : STUB_NAMES) {
        platform_entry entry;
        if (platform_entry_status((folder + name).c_str(), true, &entry) &&
            entry.kind == PLATFORM_ENTRY_FILE) {
            *stub = folder + name;
            return true;
        }
    }
    report_error("no stub next to sfxpack (looked for %s%s); give one with -s STUB", folder.c_str(),
                 STUB_NAMES[0]);
    return false;
}

void report_stub_too_large(const std::string &path, long long size) {
    report_error("the stub '%s' is %lld bytes; it must fit in the first %ld bytes of the file",
                 path.c_str(), size, static_cast<long>(ARCHIVE_START));
}

bool read_stub(const std::string &path, std::string *image) {
    platform_entry entry;
    if (!status_of_regular_file(path, "stub", &entry))
        return false;
    if (entry.size > ARCHIVE_START) {
        report_stub_too_large(path, static_cast<long long>(entry.size));
        return false;
    }
    FILE *stub = platform_open(path.c_str(), "rb");
    if (stub == nullptr) {
        report_error("can't read the stub '%s': %s", path.c_str(), std::strerror(errno));
        return false;
    }
    // One byte more than fits, to notice a stub that grew since its size was read.
    image->resize(static_cast<size_t>(ARCHIVE_START) + 1);
    size_t got = std::fread(&(*image)[0], 1, image->size(), stub);
    bool read_failed = std::ferror(stub) != 0;
    std::fclose(stub);
    image->resize(got);
    if (read_failed) {
        report_error("can't read the stub '%s'", path.c_str());
        return false;
    }
    if (got > static_cast<size_t>(ARCHIVE_START)) {
        report_stub_too_large(path, static_cast<long long>(got));
        return false;
    }
    if (got == 0) {
        report_error("the stub '%s' is empty", path.c_str());
        return false;
    }
    return true;
}

// Windows programs take '\\' between name parts.
char choose_separator(const pack_options &options, const std::string &stub_image) {
    if (options.separator != 0)
        return options.separator;
    return stub_name_rules(stub_image.data(), stub_image.size()) == NAME_RULES_WINDOWS ? '\\' : '/';
}

bool check_total_size(const std::vector<pack_member> &members, int64_t *data_total) {
    int64_t total = ARCHIVE_START + TRAILER_SIZE;
    *data_total = 0;
    for (const pack_member &member : members) {
        total += RECORD_SIZE + member.size;
        *data_total += member.size;
    }
    if (total <= LARGEST_ARCHIVE_FILE)
        return true;
    report_error("the self-extracting file would be %lld bytes; it must stay below 2 GiB "
                 "(2147483648 bytes)",
                 static_cast<long long>(total));
    return false;
}

bool ends_with_exe(const std::string &name) {
    if (name.size() < 4)
        return false;
    const char *tail = name.c_str() + name.size() - 4;
    const char *exe = ".exe";
    for (int i = 0; i < 4; ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != exe[i])
            return false;
    }
    return true;
}

void advance_progress(int32_t bytes, void *context) {
    progress_state *progress = static_cast<progress_state *>(context);
    progress->done += bytes;
    int percent = static_cast<int>(progress->done * 100 / progress->total);
    if (percent == progress->shown_percent)
        return;
    progress->shown_percent = percent;
    std::fprintf(stderr, "\rsfxpack: packing %3d %%", percent);
    std::fflush(stderr);
}

bool copy_file_member(FILE *out, const std::string &output, const pack_member &member,
                      progress_state *progress) {
    FILE *in = platform_open(member.source.c_str(), "rb");
    if (in == nullptr) {
        report_error("can't read '%s': %s", member.source.c_str(), std::strerror(errno));
        return false;
    }
    data_copy_result result = write_member_data(out, in, static_cast<int32_t>(member.size),
                                                progress ? advance_progress : nullptr, progress);
    int copy_error = errno;
    std::fclose(in);
    if (result == DATA_SHORT)
        report_error("can't read '%s' whole: it failed or has shrunk below %lld bytes",
                     member.source.c_str(), static_cast<long long>(member.size));
    else if (result == DATA_NOT_WRITTEN)
        report_error("can't write '%s': %s", output.c_str(), std::strerror(copy_error));
    return result == DATA_COPIED;
}

bool write_members(FILE *out, const std::string &output, const std::vector<pack_member> &members,
                   progress_state *progress) {
    for (const pack_member &member : members) {
        if (!write_member_record(out, member.kind, member.name.c_str(),
                                 static_cast<int32_t>(member.size))) {
            report_error("can't write '%s': %s", output.c_str(), std::strerror(errno));
            return false;
        }
        if (member.kind == KIND_FILE && !copy_file_member(out, output, member, progress))
            return false;
    }
    return true;
}

// Everything goes to a fresh file beside the output, renamed onto it only
// when whole, so a refusal or a failure never leaves a broken file behind.
bool write_output(const std::string &output, const std::string &stub_image,
                  const std::vector<pack_member> &members, progress_state *progress) {
    char temp_path[4096];
    FILE *out = platform_create_temp_file(output.c_str(), temp_path, sizeof temp_path);
    if (out == nullptr) {
        report_error("can't create a file beside '%s': %s", output.c_str(), std::strerror(errno));
        return false;
    }
    bool ok = write_stub_and_filler(out, stub_image.data(), stub_image.size());
    if (!ok)
        report_error("can't write '%s': %s", output.c_str(), std::strerror(errno));
    ok = ok && write_members(out, output, members, progress);
    if (ok && !write_length_trailer(out)) {
        report_error("can't write '%s': %s", output.c_str(), std::strerror(errno));
        ok = false;
    }
    if (std::fclose(out) != 0 && ok) {
        report_error("can't write '%s': %s", output.c_str(), std::strerror(errno));
        ok = false;
    }
    if (ok && !platform_make_executable(temp_path)) {
        report_error("can't make '%s' executable: %s", output.c_str(), std::strerror(errno));
        ok = false;
    }
    if (ok && !platform_replace_file(temp_path, output.c_str())) {
        report_error("can't write '%s': %s", output.c_str(), std::strerror(errno));
        ok = false;
    }
    if (!ok)
        platform_remove(temp_path);
    return ok;
}

// Names are stored in a code page only for a Windows stub; for any other
// they stay the bytes the file system gave.
bool choose_name_storing(const pack_options &options, const std::string &stub_image,
                         name_storing *names) {
    names->rules = stub_name_rules(stub_image.data(), stub_image.size());
    names->codepage = options.codepage != 0 ? options.codepage : DEFAULT_CODEPAGE;
    if (names->rules == NAME_RULES_POSIX && options.codepage != 0) {
        report_error("--codepage is for a Windows stub; names for this stub stay as they are");
        return false;
    }
    return true;
}

bool gather_for(const pack_options &options, const std::string &stub_image,
                std::vector<pack_member> *members) {
    gather_settings settings;
    if (!choose_name_storing(options, stub_image, &settings.names))
        return false;
    settings.directory = options.directory;
    settings.notice = options.notice;
    settings.separator = choose_separator(options, stub_image);
    settings.follow_links = options.follow_links;
    settings.has_output = platform_entry_status(options.output.c_str(), true, &settings.output) &&
                          settings.output.kind == PLATFORM_ENTRY_FILE;
    if (!gather_members(settings, options.paths, members))
        return false;
    if (members->empty()) {
        report_error("nothing to pack: the PATHs hold no files or directories");
        return false;
    }
    return true;
}

} // namespace

int run_pack(const pack_options &options) {
    std::string stub_path = options.stub;
    if (stub_path.empty() && !find_default_stub(&stub_path))
        return 1;
    std::string stub_image;
    if (!read_stub(stub_path, &stub_image))
        return 1;
    std::vector<pack_member> members;
    int64_t data_total = 0;
    if (!gather_for(options, stub_image, &members) || !check_total_size(members, &data_total))
        return 1;
    if (!ends_with_exe(options.output))
        report_warning("'%s' does not end in .exe; the stub opens its own file under the name "
                       "it was started by, with .EXE added",
                       options.output.c_str());
    progress_state progress = {data_total, 0, -1};
    bool show_progress = data_total >= PROGRESS_THRESHOLD && platform_is_terminal(stderr);
    bool written =
        write_output(options.output, stub_image, members, show_progress ? &progress : nullptr);
    if (show_progress && progress.shown_percent >= 0)
        std::fputc('\n', stderr);
    return written ? 0 : 1;
}
