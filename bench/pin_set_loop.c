/* tav_pin_set(P4.8) N times on a virtual board: the C call that
 * bench/callgrind_script_line.sh holds the other front ends against. */
#include <stdlib.h>
#include <tav/tav.h>

int main(int argc, char** argv)
{
    const long count = argc > 1 ? strtol(argv[1], NULL, 10) : 1000;
    tav_board* board = NULL;
    if (tav_open("sim:T", &board) != TAV_OK)
        return 1;
    for (long index = 0; index < count; ++index)
        if (tav_pin_set(board, 0x40000100u) != TAV_OK)
            return 1;
    tav_release(board);
    return 0;
}
