// The C interface: a tav_board is one board link, plus the virtual bus and
// board model behind it when a "sim:" selector opened it.
#include "capi/board_object.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <thread>

#include "board/board_control.h"
#include "capi/commanded_state.h"
#include "capi/restore.h"
#include "link/board_info.h"
#include "link/board_list.h"
#include "link/debug_print.h"
#include "link/selector.h"
#include "link/transport.h"
#include "model/board_view.h"
#include "model/record_decoder.h"
#include "pins/pin_names.h"
#include "pins/pin_operations.h"
#include "pwm/pwm_arguments.h"
#include "pwm/pwm_operations.h"
#include "pwm_tables.h"
#include "trace/record_trace.h"
#include "usb/simulated_board.h"
#include "waveform/waveform.h"

using namespace TAVDll;
using namespace TAVDll::detail;


namespace {

// tav_device as tav.h 1.1 had it: up to the model letter, padded.
constexpr size_t DEVICE_SIZE_1_1 =
    (offsetof(tav_device, library) + alignof(tav_device) - 1) / alignof(tav_device) * alignof(tav_device);
static_assert(DEVICE_SIZE_1_1 == 48, "tav_device of 1.1");

// The C interface's codes and constants are the library's own.
static_assert(TAV_OK == RESULT_OK && TAV_NOT_OPEN == RESULT_NOT_OPEN && TAV_IO_FAILED == RESULT_IO_FAILED
                  && TAV_BAD_PIN == RESULT_BAD_PIN && TAV_PIN_UNAVAILABLE == RESULT_PIN_UNAVAILABLE,
              "tav.h's result codes are TAVLib.h's ResultCode");
static_assert(TAV_PWM_FULL_SCALE == PWM_FULL_SCALE && TAV_PWM_BASE_HZ == PWM_BASE_HZ && TAV_RECORD_SIZE == RECORD_SIZE,
              "tav.h's constants are the board's");
static_assert(TAV_USB_VENDOR_ID == BOARD_VENDOR_ID && TAV_USB_PRODUCT_ID == BOARD_PRODUCT_ID, "tav.h's USB identity");

static_assert(TAV_PIN_DEBUG_PORT == static_cast<int>(tavmodel::PinFunction::DebugPort)
                  && TAV_PIN_FLOATING_INPUT == static_cast<int>(tavmodel::PinFunction::FloatingInput)
                  && TAV_PIN_OUTPUT_HIGH == static_cast<int>(tavmodel::PinFunction::OutputHigh)
                  && TAV_PIN_PWM == static_cast<int>(tavmodel::PinFunction::Pwm)
                  && TAV_PIN_NOT_DRIVEN == static_cast<int>(tavmodel::PinFunction::NotDriven),
              "tav_pin_function follows the board view's PinFunction");


// How often a "reattach:" board looks whether its board is still there, or
// back.
constexpr std::chrono::milliseconds REATTACH_INTERVAL{250};

// The USB libraries its board may come back through.
int HealingBackends(const tav_board* board, const UsbBackend* tables[BUS_BACKEND_LIMIT])
{
    if (board->simulated != nullptr) {
        tables[0] = &board->simulated->Backend();
        return 1;
    }
    return BusBackends(board->link.queued, tables);
}

// Whether the board this link holds is still plugged in where it was found:
// a board that left and came back while nobody called has another device
// number now, and the old handle is dead.
bool StillThere(const tav_board* board)
{
    unsigned long busNumber = 0;
    unsigned long deviceNumber = 0;
    const BoardLink& link = board->link;
    return BoardAtPort(*link.usb, link.portPath, &busNumber, &deviceNumber) && busNumber == link.busNumber
           && deviceNumber == link.deviceNumber;
}

// The board on the port it was found on, with the model it had: opened,
// its policy applied. The link's lock is held.
bool Reattach(tav_board* board)
{
    BoardLink& link = board->link;
    const UsbBackend* tables[BUS_BACKEND_LIMIT];
    const int tableCount = HealingBackends(board, tables);
    Selector selector;
    selector.kind = Selector::Kind::UsbAddress;
    selector.reattach = board->reattach;
    selector.queued = link.queued;
    int found = -1;
    for (int index = 0; index < tableCount && found < 0; ++index)
        if (BoardAtPort(*tables[index], link.portPath, &selector.busNumber, &selector.deviceNumber))
            found = index;
    if (found < 0) {
        board->strangerSeen = false; // whatever was there left
        return false;
    }
    if (board->strangerSeen && selector.busNumber == board->strangerBus && selector.deviceNumber == board->strangerDevice)
        return false;
    char portPath[USB_PORT_PATH_SIZE];
    std::snprintf(portPath, sizeof portPath, "%s", link.portPath);
    if (OpenSelectedDevice(link, selector, &tables[found], 1) != RESULT_OK)
        return false;
    std::snprintf(link.portPath, sizeof link.portPath, "%s", portPath);
    link.stopSending = false;
    // The object keeps its model and firmware whatever another board says.
    const BoardType boardType = link.boardType;
    char versionText[VERSION_TEXT_SIZE];
    std::memcpy(versionText, link.versionText, sizeof versionText);
    const bool answered = RequestBoardInfo(link) == RESULT_OK;
    if (!answered || ModelLetter(link.boardType) != board->modelLetter) {
        if (BoardOpen(link))
            LogPrint(TAV_LOG_WARNING, "port %s has a board again, but %s: left alone while it is there",
                     link.portPath, answered ? "of another model" : "it does not answer");
        board->strangerSeen = BoardOpen(link);
        board->strangerBus = selector.busNumber;
        board->strangerDevice = selector.deviceNumber;
        link.boardType = boardType;
        std::memcpy(link.versionText, versionText, sizeof versionText);
        ReleaseDevice(link);
        return false;
    }
    board->strangerSeen = false;
    if (board->reattach != ReattachPolicy::Restore)
        board->commanded = std::make_unique<CommandedState>(board->modelLetter); // what the board had is gone
    const int applied = board->reattach == ReattachPolicy::Restore ? RestoreCommandedState(link, *board->commanded)
                        : board->reattach == ReattachPolicy::Safe  ? DisableAll(link)
                                                                   : RESULT_OK;
    LogPrint(TAV_LOG_INFO, "the board on port %s is back%s", link.portPath,
             applied == RESULT_OK ? "" : "; a record of its policy did not reach it");
    return BoardOpen(link);
}

// Tells the application of a transition; false once the healer is to stop.
bool TellConnection(tav_board* board, int connected)
{
    tav_connection_callback callback = nullptr;
    void* user = nullptr;
    {
        std::lock_guard<std::mutex> lock(board->healerMutex);
        if (board->healerStop)
            return false;
        callback = board->connectionCallback;
        user = board->connectionUser;
        if (callback == nullptr)
            return true;
        board->connectionCallbackRunning = true;
    }
    {
        CallbackScope inCallback;
        callback(board, connected, user); // may close the board: it is freed only when this thread ends
    }
    bool stop = false;
    {
        std::lock_guard<std::mutex> lock(board->healerMutex);
        board->connectionCallbackRunning = false;
        stop = board->healerStop;
    }
    board->connectionCallbackDone.notify_all();
    return !stop;
}

// The thread of a "reattach:" board: notices it gone (a transfer found it
// gone, or it is no longer on its port), finds it again, and tells the
// application of both.
void Heal(tav_board* board)
{
    for (bool going = true; going;) {
        {
            std::unique_lock<std::mutex> lock(board->healerMutex);
            board->healerWake.wait_for(lock, REATTACH_INTERVAL,
                                       [board] { return board->healerStop || board->healerLookNow; });
            board->healerLookNow = false;
            if (board->healerStop)
                break;
        }
        int transitions[2];
        int transitionCount = 0;
        // An operation of its own: what a reattach sends is traced as one.
        RunOperation(board->link, [&](BoardLink& link) {
            if (board->closing.load())
                return;
            if (BoardOpen(link) && !StillThere(board)) {
                LogPrint(TAV_LOG_INFO, "the board on port %s left", link.portPath);
                ReleaseDevice(link);
            }
            if (!BoardOpen(link) && board->connected.load()) {
                board->connected.store(false);
                transitions[transitionCount++] = 0;
            }
            if (!BoardOpen(link) && Reattach(board)) {
                board->connected.store(true);
                transitions[transitionCount++] = 1;
            }
        });
        for (int index = 0; index < transitionCount && going; ++index)
            going = TellConnection(board, transitions[index]);
    }
    bool freeNow = false;
    {
        std::lock_guard<std::mutex> lock(board->healerMutex);
        board->healerEnded = true;
        freeNow = board->freeWhenHealerEnds;
    }
    if (freeNow)
        delete board; // closed from a callback: this thread was let go
}

// Whether the board's connection is open, under its lock.
bool BoardOpenNow(const tav_board* board)
{
    auto* mutableBoard = const_cast<tav_board*>(board);
    std::lock_guard<LibraryMutex> lock(mutableBoard->link.mutex);
    return BoardOpen(mutableBoard->link);
}

// Whether this thread may wait for the board's healer: not the healer
// itself, nor any thread inside a callback of the library's (another
// board's healer may be waiting for this one).
bool MayWaitForHealer(const tav_board* board)
{
    return std::this_thread::get_id() != board->healerId && !InsideLibraryCallback();
}

// Tells the healer to stop, and waits for it where this thread may. Once
// for two threads at once: the second finds the thread taken.
void StopHealing(tav_board* board)
{
    std::thread healer;
    {
        std::lock_guard<std::mutex> lock(board->healerMutex);
        board->healerStop = true;
        if (board->healer.joinable() && MayWaitForHealer(board))
            healer = std::move(board->healer);
    }
    board->healerWake.notify_all();
    if (healer.joinable())
        healer.join();
}

// Ends the connection (the Close sequence first, or not), then waits for the
// calls already inside: those that waited for the board's lock find it
// closed and return TAV_NOT_OPEN.
void Disconnect(tav_board* board, bool safeState)
{
    board->closing.store(true);
    StopHealing(board);
    board->connected.store(false);
    {
        std::lock_guard<LibraryMutex> lock(board->link.mutex);
        if (safeState)
            CloseBoard(board->link);
        else
            ReleaseDevice(board->link);
        if (board->trace != nullptr)
            board->trace->Finish();
        if (board->simulated != nullptr)
            board->simulated->Retire();
    }
    while (board->users.load() != 0)
        std::this_thread::yield();
}

// Frees a disconnected board; where its healer could not be waited for and
// still runs, the healer frees it as it ends.
void FreeBoard(tav_board* board)
{
    std::thread healer;
    {
        std::lock_guard<std::mutex> lock(board->healerMutex);
        if (board->healer.joinable()) {
            if (!board->healerEnded) {
                board->freeWhenHealerEnds = true;
                board->healer.detach();
                return;
            }
            healer = std::move(board->healer);
        }
    }
    if (healer.joinable())
        healer.join(); // it has ended
    delete board;
}

// count letters, letterAt(0) to letterAt(count - 1), as the fact queries
// give them: the count, the letters NUL-terminated as far as they fit.
template <typename LetterAt>
int CopyLetters(char* letters, size_t size, size_t count, LetterAt letterAt)
{
    if (letters == nullptr && size > 0)
        return TAV_E_INVALID;
    if (size > 0) {
        size_t index = 0;
        for (; index < count && index + 1 < size; ++index)
            letters[index] = letterAt(index);
        letters[index] = '\0';
    }
    return static_cast<int>(count);
}

int CopyText(const char* source, char* text, size_t size)
{
    if (text == nullptr || size == 0)
        return TAV_E_INVALID;
    std::snprintf(text, size, "%s", source);
    return TAV_OK;
}

// Every record transfer of a board: the commanded state first, then the
// application's callback. Kept whole (never inlined into the traced
// observer below), so that the commanded state stays inlined here.
__attribute__((noinline)) void ObserveRecord(void* user, const uint8_t* bytes, int length, int result)
{
    auto* board = static_cast<tav_board*>(user);
    if (board->commanded != nullptr)
        board->commanded->Observe(bytes, length, result);
    if (board->callback != nullptr)
        board->callback(board->callbackUser, bytes, length, result);
}

// The same for a traced board (TAV_TRACE), and its replies: a separate
// observer, so that a board without a trace pays nothing for it.
void ObserveAndTraceRecord(void* user, const uint8_t* bytes, int length, int result)
{
    static_cast<tav_board*>(user)->trace->Out(bytes, length, result);
    ObserveRecord(user, bytes, length, result);
}

void TraceOperationEnd(void* user)
{
    static_cast<tav_board*>(user)->trace->EndOperation();
}

void TraceReply(void* user, const uint8_t* bytes, int length, int result)
{
    static_cast<tav_board*>(user)->trace->In(bytes, length, result);
}

int PinCall(tav_board* board, uint32_t pins, PinAction action, int value = 0)
{
    return OnBoard(board, [=](BoardLink& link) { return PinOperation(link, pins, action, value); });
}

// One of the argument readers for the C interface: TAV_OK, or TAV_E_INVALID
// with its reason.
template <typename Result, typename Reader>
int ParseArgument(const char* text, Result* result, char* reason, size_t reasonSize, Reader read)
{
    std::string why = "no text or no room for the result";
    if (text != nullptr && result != nullptr && read(std::string(text), result, &why))
        return TAV_OK;
    if (reason != nullptr && reasonSize > 0)
        CopyText(why.c_str(), reason, reasonSize);
    return TAV_E_INVALID;
}

// Why text is no selector, in words, as tav_parse_selector and
// tav_open_problem give it.
std::string SelectorReason(const char* text)
{
    char quoted[96] = "no text";
    if (text != nullptr)
        QuoteText(text, quoted, sizeof quoted);
    std::string virtualBoards;
    for (const BoardModelEntry& model : BOARD_MODELS)
        virtualBoards += std::string(virtualBoards.empty() ? "" : ", ") + "sim:" + model.letter;
    // The board part, after any prefixes, says which kind was meant.
    const char* board = text != nullptr ? std::strrchr(text, ':') : nullptr;
    const std::string rest = text != nullptr ? text : "";
    std::string why;
    if (rest.find("dev:") != std::string::npos) {
        why = " is not a board selector: dev: names a USB device node, /dev/bus/usb/BUS/DEV or a link to one (a "
              "udev rule's SYMLINK), and this is none";
    } else if (board != nullptr && board - text >= 3 && std::strncmp(board - 3, "sim:", 4) == 0) {
        char model[16] = "";
        QuoteText(board + 1, model, sizeof model);
        why = std::string(" is not a board selector: unknown model ") + model + " (virtual boards: " + virtualBoards + ")";
    } else {
        why = " is not a board selector: use BUS:DEV or usb:BUS:DEV (decimal, as `tavctl list` shows them), "
              "port:1-3.2, dev:/dev/bus/usb/BUS/DEV (or a link to it), or " + virtualBoards +
              ", each also after queued: and reattach: (or reattach-safe:, reattach-none:)";
    }
    return std::string(quoted) + why;
}

} // namespace

