// The board's original interface: the 35 static functions of TAVLib, each
// a thin call onto the same core as the board objects, on the process's
// default board (its lock held throughout, as every board object's calls).
#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>

#include "board/board_control.h"
#include "link/board_info.h"
#include "link/board_link.h"
#include "link/debug_print.h"
#include "link/selector.h"
#include "link/transport.h"
#include "pins/pin_map.h"
#include "pins/pin_operations.h"
#include "pwm/pwm_operations.h"
#include "trace/record_trace.h"
#include "capi/simulated_board.h"

namespace TAVDll {

using namespace detail;

namespace {

template <PinAction action>
int DefaultPinOperation(uint32_t pins, int value = 0)
{
    return OnDefaultBoard([=](BoardLink& link) { return PinOperation<action>(link, pins, value); });
}

int DefaultInitPwm(uint32_t timerIndex, PWM_Frequency frequency, const uint32_t (&duties)[4], unsigned int* max)
{
    return OnDefaultBoard([&](BoardLink& link) { return InitPwmGroup(link, timerIndex, frequency, duties, max); });
}

int DefaultUpdatePwm(uint32_t timerIndex, unsigned int channel, unsigned int duty)
{
    return OnDefaultBoard([=](BoardLink& link) { return UpdatePwm(link, timerIndex, channel, duty); });
}

// TAV_TRACE's trace of the default board, from Open to Close (its lock held).
std::unique_ptr<RecordTrace>& DefaultTrace()
{
    static std::unique_ptr<RecordTrace> trace;
    return trace;
}

void TraceOut(void* user, const uint8_t* bytes, int length, int result)
{
    static_cast<RecordTrace*>(user)->Out(bytes, length, result);
}

void TraceIn(void* user, const uint8_t* bytes, int length, int result)
{
    static_cast<RecordTrace*>(user)->In(bytes, length, result);
}

void TraceOperationEnd(void* user)
{
    static_cast<RecordTrace*>(user)->EndOperation();
}

usb_dev_handle* StartDefaultTrace(BoardLink& link, usb_dev_handle* opened)
{
    std::unique_ptr<RecordTrace>& trace = DefaultTrace();
    if (opened == nullptr || link.observer == TraceOut)
        return opened;
    std::unique_ptr<RecordTrace> started = RecordTrace::Start(ModelLetter(link.boardType), link.versionText, nullptr);
    if (started == nullptr)
        return opened;
    trace = std::move(started);
    link.observer = TraceOut;
    link.replyObserver = TraceIn;
    link.operationObserver = TraceOperationEnd;
    link.observerUser = trace.get();
    return opened;
}

void FinishDefaultTrace(BoardLink& link)
{
    if (link.observer == TraceOut) {
        link.observer = nullptr;
        link.replyObserver = nullptr;
        link.operationObserver = nullptr;
        link.observerUser = nullptr;
    }
    DefaultTrace().reset();
}
// TAV_DEVICE for the default board: the selector its Open() means, when
// TAV_DEVICE names one (sim:, usb:, port:, or queued: before them).
bool DefaultDeviceSelector(Selector* selector)
{
    Selector parsed;
    if (!ApplyDefaultSelector(&parsed))
        return false;
    *selector = parsed;
    return parsed.kind != Selector::Kind::FirstBoard || parsed.queued;
}

// The virtual board of TAV_DEVICE=sim:M behind the default board: one per
// model, for the process.
const UsbBackend* VirtualDefaultBus(char modelLetter)
{
    static std::mutex mutex;
    static std::unique_ptr<SimulatedBoard> busses[BOARD_MODEL_COUNT];
    const int index = std::max(ModelIndex(modelLetter), 0);
    std::lock_guard<std::mutex> lock(mutex);
    if (!busses[index]) {
        busses[index] = MakeSimulatedBoard(modelLetter);
        if (!busses[index])
            return nullptr;
    }
    return &busses[index]->Backend();
}

// TAV_DEVICE=sim:M puts the default board on its virtual bus, and any
// TAV_DEVICE with queued: queues its records.
void UseDefaultDevice(BoardLink& link, const Selector& selector)
{
    link.queued = selector.queued;
    if (selector.kind == Selector::Kind::Virtual && !BoardOpen(link)) {
        if (const UsbBackend* bus = VirtualDefaultBus(selector.modelLetter))
            link.usb = bus;
    }
}

} // namespace

// ---- Finding and opening the board -----------------------------------------

void TAVLib::Initial()
{
    OnDefaultBoard([](BoardLink& link) {
        Selector selector;
        if (DefaultDeviceSelector(&selector))
            UseDefaultDevice(link, selector);
        Enumerate(link);
    });
}

void TAVLib::Inital()
{
    Initial();
}

usb_dev_handle* TAVLib::Open(unsigned int vendorId, unsigned int productId)
{
    return OnDefaultBoard([=](BoardLink& link) {
        usb_dev_handle* opened = StartDefaultTrace(link, OpenFirstMatch(link, vendorId, productId));
        const char* why = opened == nullptr && link.usb == SystemUsbBackend() ? StaticOpenProblem() : nullptr;
        if (why != nullptr)
            DebugPrint("open failed: %s", why);
        return opened;
    });
}

usb_dev_handle* TAVLib::Open(struct usb_device* device)
{
    return OnDefaultBoard([=](BoardLink& link) { return StartDefaultTrace(link, OpenDevice(link, device)); });
}

usb_dev_handle* TAVLib::Open()
{
    Selector selector;
    if (!DefaultDeviceSelector(&selector))
        return Open(BOARD_VENDOR_ID, BOARD_PRODUCT_ID);
    // TAV_DEVICE names the board: a virtual one, or one by address or port
    // (looked for on the bus as it is now).
    return OnDefaultBoard([&](BoardLink& link) -> usb_dev_handle* {
        UseDefaultDevice(link, selector);
        if (selector.kind == Selector::Kind::Virtual) {
            if (!BoardOpen(link)) {
                std::lock_guard<LibraryMutex> discovery(DiscoveryMutex());
                RefreshBusList(*link.usb);
            }
            return StartDefaultTrace(link, OpenFirstMatch(link, BOARD_VENDOR_ID, BOARD_PRODUCT_ID));
        }
        if (BoardOpen(link))
            return link.deviceHandle;
        const int32_t timeoutMs = link.timeoutMs;
        const UsbBackend* backends[BUS_BACKEND_LIMIT];
        const int backendCount = BusBackends(selector.queued, backends);
        usb_dev_handle* opened =
            OpenSelectedDevice(link, selector, backends, backendCount) == RESULT_OK ? link.deviceHandle : nullptr;
        link.timeoutMs = timeoutMs; // Open() keeps the time-out Initial() set (0 without it)
        return StartDefaultTrace(link, opened);
    });
}

// ---- Board information -----------------------------------------------------

int TAVLib::RequestBoardInfo()
{
    return OnDefaultBoard([](BoardLink& link) {
        const int result = detail::RequestBoardInfo(link);
        if (result == RESULT_OK && DefaultTrace() != nullptr)
            DefaultTrace()->SetModel(ModelLetter(link.boardType));
        return result;
    });
}

BoardType TAVLib::GetType()
{
    return OnDefaultBoard([](BoardLink& link) { return link.boardType; });
}

int TAVLib::GetVersion(char* buffer, int size)
{
    if (buffer == nullptr || size <= 0)
        return RESULT_OK;
    return OnDefaultBoard([&](BoardLink& link) {
        std::snprintf(buffer, static_cast<size_t>(size), "%s", link.versionText);
        return RESULT_OK;
    });
}

// ---- Board control ---------------------------------------------------------

int TAVLib::InitTav(unsigned int startupValue)
{
    return OnDefaultBoard([=](BoardLink& link) { return detail::InitTav(link, startupValue); });
}

int TAVLib::DisableAll()
{
    return OnDefaultBoard([](BoardLink& link) { return detail::DisableAll(link); });
}

short TAVLib::Close()
{
    OnDefaultBoard([](BoardLink& link) {
        CloseBoard(link);
        FinishDefaultTrace(link);
    });
    return RESULT_OK;
}

int TAVLib::WaitStandby()
{
    return RESULT_OK;
}

int TAVLib::EnableADC()
{
    return OnDefaultBoard([](BoardLink& link) { return BoardOpen(link) ? RESULT_OK : RESULT_NOT_OPEN; });
}

int TAVLib::DisableADC()
{
    return EnableADC();
}

// ---- Pin identifiers -------------------------------------------------------

int TAVLib::VerifyPORT(unsigned int pins)
{
    return detail::KnownPinBank(pins) ? 1 : 0;
}

// ---- Pins ------------------------------------------------------------------

int TAVLib::Pin_DirOutput(unsigned int pins)
{
    return DefaultPinOperation<PinAction::DirOutput>(pins);
}

int TAVLib::Pin_DirInput(unsigned int pins)
{
    return DefaultPinOperation<PinAction::DirInput>(pins);
}

int TAVLib::Pin_Floating(unsigned int pins)
{
    return DefaultPinOperation<PinAction::Floating>(pins);
}

int TAVLib::Pin_Set(unsigned int pins)
{
    return DefaultPinOperation<PinAction::Set>(pins);
}

int TAVLib::Pin_Reset(unsigned int pins)
{
    return DefaultPinOperation<PinAction::Reset>(pins);
}

int TAVLib::Pin_Write(unsigned int pins, int value)
{
    return DefaultPinOperation<PinAction::Write>(pins, value);
}

// ---- PWM -------------------------------------------------------------------

int TAVLib::InitPWMA(PWM_Frequency frequency, unsigned int duty1)
{
    return InitPWMA(frequency, duty1, 0, 0);
}

int TAVLib::InitPWMA(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2)
{
    return InitPWMA(frequency, duty1, duty2, 0);
}

int TAVLib::InitPWMA(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3)
{
    unsigned int fullScale = 0;
    return InitPWMA(frequency, duty1, duty2, duty3, &fullScale);
}

int TAVLib::InitPWMA(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3,
                     unsigned int* max)
{
    return DefaultInitPwm(0, frequency, {duty1, duty2, duty3, 0}, max);
}

int TAVLib::InitPWMB(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3,
                     unsigned int duty4, unsigned int* max)
{
    return DefaultInitPwm(1, frequency, {duty1, duty2, duty3, duty4}, max);
}

int TAVLib::InitPWMC(PWM_Frequency frequency, unsigned int duty1, unsigned int duty2, unsigned int duty3,
                     unsigned int duty4, unsigned int* max)
{
    return DefaultInitPwm(2, frequency, {duty1, duty2, duty3, duty4}, max);
}

int TAVLib::UpdatePWMA(unsigned int channel, unsigned int duty)
{
    return DefaultUpdatePwm(0, channel, duty);
}

int TAVLib::UpdatePWMB(unsigned int channel, unsigned int duty)
{
    return DefaultUpdatePwm(1, channel, duty);
}

int TAVLib::UpdatePWMC(unsigned int channel, unsigned int duty)
{
    return DefaultUpdatePwm(2, channel, duty);
}

int TAVLib::DisablePWM()
{
    return OnDefaultBoard([](BoardLink& link) { return DisablePwm(link); });
}

// ---- Records and raw transfers ---------------------------------------------

short TAVLib::WritePipe(void* buffer, unsigned long length, unsigned long* written)
{
    unsigned long moved = 0;
    const short result = OnDefaultBoard([&](BoardLink& link) { return WriteOut(link, buffer, length, &moved); });
    if (written != nullptr)
        *written = moved;
    return result;
}

short TAVLib::ReadPipe(void* buffer, unsigned long length)
{
    return OnDefaultBoard([&](BoardLink& link) { return ReadIn(link, buffer, length); });
}

void TAVLib::AddCommand(_INSTRUCTION_INFO_ instruction)
{
    OnDefaultBoard([&](BoardLink& link) { return SubmitRecord(link, instruction); });
}

void TAVLib::AddCommands(_INSTRUCTION_INFO_* instructions, int count)
{
    OnDefaultBoard([&](BoardLink& link) { return SubmitRecords(link, instructions, count); });
}

} // namespace TAVDll
