// Shared pieces of tavctl: the session with the board, errors, the parsers
// and the commands. Each command's file declares its command (command.h);
// only command_line.cpp knows the command-line library (CLI11), and the
// commands here take plain arguments. The panel (`serve`) lives in
// tools/panel.
#ifndef TAVCTL_TOOL_H
#define TAVCTL_TOOL_H

#include <cstdint>
#include <cstdio>
#include <istream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

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

// Thrown where a command would first reach the board while a script is
// being checked before it runs: everything up to there took its arguments.
struct ReachedTheBoard {};

struct GlobalOptions {
    std::string simModel;   // empty: real USB
    std::string device;     // a selector (usb:BUS:DEV, BUS:DEV, sim:M, queued:...); empty: the first board
    std::string format = "text"; // text or json (list, info, status)
    bool trace = false;
    bool verbose = false;
    bool hold = false;
    bool virtualTime = false; // sleep advances the virtual board's clock instead of waiting
    std::string vcdFile;      // waveform of the virtual board's pins, written at the end
    std::string svgFile;      // the same as a timing diagram
};

// The connection to one board, opened on first use and kept for every
// command of the invocation (and of a script).
class Session {
public:
    explicit Session(const GlobalOptions& options);

    // Opens the board (real or virtual) the options select; throws on failure.
    void Connect();
    bool Connected() const { return board_.isOpen(); }
    bool Simulated() const;
    // The selector the options name; without --sim or --device, TAV_DEVICE's
    // (as the library takes it for "the first board").
    std::string Selector() const;
    // The open board (Connect first).
    tav::Board& Board() { return board_; }
    // The model of the open board, for pin names.
    char ModelLetter() const; // 'T', 'S', 'C' or '?'
    // What one board pin does by the commanded state of this session.
    tav_pin_state PinState(uint32_t singlePin) const;
    // Waits (or, with --virtual-time, advances the virtual board's clock);
    // with --hold a stop signal ends the wait with an error, and in the shell
    // a Ctrl-C does.
    void Sleep(uint64_t nanoseconds);
    // Before anything runs: --vcd and --svg (when given) name two different
    // files that can be written; throws a usage error with the reason.
    void CheckWaveformFiles(bool vcdGiven, bool svgGiven) const;
    // Writes --vcd and --svg of a virtual board (nothing without them).
    void WriteWaveforms();
    // Ends the session. Without --hold the board is left as set (released,
    // no shutdown records). With --hold, after commands that succeeded, waits
    // for Ctrl-C / SIGTERM; either way it then closes the board into the
    // safe state.
    void Finish(bool commandsSucceeded);
    // While on, Connect and Sleep throw ReachedTheBoard instead (a script's
    // lines are checked before the first runs).
    void SetChecking(bool checking) { checking_ = checking; }
    bool Checking() const { return checking_; }

private:
    const GlobalOptions& options_;
    bool checking_ = false;
    tav::Board board_;
};

struct Context {
    GlobalOptions options;
    Session session{options};
    FILE* out = stdout;     // where commands say what they sent (the panel mutes them)
    bool viewShown = false; // `status` printed the board view already
    int scriptDepth = 0;    // lines of a script or the shell are running
    std::shared_ptr<void> lineParser; // built at the first script or shell line
};

// ---- the commands (one file each) ------------------------------------------

void ListCommand(Context& context, bool all);
void MonitorCommand(Context& context, unsigned intervalMs);
void InfoCommand(Context& context);
void InitCommand(Context& context, const std::string& value);
void SafeCommand(Context& context);
// The modes beyond push-pull and floating: input --pull up|down, output --open-drain.
struct PinModeOptions {
    std::string pull; // "", "up" or "down"
    bool openDrain = false;
};
void PinCommand(Context& context, const std::string& action, const std::string& pins, const std::string& value,
                const PinModeOptions& mode = {});
// 0/1, low/high, off/on: a level, not a pin.
bool IsLevelWord(const std::string& text);
void ToggleCommand(Context& context, const std::string& pins);
// --div or --hz ("" when not given), --duty.
void PwmStartCommand(Context& context, const std::string& group, const std::string& divider, const std::string& duties,
                     const std::string& hz = "");
void PwmSetCommand(Context& context, const std::string& group, const std::string& channel, const std::string& duty);
void PwmPulseCommand(Context& context, const std::string& group, const std::string& channel, const std::string& pulse);
// Every group, or the one named.
void PwmStopCommand(Context& context, const std::string& group = "");
void SimUnplugCommand(Context& context);
void SimPlugCommand(Context& context);
void SimFailCommand(Context& context, const std::string& kind, unsigned after);
void RawCommand(Context& context, const std::vector<std::string>& hex);
void DecodeCommand(const std::vector<std::string>& hex, const std::string& file);
// Sends a record log's records again, at their recorded times (a virtual
// board on its own clock at once) or, fast, back to back.
void ReplayCommand(Context& context, const std::string& file, bool fast, bool anyModel);
void StatusCommand(Context& context);
void SleepCommand(Context& context, const std::string& duration);
// A script file, or - for standard input (the shell when it is a terminal).
void RunCommand(Context& context, const std::string& script);
void ShellCommand(Context& context);
// The control panel in the browser and its JSON API, on 127.0.0.1:port (0: a free one).
void ServeCommand(Context& context, const std::string& port);
// What this build of tavctl has (help lists only that): the panel of
// `serve` (POSIX builds) and line editing in `shell` (libedit, POSIX).
extern const bool PANEL_AVAILABLE;
extern const bool LINE_EDITING;
// The lines of a script, with repeat/loop blocks; errors name the line.
// name: the input's name for a read error ("script FILE").
void RunScriptLines(Context& context, std::istream& input, const std::string& name);

