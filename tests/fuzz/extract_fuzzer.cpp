// SPDX-License-Identifier: Zlib
// Feeds arbitrary bytes to sfxpack's -l and -x, in this process, as the
// members of a self-extracting file. The first input byte picks the stub in
// front of them (bit 0: a Windows one, which only needs to start with "MZ", or
// a POSIX one), for a Windows stub the code page names are read in (bits 1-3),
// whether the file lies in the folder -x extracts into (bit 4), where no
// member may replace it, whether -x runs in that folder without -C, with
// paths relative to it (bit 5), whether a Windows file is signed (bit 6):
// then zero bytes up to a multiple of 8 and a certificate table follow the
// trailer, named by the security directory of the stub's headers, and
// whether the next 16 bytes are the layout declaration (bit 7; otherwise the
// file declares nothing). A declaration of version 2 (containers) is
// followed by one more byte: bit 0 puts the rest into one container, made
// here (bit 1: compressed by liblzma, else of stored chunks), so the walk
// inside is reached with members the fuzzer varies; without it the rest
// stands as it is and may hold containers of its own. The rest is
// everything after ARCHIVE_START. The length trailer is appended as a packer
// would, since anyone can fix it after altering a file.
//
// -x extracts into a scratch folder that already holds traps: a symbolic link
// to a folder outside, one to a file outside, a FIFO and a read-only file.
// After each input:
// - nothing outside the scratch folder was created, removed or changed, -l
//   changed nothing at all, and while -x ran no path it wrote, created,
//   linked, renamed or removed resolved outside it: every such call of the
//   packer goes through its table of system calls, which the fuzzer fills
//   with checking ones;
// - every trap is still the same entry with the same content;
// - -l, -t and -x read a signed file as the same file unsigned, and -l and -t
//   say it is signed;
// - -l and -x agree with a walk of the input's own records on which records
//   are good: -l's status is 0 only for a whole walk and it names each good
//   record with its kind and size, -x -v names each one it takes up; a
//   damaged or newer declaration makes the walk take up nothing; a container
//   in a file declaring them is walked into, its stream decoded by liblzma,
//   and its members count as the file's own, as long as its stream is sound
//   (where it is not, how much comes out before the damage depends on how
//   the reader's pieces fall, and only the checks that hold whatever it
//   extracts are made);
// - no good record's name holds a character that drives a terminal (as this
//   fuzzer reads it: UTF-8 behind a POSIX stub, the code page behind a
//   Windows one), a ':' or a device name behind a Windows stub, or names a
//   folder for a file;
// - the scratch folder holds exactly what those records make when played onto
//   a model of it, every file with its data, and no temporary file; -x's
//   status is 0 exactly when the walk was whole and every member came out;
// - no descriptor stays open.
#include "archive_reader.h"
#include "archive_writer.h"
#include "codepage.h"
#include "command_line.h"
#include "container_block.h"
#include "crc32c.h"
#include "extract_files.h"
#include "fuzz_folders.h"
#include "layout_declaration.h"
#include "list.h"
#include "lzma2_pair.h"
#include "member_extension.h"
#include "member_record.h"
#include "pack_messages.h"
#include "platform_pack_calls.h"
#include "stored_lzma2.h"
#include "stub_names.h"
#include "test_archive.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <iconv.h>
#include <map>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string sentinel;     // holds the archive, the traps' targets and scratch/
std::string archive_path; // the self-extracting file of the input, outside or inside scratch/
std::string scratch;      // the folder -x extracts into, resolved
bool show_messages;       // SFX_FUZZ_MESSAGES set: sfxpack's messages go to stderr
int home_folder;          // where the fuzzer was started, for its own relative paths

// The start of each stub kind's image, as much as sfxpack looks at: an ELF
// program's magic, and an MS-DOS header whose offset at 0x3C points to the PE
// signature right behind it.
const std::string POSIX_STUB_START("\177ELF", 4);
const std::string WINDOWS_STUB_START =
    "MZ" + std::string(0x3A, '\0') + std::string("\x40\0\0\0", 4) + std::string("PE\0\0", 4);
// A signed file's certificate table, as much as sfxpack looks at: any bytes.
const std::string CERTIFICATE_TABLE("\x10\0\0\0\0\x02\x02\0signed!!", 16);

// The start of a signed Windows stub: the MS-DOS header, the PE signature at
// 0x40, a file header announcing a PE32 optional header of 224 bytes, and in
// it 16 data directories, the security directory (the fifth) naming the
// table at `table_offset`.
std::string signed_windows_stub_start(uint32_t table_offset) {
    std::string start = WINDOWS_STUB_START + std::string(20 + 224, '\0');
    unsigned char *bytes = reinterpret_cast<unsigned char *>(&start[0]);
    const size_t optional = 0x40 + 24;
    bytes[0x40 + 4 + 16] = 224;
    bytes[optional] = 0x0B;
    bytes[optional + 1] = 0x01;
    bytes[optional + 92] = 16;
    encode_le32(table_offset, bytes + optional + 128);
    encode_le32(static_cast<uint32_t>(CERTIFICATE_TABLE.size()), bytes + optional + 132);
    return start;
}

