// tavctl monitor: a line (or a JSON object) for each TAV board that arrives
// on the bus or leaves it (the library's tav_watch), until a stop signal,
// as `udevadm monitor` and `gpiomon` go on until Ctrl-C.
#include <cstdio>

#include "command.h"
#include "json_output.h"
#include "stop_signal.h"

namespace tavctl {

namespace {

void PrintEvent(const tav_event* event, void* user)
{
    const bool json = *static_cast<const bool*>(user);
    const char* kind = event->kind == TAV_EVENT_ARRIVED ? "arrived" : "left";
    if (json) {
        Json line = {{"event", kind}, {"initial", event->initial != 0}};
        line.update(DeviceJson(*event->device));
        line.erase("openable"); // watching opens nothing: whether it could be opened is not known here
        std::printf("%s\n", line.dump().c_str());
    } else {
        std::printf("%-7s  %s  via %s%s\n", kind, DeviceText(*event->device).c_str(), event->device->library,
                    event->initial ? "  (already there)" : "");
    }
    std::fflush(stdout);
}

} // namespace

void MonitorCommand(Context& context, unsigned intervalMs)
{
    if (context.session.Simulated())
        throw ToolError("monitor watches the USB bus, and a virtual board is not on it", EXIT_USAGE);
    HoldStopSignals();
    static bool json = false;
    json = context.options.format == "json";
    // With no board there, the watcher's first lines would be none at all.
    if (tav_list(nullptr, 0, 0) == 0)
        std::fprintf(stderr, "tavctl: no TAV board there yet: watching the USB bus until %s\n", STOP_SIGNAL_WORDS);
    tav_watcher* watcher = nullptr;
    if (tav_watch(PrintEvent, &json, intervalMs, &watcher) != TAV_OK)
        throw ToolError("cannot watch the USB bus");
    WaitForStop();
    tav_unwatch(watcher);
}

Command MonitorDeclaration()
{
    Command monitor{
        "monitor", "Print a line for each TAV board that arrives on the USB bus or leaves it, until Ctrl-C",
        {Number("--interval", "Milliseconds between looks at the bus (10-10000, default 250)", 250, 10, 10000)},
        "First the boards already there (\"arrived ... (already there)\"), then every change once,\n"
        "in order: a replug is a `left` and an `arrived` under the new device number, with the\n"
        "same port path. Nothing is opened or sent. With --format json one object a line:\n"
        "{\"event\": \"arrived\", \"initial\": false, \"selector\": ..., \"port\": ..., ...}: the keys of a\n"
        "list entry but openable and model, which only opening the board tells.\n"
        "Examples:\n  tavctl monitor\n  tavctl --format json monitor | jq .",
        [](Context& context, const Arguments& arguments) { MonitorCommand(context, arguments.Number("--interval")); }};
    monitor.inScripts = false;
    return monitor;
}

} // namespace tavctl
