// tavctl's command line: the global options, every command with its options,
// help and examples. The only file that includes the command-line library:
// each command's callback hands plain arguments to its command function
// (list.cpp, pin.cpp, ...).
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>

#include <CLI/CLI.hpp>

#include "stop_signal.h"
#include "tool.h"

namespace tavctl {

namespace {

// While a reusable parser is built: how to put each held value back before
// the next line is parsed (CLI11 leaves a value alone when its option is not
// given).
thread_local std::vector<std::function<void()>>* holdResets = nullptr;

template <typename Value>
std::shared_ptr<Value> Hold(Value initial = Value())
{
    auto held = std::make_shared<Value>(initial);
    if (holdResets != nullptr)
        holdResets->push_back([held, initial] { *held = initial; });
    return held;
}

// list, info, init, safe
void AddBoardCommands(CLI::App& app, Context& context)
{
    auto* list = app.add_subcommand("list", "List the TAV boards on the USB bus (BUS:DEV for --device)");
    auto all = Hold<bool>(false);
    list->add_flag("--all", *all, "List every USB device, not only TAV boards");
    list->footer("Examples:\n  tavctl list\n  tavctl list --all\n  tavctl --format json list");
    list->callback([&context, all] { ListCommand(context, *all); });

    auto* info = app.add_subcommand("info", "Show the board model and firmware version");
    info->footer("Examples:\n  tavctl info\n  tavctl --device 1:3 info\n  tavctl --device sim:S --format json info");
    info->callback([&context] { InfoCommand(context); });

    auto* init = app.add_subcommand("init", "Bring the board up: debug pins released, everything safe, board started");
    auto value = Hold<std::string>("0");
    init->add_option("VALUE", *value, "Start-up value passed to the firmware (default 0)");
    init->footer("Examples:\n  tavctl init\n  tavctl init 258");
    init->callback([&context, value] { InitCommand(context, *value); });

    auto* safe = app.add_subcommand("safe", "Stop all PWM and make every pin a floating input");
    safe->footer("Examples:\n  tavctl safe");
    safe->callback([&context] { SafeCommand(context); });
}

// pin, toggle
void AddPinCommands(CLI::App& app, Context& context)
{
    auto* pin = app.add_subcommand("pin", "Configure or drive digital pins");
    auto action = Hold<std::string>();
    auto words = Hold<std::vector<std::string>>();
    pin->add_option("ACTION", *action, "output, input, float, set, reset or write")
        ->required()
        ->check(CLI::IsMember({"output", "input", "float", "set", "reset", "write"}));
    pin->add_option("PINS", *words, "P4.0-P4.15 and P8.0-P8.16, ranges (P4.0-3), lists (P4.0,P8.2), several "
                                    "words (P4.8 P4.10) or an identifier, hex with 0x (0x40000005) or decimal "
                                    "(1073741829); for write, then VALUE: 1/high or 0/low")
        ->required();
    pin->footer("Pins are named by bank and bit: P4.n is identifier 0x40000000 | 1<<n (n = 0-15),\n"
                "P8.n is 0x80000000 | 1<<n (n = 0-16). Which microcontroller pin each reaches\n"
                "depends on the board model and is shown in the output. A pin that is not an\n"
                "output does not drive what set, reset or write store: tavctl warns.\n"
                "Examples:\n  tavctl pin output P4.0-3\n  tavctl pin output P4.8 P4.10\n  tavctl pin set P4.0,P4.2\n"
                "  tavctl pin write P8.16 1\n  tavctl pin float 0x8001FFFF");
    pin->callback([&context, action, words] {
        // Several pins as several words, as gpioset takes them; write's level last.
        std::vector<std::string> pinWords = *words;
        std::string level;
        if (*action == "write" && pinWords.size() > 1) {
            level = pinWords.back();
            pinWords.pop_back();
        } else if (*action != "write" && pinWords.size() > 1 && IsLevelWord(pinWords.back())) {
            level = pinWords.back(); // "pin set P4.8 1": PinCommand says to use write
            pinWords.pop_back();
        }
        std::string pins;
        for (const std::string& word : pinWords)
            pins += (pins.empty() ? "" : ",") + word;
        PinCommand(context, *action, pins, level);
    });

    auto* toggle = app.add_subcommand("toggle", "Drive output pins to the other level (by the commanded state)");
    auto togglePins = Hold<std::string>();
    toggle->add_option("PINS", *togglePins, "Pins, as for pin")->required();
    toggle->footer("Examples:\n  tavctl run blink.tav, with the lines:\n    pin output P4.8\n"
                   "    repeat 10 toggle P4.8; sleep 250ms");
    toggle->callback([&context, togglePins] { ToggleCommand(context, *togglePins); });
}

// Each group's channels: the microcontroller's pins and the board pins on
// them, by model, as the library's channel table has them.
std::string PwmPinsHelp()
{
    std::string help;
    for (const char group : {'A', 'B', 'C'}) {
        const int count = tav_pwm_channel_count(group);
        std::string mcu;
        std::string byModel;
        for (const char model : {'T', 'S'}) {
            std::string pins;
            for (int channel = 1; channel <= count; ++channel) {
                const tav_pwm_channel info = ChannelInfo(group, static_cast<uint32_t>(channel), model);
                if (model == 'T')
                    mcu += std::string(mcu.empty() ? "" : " ") + info.mcu_pin;
                pins += std::string(pins.empty() ? "" : " ") + (info.pin != 0 ? BoardPinName(info.pin) : "-");
            }
            byModel += std::string(byModel.empty() ? "" : "; ") + pins + " on model " + model;
        }
        const tav_pwm_channel first = ChannelInfo(group, 1, 'T');
        help += std::string("Group ") + group + " (TIM" + std::to_string(first.timer) + "), channels 1-" +
                std::to_string(count) + ": " + mcu + "\n  = board pins " + byModel + "\n";
    }
    return help;
}

// pwm start, set, stop
void AddPwmCommands(CLI::App& app, Context& context)
{
    auto* pwm = app.add_subcommand("pwm", "Start, retune or stop the PWM groups A, B and C");
    pwm->require_subcommand(1);
    pwm->footer(PwmPinsHelp() +
                "Full scale is 36000 counts: a bare number is counts (25 is 0.07 %), 25% a percentage.\n"
                "The PWM runs at 2000 Hz / divider with the usual 72 MHz timer clock.\n"
                "Examples:\n  tavctl pwm start B --div 2 --duty 25%,50%,9000,0\n  tavctl pwm set B 1 75%\n"
                "  tavctl pwm stop");
    auto* start = pwm->add_subcommand("start", "Set up and start one group");
    auto group = Hold<std::string>();
    auto divider = Hold<std::string>("1");
    auto duties = Hold<std::string>();
    start->add_option("GROUP", *group, "A, B or C")->required();
    start->add_option("--div", *divider, "Clock divider: 1, 2, 4, ... 128 (default 1: 2000 Hz)");
    start->add_option("--duty", *duties, "Duties of channels 1..n, counts or percent, comma-separated "
                                         "(missing ones are 0)");
    start->footer("Examples:\n  tavctl pwm start A --duty 50%\n  tavctl pwm start C --div 8 --duty 100,200,300,400");
    start->callback([&context, start, group, divider, duties] {
        if (start->count("--duty") > 0 && duties->empty())
            throw ToolError("--duty needs at least one duty (counts or percent, comma-separated)", EXIT_USAGE);
        PwmStartCommand(context, *group, *divider, *duties);
    });
    auto* set = pwm->add_subcommand("set", "Change the duty of one channel");
    auto setGroup = Hold<std::string>();
    auto channel = Hold<std::string>();
    auto duty = Hold<std::string>();
    set->add_option("GROUP", *setGroup, "A, B or C")->required();
    set->add_option("CHANNEL", *channel, "1-3 for A, 1-4 for B and C")->required();
    set->add_option("DUTY", *duty, "Counts (0-36000) or percent (50%); +N or -N (+10%) steps from the "
                                   "commanded duty")
        ->required();
    set->footer("Examples:\n  tavctl pwm set A 1 18000\n  tavctl pwm set C 4 12.5%\n"
                "  in a script: repeat 10 pwm set B 1 +10%; sleep 100ms");
    set->callback([&context, setGroup, channel, duty] { PwmSetCommand(context, *setGroup, *channel, *duty); });
    auto* stop = pwm->add_subcommand("stop", "Stop all three groups and release their pins");
    stop->footer("Examples:\n  tavctl pwm stop");
    stop->callback([&context] { PwmStopCommand(context); });
}

// raw, decode
void AddRecordCommands(CLI::App& app, Context& context)
{
    auto* raw = app.add_subcommand("raw", "Send one 64-byte record given in hex (missing bytes are zero)");
    auto hex = Hold<std::vector<std::string>>();
    raw->add_option("HEX", *hex, "Up to 64 bytes of hex, e.g. 1a 08 00 00 00 00 00 00 01")->required();
    raw->footer("Examples:\n  tavctl raw 1a08000000000000 01000000 01000000\n  tavctl --trace raw 22:0d");
    raw->callback([&context, hex] { RawCommand(context, *hex); });

    auto* decode = app.add_subcommand("decode", "Show records in words: hex bytes, a file (--file) of hex or "
                                                "binary records, or standard input");
    auto decodeHex = Hold<std::vector<std::string>>();
    auto decodeFile = Hold<std::string>();
    decode->add_option("HEX", *decodeHex, "Hex bytes of one record (missing bytes are zero); none or - reads "
                                          "standard input");
    decode->add_option("--file,-f", *decodeFile, "A file of hex text (# comments), of binary 64-byte records, "
                                                 "or a record log (TAV_TRACE=FILE.tavtrace)");
    decode->footer("Examples:\n  tavctl decode 22 05 00 00 00 00 00 00 02\n  tavctl decode --file records.bin\n"
                   "  tavctl --trace --sim init 2>&1 | grep TIM");
    decode->callback([decodeHex, decodeFile] { DecodeCommand(*decodeHex, *decodeFile); });
}

// status, sleep
void AddViewAndTimeCommands(CLI::App& app, Context& context)
{
    auto* status = app.add_subcommand("status", "Show what every pin of the virtual board does (--sim only)");
    status->footer("Examples:\n  tavctl --sim status\n  tavctl --sim=S run script.tav   # ends with the same view\n"
                   "  tavctl --sim --format json status");
    status->callback([&context] { StatusCommand(context); });

    auto* sleep = app.add_subcommand("sleep", "Wait, for scripts: 250ms, 1.5s, 20us (with --virtual-time the "
                                              "virtual board's clock moves instead)");
    auto duration = Hold<std::string>();
    sleep->add_option("DURATION", *duration, "Seconds, or a number with ns, us, ms or s")->required();
    sleep->footer("Examples:\n  tavctl sleep 250ms\n  in a script: loop toggle P4.8; sleep 500ms");
    sleep->callback([&context, duration] { SleepCommand(context, *duration); });
}

// run, shell, serve: on the command line only, not in scripts or the shell
void AddSessionCommands(CLI::App& app, Context& context)
{
    auto* run = app.add_subcommand("run", "Run the commands of a script (or of standard input: -), one per "
                                          "line, in one connection");
    auto script = Hold<std::string>();
    run->add_option("SCRIPT", *script, "Script file, or - for standard input")->required();
    run->footer("A line holds commands as on the command line, without `tavctl` and the global options,\n"
                "separated by ';'; # starts a comment. The first failing line stops the script.\n"
                "  repeat N COMMANDS   runs the rest of the line N times; loop COMMANDS until Ctrl-C\n"
                "  repeat N / loop     on a line of their own run the lines up to `end`\n"
                "Example script (blinks an LED ten times):\n  init\n  pin output P4.8\n"
                "  repeat 20 toggle P4.8; sleep 250ms\n"
                "Examples:\n  tavctl --sim run demo.tav\n  echo 'pin set P4.1' | tavctl run -");
    run->callback([&context, script] { RunCommand(context, *script); });

    auto* replay = app.add_subcommand("replay", "Send the records of a record log (TAV_TRACE=FILE.tavtrace) to "
                                                "the board again, at their recorded times");
    auto log = Hold<std::string>();
    auto fast = Hold<bool>(false);
    replay->add_option("FILE", *log, "The record log")->required();
    replay->add_flag("--fast", *fast, "Send them back to back instead of at the recorded times");
    auto anyModel = Hold<bool>(false);
    replay->add_flag("--any-model", *anyModel,
                     "Replay a log recorded on another board model (its records then drive other pins)");
    replay->footer("The whole log is read and checked first: a log with a bad line sends nothing. A virtual\n"
                   "board (--sim) runs on the recorded clock at once, so --vcd and --svg show the session\n"
                   "as it was recorded; a real board gets the records at the recorded pace. Replies (in)\n"
                   "are not sent: the board makes its own. A log recorded on another board model is refused\n"
                   "(--any-model replays it anyway); paced waits end at 7 days (--fast does not wait).\n"
                   "Examples:\n  TAV_TRACE=session.tavtrace ./my-program\n"
                   "  tavctl --sim replay session.tavtrace --vcd session.vcd\n"
                   "  tavctl --device usb:1:5 replay --fast session.tavtrace");
    replay->callback([&context, log, fast, anyModel] { ReplayCommand(context, *log, *fast, *anyModel); });

    auto* monitor = app.add_subcommand("monitor", "Print a line for each TAV board that arrives on the USB bus or "
                                                  "leaves it, until Ctrl-C");
    auto interval = Hold<unsigned>(250);
    monitor->add_option("--interval", *interval, "Milliseconds between looks at the bus (10-10000, default 250)")
        ->check(CLI::Range(10u, 10000u));
    monitor->footer("First the boards already there (\"arrived ... (already there)\"), then every change once,\n"
                    "in order: a replug is a `left` and an `arrived` under the new device number, with the\n"
                    "same port path. Nothing is opened or sent. With --format json one object a line:\n"
                    "{\"event\": \"arrived\", \"initial\": false, \"selector\": ..., \"port\": ..., ...}.\n"
                    "Examples:\n  tavctl monitor\n  tavctl --format json monitor | jq .");
    monitor->callback([&context, interval] { MonitorCommand(context, *interval); });

    auto* shell = app.add_subcommand("shell", LINE_EDITING ? "Type commands at a prompt, with line editing and history"
                                                           : "Type commands at a prompt");
    shell->footer("Every command of tavctl, and of scripts (sleep, toggle, repeat, loop); `help` lists them,\n"
                  "`quit` or Ctrl-D ends. A failing command says why and the shell goes on.\n"
                  "Examples:\n  tavctl --sim shell\n  tavctl --hold shell");
    shell->callback([&context] { ShellCommand(context); });

    auto* serve = app.add_subcommand("serve", "Serve a control panel for the board in the browser, with a JSON API");
    // A tavctl built without the panel takes the word, to say so, but does
    // not offer it in its help.
    if (!PANEL_AVAILABLE)
        serve->group("");
    auto port = Hold<std::string>("0");
    serve->add_option("--port", *port, "TCP port on 127.0.0.1 (default 0: a free one)");
    serve->footer(std::string("Prints the panel's address with its token; every request needs the token, only "
                              "127.0.0.1\nis served, and ") + STOP_SIGNAL_WORDS + " closes the board into the safe state. The API:\n"
                  "  GET /api/info, /api/boards, /api/pins, /api/records?since=N, /api/state?since=N\n"
                  "  POST /api/init {value}, /api/safe, /api/pin {action, pins, value}, /api/pwm/start\n"
                  "       {group, divider, duties}, /api/pwm/set {group, channel, duty}, /api/pwm/stop\n"
                  "  with the token in the X-Tav-Token header (or ?token=).\n"
                  "Examples:\n  tavctl --sim serve\n  tavctl --device usb:1:5 serve --port 8642");
    serve->callback([&context, port] { ServeCommand(context, *port); });
}

// Every command, in the order help lists them.
void AddCommands(CLI::App& app, Context& context, bool forScript)
{
    AddBoardCommands(app, context);
    AddPinCommands(app, context);
    AddPwmCommands(app, context);
    AddRecordCommands(app, context);
    AddViewAndTimeCommands(app, context);
    if (!forScript)
        AddSessionCommands(app, context);
}

// CLI11 would only say that a sub-command is required; name the word instead.
void RejectUnknownCommand(const CLI::App& app, int argc, char** argv)
{
    for (int index = 1; index < argc; ++index) {
        const std::string word = argv[index];
        const CLI::Option* option = word.size() > 1 && word[0] == '-' && word.find('=') == std::string::npos
                                        ? app.get_option_no_throw(word)
                                        : nullptr;
        if (option != nullptr && option->get_type_size() > 0 && option->get_expected_min() > 0) {
            ++index; // its value
            continue;
        }
        if (word.empty() || word[0] == '-')
            continue;
        for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
            if (command->get_name() == word)
                return;
        throw ToolError("unknown command " + Quoted(word) + " (commands: " + CommandNames(false) + ")", EXIT_USAGE);
    }
}

} // namespace

std::string CommandNames(bool forScript)
{
    CLI::App app;
    Context unused;
    AddCommands(app, unused, forScript);
    std::string names;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
        names += (names.empty() ? "" : ", ") + command->get_name();
    return names;
}

namespace {

// The parser of script and shell lines, built once per context: building it
// costs far more than running a line.
struct LineParser {
    explicit LineParser(Context& context)
    {
        app.allow_windows_style_options(false);
        app.require_subcommand(1);
        holdResets = &resets;
        AddCommands(app, context, true);
        holdResets = nullptr;
        for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
            names.push_back(command->get_name());
    }

