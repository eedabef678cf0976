// What the pins did, as a waveform: a virtual board in virtual time writes
// blink.vcd (GTKWave, PulseView). A real board reports nothing back; run any
// program with TAV_TRACE=run.vcd to see what it sent.
//   c++ -std=c++17 trace_vcd.cpp $(pkg-config --cflags --libs tav) -o trace_vcd
#include <cstdio>

#include <tav/board.hpp>

int main()
{
    tav::Board board;
    if (board.open("sim:T") != TAV_OK)
        return 1;
    // Sleeps cost nothing and the file is the same every run.
    int result = tav_sim_set_virtual_time(board.handle(), 1);
    if (result == TAV_OK)
        result = board.init();
    if (result == TAV_OK)
        result = board.pinOutput(TAV_P4(8));
    for (int edge = 0; edge < 4 && result == TAV_OK; ++edge) {
        result = edge % 2 == 0 ? board.pinSet(TAV_P4(8)) : board.pinReset(TAV_P4(8));
        if (result == TAV_OK)
            result = tav_sim_advance(board.handle(), 250000000u); // 250 ms
    }
    if (result == TAV_OK)
        result = tav_sim_write_vcd(board.handle(), "blink.vcd");
    if (result != TAV_OK) {
        std::fprintf(stderr, "failed: %s\n", tav_strerror(result));
        return 1;
    }
    std::printf("wrote blink.vcd\n");
    return 0;
}
