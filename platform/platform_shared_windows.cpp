// SPDX-License-Identifier: Zlib
#if defined(_WIN32)

#include "platform_shared.h"

bool own_program_path(wchar_t *path, DWORD room) {
    DWORD length = GetModuleFileNameW(nullptr, path, room);
    // A full buffer means the path was cut short: it would name another file.
    return length != 0 && length < room;
}

bool handle_identity(HANDLE handle, file_identity *identity) {
    BY_HANDLE_FILE_INFORMATION information;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &information))
        return false;
    identity->volume = information.dwVolumeSerialNumber;
    identity->index =
        static_cast<uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    return true;
}

bool path_identity(const wchar_t *path, file_identity *identity) {
    HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool known = handle_identity(handle, identity);
    CloseHandle(handle);
    return known;
}

// The file an interruption removes and the guard that keeps the handler,
// which runs on a thread of its own, from removing it while it is being
// created, closed or moved, and the main thread from going on after the
// handler took over.
static CRITICAL_SECTION interruption_guard;
static wchar_t removed_path[MAX_PATH + 1];
static bool removing;

// Ctrl-C, Ctrl-Break and closing the console window: the file being written
// goes (its handle allows deleting, so it vanishes once the process ends),
// then the program ends with the status Ctrl-C gives. The guard stays held,
// so the main thread can't start another file meanwhile; ending here rather
// than handing the event on leaves it no moment to move the file into place.
static BOOL WINAPI end_interrupted(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    EnterCriticalSection(&interruption_guard);
    if (removing)
        DeleteFileW(removed_path);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

void catch_interruptions() {
    static bool caught;
    if (caught)
        return;
    caught = true;
    InitializeCriticalSection(&interruption_guard);
    SetConsoleCtrlHandler(end_interrupted, TRUE);
}

void hold_interruptions() {
    catch_interruptions();
    EnterCriticalSection(&interruption_guard);
}

void release_interruptions() {
    LeaveCriticalSection(&interruption_guard);
}

void remove_on_interruption(const wchar_t *path) {
    removing = false;
    if (path == nullptr)
        return;
    size_t length = 0;
    while (path[length] != L'\0')
        ++length;
    if (length > MAX_PATH)
        return;
    for (size_t i = 0; i <= length; ++i)
        removed_path[i] = path[i];
    removing = true;
}

#endif
