/* An outside C program built with `pkg-config --cflags --libs tav`. */
#include <stdio.h>
#include <string.h>

#include <tav/tav.h>

int main(void)
{
    tav_board* board = NULL;
    if (tav_open("sim:S", &board) != TAV_OK)
        return 1;
    if (tav_init(board, 0) != TAV_OK || tav_pin_output(board, 0x80010000u) != TAV_OK
        || tav_pin_set(board, 0x80010000u) != TAV_OK)
        return 2;
    char view[8192];
    if (tav_sim_status(board, view, sizeof view) != TAV_OK || strstr(view, "P8.16  0x80010000  PA3   output high") == NULL)
        return 3;
    tav_close(board);
    printf("C consumer: P8.16 high on model S (libtav %s)\n", tav_version());
    return 0;
}
