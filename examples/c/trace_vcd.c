/* What the pins did, as a waveform: a virtual board in virtual time writes
 * blink.vcd (GTKWave, PulseView). A real board reports nothing back; run any
 * program with TAV_TRACE=run.vcd to see what it sent.
 *   cc trace_vcd.c $(pkg-config --cflags --libs tav) -o trace_vcd */
#include <stdio.h>
#include <tav/tav.h>

int main(void)
{
    tav_board* board = NULL;
    if (tav_open("sim:T", &board) != TAV_OK)
        return 1;
    /* Sleeps cost nothing and the file is the same every run. */
    int result = tav_sim_set_virtual_time(board, 1);
    if (result == TAV_OK)
        result = tav_init(board, 0);
    if (result == TAV_OK)
        result = tav_pin_output(board, TAV_P4(8));
    for (int edge = 0; edge < 4 && result == TAV_OK; ++edge) {
        result = edge % 2 == 0 ? tav_pin_set(board, TAV_P4(8)) : tav_pin_reset(board, TAV_P4(8));
        if (result == TAV_OK)
            result = tav_sim_advance(board, 250000000u); /* 250 ms */
    }
    if (result == TAV_OK)
        result = tav_sim_write_vcd(board, "blink.vcd");
    if (result == TAV_OK)
        printf("wrote blink.vcd\n");
    else
        fprintf(stderr, "failed: %s\n", tav_strerror(result));
    tav_close(board);
    return result == TAV_OK ? 0 : 1;
}
