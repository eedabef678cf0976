// tavctl info: board model, firmware version and how its records go out.
#include <cstdio>

#include "command.h"
#include "json_output.h"

namespace tavctl {

void InfoCommand(Context& context)
{
    context.session.Connect();
    const std::string model = BoardModelName(context.session.ModelLetter());
    const std::string firmware = context.session.Board().firmware();
    const bool queued = context.session.Board().queued();
    if (context.options.format == "json") {
        PrintJson({{"selector", context.session.Selector()},
                   {"virtual", context.session.Simulated()},
                   {"model", model},
                   {"firmware", firmware},
                   {"queued", queued},
                   {"library", tav_version()}});
        context.viewShown = true;
        return;
    }
    std::printf("model: %s\nfirmware: %s\nrecords: %s\n", model.c_str(), firmware.c_str(),
                queued ? "queued (each operation's back to back on the bus)" : "one transfer at a time");
}

Command InfoDeclaration()
{
    return {"info", "Show the board model, firmware version and how its records go out", {},
            "Examples:\n  tavctl info\n  tavctl --device 1:3 info\n  tavctl --device sim:S --format json info",
            [](Context& context, const Arguments&) { InfoCommand(context); }};
}

} // namespace tavctl
