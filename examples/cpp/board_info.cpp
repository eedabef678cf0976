// Opens a TAV board, prints its model and firmware version, brings it up and
// drives one pin. Without a board attached (or with --sim) it runs against a
// virtual board and prints what the board's pins do afterwards.
#include <cstdio>
#include <cstring>

#include "tav/board.hpp"

int main(int argc, char** argv)
{
    const bool forceSim = argc > 1 && std::strcmp(argv[1], "--sim") == 0;
    tav::Board board;
    int result = forceSim ? TAV_E_NOT_FOUND : board.open();
    if (result == TAV_E_NOT_FOUND) {
        std::printf("no board attached: using a virtual board\n");
        result = board.open("sim:T");
    }
    if (result != TAV_OK) {
        std::fprintf(stderr, "cannot open the board: %s\n", tav_strerror(result));
        return 1;
    }
    std::printf("board model %c, firmware %s\n", board.model(), board.firmware().c_str());

    const uint32_t firstPin = TAVDll::PIN_BANK_4 | 0x1; // P4.0
    if ((result = board.init()) != TAV_OK || (result = board.pinOutput(firstPin)) != TAV_OK
        || (result = board.pinSet(firstPin)) != TAV_OK) {
        std::fprintf(stderr, "driving P4.0 failed: %s\n", tav_strerror(result));
        return 1;
    }
    const std::string view = board.simStatus();
    if (!view.empty())
        std::printf("%s", view.c_str());
    return 0; // the board closes into the safe state here
}
