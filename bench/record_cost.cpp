// Instructions per record, for callgrind: runs one operation COUNT times on
// the default board over a USB backend that does nothing (every transfer
// "moves" all its bytes at once; the board says it is a model T), or, as the
// yardstick, hands COUNT prebuilt 64-byte records straight to that backend.
// The c- operations do the same through a C board object, which keeps the
// board's commanded state; the trace- ones with TAV_TRACE writing a record
// log (into TAV_TRACE's file, which the caller names). bench/callgrind_per_record.sh runs it twice per
// operation and divides the difference by the records.
//
//   tav_record_cost [c-|trace-]pin-set-1|[c-]pin-set-16|[c-]init-pwm-b|[c-]init-tav|raw COUNT
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TAVLib.h"
#include "usb/usb_backend.h"
#include "tav/tav.h"

namespace {

usb_bus nullBus{};
struct usb_device nullDevice{};
int handleStorage = 0;

TAVDll::UsbBackend NullBackend()
{
    TAVDll::UsbBackend table{};
    table.init = [](void*) {};
    table.findBusses = [](void*) { return 0; };
    table.findDevices = [](void*) { return 0; };
    table.getBusses = [](void*) { return &nullBus; };
    table.deviceAddress = [](void*, const usb_bus*, const struct usb_device*, unsigned long*, unsigned long*) {
        return false; // no numbers on this bus
    };
    table.open = [](void*, struct usb_device*) { return reinterpret_cast<usb_dev_handle*>(&handleStorage); };
    table.setConfiguration = [](void*, usb_dev_handle*, int) { return 0; };
    table.claimInterface = [](void*, usb_dev_handle*, int) { return 0; };
    table.close = [](void*, usb_dev_handle*) { return 0; };
    table.bulkWrite = [](void*, usb_dev_handle*, int, const char*, int size, int) { return size; };
    table.bulkRead = [](void*, usb_dev_handle*, int, char* bytes, int size, int) {
        std::memset(bytes, 0, static_cast<size_t>(size));
        bytes[0] = 'T'; // the board-information reply: model T, firmware 0.0.0.0
        return size;
    };
    return table;
}

template <typename Call>
void Repeat(long count, Call call)
{
    for (long round = 0; round < count; ++round)
        call();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tav_record_cost pin-set-1|pin-set-16|init-pwm-b|init-tav|raw COUNT\n");
        return 2;
    }
    const char* operation = argv[1];
    const long count = std::strtol(argv[2], nullptr, 10);
    if (std::strncmp(operation, "trace-", 6) == 0) {
        if (std::getenv("TAV_TRACE") == nullptr) {
            std::fprintf(stderr, "trace- operations need TAV_TRACE\n");
            return 2;
        }
        operation += 6;
    } else {
        unsetenv("TAV_TRACE");
    }
    static const TAVDll::UsbBackend backend = NullBackend();
    nullDevice.descriptor.idVendor = 0x4C52;
    nullDevice.descriptor.idProduct = 0x0101;
    nullBus.devices = &nullDevice;
    TAVDll::InstallUsbBackend(&backend);
    TAVDll::TAVLib::Initial();
    if (TAVDll::TAVLib::Open() == nullptr)
        return 1;

    unsigned int max = 0;
    if (std::strncmp(operation, "c-", 2) == 0) {
        tav_board* board = nullptr;
        if (tav_open("", &board) != TAV_OK)
            return 1;
        static const uint32_t duties[4] = {100, 200, 300, 400};
        const char* name = operation + 2;
        // Each call made straight from its loop, as the static ones below.
        if (std::strcmp(name, "pin-set-1") == 0)
            Repeat(count, [board] { tav_pin_set(board, TAVDll::PIN_BANK_4 | 0x100); });
        else if (std::strcmp(name, "pin-set-16") == 0)
            Repeat(count, [board] { tav_pin_set(board, TAVDll::PIN_BANK_4 | 0xFFFF); });
        else if (std::strcmp(name, "init-pwm-b") == 0)
            Repeat(count, [board] { tav_pwm_start(board, 'B', 2, duties, 4); });
        else if (std::strcmp(name, "init-tav") == 0)
            Repeat(count, [board] { tav_init(board, 0); });
        else
            return 2;
        tav_release(board);
    } else if (std::strcmp(operation, "raw") == 0) {
        // The yardstick: the record GPIO_SetBits(GPIOB, pin 8) built and sent,
        // with nothing around it.
        for (long round = 0; round < count; ++round) {
            TAVDll::_INSTRUCTION_INFO_ record;
            std::memset(&record, 0, sizeof record);
            record.instructionClass = TAVDll::CLASS_GPIO;
            record.operation = TAVDll::GPIO_OP_SET_BITS;
            const uint32_t port = 1;
            const uint32_t mask = 0x100;
            std::memcpy(reinterpret_cast<uint8_t*>(&record) + 8, &port, sizeof port);
            std::memcpy(reinterpret_cast<uint8_t*>(&record) + 12, &mask, sizeof mask);
            backend.bulkWrite(backend.context, reinterpret_cast<usb_dev_handle*>(&handleStorage), 0x02,
                              reinterpret_cast<const char*>(&record), sizeof record, 5000);
        }
    } else if (std::strcmp(operation, "pin-set-1") == 0) {
        for (long round = 0; round < count; ++round)
            TAVDll::TAVLib::Pin_Set(TAVDll::PIN_BANK_4 | 0x100);
    } else if (std::strcmp(operation, "pin-set-16") == 0) {
        for (long round = 0; round < count; ++round)
            TAVDll::TAVLib::Pin_Set(TAVDll::PIN_BANK_4 | 0xFFFF);
    } else if (std::strcmp(operation, "init-pwm-b") == 0) {
        for (long round = 0; round < count; ++round)
            TAVDll::TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV2, 100, 200, 300, 400, &max);
    } else if (std::strcmp(operation, "init-tav") == 0) {
        for (long round = 0; round < count; ++round)
            TAVDll::TAVLib::InitTav(0);
    } else {
        std::fprintf(stderr, "unknown operation %s\n", operation);
        return 2;
    }
    return 0;
}
