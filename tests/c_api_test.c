/* The C interface from a C program, through tav/tav.h alone, on virtual
 * boards: every function, every refused argument, two boards at once and
 * threads. Prints "N passed, M failed". */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tav/tav.h"

static int passed;
static int failed;

/* NAME=VALUE into this process's environment, as the library reads it. */
static int PutEnvironment(const char* setting)
{
#ifdef _WIN32
    return _putenv(setting);
#else
    static char settings[4][64];
    static int next = 0;
    char* kept = settings[next++ % 4]; /* putenv keeps the string itself */
    snprintf(kept, sizeof settings[0], "%s", setting);
    return putenv(kept);
#endif
}

#define CHECK(condition)                                                                  \
    do {                                                                                  \
        if (condition) {                                                                  \
            ++passed;                                                                     \
        } else {                                                                          \
            ++failed;                                                                     \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition);       \
        }                                                                                 \
    } while (0)

#define P4(bit) (0x40000000u | (1u << (bit)))
#define P8(bit) (0x80000000u | (1u << (bit)))

static char view[8192];

/* The board view's line of one pin ("P4.8   0x40000100  PB8   output high"). */
static const char* ViewLine(tav_board* board, const char* pin)
{
    char key[16];
    snprintf(key, sizeof key, "\n  %s ", pin);
    if (tav_sim_status(board, view, sizeof view) != TAV_OK)
        return "";
    const char* line = strstr(view, key);
    return line != NULL ? line + 1 : "";
}

static int LineSays(tav_board* board, const char* pin, const char* text)
{
    const char* line = ViewLine(board, pin);
    const char* end = strchr(line, '\n');
    const char* found = strstr(line, text);
    return found != NULL && (end == NULL || found < end);
}

struct Recording {
    int records;
    int failures;
    unsigned char last[64];
};

static void Record(void* user, const uint8_t* bytes, int length, int result)
{
    struct Recording* recording = (struct Recording*)user;
    ++recording->records;
    if (result != length)
        ++recording->failures;
    memcpy(recording->last, bytes, length < 64 ? (size_t)length : 64);
}

