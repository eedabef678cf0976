/*
 * tav/board.hpp - TAV boards as C++ objects, over the C interface (tav/tav.h).
 *
 *     tav::Board board;
 *     if (int result = board.open("sim:T"); result != TAV_OK)
 *         std::fprintf(stderr, "%s\n", tav_strerror(result));
 *     board.init();
 *     board.pinOutput(TAVDll::PIN_BANK_4 | 0x100);
 *     board.pinSet(TAVDll::PIN_BANK_4 | 0x100);
 *     // leaving the scope closes the board into the safe state
 *
 * A Board owns at most one open board. It is move-only; the destructor
 * closes the board into the safe state (as TAVLib::Close does), release()
 * lets go of it without sending anything. Results are the codes of tav/tav.h;
 * nothing throws. Selectors, threads and the meaning of each operation are
 * those of tav/tav.h. Header-only: it adds no C++ symbol to the library.
 */
#ifndef TAV_BOARD_HPP
#define TAV_BOARD_HPP

#include <functional>
#include <initializer_list>
#include <string>

#include "TAVLib.h"
#include "tav/tav.h"

namespace tav {

class Board {
public:
    Board() noexcept = default;
    /* Takes over a board opened through the C interface. */
    explicit Board(tav_board* handle) noexcept : handle_(handle) {}
    ~Board() { close(); }
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;
    Board(Board&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Board& operator=(Board&& other) noexcept
    {
        if (this != &other) {
            close();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }

    /* Opens the board the selector names, closing (safe state) any board this
     * object held before. TAV_OK or a tav_open() failure code. */
    int open(const std::string& selector = "")
    {
        close();
        return tav_open(selector.c_str(), &handle_);
    }
    bool isOpen() const noexcept { return handle_ != nullptr; }
    /* Whether the board is there now (tav_connected): a "reattach:" board is
     * again once its board is found back on its port. */
    bool connected() const noexcept { return tav_connected(handle_) == 1; }
    explicit operator bool() const noexcept { return isOpen(); }

    /* Safe state, then release. Nothing happens when no board is held. */
    void close() noexcept
    {
        tav_close(handle_);
        handle_ = nullptr;
    }
    /* Lets go of the board without sending anything: outputs stay as set. */
    void release() noexcept
    {
        tav_release(handle_);
        handle_ = nullptr;
    }

    /* 'T', 'S', 'C', or '?' (also when no board is held). */
    char model() const noexcept { return tav_model(handle_); }
    /* Whether each operation's records go out back to back (the default) rather
     * than one transfer at a time ("sync:"); false when no board is held. */
    bool queued() const noexcept { return tav_queued(handle_) == 1; }
    /* "1.0.2.13"; empty when no board is held. */
    std::string firmware() const
    {
        char text[64] = "";
        tav_firmware(handle_, text, sizeof text);
        return text;
    }

    int init(uint32_t value = 0) noexcept { return tav_init(handle_, value); }
    int safe() noexcept { return tav_safe(handle_); }

    int pinOutput(uint32_t pins) noexcept { return tav_pin_output(handle_, pins); }
    int pinInput(uint32_t pins) noexcept { return tav_pin_input(handle_, pins); }
    int pinFloat(uint32_t pins) noexcept { return tav_pin_float(handle_, pins); }
    int pinSet(uint32_t pins) noexcept { return tav_pin_set(handle_, pins); }
    int pinReset(uint32_t pins) noexcept { return tav_pin_reset(handle_, pins); }
    int pinWrite(uint32_t pins, int value) noexcept { return tav_pin_write(handle_, pins, value); }

    /* group 'A', 'B' or 'C'; divider 1, 2, 4, ... 128; duties of channel 1, 2, ... */
    int pwmStart(char group, int divider, std::initializer_list<uint32_t> duties) noexcept
    {
        return tav_pwm_start(handle_, group, divider, duties.begin(), duties.size());
    }
    int pwmStart(char group, int divider, const uint32_t* duties, size_t count) noexcept
    {
        return tav_pwm_start(handle_, group, divider, duties, count);
    }
    int pwmSet(char group, unsigned channel, uint32_t duty) noexcept { return tav_pwm_set(handle_, group, channel, duty); }
    int pwmStop() noexcept { return tav_pwm_stop(handle_); }
    /* Any frequency (tav_pwm_start_hz): board.pwmStartHz('B', 50, {7.5}) for a
     * servo; *actualHz (when given) gets the frequency reached. */
    int pwmStartHz(char group, double hz, std::initializer_list<double> dutyPercent = {},
                   double* actualHz = nullptr) noexcept
    {
        return tav_pwm_start_hz(handle_, group, hz, dutyPercent.begin(), dutyPercent.size(), actualHz);
    }
    int pwmSetPercent(char group, unsigned channel, double percent) noexcept
    {
        return tav_pwm_set_percent(handle_, group, channel, percent);
    }
    int pwmSetPulse(char group, unsigned channel, double microseconds) noexcept
    {
        return tav_pwm_set_pulse(handle_, group, channel, microseconds);
    }
    int pwmStopGroup(char group) noexcept { return tav_pwm_stop_group(handle_, group); }
    /* pull: TAV_PULL_UP or TAV_PULL_DOWN. */
    int pinInputPull(uint32_t pins, int pull) noexcept { return tav_pin_input_pull(handle_, pins, pull); }
    int pinOutputOpenDrain(uint32_t pins) noexcept { return tav_pin_output_open_drain(handle_, pins); }

    int sendRecord(const TAVDll::_INSTRUCTION_INFO_& record) noexcept
    {
        return tav_send_record(handle_, reinterpret_cast<const uint8_t*>(&record));
    }

    /* Virtual boards: what every pin does now; empty for a real board. */
    std::string simStatus() const
    {
        std::string text(8192, '\0');
        if (tav_sim_status(handle_, &text[0], text.size()) != TAV_OK)
            return "";
        text.resize(text.find('\0'));
        return text;
    }

    /* What a program's tests do to a virtual board (tav_sim_unplug and the
     * rest): board.sim().unplug(). Each returns the C call's result
     * (TAV_E_NOT_VIRTUAL on a real board). */
    class Sim {
    public:
        explicit Sim(tav_board* handle) noexcept : handle_(handle) {}
        int unplug() noexcept { return tav_sim_unplug(handle_); }
        int plug() noexcept { return tav_sim_plug(handle_); }
        /* kind: TAV_SIM_TIMEOUT, TAV_SIM_STALL, TAV_SIM_SHORT_WRITE, TAV_SIM_UNPLUG. */
        int fail(int kind, unsigned afterRecords = 1) noexcept { return tav_sim_fail(handle_, kind, afterRecords); }
        /* The pin's level changes; how many there are (or an error), at most
         * capacity of them in edges. */
        int edges(uint32_t pin, tav_sim_edge* edges, size_t capacity) const noexcept
        {
            return tav_sim_edges(handle_, pin, edges, capacity);
        }

    private:
        tav_board* handle_;
    };
    Sim sim() const noexcept { return Sim(handle_); }

    /* The C handle, for the functions of tav/tav.h; stays owned by this object. */
    tav_board* handle() const noexcept { return handle_; }

private:
    tav_board* handle_ = nullptr;
};

/* Boards arriving on the bus and leaving it (tav_watch), reported to a
 * function on the library's watching thread for as long as the object
 * watches: tav::Watch watching; watching.start([](const tav_event& event)
 * { ... });. Stopped by stop() or the destructor, after which no event
 * comes. Neither copied nor moved (the library holds its address). */
class Watch {
public:
    using Handler = std::function<void(const tav_event&)>;

    Watch() = default;
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    ~Watch() { stop(); }

    /* TAV_OK, or TAV_E_INVALID (an empty handler, or already watching). */
    int start(Handler handler, unsigned intervalMs = 0)
    {
        if (!handler || watcher_ != nullptr)
            return TAV_E_INVALID;
        handler_ = std::move(handler);
        return tav_watch(&Watch::Deliver, this, intervalMs, &watcher_);
    }

    void stop() noexcept
    {
        tav_unwatch(watcher_);
        watcher_ = nullptr;
    }

    bool watching() const noexcept { return watcher_ != nullptr; }

private:
    static void Deliver(const tav_event* event, void* user) { static_cast<Watch*>(user)->handler_(*event); }

    Handler handler_;
    tav_watcher* watcher_ = nullptr;
};

} // namespace tav

#endif /* TAV_BOARD_HPP */
