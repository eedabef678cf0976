// tavctl's command line: the global options, and every command as its file
// declares it (command.h) made into CLI11. The only file that includes the
// command-line library.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>

#include <CLI/CLI.hpp>

#include "command.h"
#include "stop_signal.h"
#include "tool.h"

namespace tavctl {

Argument Required(std::string name, std::string help)
{
    Argument argument{std::move(name), std::move(help)};
    argument.required = true;
    return argument;
}

Argument Optional(std::string name, std::string help, std::string initial)
{
    Argument argument{std::move(name), std::move(help)};
    argument.initial = std::move(initial);
    return argument;
}

Argument OneOf(std::string name, std::string help, std::vector<std::string> choices)
{
    Argument argument = Required(std::move(name), std::move(help));
    argument.choices = std::move(choices);
    return argument;
}

Argument RequiredWords(std::string name, std::string help)
{
    Argument argument = Required(std::move(name), std::move(help));
    argument.kind = Argument::Kind::Words;
    return argument;
}

Argument OptionalWords(std::string name, std::string help)
{
    Argument argument{std::move(name), std::move(help)};
    argument.kind = Argument::Kind::Words;
    return argument;
}

Argument Flag(std::string name, std::string help)
{
    Argument argument{std::move(name), std::move(help)};
    argument.kind = Argument::Kind::Flag;
    return argument;
}

Argument Number(std::string name, std::string help, unsigned initial, unsigned low, unsigned high)
{
    Argument argument{std::move(name), std::move(help)};
    argument.kind = Argument::Kind::Number;
    argument.initialNumber = initial;
    argument.low = low;
    argument.high = high;
    return argument;
}

const Arguments::Value& Arguments::Find(const std::string& name) const
{
    const auto found = values.find(name);
    if (found == values.end())
        throw std::logic_error("tavctl: no argument " + name); // a command asked for one it did not declare
    return found->second;
}

namespace {

// Every command, in the order the help lists them.
std::vector<Command> Declarations()
{
    return {ListDeclaration(),   InfoDeclaration(),   InitDeclaration(),    SafeDeclaration(),
            PinDeclaration(),    ToggleDeclaration(), PwmDeclaration(),     RawDeclaration(),
            DecodeDeclaration(), StatusDeclaration(), SleepDeclaration(),   RunDeclaration(),
            ReplayDeclaration(), MonitorDeclaration(), ShellDeclaration(), ServeDeclaration(),
            SimDeclaration()};
}

// The argument's name in Arguments: an option's first name ("--file" of "--file,-f").
std::string KeyOf(const std::string& name)
{
    return name.substr(0, name.find(','));
}

// A declared command made into CLI11, with the values its parser fills.
struct BoundCommand {
    explicit BoundCommand(Command declared) : command(std::move(declared)) {}
    Command command;
    Arguments arguments;
    std::vector<std::pair<std::string, const CLI::Option*>> options;
    std::vector<std::shared_ptr<BoundCommand>> subcommands;

