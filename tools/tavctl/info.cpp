// tavctl info: board model and firmware version.
#include <cstdio>

#include "tool.h"

namespace tavctl {

void AddInfoCommand(CLI::App& app, Context& context)
{
    auto* command = app.add_subcommand("info", "Show the board model and firmware version");
    command->footer("Examples:\n  tavctl info\n  tavctl --device 1:3 info\n  tavctl --device sim:S info");
    command->callback([&context] {
        context.session.Connect();
        std::printf("model: %s\nfirmware: %s\n", BoardModelName(context.session.Model()).c_str(),
                    context.session.Board().firmware().c_str());
    });
}

} // namespace tavctl
