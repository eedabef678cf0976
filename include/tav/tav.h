/*
 * tav/tav.h - the C interface of libtav: TAV USB input/output boards as
 * objects, from C or any language that calls C.
 *
 * A board is an opaque tav_board, opened by a selector and owned by the
 * caller until tav_close() or tav_release(). Several boards may be open at
 * once, and every function may be called from any thread: the operations on
 * one board are serialised, so a multi-record operation (tav_init, tav_safe,
 * tav_pwm_start, tav_close) never interleaves on the wire with another
 * operation on the same board. Boards do not wait for each other. Nothing
 * throws, nothing prints.
 *
 * Selectors (one grammar for every front end: this interface, the C++ and
 * Python bindings and `tavctl --device`):
 *   "" or NULL   the first TAV board on the USB bus
 *   "usb:B:D"    the board at bus B, device D, as `tavctl list` shows them;
 *                decimal, leading zeros allowed ("usb:001:010" is bus 1,
 *                device 10); "B:D" alone means the same. On Windows,
 *                where libusb-win32 lists every device on its bus "bus-0"
 *                and names it after its driver device
 *                "\\.\libusb0-0001--0x4c52-0x0101", B is 0 and D the
 *                device's number there: "usb:0:1"; boards bound to WinUSB or
 *                libusbK are libusb-1.0's, on its busses from 1
 *   "port:1-3.2" the board plugged in there: bus 1, port 3 of the root hub,
 *                port 2 of the hub on it (Linux sysfs names, as `tavctl
 *                list` shows them). It stays when the board is plugged in
 *                again, where "usb:B:D" changes. Known from sysfs for libusb
 *                0.1 on Linux and from libusb-1.0 (queued boards on Linux,
 *                WinUSB and libusbK boards on Windows); libusb-win32 cannot
 *                tell, so its boards have no port path. A port without a
 *                board is TAV_E_NOT_FOUND
 *   "dev:/dev/bus/usb/001/005"
 *                the board at that device node, or at the node a link
 *                names: a udev rule's SYMLINK ("dev:/dev/tav-bench-3") keeps
 *                one name for one bench board (Linux)
 *   "sim:T"      a fresh virtual board of model T (also "sim:S", "sim:C")
 *                inside this process: the board model behind a virtual bus
 *                of its own, nothing on USB
 *   "sync:..."   any of the above after "sync:" ("sync:usb:1:5", "sync:"
 *                for the first board): the same board, its records sent one
 *                transfer at a time. Without it a board object queues each
 *                operation's records back to back on the bus (see below);
 *                "queued:..." says so and is taken too
 *   "reattach:...", "reattach-safe:...", "reattach-none:..."
 *                a board object that finds its board again after it left:
 *                see tav_connected() (sync: or queued: may come before or
 *                after)
 * "The first board" ("" or NULL, and "sync:" or "queued:" alone) is the board the
 * environment variable TAV_DEVICE names when it is set (a selector), for
 * every front end, and for the static TAVLib functions' Open(); a selector in
 * the program's own call always wins.
 * The bus is libusb 0.1's on Linux; on Windows libusb-win32's (libusb0.dll)
 * and libusb-1.0's (libusb-1.0.dll, boards bound to WinUSB or libusbK), both
 * loaded at run time; or whatever USB backend a harness installed for the
 * process (the tests and tools do, for the virtual bus).
 *
 * Queued by default. Board objects queue their records wherever the board's
 * USB library can (every library this one uses but libusb 0.1: on Linux they
 * reach the board through libusb-1.0); "sync:" asks for one transfer at a
 * time; the static TAVLib functions always send one at a time, through libusb
 * 0.1 (TAV_DEVICE's "queued:" queues them). tav_queued() says which way an
 * open board goes. Why: one at a time costs a USB frame and a round trip per
 * record, which a remote board (USB/IP) turns into a network round trip each.
 * Every record is one 64-byte bulk transfer either way, in
 * the same order, and a call returns once all of them have completed. One
 * at a time, each transfer waits for the one before it to complete, which
 * on a full-speed bus costs about a 1 ms frame per record (tav_init sends
 * 61); queued, up to 19 records share a frame (tav_init in 4 frames). On
 * Linux queued boards go through libusb-1.0's asynchronous transfers
 * (libusb 0.1 has none); the bus, device numbers and listing are the same.
 * Failures keep their meaning: after an error, a stall or a short write the
 * remaining records are still sent; a time-out ends the operation (4) and
 * cancels what is still queued; a board found gone is let go. The one
 * difference: records queued behind one that timed out were already handed
 * to the bus, so if the board takes data again at that moment some of them
 * may still arrive (one at a time they would not have been sent). On
 * Windows queued boards go through libusb-1.0's asynchronous transfers
 * (WinUSB, libusbK) or libusb-win32's (usb_submit_async, usb_reap_async).
 *
 * Results: 0 and the codes 2, 4, 32, 64 of the C++ interface (TAVLib.h) keep
 * their meaning; the negative codes are what only this interface meets.
 * tav_strerror() words every one of them. Failed transfers follow TAVLib.h:
 * after a time-out an operation sends nothing more (4); a board found gone is
 * let go and every later call on it returns TAV_NOT_OPEN (2): close the
 * object and open a new one once the board is back.
 */