    CLI::App app{"tavctl line"};
    std::vector<std::function<void()>> resets;
    std::vector<std::string> names;
};

} // namespace

void RunCommandLine(Context& context, const std::vector<std::string>& words)
{
    if (!context.lineParser)
        context.lineParser = std::make_shared<LineParser>(context);
    LineParser& parser = *std::static_pointer_cast<LineParser>(context.lineParser);
    CLI::App& app = parser.app;
    for (const std::function<void()>& reset : parser.resets)
        reset();
    app.clear();
    const bool known = std::find(parser.names.begin(), parser.names.end(), words.front()) != parser.names.end();
    if (!known)
        throw ToolError("unknown command " + Quoted(words.front()) + " (commands: " + CommandNames(true) +
                            ", and in scripts repeat, loop, end)",
                        EXIT_USAGE);
    std::vector<std::string> reversed(words.rbegin(), words.rend()); // CLI11 takes them last to first
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp& help) {
        app.exit(help); // a line may ask for help like the command line
    } catch (const CLI::ParseError& error) {
        throw ToolError(error.what(), EXIT_USAGE);
    }
}

int Main(int argc, char** argv)
{
    DeferStopSignals();
    // What was done shows at once, also through a pipe or into a file, and
    // stays shown when a signal ends tavctl mid-script.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    Context context;
    CLI::App app{"tavctl - drive a TAV USB input/output board from the shell.\n\n"
                 "Without --hold a command leaves the board exactly as it set it: the USB handle is released\n"
                 "without the shutdown sequence, so outputs keep driving. With --hold tavctl closes the board\n"
                 "into the safe state (every pin floating, PWM off) however it ends: after the commands at\n"
                 + std::string(STOP_SIGNAL_WORDS) + ", and at once when a command fails or a signal interrupts a script.",
                 "tavctl"};
    // CLI11 reads /word as an option on Windows; a Unix-style absolute path
    // (under wine, or MSYS) is not one.
    app.allow_windows_style_options(false);
    app.fallthrough();
    app.require_subcommand(1);
    app.set_version_flag("-V,--version", std::string("tavctl ") + tav_version() + " (libtav " + tav_version() + ")");
    app.add_flag("--sim{T}", context.options.simModel,
                 "Use a virtual board of model T, S or C instead of USB hardware; the board view follows")
        ->check(CLI::IsMember({"T", "S", "C"}));
    app.add_option("--device", context.options.device,
                   "Use the board this selector names: BUS:DEV or usb:BUS:DEV (decimal, see `tavctl list`), "
                   "or sim:T, sim:S, sim:C; after queued: (queued:usb:1:5) the board's records go out back to back");
    app.add_option("--format", context.options.format, "Output of list, info and status: text or json")
        ->check(CLI::IsMember({"text", "json"}));
    app.add_flag("--trace", context.options.trace, "Print every record as it is sent, decoded, on standard error");
    app.add_flag("-v,--verbose", context.options.verbose,
                 "Print the library's log on standard error: why an open, a claim or a transfer failed");
    app.add_flag("--hold", context.options.hold,
                 std::string("Keep the board as set until ") + HOLD_SIGNAL_WORDS + ", then close it into the safe state");
    app.add_flag("--virtual-time", context.options.virtualTime,
                 "With a virtual board: sleep moves the board's clock instead of waiting (repeatable runs)");
    app.add_option("--vcd", context.options.vcdFile,
                   "With a virtual board: write what its pins did as a VCD waveform (sigrok, GTKWave)");
    app.add_option("--svg", context.options.svgFile, "With a virtual board: write the same as an SVG timing diagram");
    app.footer("Pins: P4.0-P4.15 and P8.0-P8.16 (also ranges P4.0-3 and lists), or identifiers.\n"
               "Exit status: 0 done, 1 the board or the library said no, 2 the command line is wrong.\n"
               "Examples:\n  tavctl --sim run " TAV_EXAMPLES_DIR "/demo.tav\n  tavctl list\n  tavctl info\n"
               "  tavctl --hold pin output P4.0   (then: Ctrl-C)\n  tavctl --sim shell\n  tavctl <command> --help");
    AddCommands(app, context, false);
    // Before any command runs: with --hold or for the panel, stop signals
    // stay deferred until the session holds them; otherwise they act as usual.
    app.parse_complete_callback([&app, &context] {
        if (!context.options.hold && !app.got_subcommand("serve") && !app.got_subcommand("monitor"))
            ReleaseStopSignals();
        context.session.CheckWaveformFiles(app.count("--vcd") > 0, app.count("--svg") > 0);
        // JSON Lines: only the documents of list, info and status reach
        // standard output, one a line; what the other commands did is not
        // told there.
        if (context.options.format == "json")
            context.out = NullOutput();
    });

    int status = 0;
    try {
        RejectUnknownCommand(app, argc, argv);
        app.parse(argc, argv);
        if (context.session.Simulated() && context.session.Connected() && !context.viewShown
            && context.options.format == "text") {
            std::printf("\nvirtual board:\n%s", context.session.Board().simStatus().c_str());
            std::fflush(stdout);
        }
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "tavctl: %s (see tavctl --help)\n", error.what());
        status = EXIT_USAGE;
    } catch (const ToolError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "tavctl: %s\n", error.what());
        status = error.status;
    }
    try {
        context.session.WriteWaveforms(); // also after a failure: it shows what happened
        context.session.Finish(status == 0);
    } catch (const ToolError& error) {
        std::fprintf(stderr, "tavctl: %s\n", error.what());
        status = status != 0 ? status : error.status;
    }
    return status;
}

} // namespace tavctl
