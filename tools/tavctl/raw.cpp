// tavctl raw: one record of the user's own through AddCommand.
#include <cstdio>
#include <cstring>

#include "tool.h"

namespace tavctl {

void AddRawCommand(CLI::App& app, Context& context)
{
    auto* command = app.add_subcommand("raw", "Send one 64-byte record given in hex (missing bytes are zero)");
    auto hex = std::make_shared<std::vector<std::string>>();
    command->add_option("HEX", *hex, "Up to 64 bytes of hex, e.g. 1a 08 00 00 00 00 00 00 01")->required();
    command->footer("Examples:\n  tavctl raw 1a08000000000000 01000000 01000000\n  tavctl --trace raw 22:0d");
    command->callback([&context, hex] {
        std::string text;
        for (const std::string& word : *hex)
            text += word + " ";
        const std::vector<uint8_t> bytes = ParseHexBytes(text);
        if (bytes.empty())
            throw ToolError("raw needs at least one byte", EXIT_USAGE);
        if (bytes.size() > sizeof(TAVDll::_INSTRUCTION_INFO_))
            throw ToolError("a record is 64 bytes, " + std::to_string(bytes.size()) + " given", EXIT_USAGE);
        TAVDll::_INSTRUCTION_INFO_ record{};
        std::memcpy(&record, bytes.data(), bytes.size());
        context.session.Connect();
        Check(context.session.Board().sendRecord(record), "raw");
        std::printf("sent: %s\n", DescribeRecord(reinterpret_cast<const uint8_t*>(&record)).c_str());
    });
}

} // namespace tavctl