#ifndef TAV_TAV_H
#define TAV_TAV_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(TAV_BUILDING_LIBRARY)
#define TAV_C_API __declspec(dllexport)
#elif defined(TAV_STATIC)
#define TAV_C_API /* linked from the static library */
#else
#define TAV_C_API __declspec(dllimport)
#endif
#else
#define TAV_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tav_board tav_board;

#define TAV_OK               0
#define TAV_NOT_OPEN         2   /* the board is gone or was never opened */
#define TAV_IO_FAILED        4   /* a transfer failed or did not move every byte */
#define TAV_BAD_PIN         32   /* the pin identifier names no bank 4 or 8 */
#define TAV_PIN_UNAVAILABLE 64   /* a named pin has no mapping on this board model */
#define TAV_E_INVALID      (-1)  /* bad argument: null pointer, unknown group or channel, bad selector */
#define TAV_E_NOT_FOUND    (-2)  /* no board matches the selector */
#define TAV_E_ACCESS       (-3)  /* a matching board exists but cannot be opened or claimed */
#define TAV_E_NOT_VIRTUAL  (-4)  /* a virtual-board function called on a real board */

/* Counter steps in one PWM period: a duty of TAV_PWM_FULL_SCALE is always on. */
#define TAV_PWM_FULL_SCALE 36000u
/* The PWM frequency with divider 1 (the 72 MHz timer clock / 36000 steps);
 * divider N gives TAV_PWM_BASE_HZ / N. */
#define TAV_PWM_BASE_HZ 2000u
/* Bytes in one instruction record (one bulk transfer). */
#define TAV_RECORD_SIZE 64u
/* The board's USB identity. */
#define TAV_USB_VENDOR_ID 0x4C52u
#define TAV_USB_PRODUCT_ID 0x0101u

/* The result code in words; never NULL, also for unknown codes. Static text. */
TAV_C_API const char* tav_strerror(int code);
/* The library version, e.g. "1.1.0". */
TAV_C_API const char* tav_version(void);
/* TAV_PWM_FULL_SCALE, for bindings that cannot read the header's macros. */
TAV_C_API uint32_t tav_pwm_full_scale(void);
/* NULL when a USB library is there and nothing was seen that it cannot
 * reach; otherwise, in words, why a board may not be found or opened: on
 * Windows, neither libusb0.dll (libusb-win32) nor libusb-1.0.dll (boards
 * bound to WinUSB or libusbK) installed, or a board that libusb-1.0 lists
 * bound to a driver neither library reaches. Virtual boards work either way.
 * Static text (on Windows valid until the thread's next call). */
TAV_C_API const char* tav_usb_problem(void);
/* The USB libraries of this platform and whether each was found, in words:
 * "libusb0.dll (libusb-win32 boards) found, libusb-1.0.dll (WinUSB and
 * libusbK boards) not found". Static text. */
TAV_C_API const char* tav_usb_libraries(void);

/* Why this thread's last tav_open (or tav::Board::open) failed, in words,
 * where the library can tell: for TAV_E_INVALID, why the selector (or
 * TAV_DEVICE, for the first board) is none, as tav_parse_selector says; for
 * TAV_E_ACCESS, "no permission to open
 * usb:001:005 ..." (the udev rule) apart from "usb:001:005 is in use by
 * another program ..."; for TAV_E_NOT_FOUND, tav_usb_problem()'s reason when
 * there is one (no USB library, a libusb-1.0.dll of the other architecture,
 * a board bound to a driver neither library reaches). NULL when the last open
 * did not fail so, or failed otherwise. Valid until the thread's next open. */
TAV_C_API const char* tav_open_problem(void);

/* The library's log: what TAV_DEBUG prints on standard error, and why an
 * open, a claim or a transfer failed, with the USB library's code and words
 * ("cannot claim interface 0 of usb:001:005: -16 (Device or resource
 * busy)"). The callback gets each line with its level and user_data; it may
 * be called from any thread that calls the library (and from tav_watch's
 * thread), one line at a time per thread, and must not block for long. It
 * is called with no lock of the library held (lines logged while the library
 * holds a lock reach it once the lock is let go), so it may call any function
 * of the library. The text is valid during the call. NULL stops it: once
 * this returns, the callback it replaced is not running and is not called
 * again (called from inside a callback of the library's, it does not wait). May be set before or after
 * the first open; also the static TAVLib functions' lines reach it. */
#define TAV_LOG_ERROR   1
#define TAV_LOG_WARNING 2
#define TAV_LOG_INFO    3
#define TAV_LOG_DEBUG   4
typedef void (*tav_log_callback)(int level, const char* text, void* user_data);
TAV_C_API void tav_set_log_callback(tav_log_callback callback, void* user_data);

/* Opens the board the selector names (see above): configuration 1, interface
 * 0 claimed, then asks it for its model and firmware. Sends no other record:
 * the board's outputs stay as they are until tav_init or another operation.
 * On success *board is the new board and the result is TAV_OK. Otherwise
 * *board is NULL and the result is TAV_E_INVALID (board is NULL or the
 * selector is malformed), TAV_E_NOT_FOUND (nothing matches),
 * TAV_E_ACCESS (the board cannot be opened or claimed: permissions, or held
 * by another program or board object) or TAV_IO_FAILED (it does not answer). */
