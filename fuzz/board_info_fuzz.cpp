// Board-information replies of any length and content, through the virtual
// bus, into RequestBoardInfo, GetType and GetVersion with every buffer size.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/board_link.h"
#include "virtual_usb.h"

namespace {

class ReplyingFunction : public tavsim::UsbFunction {
public:
    ReplyingFunction(const uint8_t* data, size_t size) : reply_(data, data + size) {}
    void OnBulkOut(const uint8_t*, size_t, std::vector<uint8_t>* reply) override { *reply = reply_; }

private:
    std::vector<uint8_t> reply_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TAVDll::detail::ResetDefaultLink();
    {
        tavsim::VirtualUsb usb;
        usb.SetLogging(false);
        usb.AddDevice(0, 0x4C52, 0x0101, std::make_unique<ReplyingFunction>(data, size));
        TAVDll::TAVLib::Initial();
        if (TAVDll::TAVLib::Open() != nullptr) {
            (void)TAVDll::TAVLib::RequestBoardInfo();
            (void)TAVDll::TAVLib::GetType();
            char version[24];
            for (int bufferSize = 0; bufferSize <= static_cast<int>(sizeof version); ++bufferSize)
                TAVDll::TAVLib::GetVersion(version, bufferSize);
        }
        TAVDll::TAVLib::Initial(); // let go of this bus's handle
    }
    TAVDll::detail::ResetDefaultLink();
    return 0;
}