extern "C" {

const char* tav_version(void)
{
    return TAV_VERSION_TEXT;
}

uint32_t tav_pwm_full_scale(void)
{
    return TAV_PWM_FULL_SCALE;
}

const char* tav_usb_problem(void)
{
    return UsbLibraryProblem();
}

const char* tav_open_problem(void)
{
    return OpenProblem();
}

const char* tav_usb_libraries(void)
{
    return UsbLibraries();
}

int tav_pin_name(uint32_t pin, char model, char name[8], char mcu_pin[8])
{
    if (name == nullptr || mcu_pin == nullptr)
        return TAV_E_INVALID;
    const int row = PinMapRowIndex(pin);
    if (row < 0)
        return TAV_BAD_PIN;
    std::snprintf(name, 8, "%s", BoardPinName(pin).c_str());
    const int column = PinMapColumn(BoardTypeFromLetter(model));
    const McuPin* target = column < 0 ? nullptr : &PIN_MAP[row].byModel[column];
    std::snprintf(mcu_pin, 8, "%s", target == nullptr ? "-" : McuPinName(target->port, target->pin).c_str());
    return TAV_OK;
}

int tav_pwm_channel_count(char group)
{
    const int timerIndex = PwmGroupIndex(group);
    return timerIndex < 0 ? TAV_E_INVALID : static_cast<int>(ChannelCount(timerIndex));
}

int tav_pwm_channel_info(char group, unsigned channel, char model, tav_pwm_channel* info)
{
    const int timerIndex = PwmGroupIndex(group);
    const PwmChannel* entry = timerIndex < 0 ? nullptr : FindPwmChannel(static_cast<uint32_t>(timerIndex), channel);
    if (entry == nullptr || info == nullptr)
        return TAV_E_INVALID;
    *info = tav_pwm_channel{};
    info->timer = timerIndex + 1;
    info->timer_channel = entry->unit;
    const McuPin& mcuPin = entry->mcuPin;
    std::snprintf(info->mcu_pin, sizeof info->mcu_pin, "%s", McuPinName(mcuPin.port, mcuPin.pin).c_str());
    const int column = PinMapColumn(BoardTypeFromLetter(model));
    if (column >= 0)
        for (const PinMapRow& row : PIN_MAP)
            if (row.byModel[column].port == mcuPin.port && row.byModel[column].pin == mcuPin.pin)
                info->pin = row.pinId;
    return TAV_OK;
}

int tav_list_sized(tav_device* devices, size_t capacity, int all, size_t device_size)
{
    if ((devices == nullptr && capacity > 0) || device_size < DEVICE_SIZE_1_1)
        return TAV_E_INVALID;
    if (device_size == sizeof(tav_device))
        return ListDevices(devices, capacity, all != 0);
    // Another layout: listed here, each entry copied as far as both have it.
    // No bus holds more devices than USB can address on a few host
    // controllers.
    constexpr size_t MOST_DEVICES = 1024;
    const size_t room = capacity < MOST_DEVICES ? capacity : MOST_DEVICES;
    std::unique_ptr<tav_device[]> listed(new (std::nothrow) tav_device[room > 0 ? room : 1]);
    if (listed == nullptr)
        return TAV_E_INVALID;
    const int count = ListDevices(listed.get(), room, all != 0);
    const size_t common = device_size < sizeof(tav_device) ? device_size : sizeof(tav_device);
    auto* bytes = reinterpret_cast<unsigned char*>(devices);
    for (size_t index = 0; count > 0 && index < room && index < static_cast<size_t>(count); ++index) {
        std::memset(bytes + index * device_size, 0, device_size);
        std::memcpy(bytes + index * device_size, &listed[index], common);
    }
    return count;
}

// The function of programs built against 1.1's tav.h.
int(tav_list)(tav_device* devices, size_t capacity, int all)
{
    return tav_list_sized(devices, capacity, all, DEVICE_SIZE_1_1);
}

int tav_open(const char* selector, tav_board** board)
{
    ClearOpenProblem(); // whatever this open finds, not what an earlier one did
    if (board == nullptr)
        return TAV_E_INVALID;
    *board = nullptr;
    Selector parsed;
    if (!ParseSelector(selector, &parsed)) {
        SetOpenProblem(SelectorReason(selector).c_str());
        return TAV_E_INVALID;
    }
    if (!ApplyDefaultSelector(&parsed)) {
        SetOpenProblem(("TAV_DEVICE=" + SelectorReason(std::getenv("TAV_DEVICE"))).c_str());
        return TAV_E_INVALID;
    }
    std::unique_ptr<tav_board> opened(new (std::nothrow) tav_board);
    if (opened == nullptr)
        return TAV_E_INVALID;
    if (parsed.kind == Selector::Kind::Virtual) {
        opened->simulated = MakeSimulatedBoard(parsed.model);
        if (opened->simulated == nullptr)
            return TAV_E_INVALID;
        opened->link.usb = &opened->simulated->Backend();
    } else {
        opened->link.usb = InstalledUsbBackend(); // OpenSelected chooses the library that finds it
    }
    opened->link.queued = parsed.queued;
    opened->link.printsReadFailure = false;
    std::lock_guard<LibraryMutex> lock(opened->link.mutex);
    const int result = OpenSelected(opened->link, parsed);
    // Nothing found where a USB library is missing or cannot reach a board:
    // that is why, for every front end to say.
    const char* usbProblem = result == TAV_E_NOT_FOUND && parsed.kind != Selector::Kind::Virtual
                                     && InstalledUsbBackend() == SystemUsbBackend()
                                 ? UsbLibraryProblem()
                                 : nullptr;
    if (usbProblem != nullptr)
        SetOpenProblem(usbProblem);
    if (result != RESULT_OK)
        return result;
    // A virtual board is its own state, until a replug powers it anew.
    if (opened->SimulatedModel() == nullptr || parsed.reattach != ReattachPolicy::Off)
        opened->commanded = std::make_unique<CommandedState>(ModelLetter(opened->link.boardType));
    opened->trace = RecordTrace::Start(ModelLetter(opened->link.boardType), opened->link.versionText,
                                       opened->SimulatedModel());
    opened->link.observer = opened->trace != nullptr ? ObserveAndTraceRecord : ObserveRecord;
    opened->link.replyObserver = opened->trace != nullptr ? TraceReply : nullptr;
    opened->link.operationObserver = opened->trace != nullptr ? TraceOperationEnd : nullptr;
    opened->link.observerUser = opened.get();
    opened->modelLetter = ModelLetter(opened->link.boardType);
    opened->reattach = parsed.reattach;
    if (opened->reattach != ReattachPolicy::Off && opened->link.portPath[0] == '\0') {
        LogPrint(TAV_LOG_WARNING, "this board's USB library cannot tell its port: it is not found again after it "
                                  "leaves");
        opened->reattach = ReattachPolicy::Off;
    }
    if (opened->reattach != ReattachPolicy::Off) {
        try {
            std::lock_guard<std::mutex> healerLock(opened->healerMutex); // its first look takes it
            opened->healer = std::thread(Heal, opened.get());
            opened->healerId = opened->healer.get_id();
        } catch (...) { // no thread to be had: it opens, but does not heal
            opened->reattach = ReattachPolicy::Off;
        }
    }
    *board = opened.release();
    return TAV_OK;
}

void tav_close(tav_board* board)
{
    if (board == nullptr)
        return;
    Disconnect(board, true);
    FreeBoard(board);
}

void tav_release(tav_board* board)
{
    if (board == nullptr)
        return;
    Disconnect(board, false);
    FreeBoard(board);
}

int tav_connected(const tav_board* board)
{
    return board != nullptr && board->connected.load() && BoardOpenNow(board) ? 1 : 0;
}

int tav_set_connection_callback(tav_board* board, tav_connection_callback callback, void* user_data)
{
    if (board == nullptr)
        return TAV_E_INVALID;
    std::unique_lock<std::mutex> lock(board->healerMutex);
    board->connectionCallback = callback;
    board->connectionUser = user_data;
    // Once this returns the old callback is not running, unless this thread
    // may not wait for it (it is the callback, or inside another one).
    if (MayWaitForHealer(board))
        board->connectionCallbackDone.wait(lock, [board] { return !board->connectionCallbackRunning; });
    return TAV_OK;
}

int tav_disconnect(tav_board* board, int safe_state)
{
    if (board == nullptr)
        return TAV_E_INVALID;
    Disconnect(board, safe_state != 0);
    return TAV_OK;
}

char tav_model(const tav_board* board)
{
    if (board == nullptr)
        return '?';
    return board->modelLetter; // set at open, and a board found again must be the same model
}

int tav_firmware(const tav_board* board, char* text, size_t size)
{
    if (text == nullptr || size == 0)
        return TAV_E_INVALID;
    // A board that is not open has no firmware to speak of (tav.h: every call
    // after tav_disconnect, or after the board left, returns TAV_NOT_OPEN).
    return OnBoard(const_cast<tav_board*>(board), [&](BoardLink& link) {
        return BoardOpen(link) ? CopyText(link.versionText, text, size) : TAV_NOT_OPEN;
    });
}

int tav_init(tav_board* board, uint32_t value)
{
    return OnBoard(board, [=](BoardLink& link) { return InitTav(link, value); });
}

int tav_safe(tav_board* board)
{
    return OnBoard(board, [](BoardLink& link) { return DisableAll(link); });
}

int tav_pin_output(tav_board* board, uint32_t pins)
{
    return PinCall(board, pins, PinAction::DirOutput);
}

int tav_pin_input(tav_board* board, uint32_t pins)
{
    return PinCall(board, pins, PinAction::DirInput);
}

int tav_pin_float(tav_board* board, uint32_t pins)
{
    return PinCall(board, pins, PinAction::Floating);
}

int tav_pin_set(tav_board* board, uint32_t pins)
{
    return PinCall(board, pins, PinAction::Set);
}

int tav_pin_reset(tav_board* board, uint32_t pins)
{
    return PinCall(board, pins, PinAction::Reset);
}

int tav_pin_write(tav_board* board, uint32_t pins, int value)
{
    return PinCall(board, pins, PinAction::Write, value);
}

int tav_pwm_start(tav_board* board, char group, int divider, const uint32_t* duties, size_t count)
{
    const int timerIndex = PwmGroupIndex(group);
    const int frequency = divider > 0 ? PwmFrequencyIndex(static_cast<uint64_t>(divider)) : -1;
    if (timerIndex < 0 || frequency < 0 || count > ChannelCount(timerIndex) || (duties == nullptr && count > 0))
        return TAV_E_INVALID;
    uint32_t channelDuties[4] = {};
    for (size_t index = 0; index < count; ++index) {
        if (duties[index] > PWM_FULL_SCALE)
            return TAV_E_INVALID;
        channelDuties[index] = duties[index];
    }
    return OnBoard(board, [&](BoardLink& link) {
        return InitPwmGroup(link, static_cast<uint32_t>(timerIndex), static_cast<PWM_Frequency>(frequency),
                            channelDuties, nullptr);
    });
}

int tav_pwm_stop(tav_board* board)
{
    return OnBoard(board, [](BoardLink& link) { return DisablePwm(link); });
}

int tav_send_record(tav_board* board, const uint8_t record[64])
{
    if (record == nullptr)
        return TAV_E_INVALID;
    _INSTRUCTION_INFO_ copy;
    std::memcpy(&copy, record, sizeof copy);
    return OnBoard(board, [&](BoardLink& link) {
        if (!BoardOpen(link))
            return static_cast<int>(RESULT_NOT_OPEN);
        return SubmitRecord(link, copy) ? static_cast<int>(RESULT_OK) : static_cast<int>(RESULT_IO_FAILED);
    });
}

int tav_set_record_callback(tav_board* board, tav_record_callback callback, void* user)
{
    return OnBoard(board, [=](BoardLink&) {
        board->callback = callback;
        board->callbackUser = user;
        return TAV_OK;
    });
}

int tav_pin_state_get(const tav_board* board, uint32_t pin, tav_pin_state* state)
{
    if (board == nullptr || state == nullptr)
        return TAV_E_INVALID;
    const int row = PinMapRowIndex(pin);
    if (row < 0)
        return TAV_BAD_PIN;
    return OnBoard(const_cast<tav_board*>(board), [&](BoardLink& link) {
        const tavmodel::PinStatus status = tavmodel::BoardView(board->Model()).Pin(pin);
        const int column = PinMapColumn(link.boardType);
        const int port = column < 0 ? -1 : PIN_MAP[row].byModel[column].port;
        const int mcuPin = column < 0 ? -1 : PIN_MAP[row].byModel[column].pin;
        *state = tav_pin_state{};
        state->known = board->SimulatedModel() != nullptr || board->commanded->Known(status, port, mcuPin) ? 1 : 0;
        state->function = static_cast<int>(status.function);
        std::snprintf(state->name, sizeof state->name, "%s", BoardPinName(pin).c_str());
        std::snprintf(state->mcu_pin, sizeof state->mcu_pin, "%s", port < 0 ? "-" : McuPinName(port, mcuPin).c_str());
        state->timer = status.function == tavmodel::PinFunction::Pwm ? status.timer : 0;
        state->channel = status.function == tavmodel::PinFunction::Pwm ? status.channel : 0;
        state->frequency_hz = status.frequencyHz;
        state->duty_counts = status.dutyCounts;
        state->period_counts = status.periodCounts;
        state->duty_percent = status.dutyPercent;
        std::snprintf(state->description, sizeof state->description, "%s", status.Describe().c_str());
        return TAV_OK;
    });
}

int tav_parse_pins(const char* text, uint32_t ids[2], size_t* count, char* reason, size_t reason_size)
{
    std::vector<uint32_t> identifiers;
    std::string why;
    if (text == nullptr || ids == nullptr || count == nullptr)
        why = "no text or no room for the result";
    else if (ParsePinText(text, &identifiers, &why) && identifiers.size() <= 2) {
        for (size_t index = 0; index < identifiers.size(); ++index)
            ids[index] = identifiers[index];
        *count = identifiers.size();
        return TAV_OK;
    }
    if (count != nullptr)
        *count = 0;
    if (reason != nullptr && reason_size > 0)
        CopyText(why.c_str(), reason, reason_size);
    return TAV_E_INVALID;
}

int tav_parse_pwm_group(const char* text, char* group, char* reason, size_t reason_size)
{
    return ParseArgument(text, group, reason, reason_size, ParsePwmGroup);
}

int tav_parse_pwm_divider(const char* text, int* divider, char* reason, size_t reason_size)
{
    return ParseArgument(text, divider, reason, reason_size, ParsePwmDivider);
}

int tav_parse_duty(const char* text, uint32_t* counts, char* reason, size_t reason_size)
{
    return ParseArgument(text, counts, reason, reason_size, ParseDuty);
}

int tav_parse_selector(const char* text, char* reason, size_t reason_size)
{
    Selector selector;
    if (text != nullptr && ParseSelector(text, &selector))
        return TAV_OK;
    if (reason != nullptr && reason_size > 0)
        CopyText(SelectorReason(text).c_str(), reason, reason_size);
    return TAV_E_INVALID;
}

int tav_selector_is_virtual(const char* selector)
{
    Selector parsed;
    if (!ParseSelector(selector, &parsed) || !ApplyDefaultSelector(&parsed))
        return TAV_E_INVALID;
    return parsed.kind == Selector::Kind::Virtual ? 1 : 0;
}

int tav_models(char* letters, size_t size)
{
    return CopyLetters(letters, size, BOARD_MODEL_COUNT, [](size_t index) { return BOARD_MODELS[index].letter; });
}

int tav_pwm_groups(char* letters, size_t size)
{
    return CopyLetters(letters, size, PWM_GROUP_COUNT, PwmGroupLetter);
}

int tav_pwm_dividers(int* dividers, size_t capacity)
{
    if (dividers == nullptr && capacity > 0)
        return TAV_E_INVALID;
    for (size_t index = 0; index < capacity && index < PWM_FREQUENCY_COUNT; ++index)
        dividers[index] = static_cast<int>(PwmDivider(index));
    return static_cast<int>(PWM_FREQUENCY_COUNT);
}

int tav_constant(const char* name, long* value)
{
#define TAV_CONSTANT(constant) {#constant, static_cast<long>(constant)}
    static const struct {
        const char* name;
        long value;
    } CONSTANTS[] = {
        TAV_CONSTANT(TAV_OK), TAV_CONSTANT(TAV_NOT_OPEN), TAV_CONSTANT(TAV_IO_FAILED), TAV_CONSTANT(TAV_BAD_PIN),
        TAV_CONSTANT(TAV_PIN_UNAVAILABLE), TAV_CONSTANT(TAV_E_INVALID), TAV_CONSTANT(TAV_E_NOT_FOUND),
        TAV_CONSTANT(TAV_E_ACCESS), TAV_CONSTANT(TAV_E_NOT_VIRTUAL), TAV_CONSTANT(TAV_PWM_FULL_SCALE),
        TAV_CONSTANT(TAV_PWM_BASE_HZ), TAV_CONSTANT(TAV_RECORD_SIZE), TAV_CONSTANT(TAV_USB_VENDOR_ID),
        TAV_CONSTANT(TAV_USB_PRODUCT_ID), TAV_CONSTANT(TAV_LOG_ERROR), TAV_CONSTANT(TAV_LOG_WARNING),
        TAV_CONSTANT(TAV_LOG_INFO), TAV_CONSTANT(TAV_LOG_DEBUG), TAV_CONSTANT(TAV_EVENT_ARRIVED),
        TAV_CONSTANT(TAV_EVENT_LEFT), TAV_CONSTANT(TAV_PIN_DEBUG_PORT), TAV_CONSTANT(TAV_PIN_ANALOG_INPUT),
        TAV_CONSTANT(TAV_PIN_FLOATING_INPUT), TAV_CONSTANT(TAV_PIN_PULL_DOWN_INPUT),
        TAV_CONSTANT(TAV_PIN_PULL_UP_INPUT), TAV_CONSTANT(TAV_PIN_OUTPUT_HIGH), TAV_CONSTANT(TAV_PIN_OUTPUT_LOW),
        TAV_CONSTANT(TAV_PIN_PWM), TAV_CONSTANT(TAV_PIN_NOT_DRIVEN), TAV_CONSTANT(TAV_SIM_TIMEOUT),
        TAV_CONSTANT(TAV_SIM_STALL), TAV_CONSTANT(TAV_SIM_SHORT_WRITE), TAV_CONSTANT(TAV_SIM_UNPLUG),
        TAV_CONSTANT(TAV_SIM_NOT_DRIVEN), TAV_CONSTANT(TAV_SIM_PWM), TAV_CONSTANT(TAV_PULL_UP),
        TAV_CONSTANT(TAV_PULL_DOWN),
    };
#undef TAV_CONSTANT
    if (name == nullptr || value == nullptr)
        return TAV_E_INVALID;
    for (const auto& constant : CONSTANTS) {
        if (std::strcmp(constant.name, name) == 0) {
            *value = constant.value;
            return TAV_OK;
        }
    }
    return TAV_E_INVALID;
}

int tav_pin_state_group(const tav_pin_state* state, char* group, int* channel)
{
    if (state == nullptr || group == nullptr || channel == nullptr || state->function != TAV_PIN_PWM
        || state->timer < 1 || state->channel < 1)
        return TAV_E_INVALID;
    const PwmChannel* entry =
        FindPwmChannelOfUnit(static_cast<uint32_t>(state->timer - 1), static_cast<uint32_t>(state->channel));
    if (entry == nullptr)
        return TAV_E_INVALID;
    *group = PwmGroupLetter(entry->timerIndex);
    *channel = static_cast<int>(entry->channel);
    return TAV_OK;
}

int tav_describe_record(const uint8_t record[64], char* text, size_t size)
{
    if (record == nullptr)
        return TAV_E_INVALID;
    return CopyText(tavmodel::DescribeRecord(tavmodel::DecodeRecord(record, RECORD_SIZE)).c_str(), text, size);
}

int tav_sim_status(const tav_board* board, char* text, size_t size)
{
    if (text == nullptr || size == 0)
        return TAV_E_INVALID;
    return OnBoard(const_cast<tav_board*>(board), [&](BoardLink&) {
        if (board->SimulatedModel() == nullptr)
            return TAV_E_NOT_VIRTUAL;
        return CopyText(tavmodel::BoardView(*board->SimulatedModel()).Render().c_str(), text, size);
    });
}

int tav_sim_set_virtual_time(tav_board* board, int enabled)
{
    return OnBoard(board, [&](BoardLink&) {
        if (board->SimulatedModel() == nullptr)
            return TAV_E_NOT_VIRTUAL;
        board->SimulatedModel()->UseVirtualTime(enabled != 0);
        return TAV_OK;
    });
}

namespace {

int WriteWaveform(const tav_board* board, const char* path, std::string (*render)(const tavmodel::BoardModel&,
                                                                                    const tavmodel::WaveformOptions&))
{
    if (path == nullptr)
        return TAV_E_INVALID;
    return OnBoard(const_cast<tav_board*>(board), [&](BoardLink&) {
        if (board->SimulatedModel() == nullptr)
            return TAV_E_NOT_VIRTUAL;
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << render(*board->SimulatedModel(), tavmodel::WaveformOptions{});
        file.close();
        return file ? TAV_OK : static_cast<int>(RESULT_IO_FAILED);
    });
}

} // namespace

int tav_sim_write_vcd(const tav_board* board, const char* path)
{
    return WriteWaveform(board, path, tavmodel::RenderVcd);
}

int tav_sim_write_svg(const tav_board* board, const char* path)
{
    return WriteWaveform(board, path, tavmodel::RenderSvg);
}

int tav_sim_advance(tav_board* board, uint64_t nanoseconds)
{
    return OnBoard(board, [&](BoardLink&) {
        if (board->SimulatedModel() == nullptr)
            return TAV_E_NOT_VIRTUAL;
        board->SimulatedModel()->Advance(nanoseconds);
        return TAV_OK;
    });
}

} // extern "C"

