// Shared pieces of tavctl: the session with the board, errors, and the
// parsers every sub-command uses.
#ifndef TAVCTL_TOOL_H
#define TAVCTL_TOOL_H

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "TAVLib.h"
#include "tav/board.hpp"

namespace tavctl {

constexpr int EXIT_FAILED = 1; // the board or the library said no
constexpr int EXIT_USAGE = 2;  // the command line is wrong

// One line for standard error, and the exit status that goes with it.
class ToolError : public std::runtime_error {
public:
    explicit ToolError(const std::string& message, int exitStatus = EXIT_FAILED)
        : std::runtime_error(message), status(exitStatus)
    {
    }
    int status;
};

struct GlobalOptions {
    std::string simModel; // empty: real USB
    std::string device;   // a selector (usb:BUS:DEV, BUS:DEV, sim:M); empty: the first board
    bool trace = false;
    bool hold = false;
};

// The connection to one board, opened on first use and kept for every
// command of the invocation (and of a script).
class Session {
public:
    explicit Session(const GlobalOptions& options);

    // Opens the board (real or virtual) the options select; throws on failure.
    void Connect();
    bool Connected() const { return board_.isOpen(); }
    bool Simulated() const { return !options_.simModel.empty() || options_.device.rfind("sim:", 0) == 0; }
    // The selector the options name.
    std::string Selector() const;
    // The open board (Connect first).
    tav::Board& Board() { return board_; }
    // The model of the open board, for pin names.
    TAVDll::BoardType Model() const;
    // Leaves the board as set (releases the handle, no shutdown records), or
    // with --hold, after commands that succeeded, waits for Ctrl-C / SIGTERM
    // and then closes it into the safe state.
    void Finish(bool commandsSucceeded);

private:
    const GlobalOptions& options_;
    tav::Board board_;
};

struct Context {
    GlobalOptions options;
    Session session{options};
    bool viewShown = false; // `status` printed the board view already
};

// Adds every sub-command; a script gets all of them but `run`.
void AddCommands(CLI::App& app, Context& context, bool forScript);

void AddListCommand(CLI::App& app, Context& context);
void AddInfoCommand(CLI::App& app, Context& context);
void AddInitCommands(CLI::App& app, Context& context);
void AddPinCommand(CLI::App& app, Context& context);
void AddPwmCommand(CLI::App& app, Context& context);
void AddRawCommand(CLI::App& app, Context& context);
void AddDecodeCommand(CLI::App& app, Context& context);
void AddRunCommand(CLI::App& app, Context& context);
void AddStatusCommand(CLI::App& app, Context& context);

// Parses and runs one command line (without the program name) against the
// context's session; used by `run`.
void RunCommandLine(Context& context, const std::vector<std::string>& words);

// ---- shared helpers ----------------------------------------------------

// The library's result in words; throws unless it is RESULT_OK.
void Check(int result, const std::string& what);
std::string BoardModelName(TAVDll::BoardType type);
// A record in words, as the board's firmware reads it.
std::string DescribeRecord(const uint8_t* bytes);

// A whole number: decimal or 0x-hexadecimal, within [low, high].
uint64_t ParseNumber(const std::string& text, const std::string& what, uint64_t low, uint64_t high);
// Hexadecimal bytes, spaces and colons allowed between them.
std::vector<uint8_t> ParseHexBytes(const std::string& text);

// Pins: a raw identifier (0x40000005), names (P4.0, P8.16), ranges within a
// bank (P4.0-3) and comma lists of these (P4.0,P4.2,P8.1-2). The result has
// one identifier per bank, in the order the banks first appear.
std::vector<uint32_t> ParsePins(const std::string& text);
// "P4.0 (PB0), P4.2 (PB2)": the board pins an identifier names, each with
// the microcontroller pin it reaches on this board model.
std::string DescribePins(uint32_t pinId, TAVDll::BoardType model);
// Why pinId fails with 64 on this model: "pin P8.3 has no mapping ...".
std::string FirstUnmappedPin(uint32_t pinId, TAVDll::BoardType model);

} // namespace tavctl

#endif