static void TestOpenAndInformation(void)
{
    tav_board* board = (tav_board*)&passed;
    CHECK(tav_open("sim:Q", &board) == TAV_E_INVALID && board == NULL);
    /* A refused selector says why, as tav_parse_selector does. */
    CHECK(tav_open_problem() != NULL
          && strcmp(tav_open_problem(), "'sim:Q' is not a board selector: unknown model 'Q' (virtual boards: "
                                        "sim:T, sim:S, sim:C)") == 0);
    CHECK(PutEnvironment("TAV_DEVICE=sim:9") == 0);
    CHECK(tav_open("", &board) == TAV_E_INVALID && board == NULL);
    CHECK(tav_open_problem() != NULL
          && strncmp(tav_open_problem(), "TAV_DEVICE='sim:9' is not a board selector: unknown model '9'", 61) == 0);
    CHECK(PutEnvironment("TAV_DEVICE=") == 0); /* empty: no default selector */
    CHECK(tav_open("sim:T", &board) == TAV_OK && tav_open_problem() == NULL); /* cleared by the next open */
    CHECK(tav_queued(board) == 1); /* board objects queue by default */
    tav_close(board);
    CHECK(tav_open("sync:sim:T", &board) == TAV_OK && tav_queued(board) == 0);
    tav_close(board);
    CHECK(tav_open("reattach:queued:sim:T", &board) == TAV_OK && tav_queued(board) == 1);
    tav_close(board);
    CHECK(tav_open("sync:reattach:sim:T", &board) == TAV_OK && tav_queued(board) == 0);
    tav_close(board);
    CHECK(tav_open("sync:queued:sim:T", &board) == TAV_E_INVALID && tav_open("queued:sync:", &board) == TAV_E_INVALID);
    CHECK(tav_open("sync:sync:sim:T", &board) == TAV_E_INVALID && tav_queued(NULL) == TAV_E_INVALID);
    /* TAV_DEVICE's way of sending, unless the program's selector says its own. */
    CHECK(PutEnvironment("TAV_DEVICE=sync:sim:S") == 0);
    CHECK(tav_open("", &board) == TAV_OK && tav_model(board) == 'S' && tav_queued(board) == 0);
    tav_close(board);
    CHECK(tav_open("queued:", &board) == TAV_OK && tav_model(board) == 'S' && tav_queued(board) == 1);
    tav_close(board);
    CHECK(PutEnvironment("TAV_DEVICE=queued:sim:S") == 0);
    CHECK(tav_open("sync:", &board) == TAV_OK && tav_model(board) == 'S' && tav_queued(board) == 0);
    tav_close(board);
    CHECK(PutEnvironment("TAV_DEVICE=") == 0);
    CHECK(tav_open("sim:T", &board) == TAV_OK);
    tav_close(board);
    /* dev: with no path, as its own heap string (the sanitizer build sees
     * any read past it), and a dev: after prefixes: the reason names dev:. */
    {
        char reason[512];
        char* bare = malloc(5);
        CHECK(bare != NULL);
        if (bare != NULL) {
            memcpy(bare, "dev:", 5);
            CHECK(tav_parse_selector(bare, reason, sizeof reason) == TAV_E_INVALID
                  && strstr(reason, "dev: names a USB device node") != NULL);
            free(bare);
        }
        CHECK(tav_parse_selector("reattach:queued:dev:/nonexistent/node", reason, sizeof reason) == TAV_E_INVALID
              && strstr(reason, "dev: names a USB device node") != NULL);
    }
    CHECK(tav_open("sim:T", &board) == TAV_OK);
    tav_close(board);
    board = NULL;
    /* The pin macros name the identifiers of TAVLib.h. */
    CHECK(TAV_P4(8) == 0x40000100u && (TAV_P4(8) | TAV_P4(10)) == 0x40000500u && TAV_P8(16) == 0x80010000u);
    CHECK(TAV_P4(0) == 0x40000001u && TAV_P8(0) == 0x80000001u);
    CHECK(tav_open("usb:1", &board) == TAV_E_INVALID && board == NULL);
    CHECK(tav_open("sim:S", NULL) == TAV_E_INVALID);
    CHECK(tav_open("sim:S", &board) == TAV_OK && board != NULL);
    CHECK(tav_model(board) == 'S');
    char text[16];
    CHECK(tav_firmware(board, text, sizeof text) == TAV_OK && strcmp(text, "1.0.0.0") == 0);
    CHECK(tav_firmware(board, text, 4) == TAV_OK && strcmp(text, "1.0") == 0);
    CHECK(tav_firmware(board, text, 0) == TAV_E_INVALID);
    CHECK(tav_firmware(board, NULL, 8) == TAV_E_INVALID);
    CHECK(tav_firmware(NULL, text, 8) == TAV_E_INVALID);
    CHECK(tav_model(NULL) == '?');
    CHECK(tav_sim_status(board, text, sizeof text) == TAV_OK && strlen(text) == sizeof text - 1);
    CHECK(tav_sim_status(board, NULL, 10) == TAV_E_INVALID);
    CHECK(tav_sim_status(NULL, view, sizeof view) == TAV_E_INVALID);
    CHECK(strstr(tav_version(), ".") != NULL);
    CHECK(strcmp(tav_strerror(TAV_E_NOT_VIRTUAL), "not a virtual board") == 0);
    CHECK(tav_strerror(12345) != NULL);
    tav_close(board);
    tav_close(NULL);
    tav_release(NULL);
}

