// The version resources of tav.dll and tavctl.exe, as Windows reads them
// (Properties -> Details, FileVersionInfo): tav_version_test FILE...
// in the folder that holds them.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Value(const std::vector<char>& block, const char* name)
{
    char* text = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) || text == nullptr)
        return "";
    return std::string(text);
}

} // namespace

int main(int argc, char** argv)
{
    int failed = 0;
    for (int index = 1; index < argc; ++index) {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(argv[index], &ignored);
        std::vector<char> block(size);
        if (size == 0 || !GetFileVersionInfoA(argv[index], 0, size, block.data())) {
            std::printf("FAIL: %s has no version resource\n", argv[index]);
            ++failed;
            continue;
        }
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length);
        char numbers[64] = "";
        if (fixed != nullptr)
            std::snprintf(numbers, sizeof numbers, "%u.%u.%u", static_cast<unsigned>(HIWORD(fixed->dwFileVersionMS)),
                          static_cast<unsigned>(LOWORD(fixed->dwFileVersionMS)),
                          static_cast<unsigned>(HIWORD(fixed->dwFileVersionLS)));
        const bool good = Value(block, "FileVersion") == TAV_VERSION && Value(block, "ProductVersion") == TAV_VERSION
                          && std::string(numbers) == TAV_VERSION && Value(block, "ProductName") == "tavlib"
                          && !Value(block, "FileDescription").empty()
                          && Value(block, "OriginalFilename") == argv[index]
                          && Value(block, "LegalCopyright").find("The tavlib developers, MIT") != std::string::npos;
        std::printf("%s: %s %s, %s (%s)\n", good ? "ok" : "FAIL", argv[index], Value(block, "FileVersion").c_str(),
                    Value(block, "FileDescription").c_str(), numbers);
        failed += good ? 0 : 1;
    }
    return failed == 0 ? 0 : 1;
}