    // Every value as before a parse (CLI11 leaves a value alone when its
    // argument is not given: a script's next line must not see this one's).
    void Reset()
    {
        for (const Argument& argument : command.arguments) {
            Arguments::Value& value = arguments.values[KeyOf(argument.name)];
            value = Arguments::Value{};
            value.text = argument.initial;
            value.number = argument.initialNumber;
        }
        for (const auto& subcommand : subcommands)
            subcommand->Reset();
    }
};

using BoundCommands = std::vector<std::shared_ptr<BoundCommand>>;

std::shared_ptr<BoundCommand> Bind(CLI::App& parent, const Command& command, Context& context)
{
    auto bound = std::make_shared<BoundCommand>(command);
    bound->Reset();
    CLI::App* app = parent.add_subcommand(command.name, command.summary);
    if (!command.listed)
        app->group("");
    for (const Argument& argument : command.arguments) {
        // The values live in a map: CLI11 keeps references to them.
        Arguments::Value& value = bound->arguments.values[KeyOf(argument.name)];
        CLI::Option* option = nullptr;
        switch (argument.kind) {
        case Argument::Kind::Text:
            option = app->add_option(argument.name, value.text, argument.help);
            if (!argument.choices.empty())
                option->check(CLI::IsMember(argument.choices));
            break;
        case Argument::Kind::Words: option = app->add_option(argument.name, value.words, argument.help); break;
        case Argument::Kind::Flag: option = app->add_flag(argument.name, value.flag, argument.help); break;
        case Argument::Kind::Number:
            option = app->add_option(argument.name, value.number, argument.help)
                         ->check(CLI::Range(argument.low, argument.high));
            break;
        }
        if (argument.required)
            option->required();
        bound->options.emplace_back(KeyOf(argument.name), option);
    }
    if (!command.footer.empty())
        app->footer(command.footer);
    for (const Command& subcommand : command.subcommands)
        bound->subcommands.push_back(Bind(*app, subcommand, context));
    if (!command.subcommands.empty())
        app->require_subcommand(1);
    if (command.run) {
        BoundCommand* const raw = bound.get(); // the bound command outlives its parser's runs
        app->callback([raw, &context] {
            for (const auto& [key, option] : raw->options)
                raw->arguments.values[key].given = option->count() > 0;
            if (context.session.Checking() && !raw->command.runsWhenChecked)
                return;
            raw->command.run(context, raw->arguments);
        });
    }
    return bound;
}

// Every command, made into CLI11 under app (without those of the command line
// only, for scripts and the shell).
BoundCommands AddCommands(CLI::App& app, Context& context, bool forScript)
{
    BoundCommands bound;
    for (const Command& command : Declarations())
        if (command.inScripts || !forScript)
            bound.push_back(Bind(app, command, context));
    return bound;
}

// "pin toggle" is the toggle command of its own.
void PointAtToggle(const std::vector<std::string>& words, size_t commandIndex)
{
    if (words[commandIndex] == "pin" && commandIndex + 1 < words.size() && words[commandIndex + 1] == "toggle")
        throw ToolError("toggle is a command of its own: tavctl toggle PINS", EXIT_USAGE);
}

// CLI11 says what it did not expect; a word that looks like an option is a
// mistyped option, and says so.
std::string ParseErrorText(const CLI::ParseError& error)
{
    const std::string text = error.what();
    const size_t colon = text.find(": ");
    if (dynamic_cast<const CLI::ExtrasError*>(&error) == nullptr || colon == std::string::npos)
        return text;
    std::vector<std::string> options;
    for (const std::string& word : SplitWords(text.substr(colon + 2)))
        if (word.size() > 1 && word[0] == '-')
            options.insert(options.begin(), Quoted(word)); // CLI11 lists them last first
    if (options.empty())
        return text;
    std::string named;
    for (const std::string& option : options)
        named += (named.empty() ? "" : ", ") + option;
    return (options.size() > 1 ? "unknown options " : "unknown option ") + named;
}

// "--sim S" (with a space) is "--sim=S": the letter is not a command.
std::vector<std::string> JoinSimModel(int argc, char** argv, const std::string& models)
{
    std::vector<std::string> words(argv, argv + argc);
    for (size_t index = 1; index + 1 < words.size(); ++index) {
        const std::string& next = words[index + 1];
        if (words[index] == "--sim" && next.size() == 1 && models.find(next[0]) != std::string::npos) {
            words[index] = "--sim=" + next;
            words.erase(words.begin() + static_cast<std::ptrdiff_t>(index) + 1);
        }
    }
    return words;
}

// CLI11 would only say that a sub-command is required; name the word instead.
void RejectUnknownCommand(const CLI::App& app, const std::vector<std::string>& words)
{
    for (size_t index = 1; index < words.size(); ++index) {
        const std::string& word = words[index];
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
            if (command->get_name() == word) {
                PointAtToggle(words, index);
                return;
            }
        throw ToolError("unknown command " + Quoted(word) + " (commands: " + CommandNames(false) + ")", EXIT_USAGE);
    }
}

} // namespace

std::string CommandNames(bool forScript)
{
    std::string names;
    for (const Command& command : Declarations())
        if (command.inScripts || !forScript)
            names += (names.empty() ? "" : ", ") + command.name;
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
        commands = AddCommands(app, context, true);
    }

