/*
 * TAVLib.h - host-side control library for the TAV USB input/output board.
 *
 * The board is driven through one class of static functions, TAVDll::TAVLib.
 * Every action becomes one or more 64-byte instruction records
 * (_INSTRUCTION_INFO_), each written to the board's bulk OUT endpoint 0x02 as
 * one transfer; the board's firmware executes them against the peripherals of
 * its STM32F10x-class microcontroller. The only reply the board ever sends is
 * the board-information answer on the bulk IN endpoint 0x83.
 *
 * Usage: Initial() once, then Open(), then InitTav(), then pin and PWM
 * operations, and Close() at the end. These static functions act on the
 * process's default board (at most one open at a time); a program that drives
 * several boards opens board objects (tav/board.hpp, or tav/tav.h from C).
 * Every function may be called from any thread: the operations on one board
 * are serialised, so a multi-record operation never interleaves on the wire
 * with another. Results are the small integer codes of ResultCode below;
 * nothing throws.
 *
 * Failed transfers. After an error, a stall or a short write an operation
 * still attempts the rest of its records and returns 4. After a time-out
 * (the board stopped taking data) it sends nothing more and returns 4, so a
 * hung board costs one time-out per call. A transfer that finds the board
 * gone (unplugged) ends the operation the same way and the library closes
 * and forgets the handle: every later call returns 2 (no board open), which
 * tells a vanished board from a one-off failure. To reconnect, call Initial()
 * and then Open() once the board is back; Open() alone searches the bus list
 * of the last Initial() and never hands back the dead handle.
 */
#ifndef TAVLIB_H
#define TAVLIB_H

#include <stddef.h>
#include <stdint.h>

/* libusb 0.1's types: Debian's <usb.h>; on Windows libusb-win32's layout,
 * declared by the library (libusb0.dll is loaded at run time). */
#if defined(_WIN32)
#include <tav/libusb0_win32.h>
#else
#include <usb.h>
#endif

#if defined(_WIN32)
#if defined(TAV_BUILDING_LIBRARY)
#define TAV_API __declspec(dllexport)
#elif defined(TAV_STATIC)
#define TAV_API /* linked from the static library */
#else
#define TAV_API __declspec(dllimport)
#endif
#else
#define TAV_API __attribute__((visibility("default")))
#endif

