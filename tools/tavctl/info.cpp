// tavctl info: board model and firmware version.
#include <cstdio>

#include "tool.h"

namespace tavctl {

void AddInfoCommand(CLI::App& app, Context& context)
{
    auto* command = app.add_subcommand("info", "Show the board model and firmware version");
    command->footer("Examples:\n  tavctl info\n  tavctl --device 1:3 info");
    command->callback([&context] {
        context.session.Connect();
        char version[16];
        TAVDll::TAVLib::GetVersion(version, sizeof version);
        std::printf("model: %s\nfirmware: %s\n", BoardModelName(TAVDll::TAVLib::GetType()).c_str(), version);
    });
}

} // namespace tavctl
