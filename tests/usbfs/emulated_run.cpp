// Runs a command against a TAV board emulated by umockdev at bus 1, device 2
// (or --device N):
// the board model answers the usbfs ioctls of the command's libusb from this
// process, as umockdev-run does with recorded scripts. Afterwards the board
// view goes to the file given with --view, and the command's exit status is
// this program's. --stall-write N stalls transfer N (counted from 1 over both
// endpoints). --urb-log FILE lists every URB the board took, one a line:
// "FRAME ENDPOINT LENGTH ACTUAL STATUS", FRAME from the board's frame clock.
// --rtt MS puts the board behind a link with that round trip (a remote
// board over USB/IP): each URB completes that long after it was submitted.
//   tav_emulated_run [--model S] [--device N] [--view FILE] [--urb-log FILE] [--stall-write N] [--rtt MS]
//                    -- COMMAND [ARGUMENT...]
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "model/board_view.h"
#include "emulated_usb.h"

int main(int argc, char** argv)
{
    char model = 'T';
    int deviceNumber = 2;
    std::string viewFile;
    std::string urbLog;
    int stallWrite = 0; // that OUT transfer (from 1) stalls
    double roundTripMs = 0; // the link's round trip (a remote board)
    int first = 1;
    for (; first < argc && std::strcmp(argv[first], "--") != 0; ++first) {
        if (std::strcmp(argv[first], "--model") == 0 && first + 1 < argc)
            model = argv[++first][0];
        else if (std::strcmp(argv[first], "--device") == 0 && first + 1 < argc)
            deviceNumber = std::atoi(argv[++first]);
        else if (std::strcmp(argv[first], "--view") == 0 && first + 1 < argc)
            viewFile = argv[++first];
        else if (std::strcmp(argv[first], "--urb-log") == 0 && first + 1 < argc)
            urbLog = argv[++first];
        else if (std::strcmp(argv[first], "--stall-write") == 0 && first + 1 < argc)
            stallWrite = std::atoi(argv[++first]);
        else if (std::strcmp(argv[first], "--rtt") == 0 && first + 1 < argc)
            roundTripMs = std::atof(argv[++first]);
    }
    if (first + 1 >= argc) {
        std::fprintf(stderr, "usage: tav_emulated_run [--model S] [--device N] [--view FILE] [--urb-log FILE] "
                             "[--stall-write N] [--rtt MS] -- COMMAND [ARGUMENT...]\n");
        return 2;
    }
    tavtest::EmulatedBus bus;
    tavtest::EmulatedBoard& board = bus.AddBoard(deviceNumber, model);
    if (stallWrite > 0)
        board.StallWrite(stallWrite);
    board.SetRoundTrip(std::chrono::microseconds(static_cast<long long>(roundTripMs * 1000)));
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        // The command's libusb reaches the testbed through umockdev's preload.
        setenv("LD_PRELOAD", "libumockdev-preload.so.0", 1);
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
        execvp(argv[first + 1], argv + first + 1);
        std::perror(argv[first + 1]);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!viewFile.empty()) {
        std::ofstream out(viewFile);
        out << tavmodel::BoardView(board.Board()).Render();
    }
    if (!urbLog.empty()) {
        std::ofstream out(urbLog);
        for (const tavtest::UrbRecord& urb : board.Urbs())
            out << urb.frame << ' ' << urb.endpoint << ' ' << urb.length << ' ' << urb.actualLength << ' '
                << urb.status << '\n';
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}
