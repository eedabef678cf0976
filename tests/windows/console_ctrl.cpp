// Ctrl-C for a program on this console, as a person at the keyboard gives
// it: tav_console_ctrl FILE TEXT PROGRAM ARGUMENTS... starts the program,
// waits until FILE (where the program's output goes) holds TEXT, sends Ctrl-C
// to the console (this helper ignores it) and returns the program's exit
// code; 96 when TEXT did not come within 30 s, 98 when the program did not
// end within 10 s of the Ctrl-C. Under wine the console needs a terminal:
// run it under script(1).
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

BOOL WINAPI IgnoreControl(DWORD)
{
    return TRUE;
}

bool Holds(const char* path, const char* text)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str().find(text) != std::string::npos;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: tav_console_ctrl FILE TEXT PROGRAM [ARGUMENTS...]\n");
        return 97;
    }
    SetConsoleCtrlHandler(IgnoreControl, TRUE);
    std::string commandLine;
    for (int index = 3; index < argc; ++index)
        commandLine += std::string(index > 3 ? " \"" : "\"") + argv[index] + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "tav_console_ctrl: cannot start %s (error %lu)\n", argv[3], GetLastError());
        return 97;
    }
    int waited = 0;
    for (; waited < 300 && !Holds(argv[1], argv[2]); ++waited)
        Sleep(100);
    if (waited == 300) {
        TerminateProcess(process.hProcess, 96);
        return 96;
    }
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
