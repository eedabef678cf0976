/* A C program as Microsoft's toolchain builds it (clang in Microsoft mode,
 * lld-link, tav.lib, no C runtime): a virtual board and, with one board
 * behind the stand-in libusb0.dll (TAV_STANDIN_BOARDS=T), that board. The
 * exit code is 0, or the number of the first step that went wrong. */
#include <tav/tav.h>

static int Drive(const char* selector, char model)
{
    tav_board* board = NULL;
    if (tav_open(selector, &board) != TAV_OK || tav_model(board) != model)
        return 1;
    const uint32_t duties[] = {9000, 18000};
    const int result = tav_init(board, 0) == TAV_OK && tav_pin_output(board, 0x40000100u) == TAV_OK
                               && tav_pin_set(board, 0x40000100u) == TAV_OK
                               && tav_pwm_start(board, 'B', 2, duties, 2) == TAV_OK
                               && tav_pwm_set(board, 'B', 1, 4500) == TAV_OK
                           ? 0
                           : 2;
    tav_close(board);
    return result;
}

int mainCRTStartup(void)
{
    if (Drive("sim:S", 'S') != 0)
        return 1;
    if (tav_usb_problem() != NULL)
        return 2;
    if (Drive("usb:0:1", 'T') != 0)
        return 3;
    tav_board* board = NULL;
    if (tav_open("usb:0:2", &board) != TAV_E_NOT_FOUND || board != NULL)
        return 4;
    return 0;
}