TAV_C_API int tav_open(const char* selector, tav_board** board);
/* The board's pins and PWM channels by model, without a board: a board
 * pin's name ("P4.8") and the microcontroller pin it reaches on model 'T',
 * 'S' or 'C' ("PB8"; "-" where that model has none). TAV_OK, TAV_BAD_PIN when
 * pin is not exactly one board pin (for one bit of bank 4 or 8 where no board
 * pin is, name still says which: "P8.17", and mcu_pin "-"), TAV_E_INVALID for
 * a NULL buffer. */
TAV_C_API int tav_pin_name(uint32_t pin, char model, char name[8], char mcu_pin[8]);
/* The identifiers of the 33 board pins, P4.0 to P4.15 then P8.0 to P8.16,
 * into pins as far as capacity goes: how many there are (33), or
 * TAV_E_INVALID for a NULL buffer with a capacity above 0. */
TAV_C_API int tav_board_pins(uint32_t* pins, size_t capacity);

/* A PWM group's channel on a model. */
typedef struct tav_pwm_channel {
    int timer;          /* 1..3: TIM1..TIM3 */
    int timer_channel;  /* the timer's output-compare channel 1..4 */
    char mcu_pin[8];    /* the microcontroller pin it drives, "PA0" */
    uint32_t pin;       /* the board pin on it on this model (0x80000001), 0 when none */
} tav_pwm_channel;

/* The board's facts, asked of the library so that no front end or binding
 * types them again. Each writes at most size (or capacity) items and returns
 * how many there are, or TAV_E_INVALID for a NULL buffer with a size above 0;
 * text is NUL-terminated (truncated to size - 1).
 *   tav_models:       the board models this library knows, "TSC"
 *   tav_pwm_groups:   the PWM groups' letters, "ABC"; group A drives timer
 *                     index 0 (TIM1), B 1 (TIM2), C 2 (TIM3)
 *   tav_pwm_dividers: the dividers tav_pwm_start takes, smallest first:
 *                     1, 2, 4, ... 128 (the PWM runs at 2000 Hz / divider) */
TAV_C_API int tav_models(char* letters, size_t size);
TAV_C_API int tav_pwm_groups(char* letters, size_t size);
TAV_C_API int tav_pwm_dividers(int* dividers, size_t capacity);

/* The value of one of this header's constants by its name, for bindings that
 * cannot read a C header: "TAV_NOT_OPEN", "TAV_E_ACCESS", "TAV_RECORD_SIZE",
 * "TAV_PWM_FULL_SCALE", "TAV_PIN_PWM", "TAV_LOG_WARNING", ... TAV_OK with
 * *value set, or TAV_E_INVALID for a name it does not know or NULL arguments. */
TAV_C_API int tav_constant(const char* name, long* value);

/* The number of channels of a group ('A': 3, 'B' and 'C': 4), or TAV_E_INVALID. */
TAV_C_API int tav_pwm_channel_count(char group);
/* Channel 1..count of a group on a model. TAV_OK, or TAV_E_INVALID for an
 * unknown group or channel or a NULL info. */
TAV_C_API int tav_pwm_channel_info(char group, unsigned channel, char model, tav_pwm_channel* info);

/* A USB device as tav_list finds it. */
typedef struct tav_device {
    char selector[24];  /* "usb:001:010" for tav_open; "" where no selector reaches the device */
    unsigned bus;       /* bus and device number, as the selector has them */
    unsigned device;
    uint16_t vendor;    /* USB vendor and product id */
    uint16_t product;
    int board;          /* 1 for a TAV board (USB 4c52:0101) */
    int openable;       /* TAV boards: 1 when it could be opened and claimed just now */
    char model;         /* TAV boards it could open: 'T', 'S', 'C' or '?'; else 0 */
    /* Since 1.2: */
    char library[16];   /* the USB library that reaches it: "libusb 0.1" (Linux), "libusb-win32" or
                           "libusb-1.0" (Windows: WinUSB and libusbK boards), "virtual" under a harness */
    char port[32];      /* where it is plugged in, "1-3.2" (bus, then hub ports), for "port:1-3.2";
                           "" where the library cannot tell (libusb-win32) */
    /* Since 1.3: */
    int queued;         /* TAV boards: 1 when tav_open of its selector puts each operation's records
                           back to back on the bus (the default wherever its USB library can queue), 0
                           when it sends one transfer at a time */
} tav_device;

/* The USB devices on the bus: TAV boards only, or every device with all != 0.
 * On Windows the bus is two: the devices libusb-win32 reaches (bus 0) and
 * those libusb-1.0 reaches (busses from 1; all of them with all != 0, a
 * board bound to libusb-win32 included, which libusb-1.0 lists but cannot
 * open). Each TAV board is opened for a moment (configuration, claim, the
 * board-information request; nothing else is sent) to tell whether it can be
 * opened and which model it is: one held by a board object or another program
 * is not openable. Writes at most capacity entries (devices may be NULL when
 * capacity is 0) and returns how many devices there are, or TAV_E_INVALID.
 * Virtual boards are not on the bus.
 *
 * tav_list is a macro over tav_list_sized, which takes the size of the
 * caller's tav_device, so that a program built against an older tav.h (whose
 * tav_device was shorter) keeps working: device_size below the 1.1 size is
 * TAV_E_INVALID. The function tav_list itself fills 1.1's layout. */
TAV_C_API int tav_list_sized(tav_device* devices, size_t capacity, int all, size_t device_size);

