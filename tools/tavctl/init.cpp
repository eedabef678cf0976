// tavctl init / safe: bring-up and the safe state.
#include <cstdio>

#include "tool.h"

namespace tavctl {

void AddInitCommands(CLI::App& app, Context& context)
{
    auto* init = app.add_subcommand("init", "Bring the board up: debug pins released, everything safe, board started");
    auto value = std::make_shared<std::string>("0");
    init->add_option("VALUE", *value, "Start-up value passed to the firmware (default 0)");
    init->footer("Examples:\n  tavctl init\n  tavctl init 258");
    init->callback([&context, value] {
        const auto startupValue = static_cast<unsigned int>(ParseNumber(*value, "start-up value", 0, 0xFFFFFFFFu));
        context.session.Connect();
        Check(context.session.Board().init(startupValue), "init");
        std::printf("board initialised (start-up value %u)\n", startupValue);
    });

    auto* safe = app.add_subcommand("safe", "Stop all PWM and make every pin a floating input");
    safe->footer("Examples:\n  tavctl safe");
    safe->callback([&context] {
        context.session.Connect();
        Check(context.session.Board().safe(), "safe");
        std::printf("every output back to the safe state\n");
    });
}

} // namespace tavctl