static void TestPinsOnModelT(void)
{
    tav_board* board = NULL;
    CHECK(tav_open("sim:T", &board) == TAV_OK);
    CHECK(LineSays(board, "P8.13", "held by the debug port"));
    CHECK(tav_init(board, 0) == TAV_OK);
    CHECK(LineSays(board, "P8.13", "floating input"));
    CHECK(tav_pin_output(board, P4(8) | P4(10)) == TAV_OK);
    CHECK(tav_pin_set(board, P4(8)) == TAV_OK);
    CHECK(LineSays(board, "P4.8", "PB8   output high"));
    CHECK(LineSays(board, "P4.10", "output low"));
    CHECK(tav_pin_write(board, P4(10), 1) == TAV_OK && LineSays(board, "P4.10", "output high"));
    CHECK(tav_pin_write(board, P4(10), 2) == TAV_OK && LineSays(board, "P4.10", "output low"));
    CHECK(tav_pin_set(board, P4(10)) == TAV_OK && tav_pin_reset(board, P4(10)) == TAV_OK);
    CHECK(LineSays(board, "P4.10", "output low"));
    CHECK(tav_pin_input(board, P4(8)) == TAV_OK && LineSays(board, "P4.8", "floating input"));
    CHECK(tav_pin_output(board, P8(16)) == TAV_OK && tav_pin_float(board, P8(16)) == TAV_OK);
    CHECK(LineSays(board, "P8.16", "floating input"));
    CHECK(tav_pin_set(board, 0x10000001u) == TAV_BAD_PIN);
    CHECK(tav_pin_set(board, P8(17)) == TAV_PIN_UNAVAILABLE);
    CHECK(tav_pin_set(NULL, P4(0)) == TAV_E_INVALID);
    CHECK(tav_safe(board) == TAV_OK);
    CHECK(tav_safe(NULL) == TAV_E_INVALID);
    tav_close(board);
}

static void TestPwmAndRecords(void)
{
    tav_board* board = NULL;
    struct Recording recording = {0, 0, {0}};
    CHECK(tav_open("sim:T", &board) == TAV_OK);
    CHECK(tav_set_record_callback(board, Record, &recording) == TAV_OK);
    CHECK(tav_set_record_callback(NULL, Record, &recording) == TAV_E_INVALID);

    const uint32_t duties[4] = {9000, 18000, 27000, 36000};
    CHECK(tav_pwm_start(board, 'B', 2, duties, 4) == TAV_OK);
    CHECK(recording.records == 17 && recording.failures == 0);
    CHECK(LineSays(board, "P8.0", "PWM TIM2 CH1, 1000 Hz, duty 9000/36000 (25.00%)"));
    CHECK(LineSays(board, "P8.3", "duty 36000/36000 (100.00%)"));
    CHECK(tav_pwm_start(board, 'C', 1, duties, 1) == TAV_OK);
    CHECK(LineSays(board, "P4.1", "PWM TIM3 CH4, 2000 Hz, duty 9000/36000"));
    CHECK(LineSays(board, "P4.0", "duty 0/36000"));
    CHECK(tav_pwm_set(board, 'C', 2, 18000) == TAV_OK && LineSays(board, "P4.0", "duty 18000/36000"));
    CHECK(tav_pwm_start(board, 'A', 64, duties, 3) == TAV_OK);

    recording.records = 0;
    CHECK(tav_pwm_start(board, 'D', 1, duties, 1) == TAV_E_INVALID);
    CHECK(tav_pwm_start(board, 'A', 1, duties, 4) == TAV_E_INVALID);
    CHECK(tav_pwm_start(board, 'A', 6, duties, 1) == TAV_E_INVALID);
    CHECK(tav_pwm_start(board, 'A', -2, duties, 1) == TAV_E_INVALID);
    CHECK(tav_pwm_start(board, 'B', 1, NULL, 1) == TAV_E_INVALID);
    CHECK(tav_pwm_start(NULL, 'B', 1, duties, 1) == TAV_E_INVALID);
    CHECK(tav_pwm_set(board, 'A', 4, 1) == TAV_E_INVALID);
    CHECK(tav_pwm_set(board, 'B', 0, 1) == TAV_E_INVALID);
    CHECK(tav_pwm_set(board, '?', 1, 1) == TAV_E_INVALID);
    CHECK(tav_pwm_stop(NULL) == TAV_E_INVALID);
    CHECK(recording.records == 0);

    CHECK(tav_pwm_stop(board) == TAV_OK && recording.records == 26);
    CHECK(LineSays(board, "P8.0", "floating input"));

    unsigned char record[64] = {26, 8};
    record[8] = 1;    /* GPIOB */
    record[12] = 0x20; /* pin 5 */
    CHECK(tav_send_record(board, record) == TAV_OK && memcmp(recording.last, record, 64) == 0);
    CHECK(tav_send_record(board, NULL) == TAV_E_INVALID);
    char text[128];
    CHECK(tav_describe_record(record, text, sizeof text) == TAV_OK && strcmp(text, "GPIO_SetBits(GPIOB, pin 5)") == 0);
    CHECK(tav_describe_record(NULL, text, sizeof text) == TAV_E_INVALID);
    CHECK(tav_describe_record(record, text, 0) == TAV_E_INVALID);
    CHECK(tav_set_record_callback(board, NULL, NULL) == TAV_OK);
    tav_release(board);
}