/* Boards arriving and leaving. */
#define TAV_EVENT_ARRIVED 1
#define TAV_EVENT_LEFT    2
typedef struct tav_event {
    int kind;                 /* TAV_EVENT_ARRIVED or TAV_EVENT_LEFT */
    int initial;              /* 1 in the first pass: the boards already there when watching began */
    const tav_device* device; /* the board as tav_list gives it, but not opened: openable 0, model 0 */
} tav_event;
typedef void (*tav_watch_callback)(const tav_event* event, void* user_data);
typedef struct tav_watcher tav_watcher;

/* Watches the bus for TAV boards arriving and leaving, from a thread of the
 * library's own: first one TAV_EVENT_ARRIVED (initial 1) for each board
 * already there, then an event for each board that comes or goes, in the
 * order seen, each once. The bus is looked at every interval_ms
 * milliseconds (0: 250; 10 to 10000). A board is the same while its library,
 * bus and device number are: a replug is a LEFT and an ARRIVED, under its new
 * number (its port path tells where it is). The process's open virtual
 * boards are watched too, as devices of the library "sim" (bus: which board,
 * device: one more at each tav_sim_plug, port "sim-N", no selector).
 * Nothing is opened or sent. The
 * callback runs on the watcher's thread, one event at a time; the event is
 * valid during the call. *watcher is the new watcher: TAV_OK, or
 * TAV_E_INVALID (callback or watcher NULL). */
TAV_C_API int tav_watch(tav_watch_callback callback, void* user_data, unsigned interval_ms, tav_watcher** watcher);
/* Stops the watcher: no event is delivered after it returns (it waits for a
 * callback that is running), and frees it. From inside the callback (or any
 * other callback of the library's) it
 * stops the watcher without waiting; the watcher is freed when the callback
 * returns. NULL does nothing. */
TAV_C_API void tav_unwatch(tav_watcher* watcher);
TAV_C_API int tav_list(tav_device* devices, size_t capacity, int all);
#define tav_list(devices, capacity, all) tav_list_sized((devices), (capacity), (all), sizeof(tav_device))

/* Brings the board into the safe state (undoes the debug-port release, stops
 * PWM, floats every pin: the Close sequence), releases it and frees the
 * object. NULL is a no-op. Calls already running on this board in other
 * threads are waited for (those still waiting for the board get
 * TAV_NOT_OPEN); a call that starts after tav_close uses freed memory, as
 * after free(): the caller must not make one. */
TAV_C_API void tav_close(tav_board* board);
/* Releases the board and frees the object without sending anything: the
 * outputs stay as they are. NULL is a no-op. Calls running in other threads
 * are waited for, as by tav_close; none may start after it. */
TAV_C_API void tav_release(tav_board* board);
/* Ends the connection as tav_close (safe_state != 0) or tav_release
 * (safe_state == 0) do, but keeps the object: every later call on it returns
 * TAV_NOT_OPEN (tav_model still gives the letter), and tav_close or
 * tav_release then only free it. For bindings whose board objects other
 * threads may still use until they are collected. TAV_OK, TAV_E_INVALID for
 * NULL. */
TAV_C_API int tav_disconnect(tav_board* board, int safe_state);

/* Whether the board is there now: 1 while it is connected; 0 after it left
 * (or was closed or disconnected), and for NULL.
 *
 * "reattach:" boards. A thread of the object's own looks every 250 ms
 * whether the board is still on its port (port path) under the device
 * number it had. Once a transfer finds the board gone, or that thread does
 * (it left, and maybe came back, while the program made no call), every call
 * returns TAV_NOT_OPEN (2) at once and sends nothing, and the thread looks
 * for a board of the same model on the same port. When one is there it is opened, claimed and asked for
 * its information, and the object's policy applied: "reattach:" sends the
 * records of the commanded state this object holds (the debug port
 * released and the board started as tav_init left them, each running PWM
 * group with its divider and duties, each pin it made an output or a
 * non-floating input, with its level); "reattach-safe:" the safe state
 * (tav_safe); "reattach-none:" nothing. Not restored: what records of
 * tav_send_record set that no operation sends, and what other programs set.
 * A board of another model on that port is asked once, logged once, and left
 * unclaimed until it leaves (the object keeps its model); one on another
 * port is another board. A "reattach:sim:" board heals the same way after
 * tav_sim_unplug and tav_sim_plug. A board whose USB library cannot tell its port
 * (libusb-win32) opens, but does not heal. */
TAV_C_API int tav_connected(const tav_board* board);
/* A "reattach:" board's transitions, on the library's thread of that board:
 * connected 0 when it noticed the board gone (a transfer found it gone),
 * 1 when the board is back and its policy applied. The callback may call
 * any function of the library, this board's too, and may close, release or
 * disconnect its board (it is freed once the callback returns). NULL stops
 * it: once this returns, the callback it replaced is not running and is not
 * called again (called from inside a callback of the library's, it does not
 * wait). TAV_OK, or TAV_E_INVALID for a NULL board. */
typedef void (*tav_connection_callback)(tav_board* board, int connected, void* user_data);
TAV_C_API int tav_set_connection_callback(tav_board* board, tav_connection_callback callback, void* user_data);

/* How the board's records go out: 1 queued (each operation's records back to
 * back on the bus, the default), 0 one transfer at a time ("sync:", or a USB
 * library that cannot queue); TAV_E_INVALID for NULL. */
