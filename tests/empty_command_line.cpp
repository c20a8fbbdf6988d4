// SPDX-License-Identifier: Zlib
// Windows test helper: starts the program named by the first argument with a
// command line that names no program, as some launchers do, and passes on its
// exit status. The standard handles are inherited, so its console text
// arrives unchanged.
#include <windows.h>

int main(int argc, char **argv) {
    if (argc != 2)
        return 2;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // One blank: Wine replaces a command line of no characters with the
    // program's name, but the C runtime finds an empty first argument in a blank.
    char command_line[] = " ";
    if (!CreateProcessA(argv[1], command_line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        return 3;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 3;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}