struct Worker {
    tav_board* board;
    uint32_t pin;
    int failures;
};

static void* Blink(void* argument)
{
    struct Worker* worker = (struct Worker*)argument;
    for (int round = 0; round < 200; ++round) {
        worker->failures += tav_pin_write(worker->board, worker->pin, round & 1) != TAV_OK;
        worker->failures += tav_pin_output(worker->board, worker->pin) != TAV_OK;
    }
    worker->failures += tav_pin_set(worker->board, worker->pin) != TAV_OK;
    return NULL;
}

static void TestTwoBoardsAndThreads(void)
{
    tav_board* first = NULL;
    tav_board* second = NULL;
    CHECK(tav_open("sim:T", &first) == TAV_OK);
    CHECK(tav_open("sim:S", &second) == TAV_OK);
    struct Worker workers[4] = {{first, P4(8), 0}, {first, P4(9), 0}, {second, P4(8), 0}, {second, P8(0), 0}};
    pthread_t threads[4];
    for (int index = 0; index < 4; ++index)
        CHECK(pthread_create(&threads[index], NULL, Blink, &workers[index]) == 0);
    for (int index = 0; index < 4; ++index) {
        pthread_join(threads[index], NULL);
        CHECK(workers[index].failures == 0);
    }
    CHECK(LineSays(first, "P4.8", "PB8   output high") && LineSays(first, "P4.9", "PB9   output high"));
    CHECK(LineSays(first, "P8.0", "floating input"));
    CHECK(LineSays(second, "P4.8", "PB8   output high") && LineSays(second, "P8.0", "PA10  output high"));
    tav_close(first);
    CHECK(LineSays(second, "P4.8", "output high")); /* closing one board leaves the other alone */
    tav_close(second);
}

/* PWM arguments as every front end reads them: each bound, rounding, and
 * the reason for a refusal. */
