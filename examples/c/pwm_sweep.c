/* Sweeps the duty of group B, channel 1 (a motor, an LED) from 0 to 100 % at 20 kHz.
 *   cc pwm_sweep.c $(pkg-config --cflags --libs tav) -o pwm_sweep */
#include <stdio.h>
#include <tav/tav.h>

int main(void)
{
    tav_board* board = NULL;
    int result = tav_open("", &board);
    if (result != TAV_OK) {
        fprintf(stderr, "cannot open a board: %s\n", tav_strerror(result));
        return 1;
    }
    double reached = 0;
    result = tav_init(board, 0);
    if (result == TAV_OK)
        result = tav_pwm_start_hz(board, 'B', 20000, NULL, 0, &reached);
    for (int percent = 0; percent <= 100 && result == TAV_OK; percent += 10)
        result = tav_pwm_set_percent(board, 'B', 1, percent);
    tav_pwm_group_state group;
    if (result == TAV_OK)
        result = tav_pwm_group_state_get(board, 'B', &group);
    if (result == TAV_OK)
        printf("swept group B channel 1 at %g Hz: duty %u of %u\n", reached, group.duty[0], group.full_scale);
    else
        fprintf(stderr, "the sweep failed: %s\n", tav_strerror(result));
    tav_close(board);
    return result == TAV_OK ? 0 : 1;
}
