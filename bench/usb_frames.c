/* The operations bench/usb_frames.sh measures, on one board sent to each way
 * in turn: one transfer at a time ("sync:" and the address: libusb 0.1 on
 * Linux), then as a board object does by default (tav_open(""), the first
 * board: queued, through libusb-1.0 on Linux). For
 * every operation it prints "BACKEND OPERATION RECORDS MS": the OUT
 * transfers it made, in the order made, so that the board's URB log can be
 * cut into operations, and the milliseconds it took.
 *   tav_usb_frames [ADDRESS]      ADDRESS as in "usb:1:2" (the default) */
#if defined(_WIN32)
#include <windows.h>
#else
#define _POSIX_C_SOURCE 199309L
#include <time.h>
#endif
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

static double Milliseconds(void)
{
#if defined(_WIN32)
    return (double)GetTickCount64();
#else
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec * 1000.0 + (double)now.tv_nsec / 1e6;
#endif
}

static double started;

static int Measure(const char* backend, const char* operation, int result)
{
    static int before;
    const double now = Milliseconds();
    printf("%s %s %d %.1f\n", backend, operation, records - before, now - started);
    before = records;
    started = now;
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
        /* Then tav_open(""): the first board, sent as board objects send by default. */
        selector[0] = '\0';
        if (index == 0)
            snprintf(selector, sizeof selector, "sync:%s", address);
        tav_board* board = NULL;
        started = Milliseconds();
        const int opened = tav_open(selector, &board);
        if (opened != TAV_OK) {
            fprintf(stderr, "tav_usb_frames: %s: %s\n", selector, tav_strerror(opened));
            return 1;
        }
        /* Opening asked the board for its model: one request, then its reply. */
        tav_set_record_callback(board, CountRecord, NULL);
        ++records; /* the board-information request */
        Measure(backends[index], "open", TAV_OK);
        good &= Measure(backends[index], "InitTav", tav_init(board, 0));
        good &= Measure(backends[index], "InitPWMB", tav_pwm_start(board, 'B', 1, duties, 4));
        good &= Measure(backends[index], "Pin_Set(16)", tav_pin_set(board, 0x4000FFFFu));
        tav_close(board);
        good &= Measure(backends[index], "Close", TAV_OK);
    }
    return good ? 0 : 1;
}
