// tavctl status: the virtual board's view of every pin.
#include <cstdio>

#include "tool.h"

namespace tavctl {

void AddStatusCommand(CLI::App& app, Context& context)
{
    auto* command = app.add_subcommand("status", "Show what every pin of the virtual board does (--sim only)");
    command->footer("Examples:\n  tavctl --sim status\n  tavctl --sim=S run script.tav   # ends with the same view");
    command->callback([&context] {
        if (!context.session.Simulated())
            throw ToolError("status needs the virtual board (--sim): a real board cannot report its pins", EXIT_USAGE);
        context.session.Connect();
        std::printf("%s", context.session.Board().simStatus().c_str());
        context.viewShown = true;
    });
}

} // namespace tavctl