TAV_C_API int tav_queued(const tav_board* board);

/* The board's model letter: 'T', 'S', 'C', or '?' (another letter, or NULL). */
TAV_C_API char tav_model(const tav_board* board);
/* The firmware version ("1.0.2.13") into text, truncated to size - 1
 * characters and NUL-terminated. TAV_OK, or TAV_E_INVALID for a NULL board or
 * text, or a size of 0. */
TAV_C_API int tav_firmware(const tav_board* board, char* text, size_t size);

/* Board control: tav_init is InitTav (releases the debug-port pins, safe
 * state, start-up record with value), tav_safe is DisableAll. */
TAV_C_API int tav_init(tav_board* board, uint32_t value);
TAV_C_API int tav_safe(tav_board* board);

/* Pin identifiers: TAV_P4(8) is P4.8 (0x40000100), TAV_P8(2) is P8.2;
 * several pins of one bank are one identifier, TAV_P4(8) | TAV_P4(10). */
#define TAV_P4(n) (0x40000000u | (1u << (n)))
#define TAV_P8(n) (0x80000000u | (1u << (n)))

/* Digital pins, by identifier (TAV_P4, TAV_P8 above; PIN_BANK_4 | bits in
 * TAVLib.h): one record per named pin in ascending bit order. TAV_OK,
 * TAV_BAD_PIN (nothing sent), TAV_PIN_UNAVAILABLE (the lower pins were
 * sent), TAV_IO_FAILED, TAV_NOT_OPEN, or TAV_E_INVALID for a NULL board. */
TAV_C_API int tav_pin_output(tav_board* board, uint32_t pins); /* push-pull output */
TAV_C_API int tav_pin_input(tav_board* board, uint32_t pins);  /* floating input */
TAV_C_API int tav_pin_float(tav_board* board, uint32_t pins);  /* floating input (as the safe state) */
TAV_C_API int tav_pin_set(tav_board* board, uint32_t pins);    /* drive high */
TAV_C_API int tav_pin_reset(tav_board* board, uint32_t pins);  /* drive low */
TAV_C_API int tav_pin_write(tav_board* board, uint32_t pins, int value); /* high when value is 1, else low */

/* PWM. group 'A' (3 channels), 'B' or 'C' (4 channels each; lower case is
 * accepted too); divider 1, 2, 4, ... 128 (PWM frequency 2000 Hz / divider at
 * the board's 72 MHz timer clock); duties[i] is channel i+1 in counter steps
 * (0 to TAV_PWM_FULL_SCALE); count may be shorter than the group's channel
 * count (missing duties are 0), never longer; duties may be NULL when count
 * is 0. An unknown group or channel, another divider, too many duties or a
 * duty above full scale is TAV_E_INVALID, and nothing is sent. */
TAV_C_API int tav_pwm_start(tav_board* board, char group, int divider, const uint32_t* duties, size_t count);
/* One channel's duty; channel counts from 1; the duty in counts of the
 * group's full scale (36000, or the full scale tav_pwm_start_hz chose). */
TAV_C_API int tav_pwm_set(tav_board* board, char group, unsigned channel, uint32_t duty);
/* Stops all three groups and floats their pins (DisablePWM). */
TAV_C_API int tav_pwm_stop(tav_board* board);

/* PWM for what people drive: any frequency, duties in percent, servo pulses,
 * one group stopped alone. These send the same records as the functions
 * above with other values of the chip vendor's fields (the time base's
 * prescaler and period; one timer's part of the shutdown sequence), which
 * the board's firmware executes as the vendor's functions with those fields.
 *
 * tav_pwm_start_hz: starts group at frequency_hz: the timer counts at 72 MHz
 *   / (prescaler + 1) and wraps after period + 1 steps (each at most 65536),
 *   chosen to reach the frequency within 0.1 % with as many duty steps as
 *   possible (the finest prescaler that has a period within 0.1 %, with the
 *   period nearest the frequency), or where no pair does, as near as any does. 50 Hz (servos) has
 *   65455 steps, 20 kHz (motors) 3600. The group's full scale (period + 1)
 *   becomes the unit of tav_pwm_set's counts for it (36000 for the dividers
 *   of tav_pwm_start). duty_percent[i] is channel i + 1 in percent (0 to
 *   100, rounded to the nearest step); count may be shorter than the
 *   group's channel count (missing duties are 0); duty_percent may be NULL
 *   when count is 0. The frequency reached goes to *actual_hz (NULL: not
 *   wanted). Reachable: about 0.0168 Hz (72 MHz / 2^32) to 720 kHz (100
 *   steps). Outside it, NaN, an infinity, a duty outside 0-100 % or NaN, too
 *   many duties or an unknown group: TAV_E_INVALID, nothing sent.
 * tav_pwm_set_percent: one channel's duty in percent of the group's full
 *   scale (0 to 100), sent as tav_pwm_set sends it.
 * tav_pwm_set_pulse: one channel's high time in microseconds (a servo's 1000
 *   to 2000 us at 50 Hz), in steps of the group's running time base. A group
 *   not running by this object's records, or a pulse longer than the period
 *   (or negative, NaN): TAV_E_INVALID, nothing sent.
 * tav_pwm_stop_group: that group's part of the shutdown sequence alone: its
 *   timer reset and stopped, its clock gate off, its pins floating. The
 *   other groups keep running: no record names another timer or gates its
 *   clock, and the AFIO clock stays on. tav_pwm_stop stays the whole
 *   sequence. */
