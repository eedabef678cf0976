// tavctl status: the virtual board's view of every pin.
#include <cstdio>

#include "tool.h"

namespace tavctl {

void StatusCommand(Context& context)
{
    if (!context.session.Simulated())
        throw ToolError("status needs the virtual board (--sim): a real board cannot report its pins", EXIT_USAGE);
    context.session.Connect();
    context.viewShown = true;
    if (context.options.format != "json") {
        std::printf("%s", context.session.Board().simStatus().c_str());
        return;
    }
    std::printf("{\"model\": %s, \"firmware\": %s, \"pins\": %s}\n",
                JsonString(BoardModelName(context.session.Model())).c_str(),
                JsonString(context.session.Board().firmware()).c_str(), PinsJson(context.session).c_str());
}

} // namespace tavctl