static void TestPwmArguments(void)
{
    char group = 0;
    int divider = 0;
    uint32_t counts = 1;
    char reason[128] = "";
    CHECK(tav_parse_pwm_group("b", &group, reason, sizeof reason) == TAV_OK && group == 'B');
    CHECK(tav_parse_pwm_group("D", &group, reason, sizeof reason) == TAV_E_INVALID
          && strcmp(reason, "PWM group 'D' does not exist: groups are A, B and C") == 0);
    CHECK(tav_parse_pwm_group("AB", &group, NULL, 0) == TAV_E_INVALID);
    CHECK(tav_parse_pwm_divider("128", &divider, reason, sizeof reason) == TAV_OK && divider == 128);
    CHECK(tav_parse_pwm_divider("0x40", &divider, reason, sizeof reason) == TAV_OK && divider == 64);
    CHECK(tav_parse_pwm_divider("3", &divider, reason, sizeof reason) == TAV_E_INVALID && strstr(reason, "not one of") != NULL);
    CHECK(tav_parse_pwm_divider("256", &divider, reason, sizeof reason) == TAV_E_INVALID && strstr(reason, "out of range") != NULL);
    CHECK(tav_parse_pwm_divider("0", &divider, NULL, 0) == TAV_E_INVALID);
    CHECK(tav_parse_duty("33.3333%", &counts, reason, sizeof reason) == TAV_OK && counts == 12000);
    CHECK(tav_parse_duty("0.0013%", &counts, reason, sizeof reason) == TAV_OK && counts == 0);
    CHECK(tav_parse_duty("100%", &counts, reason, sizeof reason) == TAV_OK && counts == TAV_PWM_FULL_SCALE);
    CHECK(tav_parse_duty("0x2328", &counts, reason, sizeof reason) == TAV_OK && counts == 9000);
    CHECK(tav_parse_duty("36000", &counts, reason, sizeof reason) == TAV_OK && counts == 36000);
    CHECK(tav_parse_duty("36001", &counts, reason, sizeof reason) == TAV_E_INVALID && strstr(reason, "above full scale") != NULL);
    CHECK(tav_parse_duty("100.01%", &counts, reason, sizeof reason) == TAV_E_INVALID);
    CHECK(tav_parse_duty("1e1%", &counts, reason, sizeof reason) == TAV_E_INVALID);
    CHECK(tav_parse_duty("12ab", &counts, reason, sizeof reason) == TAV_E_INVALID && strstr(reason, "not a number") != NULL);
    CHECK(tav_parse_duty("", &counts, reason, sizeof reason) == TAV_E_INVALID);
    CHECK(tav_parse_duty(NULL, &counts, reason, sizeof reason) == TAV_E_INVALID);
    CHECK(tav_parse_duty("5", NULL, reason, sizeof reason) == TAV_E_INVALID);
    CHECK(tav_pwm_full_scale() == TAV_PWM_FULL_SCALE);
}

/* Pin and channel names by model, without a board. */
static void TestNamesByModel(void)
{
    char name[8] = "";
    char mcu[8] = "";
    CHECK(tav_pin_name(P4(0), 'T', name, mcu) == TAV_OK && strcmp(name, "P4.0") == 0 && strcmp(mcu, "PB0") == 0);
    CHECK(tav_pin_name(P4(0), 'S', name, mcu) == TAV_OK && strcmp(mcu, "PA13") == 0);
    CHECK(tav_pin_name(P8(16), 'C', name, mcu) == TAV_OK && strcmp(name, "P8.16") == 0 && strcmp(mcu, "-") == 0);
    CHECK(tav_pin_name(P4(16), 'T', name, mcu) == TAV_BAD_PIN);
    CHECK(tav_pin_name(P4(0) | P4(1), 'T', name, mcu) == TAV_BAD_PIN);
    CHECK(tav_pin_name(P4(0), 'T', NULL, mcu) == TAV_E_INVALID);
    CHECK(tav_pwm_channel_count('A') == 3 && tav_pwm_channel_count('c') == 4 && tav_pwm_channel_count('D') == TAV_E_INVALID);
    tav_pwm_channel channel;
    /* A1 is TIM1 CH3 on PA10 (P8.10 on model T); C1 is TIM3 CH4 on PB1. */
    CHECK(tav_pwm_channel_info('A', 1, 'T', &channel) == TAV_OK && channel.timer == 1 && channel.timer_channel == 3
          && strcmp(channel.mcu_pin, "PA10") == 0);
    CHECK(tav_pin_name(channel.pin, 'T', name, mcu) == TAV_OK && strcmp(mcu, "PA10") == 0);
    CHECK(tav_pwm_channel_info('C', 1, 'T', &channel) == TAV_OK && channel.timer == 3 && channel.timer_channel == 4
          && strcmp(channel.mcu_pin, "PB1") == 0 && channel.pin == P4(1));
    CHECK(tav_pwm_channel_info('B', 1, 'C', &channel) == TAV_OK && channel.pin == 0); /* no pin map on model C */
    CHECK(tav_pwm_channel_info('A', 4, 'T', &channel) == TAV_E_INVALID);
    CHECK(tav_pwm_channel_info('B', 0, 'T', &channel) == TAV_E_INVALID);
    CHECK(tav_pwm_channel_info('B', 1, 'T', NULL) == TAV_E_INVALID);
}

