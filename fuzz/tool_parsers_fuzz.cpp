// tavctl's parsers on any text: pin names and identifiers, numbers, hex,
// durations, record logs, and whole script lines run on a virtual board in
// virtual time.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

#include "tool.h"

namespace {

// Lines that would read files or the terminal, or repeat for ages.
bool Runnable(const std::string& text)
{
    for (const char* word : {"decode", "run", "shell", "list"})
        if (text.find(word) != std::string::npos)
            return false;
    size_t digits = 0;
    for (char symbol : text) {
        digits = symbol >= '0' && symbol <= '9' ? digits + 1 : 0;
        if (digits > 2 && text.find("repeat") != std::string::npos)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::freopen("/dev/null", "w", stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        tavctl::ParsePins(text);
    } catch (const tavctl::ToolError&) {
    }
    try {
        tavctl::ParseNumber(text, "number", 0, UINT64_MAX);
    } catch (const tavctl::ToolError&) {
    }
    try {
        tavctl::ParseHexBytes(text);
    } catch (const tavctl::ToolError&) {
    }
    try {
        tavctl::ParseDuration(text);
    } catch (const tavctl::ToolError&) {
    }
    try {
        // A record log past its header line, as replay and decode read it.
        tavctl::ReadRecordLog("# tavtrace 1\n" + text, "fuzz");
    } catch (const tavctl::ToolError&) {
    }
    if (!Runnable(text))
        return 0;
    tavctl::Context context;
    context.options.simModel = "T";
    context.options.virtualTime = true;
    std::istringstream lines(text);
    try {
        tavctl::RunScriptLines(context, lines, "fuzz");
    } catch (const tavctl::ToolError&) {
    }
    context.session.Board().release();
    return 0;
}