// The code pages a Windows stub's names are read in; 0 is sfxpack's default.
const int CODEPAGES[] = {0, 932, 1251, 437, 936, 949, 950, 1258};

// The traps in the scratch folder, and where the links lead.
const char DIRECTORY_LINK[] = "dir-link";
const char FILE_LINK[] = "file-link";
const char FIFO[] = "fifo";
const char READ_ONLY[] = "read-only";
const char READ_ONLY_TEXT[] = "keep me";
const char OUTSIDE_FOLDER_TARGET[] = "../outside";
const char OUTSIDE_FILE_TARGET[] = "../outside.txt";

const char TEMPORARY_PREFIX[] = ".sfxpack-part";
const char ARCHIVE_NAME[] = "setup.exe";

} // namespace

// sfxpack's messages, shown only when asked for, as printing them would slow
// every input down.
void write_message(const char *prefix, const char *reason, const char *format, va_list arguments) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, arguments);
    if (show_messages)
        std::fprintf(stderr, "sfxpack: %s%s%s%s\n", prefix, text, reason ? ": " : "",
                     reason ? reason : "");
}

namespace {

// The path a call of the packer's table reaches: `path` inside the folder
// open as `folder`, as the system names that folder.
std::string path_at(int folder, const char *path) {
    if (path[0] == '/' || folder == AT_FDCWD)
        return path;
    char target[PATH_MAX];
    ssize_t length =
        readlink(("/proc/self/fd/" + std::to_string(folder)).c_str(), target, sizeof target - 1);
    if (length <= 0)
        fuzz_fail("cannot name the folder of a call", path);
    return std::string(target, static_cast<size_t>(length)) + "/" + path;
}

void check_at(int folder, const char *path) {
    fuzz_check_path_stays_inside(path_at(folder, path).c_str());
}

// The packer's own calls (platform_pack_calls.h): each one that may change
// an entry passes through the path checks first.
int checked_openat(int folder, const char *path, int flags, mode_t mode) {
    if ((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0)
        check_at(folder, path);
    return PLATFORM_SYSTEM_CALLS.openat(folder, path, flags, mode);
}

int checked_mkdirat(int folder, const char *path, mode_t mode) {
    check_at(folder, path);
    return PLATFORM_SYSTEM_CALLS.mkdirat(folder, path, mode);
}

int checked_renameat2(int from_folder, const char *from, int to_folder, const char *to,
                      unsigned int flags) {
    check_at(from_folder, from);
    check_at(to_folder, to);
    return PLATFORM_SYSTEM_CALLS.renameat2(from_folder, from, to_folder, to, flags);
}

// The file linked from is one the packer has open; only the new name counts.
int checked_linkat(int from_folder, const char *from, int to_folder, const char *to, int flags) {
    check_at(to_folder, to);
    return PLATFORM_SYSTEM_CALLS.linkat(from_folder, from, to_folder, to, flags);
}

int checked_unlinkat(int folder, const char *path, int flags) {
    check_at(folder, path);
    return PLATFORM_SYSTEM_CALLS.unlinkat(folder, path, flags);
}

const platform_pack_calls CHECKED_CALLS = {checked_openat, checked_mkdirat, checked_renameat2,
                                           checked_linkat, checked_unlinkat};

} // namespace

namespace {

// What one entry is, as far as a change to it would show.
struct entry_state {
    mode_t mode;
    ino_t inode;
    off_t size;
    struct timespec modified;
    std::string content; // a file's bytes, a link's target
};

bool operator==(const entry_state &a, const entry_state &b) {
    return a.mode == b.mode && a.inode == b.inode && a.size == b.size &&
           a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec &&
           a.content == b.content;
}

std::string read_whole(const std::string &path) {
    std::string bytes;
    FILE *file = __real_fopen(path.c_str(), "rb");
    if (file == nullptr)
        fuzz_fail("cannot read", path);
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        bytes.append(chunk, got);
    std::fclose(file);
    return bytes;
}

bool state_of(const std::string &path, entry_state *state) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0)
        return false;
    state->mode = status.st_mode;
    state->inode = status.st_ino;
    state->size = status.st_size;
    state->modified = status.st_mtim;
    state->content.clear();
    if (S_ISREG(status.st_mode))
        state->content = read_whole(path);
    if (S_ISLNK(status.st_mode)) {
        char target[PATH_MAX];
        ssize_t length = readlink(path.c_str(), target, sizeof target);
        if (length >= 0)
            state->content.assign(target, static_cast<size_t>(length));
    }
    return true;
}

typedef std::map<std::string, entry_state> tree_state;

// Every entry below `folder` but those below `skipped`, by path.
void add_tree(const std::string &folder, const std::string &skipped, tree_state *tree) {
    DIR *directory = opendir(folder.c_str());
    if (directory == nullptr)
        fuzz_fail("cannot list", folder);
    for (struct dirent *entry; (entry = readdir(directory)) != nullptr;) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        std::string path = folder + "/" + entry->d_name;
        if (path == skipped)
            continue;
        entry_state state;
        if (!state_of(path, &state))
            fuzz_fail("cannot read the status of", path);
        (*tree)[path] = state;
        if (S_ISDIR(state.mode))
            add_tree(path, skipped, tree);
    }
    closedir(directory);
}

