// tavctl run and sleep: scripts of commands in one connection, with
// repetition and timing.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "command.h"
#include "stop_signal.h"
#include "tool.h"

namespace tavctl {

namespace {

constexpr uint64_t MAX_REPEAT = 1000000000u;

struct Line {
    int number;
    std::string text;
};

// The commands of one line, split at ';'.
std::vector<std::vector<std::string>> Commands(const std::string& text)
{
    std::vector<std::vector<std::string>> commands;
    const std::string code = text.substr(0, text.find('#'));
    size_t start = 0;
    while (start <= code.size()) {
        const size_t semicolon = code.find(';', start);
        const size_t stop = semicolon == std::string::npos ? code.size() : semicolon;
        std::vector<std::string> words = SplitWords(code.substr(start, stop - start));
        if (!words.empty())
            commands.push_back(std::move(words));
        start = stop + 1;
    }
    return commands;
}

class ScriptRunner {
public:
    ScriptRunner(Context& context, std::vector<Line> lines) : context_(context), lines_(std::move(lines)) {}

    // Every line is checked (its words, and each command's arguments up to
    // where it would reach the board, a block's lines once) before the first
    // runs: a mistake on line 4 stops the script before lines 1-3 drive
    // the board.
    void Run()
    {
        context_.session.SetChecking(true);
        try {
            RunAll();
        } catch (...) {
            context_.session.SetChecking(false);
            throw;
        }
        context_.session.SetChecking(false);
        RunAll();
    }

private:
    void RunAll()
    {
        const size_t end = Block(0, lines_.size(), false);
        if (end != lines_.size())
            Fail(lines_[end], ToolError("end without repeat or loop", EXIT_USAGE));
    }

    // Runs lines [first, last) and returns where it stopped: last, or an
    // `end` when inside a block.
    size_t Block(size_t first, size_t last, bool inBlock)
    {
        for (size_t index = first; index < last; ++index) {
            const Line& line = lines_[index];
            const std::vector<std::vector<std::string>> commands = Commands(line.text);
            if (commands.empty())
                continue;
            const std::vector<std::string>& words = commands.front();
            if (words[0] == "end" && words.size() == 1 && commands.size() == 1) {
                if (inBlock)
                    return index;
                Fail(line, ToolError("end without repeat or loop", EXIT_USAGE));
            }
            const bool loop = words[0] == "loop";
            if ((words[0] == "repeat" || loop) && commands.size() == 1 && words.size() == (loop ? 1u : 2u)) {
                const uint64_t count = loop ? Forever(line) : Count(line, words[1]);
                const size_t end = FindEnd(index + 1, last, line);
                if (!HasCommands(index + 1, end))
                    Fail(line, ToolError(words[0] + " has nothing to repeat", EXIT_USAGE));
                for (uint64_t round = 0; round < (Checking() ? std::min<uint64_t>(count, 1) : count); ++round)
                    Block(index + 1, end, true);
                index = end;
                continue;
            }
            RunLine(line, commands);
        }
        return last;
    }

    size_t FindEnd(size_t first, size_t last, const Line& opening)
    {
        int depth = 0;
        for (size_t index = first; index < last; ++index) {
            const auto commands = Commands(lines_[index].text);
            if (commands.size() != 1)
                continue;
            const std::vector<std::string>& words = commands.front();
            if ((words[0] == "repeat" && words.size() == 2) || (words[0] == "loop" && words.size() == 1))
                ++depth;
            else if (words[0] == "end" && words.size() == 1 && depth-- == 0)
                return index;
        }
        Fail(opening, ToolError(std::string(Commands(opening.text).front()[0]) + " without end", EXIT_USAGE));
        return last;
    }

    bool HasCommands(size_t first, size_t last) const
    {
        for (size_t index = first; index < last; ++index)
            if (!Commands(lines_[index].text).empty())
                return true;
        return false;
    }

    uint64_t Count(const Line& line, const std::string& text)
    {
        try {
            return ParseNumber(text, "repeat count", 0, MAX_REPEAT);
        } catch (const ToolError& error) {
            Fail(line, error);
        }
        return 0;
    }

    uint64_t Forever(const Line& line)
    {
        if (context_.options.virtualTime)
            Fail(line, ToolError("loop never ends in virtual time: use repeat N", EXIT_USAGE));
        return UINT64_MAX;
    }

