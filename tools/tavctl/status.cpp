// tavctl status: the virtual board's view of every pin.
#include <cstdio>

#include "tool.h"
#include "virtual_board.h"

namespace tavctl {

void AddStatusCommand(CLI::App& app, Context& context)
{
    auto* command = app.add_subcommand("status", "Show what every pin of the virtual board does (--sim only)");
    command->footer("Examples:\n  tavctl --sim status\n  tavctl --sim=S run script.tav   # ends with the same view");
    command->callback([&context] {
        tavsim::VirtualBoard* board = context.session.Simulated() ? context.session.Board() : nullptr;
        if (board == nullptr)
            throw ToolError("status needs the virtual board (--sim): a real board cannot report its pins", EXIT_USAGE);
        std::printf("%s", board->RenderView().c_str());
        context.viewShown = true;
    });
}

} // namespace tavctl
