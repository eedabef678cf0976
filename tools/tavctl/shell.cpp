// tavctl shell: commands at a prompt, with line editing and history where
// libedit is installed. A failing command says why; the shell goes on.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "command.h"
#include "line_editor.h"
#include "stop_signal.h"
#include "tool.h"

namespace tavctl {

namespace {


// $XDG_STATE_HOME/tavctl/history (~/.local/state/tavctl/history); empty
// when neither variable names a folder.
std::string HistoryFile()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::string folder;
    if (state != nullptr && state[0] == '/')
        folder = state;
    else if (home != nullptr && home[0] != '\0')
        folder = std::string(home) + "/.local/state";
    else
        return "";
    return folder + "/tavctl/history";
}

// The history's folder, made when missing (private to the user); false when
// it cannot be, and then nothing is written.
bool HistoryFolderReady(const std::string& file)
{
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::path(file).parent_path();
    if (std::filesystem::is_directory(folder, error))
        return true;
    if (!std::filesystem::create_directories(folder, error))
        return false;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
    return true;
}

void PrintHelp()
{
    std::printf("commands: %s\n"
                "  several on a line with ';', repeat N COMMANDS, loop COMMANDS (Ctrl-C ends it)\n"
                "  COMMAND --help for its options; help; quit (or Ctrl-D)\n",
                CommandNames(true).c_str());
}


} // namespace

void ShellCommand(Context& context)
{
    if (context.scriptDepth > 0)
        throw ToolError("shell cannot run inside a script", EXIT_USAGE);
    // With --hold a Ctrl-C still closes the board and ends tavctl.
    if (!context.options.hold)
        CatchInterrupts();
    LineEditor editor(!context.options.hold);
    const std::string history = editor.Editing() ? HistoryFile() : "";
    if (!history.empty())
        editor.LoadHistory(history);
    std::printf("tavctl %s on %s; help lists the commands, quit ends\n", tav_version(),
                context.session.Selector().empty() ? "the first board" : context.session.Selector().c_str());
    std::string line;
    while (editor.ReadLine("tavctl> ", line)) {
        const std::vector<std::string> words = SplitWords(line);
        if (words.empty())
            continue;
        editor.Remember(line);
        if (words[0] == "quit" || words[0] == "exit")
            break;
        if (words[0] == "help") {
            PrintHelp();
            continue;
        }
        std::istringstream input(line);
        TakeInterrupt();
        try {
            RunScriptLines(context, input, "the line");
            TakeInterrupt();
        } catch (const ToolError& error) {
            TakeInterrupt();
            std::string message = error.what();
            if (message.rfind("line 1: ", 0) == 0)
                message = message.substr(8);
            std::fflush(stdout);
            std::fprintf(stderr, "tavctl: %s\n", message.c_str());
        }
    }
    if (!history.empty() && HistoryFolderReady(history))
        editor.SaveHistory(history);
    std::printf("\n");
}

Command ShellDeclaration()
{
    Command shell{"shell", LINE_EDITING ? "Type commands at a prompt, with line editing and history"
                                        : "Type commands at a prompt",
                  {},
                  "Every command of tavctl, and of scripts (sleep, toggle, repeat, loop); `help` lists them,\n"
                  "`quit` or Ctrl-D ends. A failing command says why and the shell goes on.\n"
                  "Examples:\n  tavctl --sim shell\n  tavctl --hold shell",
                  [](Context& context, const Arguments&) { ShellCommand(context); }};
    shell.inScripts = false;
    return shell;
}

} // namespace tavctl