namespace {

// A virtual board's call: TAV_E_INVALID for NULL, TAV_E_NOT_VIRTUAL for a
// real board. Not an operation on the link: unplugging needs no lock of the
// board's, and must not wait behind a call that waits for a transfer.
template <typename Action>
int OnSimulated(const tav_board* board, Action action)
{
    if (board == nullptr)
        return TAV_E_INVALID;
    if (board->simulated == nullptr)
        return TAV_E_NOT_VIRTUAL;
    return action(*board->simulated);
}

// A reattach: board's thread looks at its board at once.
void LookNow(tav_board* board)
{
    {
        std::lock_guard<std::mutex> lock(board->healerMutex);
        board->healerLookNow = true;
    }
    board->healerWake.notify_all();
}

// A pin's level on the wire in a state of the board's history.
struct PinLevel {
    int level;
    double frequencyHz;
    uint32_t dutyCounts;
    uint32_t periodCounts;
    bool operator!=(const PinLevel& other) const
    {
        return level != other.level || frequencyHz != other.frequencyHz || dutyCounts != other.dutyCounts
               || periodCounts != other.periodCounts;
    }
};

PinLevel LevelOf(const tavmodel::PinStatus& status)
{
    switch (status.function) {
    case tavmodel::PinFunction::OutputHigh: return {1, 0, 0, 0};
    case tavmodel::PinFunction::OutputLow: return {0, 0, 0, 0};
    case tavmodel::PinFunction::Pwm:
        if (status.dutyCounts == 0)
            return {0, 0, 0, 0};
        if (status.dutyCounts >= status.periodCounts)
            return {1, 0, 0, 0};
        return {TAV_SIM_PWM, status.frequencyHz, status.dutyCounts, status.periodCounts};
    default: return {TAV_SIM_NOT_DRIVEN, 0, 0, 0};
    }
}

} // namespace

