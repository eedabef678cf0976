// Sweeps the duty of group B, channel 1 (a motor, an LED) from 0 to 100 % at 20 kHz.
//   c++ -std=c++17 pwm_sweep.cpp $(pkg-config --cflags --libs tav) -o pwm_sweep
#include <chrono>
#include <cstdio>
#include <thread>

#include <tav/board.hpp>

int main()
{
    tav::Board board;
    int result = board.open();
    if (result != TAV_OK) {
        std::fprintf(stderr, "cannot open a board: %s\n", tav_strerror(result));
        return 1;
    }
    double reached = 0;
    result = board.init();
    if (result == TAV_OK)
        result = board.pwmStartHz('B', 20000, {}, &reached);
    for (int percent = 0; percent <= 100 && result == TAV_OK; percent += 10) {
        result = board.pwmSetPercent('B', 1, percent);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (result != TAV_OK) {
        std::fprintf(stderr, "the sweep failed: %s\n", tav_strerror(result));
        return 1;
    }
    std::printf("swept group B channel 1 at %g Hz\n", reached);
    return 0;
}