namespace TAVDll {

/* Result codes of the exported operations. Close, WritePipe and ReadPipe
 * return theirs as short, the others as int. When adding a code, also add its
 * words to tav_strerror (src/link/result_text.cpp). */
enum ResultCode {
    RESULT_OK = 0,
    RESULT_NOT_OPEN = 2,          /* no board open; WritePipe also after a short write */
    RESULT_IO_FAILED = 4,         /* a transfer failed or did not move every byte */
    RESULT_BAD_PIN = 32,          /* the pin identifier names no valid bank */
    RESULT_PIN_UNAVAILABLE = 64   /* a named pin has no mapping on this board model */
};

/* Board model, from the model letter of the board-information reply. */
enum BoardType : int {
    BOARD_T = 0,     /* 'T' */
    BOARD_C = 1,     /* 'C' */
    BOARD_S = 2,     /* 'S' */
    BOARD_OTHER = 3  /* any other letter */
};

/* PWM frequency selection: the timer's prescaler. Each step halves the PWM
 * frequency (2000 Hz at PWM_FREQ_DIV1 on a 72 MHz timer clock). Any other
 * value runs as PWM_FREQ_DIV1. Both enums are int-sized, so that any 32-bit
 * value an application passes is a valid value of the type. */
enum PWM_Frequency : int {
    PWM_FREQ_DIV1 = 0,
    PWM_FREQ_DIV2 = 1,
    PWM_FREQ_DIV4 = 2,
    PWM_FREQ_DIV8 = 3,
    PWM_FREQ_DIV16 = 4,
    PWM_FREQ_DIV32 = 5,
    PWM_FREQ_DIV64 = 6,
    PWM_FREQ_DIV128 = 7
};

/* Counter steps in one PWM period: a duty of PWM_FULL_SCALE is always on. */
constexpr unsigned int PWM_FULL_SCALE = 36000u;

/* Instruction classes (byte 0 of a record). Classes 26, 30 and 34 select the
 * GPIO, RCC and TIM drivers of the chip vendor's peripheral library. */
enum InstructionClass {
    CLASS_BOARD_INIT = 1,
    CLASS_BOARD_INFO = 2,
    CLASS_GPIO = 26,
    CLASS_RCC = 30,
    CLASS_TIM = 34
};

/* Operation codes (byte 1 of a record): the position of the vendor function
 * in its driver's header, counted from 0. */
enum BoardInfoOperation {
    INFO_OP_REQUEST = 1
};

enum GpioOperation {
    GPIO_OP_INIT = 2,        /* GPIO_Init */
    GPIO_OP_SET_BITS = 8,    /* GPIO_SetBits */
    GPIO_OP_RESET_BITS = 9,  /* GPIO_ResetBits */
    GPIO_OP_PIN_REMAP = 15   /* GPIO_PinRemapConfig */
};

enum RccOperation {
    RCC_OP_APB2_CLOCK = 30,  /* RCC_APB2PeriphClockCmd */
    RCC_OP_APB1_CLOCK = 31   /* RCC_APB1PeriphClockCmd */
};

enum TimOperation {
    TIM_OP_DEINIT = 0,
    TIM_OP_TIME_BASE_INIT = 1,
    TIM_OP_OC1_INIT = 2,
    TIM_OP_OC2_INIT = 3,
    TIM_OP_OC3_INIT = 4,
    TIM_OP_OC4_INIT = 5,
    TIM_OP_CMD = 13,
    TIM_OP_CTRL_PWM_OUTPUTS = 14,
    TIM_OP_ARR_PRELOAD = 33,
    TIM_OP_OC1_PRELOAD = 37,
    TIM_OP_OC2_PRELOAD = 38,
    TIM_OP_OC3_PRELOAD = 39,
    TIM_OP_OC4_PRELOAD = 40
};

/* One instruction record: 64 bytes, little-endian, no header or checksum.
 * byteParam[k] lies at offset 2 + k, wordParam[i] at offset 8 + 4 * i. Every
 * byte that the record's operation does not use is zero. */
struct _INSTRUCTION_INFO_ {
    uint8_t instructionClass;
    uint8_t operation;
    uint8_t byteParam[6];
    uint32_t wordParam[14];
};

static_assert(sizeof(_INSTRUCTION_INFO_) == 64, "a record is one 64-byte transfer");
static_assert(offsetof(_INSTRUCTION_INFO_, operation) == 1, "operation at offset 1");
static_assert(offsetof(_INSTRUCTION_INFO_, byteParam) == 2, "byte slots from offset 2");
static_assert(offsetof(_INSTRUCTION_INFO_, wordParam) == 8, "word slots from offset 8");

/* Pin identifiers: a bank selector in bits 31-28 and one bit per pin below it,
 * e.g. PIN_BANK_4 | 0x5 names pins 0 and 2 of bank 4. Which microcontroller
 * pin a board pin is depends on the board model (see GetType). */
constexpr unsigned int PIN_BANK_4 = 0x40000000u;     /* pins 0-15 */
constexpr unsigned int PIN_BANK_8 = 0x80000000u;     /* pins 0-16 */
constexpr unsigned int PIN_BANK_FIELD = 0xF0000000u; /* isolates the selector */

class TAV_API TAVLib {
public:
    TAVLib() = delete;

    /* ---- Connection ---------------------------------------------------- */

    /* Initialises libusb, enumerates busses and devices and sets the transfer
     * timeout to 5000 ms. A board that is open is closed first (no shutdown
     * records are sent). Call again to see boards attached since. */
    static void Initial();
    /* Same as Initial (kept under this spelling for existing applications). */
    static void Inital();

    /* Opens the first device with these identifiers in bus order, sets
     * configuration 1 and claims interface 0. Returns the library's handle,
     * or null. While a board is open it returns that board's handle and does
     * nothing else. The handle stays the library's: close it with Close(). */
    static usb_dev_handle* Open(unsigned int vendorId, unsigned int productId);
    /* Opens this device (as found by the application on libusb's bus list).
     * A board that is open is closed first. A null device returns the current
     * handle (null when none is open) and changes nothing. */
    static usb_dev_handle* Open(struct usb_device* device);
    /* Open(0x4C52, 0x0101): the TAV board. */
    static usb_dev_handle* Open();

    /* ---- Pipes and raw records ---------------------------------------- */

    /* Writes length bytes to endpoint 0x02. Returns 0 when all of them moved,
     * 2 otherwise: no board open, a short, failed or timed-out transfer, a
     * null buffer with a non-zero length, or a length above INT_MAX. When
     * written is not null it receives the number of bytes moved. */
    static short WritePipe(void* buffer, unsigned long length, unsigned long* written);
    /* Reads length bytes from endpoint 0x83. Returns 0 when exactly length
     * bytes arrived; 4 with no board open, for a null buffer with a non-zero
     * length or a length above INT_MAX (nothing printed), and after any other
     * outcome of the transfer, which prints "error: bulk read failed" on
     * standard output. */
    static short ReadPipe(void* buffer, unsigned long length);
    /* Sends one record as one 64-byte transfer; nothing when no board is open.
     * Reports nothing. */
    static void AddCommand(_INSTRUCTION_INFO_ instruction);
    /* Sends count records lying one after another, one transfer each, in
     * order; an error, stall or short write does not stop the rest, a
     * time-out or a vanished board does. A count of 0 or less,
     * or a null instructions, sends nothing and reads nothing. Reports
     * nothing. */
    static void AddCommands(_INSTRUCTION_INFO_* instructions, int count);

