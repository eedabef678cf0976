/* Blinks an LED on P4.8 three times. TAV_DEVICE=sim:T runs it on a virtual board.
 *   cc blink.c $(pkg-config --cflags --libs tav) -o blink */
#ifndef _WIN32
#define _POSIX_C_SOURCE 199309L /* nanosleep */
#endif
#include <stdio.h>
#include <tav/tav.h>
#ifdef _WIN32
#include <windows.h>
static void pause_ms(unsigned ms) { Sleep(ms); }
#else
#include <time.h>
static void pause_ms(unsigned ms)
{
    struct timespec wait = {ms / 1000, (long)(ms % 1000) * 1000000L};
    nanosleep(&wait, NULL);
}
#endif

int main(void)
{
    tav_board* board = NULL;
    int result = tav_open("", &board); /* the first board, or the one TAV_DEVICE names */
    if (result != TAV_OK) {
        const char* why = tav_open_problem();
        fprintf(stderr, "cannot open a board: %s\n", why != NULL ? why : tav_strerror(result));
        return 1;
    }
    if ((result = tav_init(board, 0)) != TAV_OK || (result = tav_pin_output(board, TAV_P4(8))) != TAV_OK) {
        fprintf(stderr, "cannot set up P4.8: %s\n", tav_strerror(result));
        tav_close(board);
        return 1;
    }
    for (int round = 0; round < 3 && result == TAV_OK; ++round) {
        result = tav_pin_set(board, TAV_P4(8));
        pause_ms(100);
        if (result == TAV_OK)
            result = tav_pin_reset(board, TAV_P4(8));
        pause_ms(100);
    }
    if (result != TAV_OK)
        fprintf(stderr, "blinking failed: %s\n", tav_strerror(result));
    else
        printf("blinked P4.8 on board model %c\n", tav_model(board));
    tav_close(board); /* the safe state: every pin floating, PWM off */
    return result == TAV_OK ? 0 : 1;
}
