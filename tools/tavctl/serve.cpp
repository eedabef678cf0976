// serve: the control panel in the browser (tools/panel), or, in a build
// without it, the word that says so.
#include <string>

#include "command.h"
#include "stop_signal.h"

namespace tavctl {

Command ServeDeclaration()
{
    Command serve{
        "serve", "Serve a control panel for the board in the browser, with a JSON API",
        {Optional("--port", "TCP port on 127.0.0.1 (default 0: a free one)", "0")},
        std::string("Prints the panel's address with its token; every request needs the token, only "
                    "127.0.0.1\nis served, and ") +
            STOP_SIGNAL_WORDS + " closes the board into the safe state. The API:\n"
                                "  GET /api/info, /api/boards, /api/pins, /api/records?since=N, /api/state?since=N\n"
                                "  POST /api/init {value}, /api/safe, /api/pin {action, pins, value}, /api/pwm/start\n"
                                "       {group, divider, duties}, /api/pwm/set {group, channel, duty}, /api/pwm/stop\n"
                                "  with the token in the X-Tav-Token header (or ?token=).\n"
                                "Examples:\n  tavctl --sim serve\n  tavctl --device usb:1:5 serve --port 8642",
        [](Context& context, const Arguments& arguments) { ServeCommand(context, arguments.Text("--port")); }};
    serve.inScripts = false;
    // A tavctl built without the panel takes the word, to say so, but does
    // not offer it in its help.
    serve.listed = PANEL_AVAILABLE;
    return serve;
}

} // namespace tavctl
