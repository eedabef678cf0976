/* What `tavctl --sim info` prints, from a plain C program: the reference
 * for tavctl's start-up cost (bench/callgrind_startup.sh). */
#include <stdio.h>
#include <stdlib.h>
#include <tav/tav.h>

int main(void)
{
    tav_board* board = NULL;
    if (tav_open("sim:T", &board) != TAV_OK)
        return 1;
    char firmware[64];
    char view[8192];
    if (tav_firmware(board, firmware, sizeof firmware) < 0 || tav_sim_status(board, view, sizeof view) < 0)
        return 1;
    printf("model: %c\nfirmware: %s\n\nvirtual board:\n%s", tav_model(board), firmware, view);
    tav_release(board);
    return 0;
}
