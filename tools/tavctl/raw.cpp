// tavctl raw: one record of the user's own.
#include <cstdio>
#include <cstring>

#include "command.h"
#include "tool.h"

namespace tavctl {

void RawCommand(Context& context, const std::vector<std::string>& hex)
{
    std::string text;
    for (const std::string& word : hex)
        text += word + " ";
    const std::vector<uint8_t> bytes = ParseHexBytes(text);
    if (bytes.empty())
        throw ToolError("raw needs at least one byte", EXIT_USAGE);
    if (bytes.size() > sizeof(TAVDll::_INSTRUCTION_INFO_))
        throw ToolError("a record is " + std::to_string(TAV_RECORD_SIZE) + " bytes, " + std::to_string(bytes.size()) + " given", EXIT_USAGE);
    TAVDll::_INSTRUCTION_INFO_ record{};
    std::memcpy(&record, bytes.data(), bytes.size());
    context.session.Connect();
    Check(context.session.Board().sendRecord(record), "raw");
    std::fprintf(context.out, "sent: %s\n", DescribeRecord(reinterpret_cast<const uint8_t*>(&record)).c_str());
}

Command RawDeclaration()
{
    const std::string size = std::to_string(TAV_RECORD_SIZE);
    return {"raw", "Send one " + size + "-byte record given in hex (missing bytes are zero)",
            {RequiredWords("HEX", "Up to " + size + " bytes of hex, e.g. 1a 08 00 00 00 00 00 00 01")},
            "Examples:\n  tavctl raw 1a08000000000000 01000000 01000000\n  tavctl --trace raw 22:0d",
            [](Context& context, const Arguments& arguments) { RawCommand(context, arguments.Words("HEX")); }};
}

} // namespace tavctl