    CLI::App app{"tavctl line"};
    BoundCommands commands;
};

} // namespace

void RunCommandLine(Context& context, const std::vector<std::string>& words)
{
    if (!context.lineParser)
        context.lineParser = std::make_shared<LineParser>(context);
    LineParser& parser = *std::static_pointer_cast<LineParser>(context.lineParser);
    CLI::App& app = parser.app;
    app.clear();
    // Only the command this line names can have values from an earlier line.
    const auto command = std::find_if(parser.commands.begin(), parser.commands.end(),
                                      [&words](const auto& bound) { return bound->command.name == words.front(); });
    if (command == parser.commands.end())
        throw ToolError("unknown command " + Quoted(words.front()) + " (commands: " + CommandNames(true) +
                            ", and in scripts repeat, loop, end)",
                        EXIT_USAGE);
    (*command)->Reset();
    PointAtToggle(words, 0);
    std::vector<std::string> reversed(words.rbegin(), words.rend()); // CLI11 takes them last to first
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp& help) {
        app.exit(help); // a line may ask for help like the command line
    } catch (const CLI::ParseError& error) {
        throw ToolError(ParseErrorText(error), EXIT_USAGE);
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
    const std::string models = ModelLetters();
    std::vector<std::string> modelChoices;
    std::string virtualSelectors;
    for (const char model : models) {
        modelChoices.emplace_back(1, model);
        virtualSelectors += std::string(virtualSelectors.empty() ? "" : ", ") + "sim:" + model;
    }
    app.add_flag("--sim{" + models.substr(0, 1) + "}", context.options.simModel,
                 "Use a virtual board of model " + Alternatives(models) +
                     " instead of USB hardware; the board view follows")
        ->check(CLI::IsMember(modelChoices));
    app.add_option("--device", context.options.device,
                   "Use the board this selector names: BUS:DEV or usb:BUS:DEV (decimal, see `tavctl list`), "
                   "port:1-3.2 (where it is plugged in), dev:/dev/tav-bench-3 (its device node or a udev link), or " +
                       virtualSelectors + "; the board's records go out back to back (queued), after sync: (sync:usb:1:5) one "
                       "transfer at a time; "
                       "after reattach: (reattach:port:1-3.2) it is found again and restored after a replug");
    app.add_option("--format", context.options.format, "Output of list, info, status, pin, toggle and pwm: text or json")
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
    app.footer("Pins: " + std::string(tav_pin_syntax()) + ".\n"
               "Exit status: 0 done, 1 the board or the library said no, 2 the command line is wrong.\n"
               "Examples:\n  tavctl --sim run " TAV_EXAMPLES_DIR "/demo.tav\n  tavctl list\n  tavctl info\n"
               "  tavctl --hold pin output P4.0   (then: Ctrl-C)\n  tavctl --sim shell\n  tavctl <command> --help\n"
               "Documentation: man tavctl, and the guides and reference at " TAV_DOCS_PAGE
               " (from the zip or the libtav-dev package; scripts/docs.sh builds them in a clone)");
    const BoundCommands commands = AddCommands(app, context, false);
    // Before any command runs: with --hold or for the panel, stop signals
    // stay deferred until the session holds them; otherwise they act as usual.
    app.parse_complete_callback([&app, &context] {
        if (!context.options.hold && !app.got_subcommand("serve") && !app.got_subcommand("monitor"))
            ReleaseStopSignals();
        context.session.CheckWaveformFiles(app.count("--vcd") > 0, app.count("--svg") > 0);
        // JSON Lines: only the documents of list, info, status and pwm
        // reach standard output, one a line; what the other commands did is
        // not told there.
        if (context.options.format == "json")
            context.out = NullOutput();
    });

    int status = 0;
    try {
        const std::vector<std::string> words = JoinSimModel(argc, argv, models);
        RejectUnknownCommand(app, words);
        std::vector<std::string> reversed(words.rbegin(), words.rend() - 1); // CLI11 takes them last to first
        app.parse(reversed);
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
        std::fprintf(stderr, "tavctl: %s (see tavctl --help)\n", ParseErrorText(error).c_str());
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
