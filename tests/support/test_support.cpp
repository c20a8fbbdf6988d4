// SPDX-License-Identifier: Zlib
#include "test_support.h"

#include "crc32c.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

temp_folder::temp_folder() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/sfxtest.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path = buffer.data();
}

static int remove_entry(const char *entry, const struct stat *, int, struct FTW *) {
    return remove(entry);
}

temp_folder::~temp_folder() {
    // Depth first, never following links, so nothing outside the folder is touched.
    nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

// Reads both pipes until the child closes them, so neither can fill and block.
static void drain_pipes(int out_fd, int err_fd, std::string *out, std::string *err) {
    struct pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string *sinks[2] = {out, err};
    int open_count = 2;
    char chunk[65536];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

std::vector<char *> exec_arguments(const std::vector<std::string> &arguments) {
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    return argv;
}

program_run run_program(const std::string &program, const std::vector<std::string> &arguments,
                        const std::string &folder) {
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<char *> argv = exec_arguments(arguments);
    pid_t child = fork();
    if (child == 0) {
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    program_run run{0, "", ""};
    drain_pipes(out_pipe[0], err_pipe[0], &run.output, &run.errors);
    int status = 0;
    waitpid(child, &status, 0);
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - WTERMSIG(status);
    // In an instrumented build a program that went wrong reports it on standard
    // error, whatever the test looks at; every run checks for such a report.
    if (run.errors.find("Sanitizer:") != std::string::npos ||
        run.errors.find(": runtime error: ") != std::string::npos)
        ADD_FAILURE() << program << " failed a sanitizer check:\n" << run.errors;
    return run;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_file(const std::string &path, const std::string &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

bool path_exists(const std::string &path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

static void list_below(const std::string &root, const std::string &relative,
                       std::vector<std::string> *entries) {
    DIR *directory = opendir((root + "/" + relative).c_str());
    if (directory == nullptr)
        return;
    for (struct dirent *entry; (entry = readdir(directory)) != nullptr;) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = relative.empty() ? name : relative + "/" + name;
        struct stat status;
        if (lstat((root + "/" + path).c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
            entries->push_back(path + "/");
            list_below(root, path, entries);
        } else {
            entries->push_back(path);
        }
    }
    closedir(directory);
}

std::vector<std::string> list_tree(const std::string &folder) {
    std::vector<std::string> entries;
    list_below(folder, "", &entries);
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::string patterned_data(size_t size, unsigned seed) {
    std::string data(size, '\0');
    unsigned value = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        value = value * 1103515245u + 12345u;
        data[i] = static_cast<char>(value >> 16);
    }
    return data;
}

std::string elf_stub_bytes(size_t size, unsigned seed) {
    std::string bytes = patterned_data(size, seed);
    bytes.replace(0, 4, "\177ELF");
    return bytes;
}

std::string pe_stub_bytes(size_t size, unsigned seed) {
    std::string bytes = patterned_data(size, seed);
    bytes.replace(0, 2, "MZ");
    bytes.replace(0x3C, 4, std::string("\x40\0\0\0", 4));
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    return bytes;
}

// The value of the environment variable `name`, "" when unset.
static std::string environment(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string stub_program() {
    std::string chosen = environment("SFX_TEST_STUB");
    return chosen.empty() ? SFXSTUB_PATH : chosen;
}

bool stub_is_emulated() {
    return !environment("SFX_TEST_EMULATOR").empty();
}

start_command stub_start(const std::string &file, const std::vector<std::string> &arguments) {
    std::string emulator = environment("SFX_TEST_EMULATOR");
    if (emulator.empty())
        return {file, arguments};
    // -0 sets the emulated program's first argument; without one the
    // program gets an empty start name.
    std::vector<std::string> all{emulator, "-0", arguments.empty() ? "" : arguments[0], file};
    if (!arguments.empty())
        all.insert(all.end(), arguments.begin() + 1, arguments.end());
    return {emulator, all};
}

const std::string &stub_image() {
    static const std::string image = read_file(stub_program());
    return image;
}

// The record of `member`, with the extension block and its check value over
// the member's data where the member asks for it and its name leaves room.
static bool encode_member(const archive_member &member, int32_t size, unsigned char *bytes) {
    const char *name = member.name.c_str();
    if (!member.checked || member.name.size() > LONGEST_CHECKED_NAME)
        return encode_new_record(member.kind, name, size, bytes);
    member_extension extension = {0, member.flags};
    if (!encode_checked_record(member.kind, name, size, &extension, bytes))
        return false;
    member_record record;
    decode_member_record(bytes, &record);
    uint32_t check = start_member_check(&record, member.flags);
    if (member.kind == KIND_FILE)
        check = crc32c_update(check, member.data.data(), member.data.size());
    encode_le32(check, bytes + record_check_offset(member.name.size()));
    return true;
}

// The members' records and data appended to `image`.
static bool append_members(const std::vector<archive_member> &members, std::string *image) {
    for (const archive_member &member : members) {
        bool is_file = member.kind == KIND_FILE;
        unsigned char record[RECORD_SIZE];
        if (!encode_member(member, is_file ? static_cast<int32_t>(member.data.size()) : 0, record))
            return false;
        image->append(reinterpret_cast<char *>(record), sizeof record);
        if (is_file)
            *image += member.data;
    }
    return true;
}

// A packer that writes blocks declares the layout; one without them wrote
// filler up to ARCHIVE_START.
static std::string declaration_for(const std::vector<archive_member> &members) {
    for (const archive_member &member : members)
        if (!member.checked)
            return std::string(DECLARATION_SIZE, static_cast<char>(FILLER_BYTE));
    return layout_declaration_bytes(PLAIN_LAYOUT_VERSION);
}

std::string layout_declaration_bytes(int version) {
    unsigned char bytes[DECLARATION_SIZE];
    encode_layout_declaration(version, bytes);
    return std::string(reinterpret_cast<char *>(bytes), sizeof bytes);
}

bool write_sfx_file(const char *path, const std::string &stub,
                    const std::vector<archive_member> &members) {
    if (!stub_fits(static_cast<int64_t>(stub.size())))
        return false;
    std::string image = stub;
    image.append(filler_after_stub(stub.size()), static_cast<char>(FILLER_BYTE));
    image += declaration_for(members);
    unsigned char trailer[TRAILER_SIZE];
    if (!append_members(members, &image) ||
        !encode_length_trailer(static_cast<int64_t>(image.size()), trailer))
        return false;
    image.append(reinterpret_cast<char *>(trailer), sizeof trailer);
    FILE *out = std::fopen(path, "wb");
    if (out == nullptr)
        return false;
    bool written = std::fwrite(image.data(), 1, image.size(), out) == image.size();
    return std::fclose(out) == 0 && written;
}

void write_setup(const std::string &folder, const std::vector<archive_member> &members,
                 const std::string &name) {
    std::string path = folder + "/" + name;
    if (!write_sfx_file(path.c_str(), stub_image(), members))
        throw std::runtime_error("could not write " + path);
    chmod(path.c_str(), 0755);
}

program_run run_setup(const std::string &folder, const std::string &name) {
    start_command start = stub_start(folder + "/" + name, {"./" + name});
    return run_program(start.program, start.arguments, folder);
}

std::string record_bytes(char kind, const std::string &name_field, int32_t size, uint32_t magic) {
    member_record record;
    std::memset(&record, 0, sizeof record);
    record.kind = kind;
    std::memcpy(record.name, name_field.data(),
                std::min(name_field.size(), static_cast<size_t>(NAME_FIELD_SIZE)));
    record.size = size;
    record.magic = magic;
    unsigned char bytes[RECORD_SIZE];
    encode_member_record(&record, bytes);
    return std::string(reinterpret_cast<char *>(bytes), sizeof bytes);
}

void write_raw_setup(const std::string &folder, const std::string &members, int64_t trailer_error,
                     const std::string &name, const std::string *stub,
                     const std::string &declaration) {
    std::string image = stub != nullptr ? *stub : stub_image();
    image.resize(ARCHIVE_START - declaration.size(), static_cast<char>(FILLER_BYTE));
    image += declaration;
    image += members;
    unsigned char trailer[TRAILER_SIZE];
    encode_le32(static_cast<uint32_t>(image.size() + TRAILER_SIZE + trailer_error), trailer);
    image.append(reinterpret_cast<char *>(trailer), sizeof trailer);
    std::string path = folder + "/" + name;
    write_file(path, image);
    chmod(path.c_str(), 0755);
}

std::string figure(const std::string &share) {
    return std::string(5 - share.size(), ' ') + share + " %\b\b\b\b\b\b\b";
}

std::string directory_line(const std::string &name) {
    return "Directory  : " + name + ", done\n";
}

std::string file_line(const std::string &name, const std::string &figures) {
    return "Extracting : " + name + " " + figures + "\b, done  \n";
}

const std::string SEPARATOR = std::string(79, '-') + "\n";

void make_folder(const std::string &path) {
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
}

void make_tree(const std::string &root,
               const std::vector<std::pair<std::string, std::string>> &entries) {
    if (access(root.c_str(), F_OK) != 0)
        make_folder(root);
    for (const auto &entry : entries) {
        if (entry.first.back() == '/')
            make_folder(root + "/" + entry.first.substr(0, entry.first.size() - 1));
        else
            write_file(root + "/" + entry.first, entry.second);
    }
}

std::string plain_sequence(const temp_folder &folder, const std::vector<archive_member> &members) {
    std::string path = folder / "plain-sequence.bin";
    EXPECT_TRUE(write_sfx_file(path.c_str(), elf_stub_bytes(100), members));
    std::string image = read_file(path);
    return image.substr(ARCHIVE_START, image.size() - ARCHIVE_START - TRAILER_SIZE);
}

const std::vector<hostile_name> HOSTILE_NAMES = {
    {"fake\nFile : OTHER.EXE", 'f', false},
    {"back\b\b\b\bspace", 'f', false},
    {"x\x1b]0;title\x07", 'f', false},
    {"clear\x1b[2J", 'f', false},
    {"x\x1b[2Jname", 'f', false},
    {"cr\rx", 'f', false},
    {"sub/tab\tx", 'f', false},
    {"del\x7f", 'f', false},
    {"\x01", 'f', false},
    // 0x81 and 0x9D mean nothing in code page 1252 (Windows reads them as
    // C1 controls); a POSIX stub's terminal may take them for C1 controls.
    {"bad\x81", 'f', false},
    {"x\x9d.txt", 'd', false},
    {"1:x", 'f', false},
    {" :x", 'd', false},
    {".:x", 'f', false},
    {"AUX", 'f', true},
    {"aux.c", 'f', true},
    {"Aux .c", 'f', true},
    {"CON", 'f', true},
    {"con.txt", 'f', true},
    {"com1", 'f', true},
    {"COM\xb9", 'f', true},
    {"LPT1.log.", 'f', true},
    {"lpt\xb2", 'f', true},
    {"CONOUT$", 'f', true},
    {"nul.txt", 'f', true},
    {"nul:s", 'f', true},
    {"prn  ", 'f', true},
    {"sub\\nul", 'f', true},
    {"nul", 'd', true},
    // A stream of the file "ab" on Windows.
    {"ab:c", 'f', true},
};

void flip_bit(const std::string &path, int64_t offset) {
    std::string image = read_file(path);
    ASSERT_LT(offset, static_cast<int64_t>(image.size())) << path;
    image[static_cast<size_t>(offset)] ^= 0x01;
    write_file(path, image);
}
