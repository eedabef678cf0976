/* A board that heals: "reattach:" finds the board again after it was
 * unplugged and sends what the program had set, and tav_watch reports the
 * boards coming and going. On a virtual board (TAV_DEVICE=sim:T) the program
 * unplugs and plugs it itself; on a real one, unplug it and plug it back.
 *   cc heal.c $(pkg-config --cflags --libs tav) -o heal */
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

static void on_event(const tav_event* event, void* user_data)
{
    (void)user_data;
    printf("%s %s\n", event->kind == TAV_EVENT_ARRIVED ? "arrived" : "left",
           event->device->selector[0] != '\0' ? event->device->selector : event->device->port);
}

/* On a thread of the library's; it may call the board's functions. */
static void on_connection(tav_board* board, int connected, void* user_data)
{
    (void)board;
    (void)user_data;
    printf("board %s\n", connected ? "back: restored" : "left");
}

int main(void)
{
    tav_watcher* watcher = NULL;
    tav_board* board = NULL;
    if (tav_watch(on_event, NULL, 50, &watcher) != TAV_OK || tav_open("reattach:", &board) != TAV_OK) {
        fprintf(stderr, "cannot open a board\n");
        tav_unwatch(watcher);
        return 1;
    }
    tav_set_connection_callback(board, on_connection, NULL);
    int result = tav_init(board, 0);
    if (result == TAV_OK)
        result = tav_pin_output(board, TAV_P4(8));
    if (result == TAV_OK)
        result = tav_pin_set(board, TAV_P4(8));
    pause_ms(300); /* the watcher's first look */
    if (tav_sim_unplug(board) == TAV_OK) { /* a virtual board: the test a program makes of itself */
        pause_ms(300);
        tav_sim_plug(board);
    } else {
        printf("unplug the board and plug it back\n");
    }
    for (int waited = 0; waited < 600 && tav_connected(board) != 1; ++waited)
        pause_ms(100);
    tav_pin_state state;
    if (result == TAV_OK && tav_connected(board) == 1 && tav_pin_state_get(board, TAV_P4(8), &state) == TAV_OK)
        printf("P4.8 after the replug: %s\n", state.description);
    pause_ms(300); /* the watcher's next look */
    tav_unwatch(watcher);
    tav_close(board);
    return result == TAV_OK ? 0 : 1;
}