    // One line: its commands in order, and the one-line repeat N / loop.
    void RunLine(const Line& line, std::vector<std::vector<std::string>> commands)
    {
        try {
            const std::vector<std::string>& words = commands.front();
            uint64_t count = 1;
            if (words[0] == "repeat" || words[0] == "loop") {
                const bool loop = words[0] == "loop";
                if (!loop && words.size() < 2)
                    throw ToolError("repeat needs a count: repeat N COMMAND...", EXIT_USAGE);
                count = loop ? Forever(line) : Count(line, words[1]);
                commands.front().erase(commands.front().begin(), commands.front().begin() + (loop ? 1 : 2));
                if (commands.front().empty())
                    commands.erase(commands.begin());
                if (commands.empty())
                    throw ToolError(std::string(words[0]) + " has nothing to repeat", EXIT_USAGE);
                for (const std::vector<std::string>& command : commands)
                    if (command[0] == "repeat" || command[0] == "loop")
                        throw ToolError("a repeat or loop on one line cannot hold another: put the outer one on a "
                                        "line of its own, the commands below it and end after them",
                                        EXIT_USAGE);
            }
            if (Checking()) {
                for (const std::vector<std::string>& command : commands)
                    CheckCommandLine(command);
                return;
            }
            for (uint64_t round = 0; round < count; ++round)
                for (const std::vector<std::string>& command : commands) {
                    if (InterruptRequested()) // Ctrl-C in the shell
                        throw ToolError("interrupted");
                    RunCommandLine(context_, command);
                }
        } catch (const ToolError& error) {
            Fail(line, error);
        }
    }

    bool Checking() const { return context_.session.Checking(); }

    void CheckCommandLine(const std::vector<std::string>& command)
    {
        try {
            RunCommandLine(context_, command);
        } catch (const ReachedTheBoard&) {
        }
    }

    [[noreturn]] void Fail(const Line& line, const ToolError& error)
    {
        if (std::string(error.what()).rfind("line ", 0) == 0)
            throw error;
        throw ToolError("line " + std::to_string(line.number) + ": " + error.what(), error.status);
    }

    Context& context_;
    std::vector<Line> lines_;
};

} // namespace

void RunScriptLines(Context& context, std::istream& stream, const std::string& name)
{
    constexpr size_t MAX_SCRIPT_BYTES = size_t{16} << 20;
    std::istringstream input(ReadCapped(stream, MAX_SCRIPT_BYTES, name));
    std::vector<Line> lines;
    int number = 0;
    for (std::string text; std::getline(input, text);) {
        // Editors on Windows may start a file with a byte-order mark and end
        // each line with CR LF.
        if (number == 0 && text.rfind("\xEF\xBB\xBF", 0) == 0)
            text.erase(0, 3);
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        lines.push_back({++number, text});
    }
    ++context.scriptDepth;
    ScriptRunner(context, std::move(lines)).Run();
    --context.scriptDepth;
}

void RunCommand(Context& context, const std::string& script)
{
    if (script == "-") {
        if (isatty(STDIN_FILENO)) {
            ShellCommand(context);
            return;
        }
        RunScriptLines(context, std::cin, "standard input");
        return;
    }
    struct stat info {};
    if (stat(script.c_str(), &info) != 0)
        throw ToolError("cannot read script " + script + ": " + std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        throw ToolError("cannot read script " + script + ": it is a directory");
    std::ifstream file(script);
    if (!file)
        throw ToolError("cannot read script " + script + ": " + std::strerror(errno));
    RunScriptLines(context, file, "script " + script);
}

void SleepCommand(Context& context, const std::string& duration)
{
    context.session.Sleep(ParseDuration(duration));
}

Command SleepDeclaration()
{
    return {"sleep", "Wait, for scripts: 250ms, 1.5s, 20us (with --virtual-time the virtual board's clock moves "
                     "instead)",
            {Required("DURATION", "Seconds, or a number with ns, us, ms or s")},
            "Examples:\n  tavctl sleep 250ms\n  in a script: loop toggle P4.8; sleep 500ms",
            [](Context& context, const Arguments& arguments) { SleepCommand(context, arguments.Text("DURATION")); }};
}

Command RunDeclaration()
{
    Command run{"run", "Run the commands of a script (or of standard input: -), one per line, in one connection",
                {Required("SCRIPT", "Script file, or - for standard input")},
                "A line holds commands as on the command line, without `tavctl` and the global options,\n"
                "separated by ';'; # starts a comment. The first failing line stops the script.\n"
                "  repeat N COMMANDS   runs the rest of the line N times; loop COMMANDS until Ctrl-C\n"
                "  repeat N / loop     on a line of their own run the lines up to `end`\n"
                "Example script (blinks an LED ten times):\n  init\n  pin output P4.8\n"
                "  repeat 20 toggle P4.8; sleep 250ms\n"
                "Examples:\n  tavctl --sim run demo.tav\n  echo 'pin set P4.1' | tavctl run -",
                [](Context& context, const Arguments& arguments) { RunCommand(context, arguments.Text("SCRIPT")); }};
    run.inScripts = false;
    return run;
}

} // namespace tavctl