TAV_C_API int tav_pwm_start_hz(tav_board* board, char group, double frequency_hz, const double* duty_percent,
                               size_t count, double* actual_hz);
TAV_C_API int tav_pwm_set_percent(tav_board* board, char group, unsigned channel, double percent);
TAV_C_API int tav_pwm_set_pulse(tav_board* board, char group, unsigned channel, double microseconds);
TAV_C_API int tav_pwm_stop_group(tav_board* board, char group);
/* The time base tav_pwm_start_hz would choose, without a board: its
 * prescaler, its full scale (period + 1) and the frequency it reaches (any
 * of the three may be NULL). TAV_OK, or TAV_E_INVALID as tav_pwm_start_hz
 * refuses the frequency. */
TAV_C_API int tav_pwm_time_base(double frequency_hz, uint32_t* prescaler, uint32_t* full_scale, double* actual_hz);

/* Pin modes for buttons and relays: inputs with the chip's pull-up or
 * pull-down (about 40 kOhm; GPIO mode 0x48 or 0x28), outputs that only pull
 * low (open drain, mode 0x14: a relay board's input, a shared line). One
 * record per named pin in ascending bit order, as the other pin calls.
 * pull is TAV_PULL_UP or TAV_PULL_DOWN; any other value is TAV_E_INVALID and
 * nothing is sent. tav_pin_write, tav_pin_set and tav_pin_reset drive an
 * open-drain output: high lets it float (pulled up outside), low pulls it
 * low. Results as for tav_pin_output. */
#define TAV_PULL_UP   1
#define TAV_PULL_DOWN 2
TAV_C_API int tav_pin_input_pull(tav_board* board, uint32_t pins, int pull);
TAV_C_API int tav_pin_output_open_drain(tav_board* board, uint32_t pins);

/* Sends one record of your own as one 64-byte transfer (AddCommand):
 * TAV_OK, TAV_IO_FAILED, TAV_NOT_OPEN, or TAV_E_INVALID for NULL. */
TAV_C_API int tav_send_record(tav_board* board, const uint8_t record[64]);

/* Called after every record transfer of the board, on the calling thread and
 * with the board's lock held (so it must not call back into this board):
 * the 64 bytes handed to USB and the transfer's result (bytes moved, or a
 * negative errno). NULL removes it. TAV_OK or TAV_E_INVALID. */
typedef void (*tav_record_callback)(void* user, const uint8_t* bytes, int length, int result);
TAV_C_API int tav_set_record_callback(tav_board* board, tav_record_callback callback, void* user);

/* Pins as tavctl and the Python package take them: names P4.0-P4.15 and
 * P8.0-P8.16, ranges within a bank (P4.0-3), comma lists (P4.0,P8.2-3), or
 * one identifier in hex with 0x or in decimal (never octal). Writes one
 * identifier per bank named, in the order the banks first appear (at most
 * 2), into ids and their number into *count. TAV_OK, or TAV_E_INVALID with a
 * one-line reason in reason (when not NULL; truncated, NUL-terminated). */
TAV_C_API int tav_parse_pins(const char* text, uint32_t ids[2], size_t* count, char* reason, size_t reason_size);
/* PWM arguments as tavctl, the Python package and the panel take them, each
 * TAV_OK or TAV_E_INVALID with a one-line reason as tav_parse_pins gives it:
 * a group letter A, B or C in either case (*group is the upper-case letter);
 * a divider 1, 2, 4, ... 128 (decimal, or hex with 0x); a duty as counts
 * 0..TAV_PWM_FULL_SCALE (decimal, or hex with 0x) or as a percentage of
 * digits and a point ("25%", "12.5%"), rounded to the nearest count. */
TAV_C_API int tav_parse_pwm_group(const char* text, char* group, char* reason, size_t reason_size);
TAV_C_API int tav_parse_pwm_divider(const char* text, int* divider, char* reason, size_t reason_size);
TAV_C_API int tav_parse_duty(const char* text, uint32_t* counts, char* reason, size_t reason_size);
/* A pin level as tavctl and the Python package take it: "1", "high" or "on"
 * make *level 1; "0", "low" or "off" make it 0. TAV_OK, or TAV_E_INVALID with
 * a one-line reason as tav_parse_pins gives it. */
TAV_C_API int tav_parse_level(const char* text, int* level, char* reason, size_t reason_size);
/* How pins are written, in words for a program's help: "P4.0-P4.15,
 * P8.0-P8.16, ranges like P4.0-3, lists like P4.0,P8.2, or an identifier like
 * 0x40000001". Static text. */
TAV_C_API const char* tav_pin_syntax(void);
/* Whether text is a selector tav_open takes (it says nothing of whether a
 * board is there): TAV_OK, or TAV_E_INVALID with a one-line reason naming
 * the selectors there are, into reason (truncated to reason_size - 1). */
TAV_C_API int tav_parse_selector(const char* text, char* reason, size_t reason_size);
/* Whether a selector opens a virtual board ("sim:S", "queued:sim:T",
 * "reattach:sim:C"): 1, or 0 for one that looks for a real board; NULL or ""
 * is the default selector, TAV_DEVICE's. TAV_E_INVALID when it is no
 * selector (tav_parse_selector says why). */
