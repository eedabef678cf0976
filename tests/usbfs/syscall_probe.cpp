// Sends N records to an emulated board, either through libtav (AddCommand)
// or straight through libusb 0.1 (usb_bulk_write), so that strace can show
// what the library adds per record on top of libusb. See count_syscalls.sh.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TAVLib.h"
#include "emulated_usb.h"

int main(int argc, char** argv)
{
    if (argc != 3 || !tavtest::InMockEnvironment()) {
        std::fprintf(stderr, "usage: umockdev-wrapper %s library|libusb COUNT\n", argv[0]);
        return 2;
    }
    const bool throughLibrary = std::strcmp(argv[1], "library") == 0;
    const long count = std::strtol(argv[2], nullptr, 10);
    tavtest::EmulatedBus bus;
    tavtest::EmulatedBoard& board = bus.AddBoard(2);
    board.Board().SetKeepReceived(false);
    TAVDll::TAVLib::Initial();
    usb_dev_handle* handle = TAVDll::TAVLib::Open();
    if (handle == nullptr)
        return 1;
    TAVDll::_INSTRUCTION_INFO_ record{};
    record.instructionClass = TAVDll::CLASS_GPIO;
    record.operation = TAVDll::GPIO_OP_SET_BITS;
    record.wordParam[1] = 1;
    for (long index = 0; index < count; ++index) {
        if (throughLibrary)
            TAVDll::TAVLib::AddCommand(record);
        else
            usb_bulk_write(handle, 0x02, reinterpret_cast<const char*>(&record), sizeof record, 5000);
    }
    std::printf("%zu URBs\n", board.Urbs().size());
    TAVDll::TAVLib::Initial(); // releases the handle
    return 0;
}
