// tavctl shell: commands at a prompt, with libedit's line editing and
// history (plain lines where the tool was built without libedit: Windows,
// whose console edits the line itself). A failing command says why; the
// shell goes on.
#if !defined(TAVCTL_PLAIN_LINES)
#include <editline/readline.h>
#endif

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "stop_signal.h"
#include "tool.h"

namespace tavctl {

namespace {

#if defined(TAVCTL_PLAIN_LINES)
// The same few calls as libedit's, over standard input.
void using_history() {}
int read_history(const char*) { return 0; }
int write_history(const char*) { return 0; }
void add_history(const char*) {}
char* readline(const char* prompt)
{
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line))
        return nullptr;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    char* copy = static_cast<char*>(std::malloc(line.size() + 1));
    if (copy != nullptr)
        std::memcpy(copy, line.c_str(), line.size() + 1);
    return copy;
}
#endif

// $XDG_STATE_HOME/tavctl/history (~/.local/state/tavctl/history); empty
// when neither variable names a folder, or without libedit (no history).
std::string HistoryFile()
{
#if defined(TAVCTL_PLAIN_LINES)
    return "";
#endif
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

#if !defined(TAVCTL_PLAIN_LINES)
// libedit reads the prompt's keys through this: a Ctrl-C there drops the
// line typed so far and gives a new prompt.
int ReadKey(FILE* stream)
{
    for (;;) {
        unsigned char key = 0;
        const ssize_t got = read(fileno(stream), &key, 1);
        if (got == 1)
            return key;
        if (got == 0 || errno != EINTR)
            return EOF;
        if (TakeInterrupt()) {
            rl_replace_line("", 0);
            return '\n';
        }
    }
}
#endif

} // namespace

void ShellCommand(Context& context)
{
    if (context.scriptDepth > 0)
        throw ToolError("shell cannot run inside a script", EXIT_USAGE);
    // With --hold a Ctrl-C still closes the board and ends tavctl.
    if (!context.options.hold) {
        CatchInterrupts();
#if !defined(TAVCTL_PLAIN_LINES)
        rl_catch_signals = 0;
        rl_getc_function = ReadKey;
#endif
    }
    const std::string history = HistoryFile();
    using_history();
    if (!history.empty())
        read_history(history.c_str());
    std::printf("tavctl %s on %s; help lists the commands, quit ends\n", tav_version(),
                context.session.Selector().empty() ? "the first board" : context.session.Selector().c_str());
    for (;;) {
        std::fflush(stdout);
        char* typed = readline("tavctl> ");
        if (typed == nullptr)
            break;
        const std::string line = typed;
        std::free(typed);
        const std::vector<std::string> words = SplitWords(line);
        if (words.empty())
            continue;
        add_history(line.c_str());
        if (words[0] == "quit" || words[0] == "exit")
            break;
        if (words[0] == "help") {
            PrintHelp();
            continue;
        }
        std::istringstream input(line);
        TakeInterrupt();
        try {
            RunScriptLines(context, input);
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
        write_history(history.c_str());
    std::printf("\n");
}

} // namespace tavctl