TAV_C_API int tav_selector_is_virtual(const char* selector);

/* A record in words, as the board's firmware reads it
 * ("GPIO_SetBits(GPIOB, pin 8)"), into text, truncated and NUL-terminated.
 * TAV_OK, or TAV_E_INVALID for NULL arguments or a size of 0. */
TAV_C_API int tav_describe_record(const uint8_t record[64], char* text, size_t size);

/* What a board pin does by the records this board object has sent (the
 * commanded state). On a virtual board that is exactly what the board does.
 * On a real board the library models what it was told since tav_open: a pin
 * whose mode no record of this object set (and, for a PWM pin, whose timer
 * was never set up) is not known, as an earlier program may have left it in
 * any state. */
typedef enum tav_pin_function {
    TAV_PIN_DEBUG_PORT = 0,     /* held by the serial-wire/JTAG debug port (until tav_init) */
    TAV_PIN_ANALOG_INPUT = 1,
    TAV_PIN_FLOATING_INPUT = 2,
    TAV_PIN_PULL_DOWN_INPUT = 3,
    TAV_PIN_PULL_UP_INPUT = 4,
    TAV_PIN_OUTPUT_HIGH = 5,
    TAV_PIN_OUTPUT_LOW = 6,
    TAV_PIN_PWM = 7,
    TAV_PIN_NOT_DRIVEN = 8      /* alternate function with no running timer, or no mapping */
} tav_pin_function;

/* A PWM pin's timer and channel are the hardware's own numbers, as the
 * board's documentation names the pin's function (TIM1_CH3): `timer` counts
 * from 1, where every timer index elsewhere in this interface counts from 0,
 * and `channel` is the timer's channel, not the group channel tav_pwm_start
 * and tav_pwm_set take (group A's channel 1 is TIM1_CH3).
 * tav_pin_state_group gives the group's letter and channel. */
typedef struct tav_pin_state {
    int known;                 /* 1 when the function below is certain (see above) */
    int function;              /* a tav_pin_function */
    char name[8];              /* board pin, "P4.8" */
    char mcu_pin[8];           /* microcontroller pin on this model, "PB8"; "-" when unmapped */
    int timer;                 /* PWM: 1..3 (TIM1..TIM3), else 0; not a timer index (see above) */
    int channel;               /* PWM: the timer's channel 1..4 (TIMx_CHy), else 0; not a group channel */
    double frequency_hz;       /* PWM at the board's 72 MHz timer clock */
    uint32_t duty_counts;      /* PWM: compare value */
    uint32_t period_counts;    /* PWM: counter steps per period */
    double duty_percent;       /* PWM: share of the period the pin is high */
    char description[112];     /* in words, as `tavctl status` shows it */
} tav_pin_state;

/* The commanded state of one board pin (a single-pin identifier such as
 * 0x40000100 for P4.8). TAV_OK, TAV_BAD_PIN for an identifier that names no
 * single board pin, TAV_E_INVALID for NULL arguments. */
TAV_C_API int tav_pin_state_get(const tav_board* board, uint32_t pin, tav_pin_state* state);
/* The group ('A'..'C') and group channel (1..4, as tav_pwm_set counts) of a
 * PWM pin's state. TAV_OK; TAV_E_INVALID for NULL arguments or a state that
 * is not PWM (function other than TAV_PIN_PWM, or a timer channel no group
 * drives). */
TAV_C_API int tav_pin_state_group(const tav_pin_state* state, char* group, int* channel);

/* What a PWM group (its timer) runs by the commanded state: the records this
 * board object sent (on a virtual board: the board itself). Every model has
 * it, also one without a pin map. known is 0 while no record of this object
 * set the timer: an earlier program may have left it running. */
typedef struct tav_pwm_group_state {
    int known;
    int running;            /* its counter runs (group A: and its outputs are on) */
    int divider;            /* 1..128; 0 for a time base none of the dividers sets */
    double frequency_hz;    /* of its PWM period; 0 when it has none */
    unsigned channel_count; /* 3 for group A, 4 for B and C */
    uint32_t duty[4];       /* each channel's duty in counts */
    int duty_known[4];      /* 0: no record of this object set that channel's duty */
    /* Since 1.2: */
    uint32_t full_scale;    /* steps in one period (period + 1): the unit of duty[] and tav_pwm_set;
                               36000 for the dividers, and while the group has no time base */
    uint32_t prescaler;     /* the timer counts at 72 MHz / (prescaler + 1) */
} tav_pwm_group_state;

/* The state of group 'A', 'B' or 'C' (either case). TAV_OK; TAV_E_INVALID for
 * another letter or NULL arguments. A macro over tav_pwm_group_state_get_sized,
 * which takes the size of the caller's struct (as tav_list does), so that a
 * program built against an older tav.h keeps working; the function
 * tav_pwm_group_state_get itself fills 1.1's layout. */
TAV_C_API int tav_pwm_group_state_get_sized(const tav_board* board, char group, tav_pwm_group_state* state,
                                            size_t state_size);
TAV_C_API int tav_pwm_group_state_get(const tav_board* board, char group, tav_pwm_group_state* state);
#define tav_pwm_group_state_get(board, group, state) \
    tav_pwm_group_state_get_sized((board), (group), (state), sizeof(tav_pwm_group_state))

