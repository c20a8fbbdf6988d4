// SPDX-License-Identifier: Zlib
// Windows test helper: starts the program named by the first argument, with
// the second as its command line, without standard handles (none for input
// and errors, an invalid one for output), as a service or a detached
// launcher may, and passes on its exit status.
#include <windows.h>

int main(int argc, char **argv) {
    if (argc != 3)
        return 2;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = INVALID_HANDLE_VALUE;
    startup.hStdError = nullptr;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(argv[1], argv[2], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return 3;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 3;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}
