// Ctrl-C for a program on this console, as a person at the keyboard gives
// it: tav_console_ctrl WAIT_MS PROGRAM ARGUMENTS... starts the program, waits
// WAIT_MS, sends Ctrl-C to the console (this helper ignores it) and returns
// the program's exit code, or 98 when it did not end within 10 s after.
// Under wine the console needs a terminal: run it under script(1).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

BOOL WINAPI IgnoreControl(DWORD)
{
    return TRUE;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: tav_console_ctrl WAIT_MS PROGRAM [ARGUMENTS...]\n");
        return 97;
    }
    SetConsoleCtrlHandler(IgnoreControl, TRUE);
    std::string commandLine;
    for (int index = 2; index < argc; ++index)
        commandLine += std::string(index > 2 ? " \"" : "\"") + argv[index] + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "tav_console_ctrl: cannot start %s (error %lu)\n", argv[2], GetLastError());
        return 97;
    }
    Sleep(static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)));
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
        std::fprintf(stderr, "tav_console_ctrl: no Ctrl-C sent (error %lu)\n", GetLastError());
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 98);
        return 98;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    return static_cast<int>(exitCode);
}
