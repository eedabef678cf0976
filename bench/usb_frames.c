/* The operations bench/usb_frames.sh measures, on one board through each
 * USB backend in turn (libusb 0.1 one by one, then libusb-1.0 queued). For
 * every operation it prints "BACKEND OPERATION RECORDS": the OUT transfers
 * it made, in the order made, so that the board's URB log can be cut into
 * operations.
 *   tav_usb_frames [ADDRESS]      ADDRESS as in "usb:1:2" (the default) */
#include <stdio.h>
#include <tav/tav.h>

static int records;

static void CountRecord(void* user, const uint8_t* bytes, int length, int result)
{
    (void)user;
    (void)bytes;
    (void)length;
    (void)result;
    ++records;
}

static int Measure(const char* backend, const char* operation, int result)
{
    static int before;
    printf("%s %s %d\n", backend, operation, records - before);
    before = records;
    if (result != TAV_OK)
        fprintf(stderr, "tav_usb_frames: %s %s: %s\n", backend, operation, tav_strerror(result));
    return result == TAV_OK;
}

int main(int argc, char** argv)
{
    const char* address = argc > 1 ? argv[1] : "usb:1:2";
    const char* const backends[2] = {"one-by-one", "queued"};
    const uint32_t duties[4] = {9000, 18000, 27000, 36000};
    int good = 1;
    for (int index = 0; index < 2; ++index) {
        char selector[64];
        snprintf(selector, sizeof selector, "%s%s", index == 0 ? "" : "queued:", address);
        tav_board* board = NULL;
        const int opened = tav_open(selector, &board);
        if (opened != TAV_OK) {
            fprintf(stderr, "tav_usb_frames: %s: %s\n", selector, tav_strerror(opened));
            return 1;
        }
        /* Opening asked the board for its model: one request, then its reply. */
        printf("%s open 1\n", backends[index]);
        tav_set_record_callback(board, CountRecord, NULL);
        good &= Measure(backends[index], "InitTav", tav_init(board, 0));
        good &= Measure(backends[index], "InitPWMB", tav_pwm_start(board, 'B', 1, duties, 4));
        good &= Measure(backends[index], "Pin_Set(16)", tav_pin_set(board, 0x4000FFFFu));
        tav_close(board);
        good &= Measure(backends[index], "Close", TAV_OK);
    }
    return good ? 0 : 1;
}
