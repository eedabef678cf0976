// tav.dll's export table: the 35 static functions of TAVLib under their g++
// names and under their Microsoft names (each alias the same function, and
// callable), the C interface, the USB seam, and nothing else.
#include <windows.h>

#include <gtest/gtest.h>

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "tav/tav.h"
#include "tavlib_functions.h"

namespace {

// Name -> address of every export of a loaded module, from its PE export
// directory.
std::map<std::string, void*> Exports(HMODULE module)
{
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
    const auto* ordinals = reinterpret_cast<const WORD*>(base + directory->AddressOfNameOrdinals);
    const auto* functions = reinterpret_cast<const DWORD*>(base + directory->AddressOfFunctions);
    std::map<std::string, void*> exports;
    for (DWORD index = 0; index < directory->NumberOfNames; ++index) {
        const char* name = reinterpret_cast<const char*>(base + names[index]);
        exports[name] = const_cast<unsigned char*>(base + functions[ordinals[index]]);
    }
    return exports;
}

// The test refers to nothing in tav.dll by name, so the DLL is loaded here.
HMODULE Tav()
{
    static HMODULE module = LoadLibraryA("tav.dll");
    return module;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// Calls a function with every argument zero (null pointers, no board open:
// each of the 35 is harmless so).
template <typename Result, typename... Parameters>
void CallWithZeros(Result (*function)(Parameters...))
{
    function(Parameters{}...);
}

struct Row {
    const char* name;
    const char* parameters; // as written in the row: "(struct usb_device*)"
    void (*callThrough)(void* address);
};

#define TAV_ROW(result, name, parameters) \
    Row{#name, #parameters, [](void* address) { CallWithZeros(reinterpret_cast<result(*) parameters>(address)); }},

const Row ROWS[] = {TAVLIB_FUNCTIONS(TAV_ROW)};

TEST(Exports, EveryStaticFunctionHasItsMicrosoftNameAsAnAliasThatCanBeCalled)
{
    ASSERT_NE(Tav(), nullptr);
    const std::map<std::string, void*> exports = Exports(Tav());
    // g++'s names, demangled: "TAVDll::TAVLib::Open(unsigned int, unsigned int)".
    std::map<std::string, void*> gnuFunctions;
    for (const auto& [name, address] : exports) {
        if (!StartsWith(name, "_ZN6TAVDll6TAVLib"))
            continue;
        int status = 0;
        char* readable = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
        ASSERT_EQ(status, 0) << name;
        gnuFunctions[readable] = address;
        std::free(readable);
    }
    std::map<void*, std::string> microsoftNames;
    for (const auto& [name, address] : exports) {
        if (StartsWith(name, "?")) {
            EXPECT_TRUE(microsoftNames.emplace(address, name).second) << "two Microsoft names for one function";
            EXPECT_NE(name.find("@TAVLib@TAVDll@@"), std::string::npos) << name;
        }
    }
    EXPECT_EQ(microsoftNames.size(), 35u);
    ASSERT_EQ(std::size(ROWS), 35u);
    for (const Row& row : ROWS) {
        std::string signature = std::string("TAVDll::TAVLib::") + row.name + row.parameters;
        for (size_t at = signature.find("struct "); at != std::string::npos; at = signature.find("struct "))
            signature.erase(at, 7);
        const auto gnu = gnuFunctions.find(signature);
        ASSERT_NE(gnu, gnuFunctions.end()) << "not exported: " << signature;
        const auto alias = microsoftNames.find(gnu->second);
        ASSERT_NE(alias, microsoftNames.end()) << "no Microsoft name for TAVLib::" << row.name;
        const std::string& name = alias->second;
        EXPECT_TRUE(StartsWith(name, ("?" + std::string(row.name) + "@").c_str())) << name;
        void* resolved = reinterpret_cast<void*>(GetProcAddress(Tav(), name.c_str()));
        EXPECT_EQ(resolved, gnu->second) << name;
        row.callThrough(resolved);
    }
}

TEST(Exports, NothingButTheInterfacesIsExported)
{
    ASSERT_NE(Tav(), nullptr);
    const std::map<std::string, void*> exports = Exports(Tav());
    int gnuNames = 0;
    int microsoftNames = 0;
    int cFunctions = 0;
    for (const auto& entry : exports) {
        const std::string& name = entry.first;
        if (StartsWith(name, "_ZN6TAVDll6TAVLib"))
            ++gnuNames;
        else if (StartsWith(name, "?"))
            ++microsoftNames;
        else if (StartsWith(name, "tav_"))
            ++cFunctions;
        else
            ADD_FAILURE() << "an internal symbol leaks out: " << name;
    }
    EXPECT_EQ(gnuNames, 35);
    EXPECT_EQ(microsoftNames, 35);
    EXPECT_EQ(cFunctions, TAV_C_FUNCTION_COUNT);
    EXPECT_NE(exports.count("tav_open"), 0u);
    EXPECT_NE(exports.count("tav_usb_problem"), 0u);
}

} // namespace
