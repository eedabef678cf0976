#define _POSIX_C_SOURCE 199309L /* nanosleep */
/* An application that knows nothing of tracing: it opens the first board,
 * starts PWM group B at 1000 Hz with 25 % and 75 % on its first two
 * channels, drives P4.8 high, waits 30 ms and closes the board. With
 * TAV_TRACE set in its environment the library writes what it commanded.
 * With --exit-open it ends without closing the board: the trace is written
 * as the program exits.
 *   tav_trace_program [SELECTOR [--exit-open]] */
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <tav/tav.h>

int main(int argc, char** argv)
{
    tav_board* board = NULL;
    const int opened = tav_open(argc > 1 ? argv[1] : "", &board);
    if (opened != TAV_OK) {
        fprintf(stderr, "tav_trace_program: %s\n", tav_strerror(opened));
        return 1;
    }
    const uint32_t duties[2] = {9000, 27000};
    int result = tav_init(board, 0);
    if (result == TAV_OK)
        result = tav_pwm_start(board, 'B', 2, duties, 2);
    if (result == TAV_OK)
        result = tav_pin_output(board, 0x40000100u);
    if (result == TAV_OK)
        result = tav_pin_set(board, 0x40000100u);
    const struct timespec wait = {0, 30000000};
    nanosleep(&wait, NULL);
    if (argc > 2 && strcmp(argv[2], "--exit-open") == 0)
        return result == TAV_OK ? 0 : 1;
    tav_close(board);
    if (result != TAV_OK) {
        fprintf(stderr, "tav_trace_program: %s\n", tav_strerror(result));
        return 1;
    }
    return 0;
}
