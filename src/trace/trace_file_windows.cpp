#include "trace/trace_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace TAVDll::detail {

namespace {

std::string ErrorText(DWORD error)
{
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

// Others may read the file while it is written, never write it: a second
// process that asks for it gets a sharing violation (*held).
HANDLE OpenShared(const std::string& path, std::string* problem, bool* held)
{
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *held = error == ERROR_SHARING_VIOLATION;
        *problem = ErrorText(error);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD type = GetFileType(handle);
    DWORD consoleMode = 0;
    if (type != FILE_TYPE_DISK && !(type == FILE_TYPE_CHAR && GetConsoleMode(handle, &consoleMode))) {
        CloseHandle(handle);
        *problem = "it is not a regular file or a terminal";
        return INVALID_HANDLE_VALUE;
    }
    if (type == FILE_TYPE_DISK && !SetEndOfFile(handle)) {
        *problem = ErrorText(GetLastError());
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

} // namespace

FILE* OpenOwnFile(const std::string& path, std::string* problem, bool* held)
{
    HANDLE handle = OpenShared(path, problem, held);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        *problem = "no file descriptor left";
        return nullptr;
    }
    FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        _close(fd);
        *problem = "no stream left";
    }
    return file;
}

unsigned long ProcessId()
{
    return GetCurrentProcessId();
}

} // namespace TAVDll::detail
