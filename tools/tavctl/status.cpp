// tavctl status: the virtual board's view of every pin.
#include <cstdio>

#include "command.h"
#include "json_output.h"

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
    PrintJson({{"model", BoardModelName(context.session.Model())},
               {"firmware", context.session.Board().firmware()},
               {"pins", PinsJson(context.session)}});
}

Command StatusDeclaration()
{
    return {"status", "Show what every pin of the virtual board does (--sim only)", {},
            "Examples:\n  tavctl --sim status\n  tavctl --sim=S run script.tav   # ends with the same view\n"
            "  tavctl --sim --format json status",
            [](Context& context, const Arguments&) { StatusCommand(context); }};
}

} // namespace tavctl