// The sentinel folder as it was set up: everything but the scratch folder's
// insides and the archive, which is rewritten for every input.
tree_state outside_before;
// The traps as they were set up.
tree_state traps_before;

tree_state outside_now() {
    tree_state tree;
    add_tree(sentinel, scratch, &tree);
    tree.erase(sentinel + "/" + ARCHIVE_NAME);
    entry_state state;
    if (!state_of(scratch, &state))
        fuzz_fail("the scratch folder is gone", scratch);
    // Its own time and size change with every member.
    state.modified = {0, 0};
    state.size = 0;
    tree[scratch] = state;
    return tree;
}

tree_state traps_now() {
    tree_state traps;
    for (const char *trap : {DIRECTORY_LINK, FILE_LINK, FIFO, READ_ONLY}) {
        entry_state state;
        if (state_of(scratch + "/" + trap, &state))
            traps[trap] = state;
    }
    return traps;
}

void make_file(const std::string &path, const char *text, mode_t mode) {
    FILE *file = __real_fopen(path.c_str(), "wb");
    if (file == nullptr || std::fputs(text, file) < 0 || std::fclose(file) != 0)
        fuzz_fail("cannot write", path);
    if (chmod(path.c_str(), mode) != 0)
        fuzz_fail("cannot set the mode of", path);
}

void set_up_traps() {
    fuzz_make_folder(sentinel + "/outside");
    make_file(sentinel + "/outside/kept.txt", "outside", 0644);
    make_file(sentinel + "/outside.txt", "outside", 0644);
    fuzz_make_folder(scratch);
    if (symlink(OUTSIDE_FOLDER_TARGET, (scratch + "/" + DIRECTORY_LINK).c_str()) != 0 ||
        symlink(OUTSIDE_FILE_TARGET, (scratch + "/" + FILE_LINK).c_str()) != 0)
        fuzz_fail("cannot create the links in", scratch);
    if (mkfifo((scratch + "/" + FIFO).c_str(), 0644) != 0)
        fuzz_fail("cannot create the FIFO in", scratch);
    make_file(scratch + "/" + READ_ONLY, READ_ONLY_TEXT, 0444);
}

bool is_trap(const std::string &name) {
    for (const char *trap : {DIRECTORY_LINK, FILE_LINK, FIFO, READ_ONLY})
        if (name == trap)
            return true;
    return false;
}

// Empties the scratch folder of all but the traps.
int remove_below_scratch(const char *path, const struct stat *, int, struct FTW *place) {
    if (place->level == 1 && is_trap(path + place->base))
        return 0;
    if (place->level > 0 && __real_remove(path) != 0)
        fuzz_fail("cannot clear", path);
    return 0;
}

// Standard output goes to a file in memory, so what -l prints can be read.
int captured_output = -1;

void start_capture() {
    std::fflush(stdout);
    if (ftruncate(STDOUT_FILENO, 0) != 0 || lseek(STDOUT_FILENO, 0, SEEK_SET) != 0)
        fuzz_fail("cannot empty", "the captured standard output");
}

std::string captured() {
    std::fflush(stdout);
    off_t size = lseek(STDOUT_FILENO, 0, SEEK_END);
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0 && pread(STDOUT_FILENO, &text[0], text.size(), 0) != size)
        fuzz_fail("cannot read", "the captured standard output");
    return text;
}

// The name as the fuzzer reads it, in UTF-8: converted from the code page
// behind a Windows stub (by the C library's own converter). False when it
// can't be converted.
bool name_as_text(const std::string &stored, int codepage, std::string *name) {
    *name = stored;
    if (codepage == 0)
        return true;
    iconv_t converter = iconv_open("UTF-8", ("CP" + std::to_string(codepage)).c_str());
    if (converter == reinterpret_cast<iconv_t>(-1))
        fuzz_fail("no converter for code page", std::to_string(codepage));
    std::string out(4 * stored.size() + 4, '\0');
    char *in = const_cast<char *>(stored.data());
    char *to = &out[0];
    size_t in_left = stored.size(), out_left = out.size();
    // A converter may hold back a character until it is flushed.
    bool converted = iconv(converter, &in, &in_left, &to, &out_left) != static_cast<size_t>(-1) &&
                     in_left == 0 &&
                     iconv(converter, nullptr, nullptr, &to, &out_left) != static_cast<size_t>(-1);
    iconv_close(converter);
    if (converted)
        name->assign(out.data(), out.size() - out_left);
    return converted;
}

