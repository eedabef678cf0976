// tavctl info: board model and firmware version.
#include <cstdio>

#include "json_output.h"

namespace tavctl {

void InfoCommand(Context& context)
{
    context.session.Connect();
    const std::string model = BoardModelName(context.session.Model());
    const std::string firmware = context.session.Board().firmware();
    if (context.options.format == "json") {
        PrintJson({{"selector", context.session.Selector()},
                   {"virtual", context.session.Simulated()},
                   {"model", model},
                   {"firmware", firmware},
                   {"library", tav_version()}});
        context.viewShown = true;
        return;
    }
    std::printf("model: %s\nfirmware: %s\n", model.c_str(), firmware.c_str());
}

} // namespace tavctl
