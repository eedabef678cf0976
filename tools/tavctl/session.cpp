#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>

#include "stop_signal.h"
#include "tool.h"

namespace tavctl {

// --trace: every record transfer, decoded, on standard error.
void TraceRecord(void*, const uint8_t* bytes, int length, int result)
{
    const std::string text = DescribeRecord(bytes, length);
    if (result == length)
        std::fprintf(stderr, "> %s\n", text.c_str());
    else
        std::fprintf(stderr, "> %s [transfer failed: %d]\n", text.c_str(), result);
}

Session::Session(const GlobalOptions& options)
    : options_(options)
{
}

std::string Session::Selector() const
{
    if (!options_.simModel.empty())
        return "sim:" + options_.simModel;
    if (options_.device.empty())
        if (const char* fromEnvironment = std::getenv("TAV_DEVICE"))
            return fromEnvironment;
    return options_.device;
}

bool Session::Simulated() const
{
    return tav_selector_is_virtual(Selector().c_str()) == 1;
}

char Session::ModelLetter() const
{
    return board_.model();
}

tav_pin_state Session::PinState(uint32_t singlePin) const
{
    tav_pin_state state{};
    tav_pin_state_get(board_.handle(), singlePin, &state);
    return state;
}

void Session::CheckWaveformFiles(bool vcdGiven, bool svgGiven) const
{
    if ((vcdGiven || svgGiven) && !Simulated())
        throw ToolError("--virtual-time, --vcd and --svg need a virtual board (--sim)", EXIT_USAGE);
    if ((vcdGiven && options_.vcdFile.empty()) || (svgGiven && options_.svgFile.empty()))
        throw ToolError(std::string(vcdGiven && options_.vcdFile.empty() ? "--vcd" : "--svg") + " needs a file name",
                        EXIT_USAGE);
    if (vcdGiven && svgGiven && options_.vcdFile == options_.svgFile)
        throw ToolError("--vcd and --svg name the same file: " + options_.vcdFile, EXIT_USAGE);
    // Found out now, not after the run: open each for appending (made empty
    // if new; the run writes it whole at the end).
    for (const std::string* file : {&options_.vcdFile, &options_.svgFile}) {
        if (file->empty())
            continue;
        std::error_code error;
        if (std::filesystem::is_directory(*file, error))
            throw ToolError("cannot write " + *file + ": it is a directory", EXIT_USAGE);
        FILE* probe = std::fopen(file->c_str(), "ab");
        if (probe == nullptr)
            throw ToolError("cannot write " + *file + ": " + std::strerror(errno), EXIT_USAGE);
        std::fclose(probe);
    }
}

void Session::Connect()
{
    if (checking_)
        throw ReachedTheBoard{};
    if (Connected())
        return;
    if (options_.verbose)
        tav_set_log_callback(
            [](int level, const char* text, void*) {
                static const char* const LEVELS[] = {"error", "warning", "info", "debug"};
                std::fprintf(stderr, "tavctl: %s: %s\n", level >= 1 && level <= 4 ? LEVELS[level - 1] : "log", text);
            },
            nullptr);
    if (!options_.simModel.empty() && !options_.device.empty())
        throw ToolError("--sim and --device both choose the board: give one (--device sim:" + options_.simModel +
                            " is the same as --sim=" + options_.simModel + ")",
                        EXIT_USAGE);
    const std::string selector = Selector();
    if (!Simulated() && (options_.virtualTime || !options_.vcdFile.empty() || !options_.svgFile.empty()))
        throw ToolError("--virtual-time, --vcd and --svg need a virtual board (--sim)", EXIT_USAGE);
    if (options_.hold)
        HoldStopSignals();
    const int result = board_.open(selector);
    switch (result) {
    case TAV_OK: break;
    case TAV_E_INVALID: {
        char reason[512] = "";
        tav_parse_selector(selector.c_str(), reason, sizeof reason);
        throw ToolError(reason, EXIT_USAGE);
    }
    case TAV_E_NOT_FOUND:
        if (const char* problem = tav_usb_problem())
            throw ToolError((selector.empty() ? "no board found: " : "no TAV board at " + selector + ": ") + problem);
        if (selector.empty())
            throw ToolError("no board found: is it plugged in? (or try --sim)");
        throw ToolError("no TAV board at " + selector + " (see `tavctl list`)");
    case TAV_E_ACCESS:
        if (const char* problem = tav_open_problem())
            throw ToolError(problem);
        throw ToolError("board found but it cannot be opened: no permission? install the udev rule "
                        "(60-tav-board.rules, see the README) or check that no other program holds it");
    default:
        throw ToolError("the board does not answer the board-information request: board unplugged? (" +
                        std::string(tav_strerror(result)) + ")");
    }
    if (options_.trace)
        tav_set_record_callback(board_.handle(), TraceRecord, nullptr);
    if (options_.virtualTime)
        tav_sim_set_virtual_time(board_.handle(), 1);
}

void Session::Sleep(uint64_t nanoseconds)
{
    if (checking_)
        throw ReachedTheBoard{};
    if (options_.virtualTime && Simulated()) {
        Connect();
        tav_sim_advance(board_.handle(), nanoseconds);
        return;
    }
    if (!options_.hold) {
        if (!SleepUnlessInterrupted(nanoseconds))
            throw ToolError("interrupted");
        return;
    }
    // Signals are held back: wait for one of them at most that long.
    if (WaitForStop(nanoseconds))
        throw ToolError("interrupted");
}

void Session::WriteWaveforms()
{
    if (!Connected() || !Simulated())
        return;
    // The file's own reason (a full disk), never a transfer's words.
    auto written = [](int result, const std::string& file) {
        if (result != TAV_OK)
            throw ToolError("cannot write " + file + (errno != 0 ? ": " + std::string(std::strerror(errno)) : ""));
    };
    errno = 0;
    if (!options_.vcdFile.empty())
        written(tav_sim_write_vcd(board_.handle(), options_.vcdFile.c_str()), options_.vcdFile);
    errno = 0;
    if (!options_.svgFile.empty())
        written(tav_sim_write_svg(board_.handle(), options_.svgFile.c_str()), options_.svgFile);
}

void Session::Finish(bool commandsSucceeded)
{
    if (!Connected())
        return;
    if (!options_.hold) {
        // Released without the shutdown sequence: the board stays as set.
        board_.release();
        return;
    }
    if (commandsSucceeded) {
        std::fprintf(stderr, "holding the board as set; Ctrl-C, SIGTERM or SIGHUP closes it into the safe state\n");
        WaitForStop();
    }
    CloseCount count{options_.trace};
    tav_set_record_callback(board_.handle(), CountCloseRecord, &count);
    board_.close();
    StopHandled();
    SayHowCloseWent(count);
}

void CountCloseRecord(void* user, const uint8_t* bytes, int length, int result)
{
    auto* count = static_cast<CloseCount*>(user);
    ++count->records;
    if (result != length)
        ++count->failed;
    if (count->trace)
        TraceRecord(nullptr, bytes, length, result);
}

void SayHowCloseWent(const CloseCount& count)
{
    if (count.failed == 0) {
        std::printf("board closed into the safe state\n");
        std::fflush(stdout);
        return;
    }
    throw ToolError("closing the board failed: " + std::to_string(count.failed) + " of " +
                    std::to_string(count.records) +
                    " records did not reach it (unplugged or hung?), so its outputs may still be driven");
}

} // namespace tavctl
