// tavctl serve where the tool was built without the panel (no Boost headers
// on the build machine): a clear word instead of a missing command.
#include "tool.h"

namespace tavctl {

extern const bool PANEL_AVAILABLE = false;

void ServeCommand(Context&, const std::string&)
{
    throw ToolError("this tavctl was built without the control panel (Boost's headers were missing): "
                    "rebuild it with libboost-dev installed, or drive the board with the other commands");
}

} // namespace tavctl