extern "C" {

int tav_sim_unplug(tav_board* board)
{
    return OnSimulated(board, [board](SimulatedBoard& simulated) {
        simulated.Unplug();
        if (board->reattach != ReattachPolicy::Off) {
            // The object knows at once (tav_connected says 0 when this
            // returns); its thread tells the callback and waits for the plug.
            {
                std::lock_guard<LibraryMutex> lock(board->link.mutex);
                ReleaseDevice(board->link);
            }
            LookNow(board);
        }
        return TAV_OK;
    });
}

int tav_sim_plug(tav_board* board)
{
    return OnSimulated(board, [board](SimulatedBoard& simulated) {
        simulated.Plug();
        if (board->reattach != ReattachPolicy::Off)
            LookNow(board);
        return TAV_OK;
    });
}

int tav_sim_fail(tav_board* board, int kind, unsigned after_records)
{
    constexpr SimulatedFault FAULTS[] = {SimulatedFault::Timeout, SimulatedFault::Stall, SimulatedFault::ShortWrite,
                                         SimulatedFault::Unplug};
    static_assert(TAV_SIM_TIMEOUT == 1 && TAV_SIM_UNPLUG == 4, "tav_sim_fail's kinds index FAULTS from 1");
    if (kind < TAV_SIM_TIMEOUT || kind > TAV_SIM_UNPLUG || after_records < 1 || after_records > 0x7FFFFFFFu)
        return board == nullptr ? TAV_E_INVALID : board->simulated == nullptr ? TAV_E_NOT_VIRTUAL : TAV_E_INVALID;
    return OnSimulated(board, [&](SimulatedBoard& simulated) {
        simulated.Fail(FAULTS[kind - 1], static_cast<int>(after_records));
        return TAV_OK;
    });
}

int tav_sim_edges(const tav_board* board, uint32_t pin, tav_sim_edge* edges, size_t capacity)
{
    if (board == nullptr || (edges == nullptr && capacity > 0))
        return TAV_E_INVALID;
    if (board->simulated == nullptr)
        return TAV_E_NOT_VIRTUAL;
    if (PinMapRowIndex(pin) < 0)
        return TAV_BAD_PIN;
    // Under the board's lock: the model changes as records arrive.
    return OnBoard(const_cast<tav_board*>(board), [&](BoardLink&) {
        const tavmodel::BoardModel& model = board->simulated->Model();
        const std::vector<tavmodel::StateAt>& history = model.History();
        PinLevel before = LevelOf(tavmodel::BoardView(model, history.front().state).Pin(pin));
        size_t count = 0;
        for (size_t index = 1; index < history.size(); ++index) {
            const PinLevel now = LevelOf(tavmodel::BoardView(model, history[index].state).Pin(pin));
            if (!(now != before))
                continue;
            if (count < capacity)
                edges[count] = tav_sim_edge{history[index].timeNs, now.level};
            ++count;
            before = now;
        }
        return static_cast<int>(count);
    });
}

} // extern "C"
