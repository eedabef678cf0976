// Blinks an LED on P4.8 three times. TAV_DEVICE=sim:T runs it on a virtual board.
//   c++ -std=c++17 blink.cpp $(pkg-config --cflags --libs tav) -o blink
#include <chrono>
#include <cstdio>
#include <thread>

#include <tav/board.hpp>

int main()
{
    tav::Board board; // closed into the safe state when it goes out of scope
    int result = board.open(); // the first board, or the one TAV_DEVICE names
    if (result != TAV_OK) {
        const char* why = tav_open_problem();
        std::fprintf(stderr, "cannot open a board: %s\n", why != nullptr ? why : tav_strerror(result));
        return 1;
    }
    const uint32_t led = TAV_P4(8);
    result = board.init();
    if (result == TAV_OK)
        result = board.pinOutput(led);
    for (int round = 0; round < 6 && result == TAV_OK; ++round) {
        result = round % 2 == 0 ? board.pinSet(led) : board.pinReset(led);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (result != TAV_OK) {
        std::fprintf(stderr, "blinking failed: %s\n", tav_strerror(result));
        return 1;
    }
    std::printf("blinked P4.8 on board model %c\n", board.model());
    return 0;
}
