// Opens a virtual board through the installed C++ headers, drives a pin and
// checks the board view; the static interface's header resolves too.
#include <TAVLib.h>
#include <tav/board.hpp>

#include <cstdio>

int main()
{
    tav::Board board;
    if (board.open("sim:T") != TAV_OK || board.init() != TAV_OK)
        return 1;
    const uint32_t led = TAVDll::PIN_BANK_4 | 0x100; // P4.8
    if (board.pinOutput(led) != TAV_OK || board.pinSet(led) != TAV_OK)
        return 2;
    if (board.simStatus().find("P4.8   0x40000100  PB8   output high") == std::string::npos)
        return 3;
    std::printf("C++ consumer: P4.8 high on model %c\n", board.model());
    return 0;
}