// The code point of the UTF-8 sequence at `at` and its length in `length`; 0
// with length 1 for a byte that starts no well-formed sequence.
unsigned long code_point_at(const unsigned char *at, size_t *length) {
    unsigned char lead = at[0];
    *length = 1;
    size_t count = lead >= 0xC2 && lead <= 0xDF   ? 2
                   : lead >= 0xE0 && lead <= 0xEF ? 3
                   : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                  : 0;
    unsigned long value = lead & (0x7F >> count);
    for (size_t i = 1; i < count; ++i) {
        if ((at[i] & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (at[i] & 0x3F);
    }
    static const unsigned long SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (count == 0 || value < SMALLEST[count] || value > 0x10FFFF ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *length = count;
    return value;
}

// Characters that would drive the terminal -l, -t and -x print names on, or
// reorder what it shows: C0 and C1 controls, DEL, a byte 0x80-0x9F outside
// any sequence, the bidirectional embeddings, overrides and isolates.
bool drives_a_terminal(const std::string &text) {
    const unsigned char *at = reinterpret_cast<const unsigned char *>(text.c_str());
    while (*at != 0) {
        size_t length = 1;
        unsigned long value = code_point_at(at, &length);
        if (length == 1)
            value = *at;
        if (value < 0x20 || (value >= 0x7F && value <= 0x9F) ||
            (value >= 0x202A && value <= 0x202E) || (value >= 0x2066 && value <= 0x2069))
            return true;
        at += length;
    }
    return false;
}

// A good record's name as the fuzzer reads it: none may reach the terminal,
// a stream or a device, nor name a folder for a file.
void check_judged_name(const member_record &record, int codepage) {
    std::string text;
    if (!name_as_text(record.name, codepage, &text))
        fuzz_fail("a good record's name means nothing in its code page", record.name);
    if (drives_a_terminal(text))
        fuzz_fail("a good record's name drives a terminal", record.name);
    if (codepage != 0 && (text.find(':') != std::string::npos || holds_device_name(text.c_str())))
        fuzz_fail("a good record's name reaches a stream or a device on Windows", record.name);
    size_t last = text.find_last_of("/\\");
    std::string part = last == std::string::npos ? text : text.substr(last + 1);
    if (record.kind == KIND_FILE && (part.empty() || part == "."))
        fuzz_fail("a good file record's name names a folder", record.name);
}

// One good record of the input, as the stub's judging found it.
struct member {
    char kind;
    std::string name; // as stored
    std::string data;
    bool checked;    // it carries a check value
    bool executable; // flagged executable
    bool damaged;    // its check value, where it has one, does not match
};

struct walk {
    std::vector<member> members;
    bool whole;               // the walk met the end of the file, not a bad record
    bool unpredictable;       // a container's stream is damaged: the walk ends there, somewhere
    bool too_large;           // a container holds more than the fuzzer decodes
    int containers;           // walked through whole
    uint32_t dictionary_size; // the first container's
};

// The longest member sequence a container may hold for the input to be run:
// a few compressed bytes can name gigabytes.
constexpr uint64_t LARGEST_MODELLED_SEQUENCE = 1u << 22;

bool walk_sequence(const std::string &bytes, int64_t trailer, name_rules rules, int codepage,
                   int version, walk *w);

// The container whose record (judged good) is `record` and whose data is
// `data`, as the reader of containers takes it: false when the walk ends
// here.
bool walk_container(const member_record &record, const container_fields &fields,
                    const std::string &data, name_rules rules, int codepage, walk *w) {
    if (record.kind != KIND_FILE || fields.method != CONTAINER_METHOD_LZMA2 ||
        fields.dictionary_size == 0 || fields.dictionary_size > LARGEST_CONTAINER_DICTIONARY ||
        (w->dictionary_size != 0 && fields.dictionary_size > w->dictionary_size) ||
        fields.decompressed_length > static_cast<uint64_t>(INT64_MAX)) {
        w->whole = false;
        return false;
    }
    if (w->dictionary_size == 0)
        w->dictionary_size = fields.dictionary_size;
    if (fields.decompressed_length > LARGEST_MODELLED_SEQUENCE) {
        w->too_large = true;
        return false;
    }
    lzma2_outcome decoded = decode_reference(std::vector<uint8_t>(data.begin(), data.end()),
                                             fields.dictionary_size, fields.decompressed_length);
    if (!decoded.whole) {
        w->unpredictable = true;
        return false;
    }
    std::string sequence(decoded.bytes.begin(), decoded.bytes.end());
    if (!walk_sequence(sequence, 0, rules, codepage, PLAIN_LAYOUT_VERSION, w))
        return false;
    uint32_t check = crc32c_update(start_container_check(&record), data.data(), data.size());
    if (check != fields.check) {
        w->whole = false;
        return false;
    }
    ++w->containers;
    return true;
}

// Walks the records in `bytes` the way the stub reads its file: a record is
// read when 264 bytes are left, `trailer` bytes after the members or not,
// and judged whole before the next step, by the layout `version`. A
// sequence without a trailer (a container's) must end with its last member.
// False when the walk ended early (`w` says how).
bool walk_sequence(const std::string &bytes, int64_t trailer, name_rules rules, int codepage,
                   int version, walk *w) {
    int file_version = declared_layout_version();
    judge_members_by_layout(version);
    size_t at = 0;
    bool whole = true;
    while (whole && bytes.size() - at >= static_cast<size_t>(RECORD_SIZE)) {
        member_record record;
        decode_member_record(reinterpret_cast<const unsigned char *>(bytes.data()) + at, &record);
        int64_t after = static_cast<int64_t>(bytes.size() - at) - RECORD_SIZE - trailer;
        if (judge_member_record(&record, after, rules) != RECORD_GOOD) {
            whole = false;
            break;
        }
        check_judged_name(record, codepage);
        at += RECORD_SIZE;
        size_t size = static_cast<size_t>(member_data_size(&record));
        std::string data = bytes.substr(at, size);
        at += size;
        container_fields fields;
        if (version == CONTAINER_LAYOUT_VERSION && find_container_block(&record, &fields)) {
            whole = walk_container(record, fields, data, rules, codepage, w);
            continue;
        }
        member_check check = begin_member_check(&record);
        continue_member_check(&check, data.data(), data.size());
        w->members.push_back({record.kind, record.name, data, check.checked,
                              member_is_executable(&check), member_check_failed(&check)});
    }
    judge_members_by_layout(file_version);
    // Bytes left after the last member of a container are damage.
    if (whole && trailer == 0 && at != bytes.size())
        whole = false;
    if (!whole)
        w->whole = false;
    return whole;
}

// Walks the input's own bytes (the archive's from ARCHIVE_START, trailer
// included). A declaration the stub refuses ends the walk before the first
// record.
walk walk_records(const std::string &declaration, const std::string &bytes, name_rules rules,
                  int codepage) {
    walk w = {{}, true, false, false, 0, 0};
    int version = UNDECLARED_LAYOUT;
    if (take_layout_declaration(declaration.empty()
                                    ? nullptr
                                    : reinterpret_cast<const unsigned char *>(declaration.data()),
                                &version) != DECLARATION_GOOD) {
        w.whole = false;
        return w;
    }
    walk_sequence(bytes, TRAILER_SIZE, rules, codepage, version, &w);
    return w;
}

// The name as a path below the scratch folder: converted from the code page
// behind a Windows stub (by the C library's own converter), split at both
// separators, empty and "." parts dropped. False when it can't be converted.
bool local_path(const std::string &stored, int codepage, std::string *path) {
    std::string name;
    if (!name_as_text(stored, codepage, &name))
        return false;
    path->clear();
    size_t start = 0;
    for (;;) {
        size_t end = name.find_first_of("/\\", start);
        std::string part = name.substr(start, end == std::string::npos ? end : end - start);
        if (!part.empty() && part != ".")
            *path += (path->empty() ? "" : "/") + part;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

// What -x must leave in the scratch folder, found by playing the good records
// onto a model of it: a member comes out unless its name is not in the code
// page, holds a part too long for the file system, or meets on its way or at
// its name something -x never passes through or replaces (a trap, the file
// being extracted, a file where a folder is needed, a folder where a file is).
enum model_kind {
    MODEL_FOLDER,
    MODEL_FILE,
    MODEL_KEPT, // a trap or the file being extracted
};

struct model_entry {
    model_kind kind;
    std::string data;
};

struct folder_model {
    std::map<std::string, model_entry> entries; // by path below the scratch folder
    bool all_out;                               // every member came out
};

// Makes the folders on the way to `path` as -x does, one after the other;
// false at the first that can't be, or when the last part is too long.
bool model_folders_on_the_way(folder_model *model, const std::string &path) {
    size_t start = 0;
    for (size_t slash = path.find('/'); slash != std::string::npos;
         start = slash + 1, slash = path.find('/', start)) {
        if (slash - start > NAME_MAX)
            return false;
        auto found = model->entries.find(path.substr(0, slash));
        if (found == model->entries.end())
            model->entries[path.substr(0, slash)] = {MODEL_FOLDER, ""};
        else if (found->second.kind != MODEL_FOLDER)
            return false;
    }
    return path.size() - start <= NAME_MAX;
}

// False when the member does not come out.
bool model_member(folder_model *model, const member &m, int codepage) {
    std::string path;
    // A damaged folder is refused before its way is made, a damaged file after.
    if (!local_path(m.name, codepage, &path) || (m.kind == KIND_DIRECTORY && m.damaged) ||
        !model_folders_on_the_way(model, path))
        return false;
    if (m.kind == KIND_DIRECTORY && path.empty())
        return true;
    auto found = model->entries.find(path);
    bool missing = found == model->entries.end();
    if (m.kind == KIND_DIRECTORY) {
        if (missing)
            model->entries[path] = {MODEL_FOLDER, ""};
        return missing || found->second.kind == MODEL_FOLDER;
    }
    if (path.empty() || m.damaged || (!missing && found->second.kind != MODEL_FILE))
        return false;
    model->entries[path] = {MODEL_FILE, m.data};
    return true;
}

folder_model model_extraction(const walk &w, int codepage, bool archive_inside) {
    folder_model model = {{}, true};
    for (const char *trap : {DIRECTORY_LINK, FILE_LINK, FIFO, READ_ONLY})
        model.entries[trap] = {MODEL_KEPT, ""};
    if (archive_inside)
        model.entries[ARCHIVE_NAME] = {MODEL_KEPT, ""};
    for (const member &m : w.members)
        if (!model_member(&model, m, codepage))
            model.all_out = false;
    return model;
}

// The scratch folder holds exactly the model's folders and files, and the
// kept entries, which are checked on their own.
void check_extracted_tree(const folder_model &model) {
    tree_state found;
    add_tree(scratch, "", &found);
    for (const auto &e : model.entries) {
        auto on_disk = found.find(scratch + "/" + e.first);
        if (e.second.kind == MODEL_KEPT) {
            if (on_disk != found.end())
                found.erase(on_disk);
            continue;
        }
        if (on_disk == found.end())
            fuzz_fail("a member that should have come out is missing", e.first);
        if (e.second.kind == MODEL_FOLDER ? !S_ISDIR(on_disk->second.mode)
                                          : !S_ISREG(on_disk->second.mode))
            fuzz_fail("a member came out as the wrong kind", e.first);
        if (e.second.kind == MODEL_FILE && on_disk->second.content != e.second.data)
            fuzz_fail("a member's data differs", e.first);
        found.erase(on_disk);
    }
    if (found.empty())
        return;
    const std::string &path = found.begin()->first;
    if (path.compare(path.find_last_of('/') + 1, sizeof TEMPORARY_PREFIX - 1, TEMPORARY_PREFIX) ==
        0)
        fuzz_fail("a temporary file was left", path);
    fuzz_fail("-x left an entry no member comes out as", path);
}

// -l prints one line per good record, "KIND CHECKED FLAG SIZE NAME", then a count line
// when the walk was whole and held members.
void check_listing(const std::string &listing, int status, const walk &w, bool is_signed) {
    bool sound = w.whole && !w.members.empty();
    if (status != (sound ? 0 : 1))
        fuzz_fail("-l's status disagrees with the records", std::to_string(status));
    size_t at = 0;
    for (const member &m : w.members) {
        char line_start[48];
        std::snprintf(line_start, sizeof line_start, "%c %-9s %c %10ld ", m.kind,
                      m.checked ? "checked" : "unchecked", m.executable ? 'x' : '-',
                      static_cast<long>(m.kind == KIND_FILE ? m.data.size() : 0));
        if (listing.compare(at, std::strlen(line_start), line_start) != 0)
            fuzz_fail("-l does not name a good record", m.name);
        size_t end = listing.find('\n', at);
        if (end == std::string::npos)
            fuzz_fail("-l's line is cut short", m.name);
        at = end + 1;
    }
    size_t rest = std::count(listing.begin() + static_cast<long>(at), listing.end(), '\n');
    bool compressed = w.containers > 0;
    if (rest != (sound ? 1u + compressed + is_signed : 0u))
        fuzz_fail("-l printed more lines than there are good records", listing.substr(at));
    if (sound && compressed && listing.find("\ncompressed: ", at) == std::string::npos)
        fuzz_fail("-l does not sum up the containers", listing.substr(at));
    if (sound && is_signed && listing.find("\nsigned: ", at) == std::string::npos)
        fuzz_fail("-l does not say the file is signed", listing.substr(at));
}

// -t says 0 exactly when the walk was whole, held members and none of them
// is damaged.
void check_test_status(int status, const walk &w) {
    bool damaged = false;
    for (const member &m : w.members)
        damaged = damaged || m.damaged;
    int expected = w.whole && !w.members.empty() && !damaged ? 0 : 1;
    if (status != expected)
        fuzz_fail("-t's status disagrees with the records", std::to_string(status));
}

// -x -v names each good record as it comes, folders with '/', all but those
// whose names are not in the code page, which it passes over.
void check_extract_names(const std::string &named, const walk &w, int codepage) {
    std::string expected;
    for (const member &m : w.members) {
        std::string path;
        if (local_path(m.name, codepage, &path))
            expected += (path.empty() ? "." : path) + (m.kind == KIND_DIRECTORY ? "/\n" : "\n");
    }
    if (named != expected)
        fuzz_fail("-x did not take up the good records", named);
}

// Writes the file: `stub_start`, `declaration` (when not empty), the
// input's members and the trailer; when `is_signed`, the stub start is a
// signed one's, and zero bytes up to a multiple of 8 and the certificate
// table follow.
void write_archive(const std::string &stub_start, bool is_signed, const std::string &declaration,
                   const uint8_t *data, size_t size) {
    int descriptor = open(archive_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (descriptor < 0)
        fuzz_fail("cannot write", archive_path);
    int64_t file_size = ARCHIVE_START + static_cast<int64_t>(size) + TRAILER_SIZE;
    unsigned char trailer[TRAILER_SIZE];
    encode_le32(static_cast<uint32_t>(file_size), trailer);
    off_t table_offset = static_cast<off_t>((file_size + 7) / 8 * 8);
    std::string start =
        is_signed ? signed_windows_stub_start(static_cast<uint32_t>(table_offset)) : stub_start;
    std::string after_trailer =
        is_signed
            ? std::string(static_cast<size_t>(table_offset - file_size), '\0') + CERTIFICATE_TABLE
            : std::string();
    bool written =
        pwrite(descriptor, start.data(), start.size(), 0) == static_cast<ssize_t>(start.size()) &&
        pwrite(descriptor, declaration.data(), declaration.size(), DECLARATION_OFFSET) ==
            static_cast<ssize_t>(declaration.size()) &&
        pwrite(descriptor, data, size, ARCHIVE_START) == static_cast<ssize_t>(size) &&
        pwrite(descriptor, trailer, TRAILER_SIZE, ARCHIVE_START + static_cast<off_t>(size)) ==
            TRAILER_SIZE &&
        pwrite(descriptor, after_trailer.data(), after_trailer.size(), file_size) ==
            static_cast<ssize_t>(after_trailer.size());
    close(descriptor);
    if (!written)
        fuzz_fail("cannot write", archive_path);
}

// The member sequence `sequence` as one sound container, as sfxpack -z
// writes one: compressed by liblzma, or of stored chunks.
std::string container_holding(const std::string &sequence, bool compressed) {
    const uint32_t dictionary_size = 1u << 20;
    std::string data = stored_lzma2_stream(sequence);
    if (compressed) {
        std::vector<uint8_t> stream =
            encode_reference(std::vector<uint8_t>(sequence.begin(), sequence.end()),
                             lzma2_settings{0, dictionary_size, 3, 0, 2});
        data.assign(stream.begin(), stream.end());
    }
    const char *name = "sfx-members-1.lzma2";
    container_fields fields = {0, 0, CONTAINER_METHOD_LZMA2, dictionary_size, sequence.size()};
    unsigned char bytes[RECORD_SIZE];
    if (!encode_container_record(name, static_cast<int32_t>(data.size()), &fields, bytes))
        fuzz_fail("cannot encode", "a container's record");
    member_record record;
    decode_member_record(bytes, &record);
    fields.check = crc32c_update(start_container_check(&record), data.data(), data.size());
    encode_container_block(&fields, bytes + record_block_offset(std::strlen(name)));
    return std::string(reinterpret_cast<char *>(bytes), sizeof bytes) + data;
}

// No temporary file is left in the scratch folder, whatever -x extracted.
void check_no_temporary_file() {
    tree_state found;
    add_tree(scratch, "", &found);
    for (const auto &entry : found) {
        const std::string &path = entry.first;
        if (path.compare(path.find_last_of('/') + 1, sizeof TEMPORARY_PREFIX - 1,
                         TEMPORARY_PREFIX) == 0)
            fuzz_fail("a temporary file was left", path);
    }
}

// What the first input byte chose.
struct choices {
    bool windows;        // a Windows stub in front, not a POSIX one
    int codepage;        // as given to sfxpack: 0 for its default
    int codepage_read;   // the code page names are read in; 0 for POSIX names
    bool archive_inside; // the file lies in the scratch folder
    bool in_scratch;     // -x runs in the scratch folder, without -C
    bool is_signed;      // a Windows file carries a certificate table after the archive
    bool declared;       // the input's next 16 bytes are the layout declaration
};

choices read_choices(uint8_t byte) {
    choices c;
    c.windows = (byte & 1) != 0;
    c.codepage = c.windows ? CODEPAGES[(byte >> 1) & 7] : 0;
    c.codepage_read = c.windows ? (c.codepage != 0 ? c.codepage : DEFAULT_CODEPAGE) : 0;
    c.archive_inside = (byte & 16) != 0;
    c.in_scratch = (byte & 32) != 0;
    c.is_signed = c.windows && (byte & 64) != 0;
    c.declared = (byte & 128) != 0;
    return c;
}

// The input's own records, with the trailer the file ends in, judged as
// sfxpack judges them: under Windows rules in the code page it reads names in.
walk walk_input(const std::string &declaration, const std::string &members, const choices &c) {
    unsigned char trailer[TRAILER_SIZE];
    encode_le32(static_cast<uint32_t>(ARCHIVE_START + members.size() + TRAILER_SIZE), trailer);
    name_rules rules = c.windows ? NAME_RULES_WINDOWS : NAME_RULES_POSIX;
    name_storing storing;
    choose_name_storing(rules, c.codepage, &storing);
    return walk_records(declaration,
                        members + std::string(reinterpret_cast<char *>(trailer), TRAILER_SIZE),
                        rules, c.codepage_read);
}

// Runs -x -v under the path checks; what it printed goes to `named`.
int run_checked_extract(const choices &c, std::string *named) {
    pack_options options = {};
    options.action = ACTION_EXTRACT;
    options.extracted = c.in_scratch && c.archive_inside ? ARCHIVE_NAME : archive_path;
    options.directory = c.in_scratch ? "" : scratch;
    options.verbose = true;
    options.codepage = c.codepage;
    start_capture();
    if (c.in_scratch && chdir(scratch.c_str()) != 0)
        fuzz_fail("cannot enter", scratch);
    fuzz_checking_paths = true;
    int status = run_extract(options);
    fuzz_checking_paths = false;
    if (c.in_scratch && fchdir(home_folder) != 0)
        fuzz_fail("cannot return to", "the starting folder");
    *named = captured();
    return status;
}

void check_nothing_else_changed(const entry_state &archive_before) {
    if (traps_now() != traps_before)
        fuzz_fail("-x followed or replaced a trap", "");
    entry_state archive_after;
    if (!state_of(archive_path, &archive_after) || !(archive_after == archive_before))
        fuzz_fail("-x replaced or changed the file it extracts", archive_path);
    if (outside_now() != outside_before)
        fuzz_fail("-x changed something outside the scratch folder", "");
}

// The status is 0 exactly when the walk was whole, held members and every
// one of them came out.
void check_extract_status(int status, const walk &w, const folder_model &model) {
    int expected = w.whole && !w.members.empty() && model.all_out ? 0 : 1;
    if (status != expected)
        fuzz_fail("-x's status disagrees with what it could write", std::to_string(status));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    show_messages = std::getenv("SFX_FUZZ_MESSAGES") != nullptr;
    platform_calls = CHECKED_CALLS;
    sentinel = fuzz_make_sentinel();
    scratch = sentinel + "/scratch";
    fuzz_set_scratch(scratch);
    set_up_traps();
    home_folder = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home_folder < 0)
        fuzz_fail("cannot open", "the current folder");
    outside_before = outside_now();
    traps_before = traps_now();
    captured_output = memfd_create("captured-stdout", 0);
    if (captured_output < 0 || dup2(captured_output, STDOUT_FILENO) < 0)
        fuzz_fail("cannot capture", "standard output");
    close(captured_output);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Inputs stay far below 2^31 bytes, so every one passes the length check.
    if (size < 1 || size > (1u << 24))
        return -1;
    choices c = read_choices(data[0]);
    archive_path = (c.archive_inside ? scratch : sentinel) + "/" + ARCHIVE_NAME;
    size_t skipped = 1;
    std::string declaration;
    if (c.declared) {
        if (size < 1 + DECLARATION_SIZE)
            return -1;
        declaration.assign(reinterpret_cast<const char *>(data) + 1, DECLARATION_SIZE);
        skipped += DECLARATION_SIZE;
    }
    std::string members(reinterpret_cast<const char *>(data) + skipped, size - skipped);
    int version = UNDECLARED_LAYOUT;
    if (c.declared &&
        take_layout_declaration(reinterpret_cast<const unsigned char *>(declaration.data()),
                                &version) == DECLARATION_GOOD &&
        version == CONTAINER_LAYOUT_VERSION) {
        if (members.empty())
            return -1;
        uint8_t container_choice = static_cast<uint8_t>(members[0]);
        members.erase(0, 1);
        if ((container_choice & 1) != 0)
            members = container_holding(members, (container_choice & 2) != 0);
    }
    walk w = walk_input(declaration, members, c);
    if (w.too_large)
        return -1;
    int first_free_descriptor = fuzz_lowest_free_descriptor();
    write_archive(c.windows ? WINDOWS_STUB_START : POSIX_STUB_START, c.is_signed, declaration,
                  reinterpret_cast<const uint8_t *>(members.data()), members.size());
    entry_state archive_before;
    if (!state_of(archive_path, &archive_before))
        fuzz_fail("cannot read the status of", archive_path);

    start_capture();
    fuzz_forbidding_changes = true;
    int list_status = run_list(archive_path.c_str(), c.codepage);
    fuzz_forbidding_changes = false;
    std::string listing = captured();
    fuzz_forbidding_changes = true;
    int test_status = run_test(archive_path.c_str(), c.codepage);
    fuzz_forbidding_changes = false;

    std::string named;
    int extract_status = run_checked_extract(c, &named);
    check_nothing_else_changed(archive_before);
    if (w.unpredictable) {
        // Damage inside a stream: every run failed, whatever came out before it.
        if (list_status != 1 || test_status != 1 || extract_status != 1)
            fuzz_fail("a damaged stream went unnoticed", std::to_string(list_status) + " " +
                                                             std::to_string(test_status) + " " +
                                                             std::to_string(extract_status));
        check_no_temporary_file();
    } else {
        check_listing(listing, list_status, w, c.is_signed);
        check_test_status(test_status, w);
        check_extract_names(named, w, c.codepage_read);
        folder_model model = model_extraction(w, c.codepage_read, c.archive_inside);
        check_extracted_tree(model);
        check_extract_status(extract_status, w, model);
    }

    if (fuzz_lowest_free_descriptor() != first_free_descriptor)
        fuzz_fail("a descriptor was left open", "");
    if (nftw(scratch.c_str(), remove_below_scratch, 16, FTW_DEPTH | FTW_PHYS) != 0)
        fuzz_fail("cannot clear", scratch);
    return 0;
}
