// SPDX-License-Identifier: Zlib
#include "stub_location.h"

#include "pack_messages.h"
#include "platform_pack.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The folder below which every target has a folder of its own, relative to the
// folder above sfxpack's bin/ (an install tree) or to sfxpack's own folder
// (the build folder, where sfxpack sits at the top).
const char *const TARGETS_FOLDER = "lib/sfx/";

// Names a stub may have in a target's folder: POSIX programs and Windows ones.
const char *const STUB_NAMES[] = {"sfxstub", "sfxstub.exe"};

struct found_target {
    std::string name;
    std::string stub;
};

// The folders to look in, "/"-terminated, first found wins: the install tree's
// and the build folder's lib/sfx/, then sfxpack's own folder, where only the
// native stub is looked for (as built here, or installed by an older layout).
struct search_folders {
    std::string installed; // PREFIX/lib/sfx/ for PREFIX/bin/sfxpack
    std::string built;     // BUILD/lib/sfx/ for BUILD/sfxpack
    std::string own;       // the folder holding sfxpack
};

std::string parent_folder(const std::string &path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool locate_search_folders(search_folders *folders) {
    char own_path[4096];
    if (!platform_own_program_file(own_path, sizeof own_path)) {
        report_error("can't tell where sfxpack lives; give the stub with -s STUB");
        return false;
    }
    folders->own = parent_folder(own_path);
    // Without its last "/", the own folder's parent is the tree above bin/; a
    // program at the root of a volume has none, and never looks in the
    // current directory instead.
    std::string above =
        folders->own.empty() ? "" : parent_folder(folders->own.substr(0, folders->own.size() - 1));
    if (above.empty())
        above = folders->own;
    folders->installed = above + TARGETS_FOLDER;
    folders->built = folders->own + TARGETS_FOLDER;
    return true;
}

bool is_regular_file(const std::string &path) {
    platform_entry entry;
    return platform_entry_status(path.c_str(), true, &entry) && entry.kind == PLATFORM_ENTRY_FILE;
}

// The stub in `folder` ("/"-terminated) under one of its names.
bool stub_in_folder(const std::string &folder, std::string *path) {
    for (const char *name : STUB_NAMES) {
        if (is_regular_file(folder + name)) {
            *path = folder + name;
            return true;
        }
    }
    return false;
}

// A target name is one folder name: no separator, not "." or "..".
bool is_target_name(const std::string &name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

bool stub_for(const search_folders &folders, const std::string &target, std::string *path) {
    if (stub_in_folder(folders.installed + target + "/", path) ||
        stub_in_folder(folders.built + target + "/", path))
        return true;
    return target == SFX_NATIVE_TARGET && stub_in_folder(folders.own, path);
}

void add_target_name(const char *name, void *context) {
    static_cast<std::vector<std::string> *>(context)->push_back(name);
}

// Adds the names held by the folder `path`; a missing folder adds none.
void add_names_in(const std::string &path, std::vector<std::string> *names) {
    platform_folder folder;
    if (!platform_open_folder(path.c_str(), &folder))
        return;
    platform_list_directory_in(&folder, "", add_target_name, names);
    platform_close_folder(&folder);
}

// Every target with a stub, sorted by name, each with the stub that wins.
std::vector<found_target> find_all_targets(const search_folders &folders) {
    std::vector<std::string> names{SFX_NATIVE_TARGET};
    add_names_in(folders.installed, &names);
    add_names_in(folders.built, &names);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    std::vector<found_target> found;
    for (const std::string &name : names) {
        std::string stub;
        if (is_target_name(name) && stub_for(folders, name, &stub))
            found.push_back({name, stub});
    }
    return found;
}

std::string joined_names(const std::vector<found_target> &targets) {
    std::string text;
    for (const found_target &target : targets)
        text += (text.empty() ? "" : ", ") + target.name;
    return text;
}

void report_missing_target(const search_folders &folders, const std::string &target) {
    std::vector<found_target> found = find_all_targets(folders);
    if (found.empty())
        report_error("no stub for target '%s': no target is installed in %s", target.c_str(),
                     folders.installed.c_str());
    else
        report_error("no stub for target '%s'; found: %s", target.c_str(),
                     joined_names(found).c_str());
}

} // namespace

bool find_native_stub(std::string *path) {
    search_folders folders;
    if (!locate_search_folders(&folders))
        return false;
    if (stub_for(folders, SFX_NATIVE_TARGET, path))
        return true;
    report_error("no stub for this system (looked for %s%s/%s and %s%s); give one with -s STUB "
                 "or --target NAME",
                 folders.installed.c_str(), SFX_NATIVE_TARGET, STUB_NAMES[0], folders.own.c_str(),
                 STUB_NAMES[0]);
    return false;
}

bool find_target_stub(const std::string &target, std::string *path, int *failure_status) {
    *failure_status = 2;
    if (!is_target_name(target)) {
        report_error("'%s' is not a target name (see sfxpack --targets)", target.c_str());
        return false;
    }
    search_folders folders;
    if (!locate_search_folders(&folders)) {
        *failure_status = 1;
        return false;
    }
    if (stub_for(folders, target, path))
        return true;
    report_missing_target(folders, target);
    return false;
}

int run_list_targets() {
    search_folders folders;
    if (!locate_search_folders(&folders))
        return 1;
    std::vector<found_target> found = find_all_targets(folders);
    for (const found_target &target : found)
        std::printf("%-14s %s\n", target.name.c_str(), target.stub.c_str());
    if (found.empty()) {
        report_error("no stub found in %s or beside sfxpack", folders.installed.c_str());
        return 1;
    }
    return 0;
}