/* Virtual boards ("sim:" selectors) only: what every pin does now, as
 * `tavctl status` shows it, into text (truncated to size - 1 characters and
 * NUL-terminated; 8 KiB always hold it). TAV_E_NOT_VIRTUAL on a real board,
 * TAV_E_INVALID for NULL arguments or a size of 0. */
TAV_C_API int tav_sim_status(const tav_board* board, char* text, size_t size);

/* Virtual boards: the board's clock, which stamps every record as it
 * arrives. It follows real time from tav_open unless virtual time is on
 * (enabled != 0); then only tav_sim_advance moves it, so that runs repeat
 * exactly: turning it on restarts the clock at 0 (what happened before counts
 * as the state at 0). TAV_OK, TAV_E_NOT_VIRTUAL on a real board, TAV_E_INVALID for
 * NULL. */
TAV_C_API int tav_sim_set_virtual_time(tav_board* board, int enabled);
TAV_C_API int tav_sim_advance(tav_board* board, uint64_t nanoseconds);

/* Virtual boards: what the 33 board pins did from tav_open to now (and a few
 * PWM periods on), written to path as a VCD value change dump (timescale
 * 1 ns; one wire per pin named like P8_0_PA0; sigrok and GTKWave read it) or
 * as an SVG timing diagram (one row per pin that changed). A PWM pin is
 * drawn as its square wave for 50 ms (at least 10 periods) after each change
 * of its settings, so the size grows with the changes, not with the run's
 * length. TAV_OK, TAV_E_NOT_VIRTUAL, TAV_E_INVALID for NULL arguments,
 * TAV_IO_FAILED when the file cannot be written. */
TAV_C_API int tav_sim_write_vcd(const tav_board* board, const char* path);
TAV_C_API int tav_sim_write_svg(const tav_board* board, const char* path);

/* Virtual boards as a program's tests use them: a "sim:" board leaves its
 * virtual bus and comes back as a real board leaves USB, and its transfers
 * fail on request, so that a program's reconnect and error paths run in CI
 * without a board. Each returns TAV_OK; TAV_E_NOT_VIRTUAL on a real board;
 * TAV_E_INVALID for NULL or an argument outside its range.
 *
 * tav_sim_unplug: the board is gone at once: the next transfer finds it gone
 *   as a vanished real board's does (that call returns TAV_IO_FAILED, and
 *   every later call TAV_NOT_OPEN, TAV_IO_FAILED for tav_init); a
 *   "reattach:sim:" object knows at once (tav_connected is 0 when this
 *   returns, its calls return TAV_NOT_OPEN) and its thread tells the
 *   connection callback; tav_watch reports it left. An unplugged board
 *   stays unplugged (TAV_OK, nothing changes).
 * tav_sim_plug: it comes back on the same port under a new device number,
 *   as at power-on (every pin floating, the timers off, the debug port
 *   holding its pins), so that a "reattach:" object's policy (restore, safe,
 *   none) acts on it at once, on its thread (tav_connected is 1 again once
 *   the policy is applied); tav_watch reports it arrived. A plugged board stays
 *   plugged (TAV_OK, nothing changes). A board without "reattach:" stays let
 *   go: open a new object, as with a real board. Pending faults are cleared.
 * tav_sim_fail: the after_records-th record transfer from now (1 = the next;
 *   1 to 2^31 - 1) meets the fault: TAV_SIM_TIMEOUT (the transfer times out:
 *   the operation stops there and returns TAV_IO_FAILED), TAV_SIM_STALL (0
 *   bytes moved), TAV_SIM_SHORT_WRITE (half the record arrives; both: the
 *   operation goes on and returns TAV_IO_FAILED) or TAV_SIM_UNPLUG (the board
 *   vanishes at that record, as by tav_sim_unplug: TAV_IO_FAILED, then
 *   TAV_NOT_OPEN). One fault per call;
 *   several may be pending. The board-information request of a reattach
 *   counts as a record transfer too.
 * tav_sim_edges: the level changes of one board pin (a single-pin
 *   identifier, TAV_BAD_PIN otherwise) from tav_open on, or from the start
 *   of virtual time: time_ns on the board's clock, level 1 driven high, 0
 *   driven low, TAV_SIM_NOT_DRIVEN for an input or a pin nothing drives, and
 *   TAV_SIM_PWM for a PWM square wave: a PWM pin's entries are the changes
 *   of its settings (started, new duty or frequency), not its edges
 *   (tav_pin_state_get tells the settings; a duty of 0 or full scale is the
 *   level 0 or 1). Fills at most capacity entries in time order (edges may
 *   be NULL when capacity is 0) and returns how many there are. A board
 *   keeps its last 20,000 changes. */
#define TAV_SIM_TIMEOUT     1
#define TAV_SIM_STALL       2
#define TAV_SIM_SHORT_WRITE 3
#define TAV_SIM_UNPLUG      4
#define TAV_SIM_NOT_DRIVEN (-1)
#define TAV_SIM_PWM          2
typedef struct tav_sim_edge {
    uint64_t time_ns;
    int level;
} tav_sim_edge;
TAV_C_API int tav_sim_unplug(tav_board* board);
TAV_C_API int tav_sim_plug(tav_board* board);
TAV_C_API int tav_sim_fail(tav_board* board, int kind, unsigned after_records);
TAV_C_API int tav_sim_edges(const tav_board* board, uint32_t pin, tav_sim_edge* edges, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* TAV_TAV_H */
