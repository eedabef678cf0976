// tavctl info: board model and firmware version.
#include <cstdio>

#include "tool.h"

namespace tavctl {

void InfoCommand(Context& context)
{
    context.session.Connect();
    const std::string model = BoardModelName(context.session.Model());
    const std::string firmware = context.session.Board().firmware();
    if (context.options.format == "json") {
        std::printf("{\"selector\": %s, \"virtual\": %s, \"model\": %s, \"firmware\": %s, \"library\": %s}\n",
                    JsonString(context.session.Selector()).c_str(), context.session.Simulated() ? "true" : "false",
                    JsonString(model).c_str(), JsonString(firmware).c_str(), JsonString(tav_version()).c_str());
        context.viewShown = true;
        return;
    }
    std::printf("model: %s\nfirmware: %s\n", model.c_str(), firmware.c_str());
}

} // namespace tavctl