// Parses and runs one command line (without the program name and the global
// options) against the context's session: the lines of scripts and of the
// shell. Defined with the command line in command_line.cpp.
void RunCommandLine(Context& context, const std::vector<std::string>& words);
// The names of the commands, for messages.
std::string CommandNames(bool forScript);
// The whole tool: parses the command line, runs it, ends the session.
int Main(int argc, char** argv);

// ---- shared helpers ----------------------------------------------------

// The library's result in words; throws unless it is RESULT_OK.
void Check(int result, const std::string& what);
std::string BoardModelName(char model);
// The board's facts as the library gives them: the models ("TSC"), the PWM
// groups ("ABC"), the dividers (1, 2, 4, ...); and a list of them in words
// ("A, B or C" or, with last "and", "A, B and C"; "1, 2, 4, ... 128").
std::string ModelLetters();
std::string PwmGroups();
std::vector<int> PwmDividers();
std::string Alternatives(const std::string& letters, const char* last = "or");
std::string DividersText();
// A record in words, as the board's firmware reads it; a transfer shorter
// than a record is shown with the missing bytes as zero.
std::string DescribeRecord(const uint8_t* bytes, int length = TAV_RECORD_SIZE);
// A PWM group's channel on this model (the library's tav_pwm_channel_info).
tav_pwm_channel ChannelInfo(char group, uint32_t channel, char model);
// The board pin's name ("P4.8").
std::string BoardPinName(uint32_t singlePin);
// A whole file; a ToolError names the file and the reason, also for a
// directory or a file longer than maxBytes.
std::string ReadTextFile(const std::string& path, size_t maxBytes);
// The rest of a stream, counted as it is read; a ToolError past maxBytes.
std::string ReadCapped(std::istream& input, size_t maxBytes, const std::string& name);
// Input quoted in a message: control bytes escaped, long text cut short
// ('abc...' (50000 characters)).
std::string Quoted(const std::string& text);

// ---- record logs (TAV_TRACE=FILE.tavtrace) ----------------------------------
constexpr size_t MAX_RECORD_LOG_BYTES = size_t{256} << 20; // far above the library's 100,000 records

struct LoggedRecord {
    uint64_t timeNs = 0; // since the board was opened
    bool out = true;     // to the board; false: its reply
    uint8_t bytes[TAV_RECORD_SIZE] = {};
    int line = 0;
};

struct RecordLog {
    std::vector<LoggedRecord> records;
    uint64_t endNs = 0; // when the traced board was let go (or the last record)
    int endLine = 0;    // the line that says so
    char model = 0;     // the traced board's model letter; 0 when the log does not say
};

// Whether the text starts as a record log does.
bool IsRecordLog(const std::string& content);
// Every record of a record log; anything that does not parse is a usage
// ToolError "NAME line N: reason", and then nothing is returned.
RecordLog ReadRecordLog(const std::string& content, const std::string& name);
// 1.250000000
std::string SecondsText(uint64_t nanoseconds);

// A stream that swallows what is written (the null device), kept open for
// the process.
FILE* NullOutput();
// The records of closing a board: how many, how many failed; traced with
// --trace. CountCloseRecord is the record callback that counts them.
struct CloseCount {
    bool trace = false;
    int records = 0;
    int failed = 0;
};
void CountCloseRecord(void* user, const uint8_t* bytes, int length, int result);
// "board closed into the safe state" on standard output, or a ToolError
// saying how many records did not reach the board.
void SayHowCloseWent(const CloseCount& count);
// --trace: one record transfer in words on standard error (a record
// callback; user is not used).
void TraceRecord(void* user, const uint8_t* bytes, int length, int result);
// A one-line warning on standard error (or, while a WarningsTo of this
// thread lives, into its list).
void Warn(const std::string& text);
// Collects this thread's warnings into a list for as long as it lives.
class WarningsTo {
public:
    explicit WarningsTo(std::vector<std::string>* sink);
    ~WarningsTo();
    WarningsTo(const WarningsTo&) = delete;
    WarningsTo& operator=(const WarningsTo&) = delete;

private:
    std::vector<std::string>* previous_;
};

// A whole number: decimal or 0x-hexadecimal (never octal), within [low, high].
uint64_t ParseNumber(const std::string& text, const std::string& what, uint64_t low, uint64_t high);
// Hexadecimal bytes, spaces and colons allowed between them.
std::vector<uint8_t> ParseHexBytes(const std::string& text);
// "250ms", "1.5s", "20us", "100ns" in nanoseconds.
uint64_t ParseDuration(const std::string& text);
// Words of a line; # starts a comment.
std::vector<std::string> SplitWords(const std::string& line);

// Pins, as the library reads them (tav_parse_pins): names (P4.0, P8.16),
// ranges within a bank (P4.0-3), lists (P4.0,P8.2) or one identifier. One
// identifier per bank, in the order the banks first appear.
std::vector<uint32_t> ParsePins(const std::string& text);
// The single-pin identifiers an identifier names, lowest bit first.
std::vector<uint32_t> SinglePins(uint32_t pinId);
// The 33 board pins, P4.0 to P8.16, each on its own.
std::vector<uint32_t> BoardPins();
// "P4.0 (PB0), P4.2 (PB2)": the board pins an identifier names, each with
// the microcontroller pin it reaches on this board model.
std::string DescribePins(uint32_t pinId, char model);
// Why pinId fails with 64 on this model: "pin P8.3 has no mapping ...".
std::string FirstUnmappedPin(uint32_t pinId, char model);

// The stable JSON name of a tav_pin_function ("output_high").
const char* PinFunctionName(int function);

} // namespace tavctl

#endif