/* The facts front ends ask for instead of typing them, and a PWM pin's
 * state in the group's numbering. */
static void TestBoardFacts(void)
{
    char letters[8];
    int dividers[10] = {0};
    CHECK(tav_models(letters, sizeof letters) == 3 && strcmp(letters, "TSC") == 0);
    CHECK(tav_pwm_groups(letters, sizeof letters) == 3 && strcmp(letters, "ABC") == 0);
    CHECK(tav_pwm_groups(letters, 2) == 3 && strcmp(letters, "A") == 0);
    CHECK(tav_pwm_groups(NULL, 0) == 3 && tav_pwm_groups(NULL, 4) == TAV_E_INVALID);
    CHECK(tav_pwm_dividers(dividers, 10) == 8 && dividers[0] == 1 && dividers[1] == 2 && dividers[7] == 128
          && dividers[8] == 0);
    CHECK(tav_pwm_dividers(dividers, 0) == 8 && tav_pwm_dividers(NULL, 1) == TAV_E_INVALID);
    long value = 0;
    CHECK(tav_constant("TAV_NOT_OPEN", &value) == TAV_OK && value == TAV_NOT_OPEN);
    CHECK(tav_constant("TAV_E_NOT_VIRTUAL", &value) == TAV_OK && value == TAV_E_NOT_VIRTUAL);
    CHECK(tav_constant("TAV_RECORD_SIZE", &value) == TAV_OK && value == 64);
    CHECK(tav_constant("TAV_PIN_NOT_DRIVEN", &value) == TAV_OK && value == TAV_PIN_NOT_DRIVEN);
    CHECK(tav_constant("TAV_NOT_A_CONSTANT", &value) == TAV_E_INVALID && tav_constant(NULL, &value) == TAV_E_INVALID);
    CHECK(tav_constant("TAV_OK", NULL) == TAV_E_INVALID);
    CHECK(tav_selector_is_virtual("sim:S") == 1 && tav_selector_is_virtual("queued:sim:T") == 1);
    CHECK(tav_selector_is_virtual("reattach:sim:C") == 1 && tav_selector_is_virtual("usb:1:2") == 0);
    CHECK(tav_selector_is_virtual("port:1-3.2") == 0 && tav_selector_is_virtual("sim:Q") == TAV_E_INVALID);

    /* The 33 board pins, bank 4 then bank 8, each named as its bit. */
    uint32_t pins[40] = {0};
    char name[8];
    char mcu[8];
    CHECK(tav_board_pins(NULL, 0) == 33 && tav_board_pins(NULL, 1) == TAV_E_INVALID);
    CHECK(tav_board_pins(pins, 40) == 33 && pins[0] == P4(0) && pins[15] == P4(15) && pins[16] == P8(0)
          && pins[32] == P8(16) && pins[33] == 0);
    for (int index = 0; index < 33; ++index) {
        char expected[8];
        snprintf(expected, sizeof expected, "P%d.%d", index < 16 ? 4 : 8, index < 16 ? index : index - 16);
        CHECK(tav_pin_name(pins[index], 'T', name, mcu) == TAV_OK && strcmp(name, expected) == 0);
    }
    CHECK(tav_board_pins(pins, 2) == 33 && pins[2] == P4(2)); /* nothing past capacity written */
    /* A bit of a bank where no board pin is is named, and refused. */
    CHECK(tav_pin_name(P8(17), 'T', name, mcu) == TAV_BAD_PIN && strcmp(name, "P8.17") == 0 && strcmp(mcu, "-") == 0);
    CHECK(tav_pin_name(P4(16), 'S', name, mcu) == TAV_BAD_PIN && strcmp(name, "P4.16") == 0);
    strcpy(name, "kept");
    CHECK(tav_pin_name(P4(1) | P4(2), 'T', name, mcu) == TAV_BAD_PIN && strcmp(name, "kept") == 0);
    CHECK(tav_pin_name(0x20000001u, 'T', name, mcu) == TAV_BAD_PIN && strcmp(name, "kept") == 0);
    /* Pins read from text: nothing to read, or no room for it, is refused. */
    uint32_t ids[2] = {0, 0};
    size_t count = 7;
    CHECK(tav_parse_pins("P4.0-1,P8.2", ids, &count, NULL, 0) == TAV_OK && count == 2 && ids[0] == (P4(0) | P4(1))
          && ids[1] == P8(2));
    CHECK(tav_parse_pins(NULL, ids, &count, NULL, 0) == TAV_E_INVALID && count == 0);
    CHECK(tav_parse_pins("P4.0", NULL, &count, NULL, 0) == TAV_E_INVALID);
    CHECK(tav_parse_pins("P4.0", ids, NULL, NULL, 0) == TAV_E_INVALID);
    /* Levels as every front end reads them. */
    const char* const highs[] = {"1", "high", "on"};
    const char* const lows[] = {"0", "low", "off"};
    int level = -1;
    for (int index = 0; index < 3; ++index) {
        CHECK(tav_parse_level(highs[index], &level, NULL, 0) == TAV_OK && level == 1);
        CHECK(tav_parse_level(lows[index], &level, NULL, 0) == TAV_OK && level == 0);
    }
    char reason[128];
    level = 7;
    CHECK(tav_parse_level("hi", &level, reason, sizeof reason) == TAV_E_INVALID && level == 7
          && strstr(reason, "'hi'") != NULL);
    CHECK(tav_parse_level("on ", &level, NULL, 0) == TAV_E_INVALID && tav_parse_level("", &level, NULL, 0) == TAV_E_INVALID);
    CHECK(tav_parse_level(NULL, &level, NULL, 0) == TAV_E_INVALID && tav_parse_level("1", NULL, NULL, 0) == TAV_E_INVALID);
    CHECK(strstr(tav_pin_syntax(), "P8.0-P8.16") != NULL);

    tav_board* board = NULL;
    tav_pin_state state;
    char group = 0;
    int channel = 0;
    CHECK(tav_open("sim:T", &board) == TAV_OK);
    const uint32_t duties[3] = {1000, 2000, 3000};
    CHECK(tav_pwm_start(board, 'A', 1, duties, 3) == TAV_OK);
    /* P8.10 is PA10: TIM1_CH3, group A's channel 1. */
    CHECK(tav_pin_state_get(board, P8(10), &state) == TAV_OK && state.timer == 1 && state.channel == 3);
    CHECK(tav_pin_state_group(&state, &group, &channel) == TAV_OK && group == 'A' && channel == 1
          && state.duty_counts == 1000);
    CHECK(tav_pwm_start(board, 'C', 1, duties, 3) == TAV_OK);
    /* P4.1 is PB1: TIM3_CH4, group C's channel 1. */
    CHECK(tav_pin_state_get(board, P4(1), &state) == TAV_OK && state.timer == 3 && state.channel == 4);
    CHECK(tav_pin_state_group(&state, &group, &channel) == TAV_OK && group == 'C' && channel == 1);
    CHECK(tav_pin_state_get(board, P4(8), &state) == TAV_OK && state.timer == 0 && state.channel == 0);
    CHECK(tav_pin_state_group(&state, &group, &channel) == TAV_E_INVALID); /* not PWM */
    CHECK(tav_pin_state_group(NULL, &group, &channel) == TAV_E_INVALID);
    state.function = TAV_PIN_PWM;
    state.timer = 1;
    state.channel = 4; /* TIM1_CH4 drives no channel of group A */
    CHECK(tav_pin_state_group(&state, &group, &channel) == TAV_E_INVALID);
    tav_close(board);
}

int main(void)
{
    TestOpenAndInformation();
    TestPinsOnModelT();
    TestPwmAndRecords();
    TestTwoBoardsAndThreads();
    TestPwmArguments();
    TestNamesByModel();
    TestBoardFacts();
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