    /* ---- Board information -------------------------------------------- */

    /* Asks the board for its model and firmware version. Returns 0 on
     * success, 2 with no board open, 4 when the request or the reply failed
     * (the previous model and version are kept). */
    static int RequestBoardInfo();
    /* The model from the last successful request; BOARD_T before any. */
    static BoardType GetType();
    /* Copies the version text of the last successful request ("1.0.2.13";
     * empty before any) into buffer, truncated to size - 1 characters and
     * NUL-terminated. Writes nothing for a null buffer or a size <= 0. A
     * 16-byte buffer holds every version. Returns 0. */
    static int GetVersion(char* buffer, int size);

    /* ---- Digital pins --------------------------------------------------- */

    /* 1 when the identifier's bank selector is PIN_BANK_4 or PIN_BANK_8,
     * else 0. The pin bits are not examined; no board is needed. */
    static int VerifyPORT(unsigned int pins);

    /* The pin operations send one GPIO record per named pin, in ascending bit
     * order, through the pin map of the current board model. Results:
     *   0  every named pin was sent (or the identifier names no pin);
     *  32  VerifyPORT rejects the identifier (nothing sent, board or not);
     *   2  no board is open (nothing sent);
     *  64  a named pin has no mapping on this model: the lower pins were
     *      sent, the higher ones are not looked at;
     *   4  a record did not go out whole (see "Failed transfers" above). */

    /* Makes the pins push-pull outputs (50 MHz). */
    static int Pin_DirOutput(unsigned int pins);
    /* Makes the pins floating inputs. */
    static int Pin_DirInput(unsigned int pins);
    /* Makes the pins floating inputs, as the safe state does; an unmapped pin
     * also writes the debug line "add failed". */
    static int Pin_Floating(unsigned int pins);
    /* Drives the pins high. */
    static int Pin_Set(unsigned int pins);
    /* Drives the pins low. */
    static int Pin_Reset(unsigned int pins);
    /* Drives the pins high when value is 1, low for any other value. */
    static int Pin_Write(unsigned int pins, int value);

    /* ---- PWM ------------------------------------------------------------ */

    /* Three PWM groups, each one timer: A (TIM1) with channels 1-3 on PA10,
     * PA9, PA8; B (TIM2) with channels 1-4 on PA0-PA3; C (TIM3) with channels
     * 1-4 on PB1, PB0, PA7, PA6. A duty is a compare value in counter steps,
     * 0..PWM_FULL_SCALE, sent unchanged (not checked, not scaled).
     * Results: 0 when every record went out whole; 2 with no board open
     * (nothing sent, max untouched); 4 when a record failed (see "Failed
     * transfers" above). */

    /* Sets up and starts group A (14 records). The shorter forms set the
     * missing duties to 0; every form sets up all three channels. max, when
     * not null, receives PWM_FULL_SCALE. */
    static int InitPWMA(PWM_Frequency frequency, unsigned int duty1);
    static int InitPWMA(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2);
    static int InitPWMA(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3);
    static int InitPWMA(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3,
                        unsigned int* max);
    /* Sets up and starts group B or C (17 records each). */
    static int InitPWMB(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3,
                        unsigned int duty4, unsigned int* max);
    static int InitPWMC(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3,
                        unsigned int duty4, unsigned int* max);
    /* Changes one channel's duty (one record). A channel the group does not
     * have sends nothing and returns 0. */
    static int UpdatePWMA(unsigned int channel, unsigned int duty);
    static int UpdatePWMB(unsigned int channel, unsigned int duty);
    static int UpdatePWMC(unsigned int channel, unsigned int duty);
    /* Stops all three timers, gates their clocks off and makes the 11 PWM
     * pins floating inputs (26 records). */
    static int DisablePWM();

    /* ---- Board control -------------------------------------------------- */

    /* Brings an opened board to a known state and starts it: releases the
     * debug-port pins (PA13-PA15, PB3, PB4) for use as ordinary pins, sends
     * DisableAll's records, then the start-up record carrying startupValue.
     * 61 records on models T and S. Returns 0; 4 with no board open (nothing
     * sent) or when a record did not go out whole (all are attempted). */
    static int InitTav(unsigned int startupValue);
    /* The safe state: stops all PWM (DisablePWM), then makes every mapped pin
     * a floating input, bank 8 then bank 4 (59 records on models T and S, the
     * 26 PWM records only on models without a pin map). Returns 0; 2 with no
     * board open; 4 when a record did not go out whole. */
    static int DisableAll();
    /* Undoes the debug-port remap, sends DisableAll's records and releases
     * the board. The board model and version stay readable. Always 0, with or
     * without a board. */
    static short Close();
    /* No effect on the board; always 0. */
    static int WaitStandby();
    /* No effect on the board; 0, or 2 with no board open. */
    static int EnableADC();
    static int DisableADC();
};

} // namespace TAVDll

#endif /* TAVLIB_H */
