// The board of a "sim:" selector: a virtual bus of its own with one board.
#include "usb/simulated_board.h"

#include <new>

#include "virtual_board.h"

namespace tavsim {

namespace {

class BusWithOneBoard : public TAVDll::SimulatedBoard {
public:
    explicit BusWithOneBoard(char modelLetter) : bus_(VirtualUsb::Install::No)
    {
        bus_.SetLogging(false);
        board_ = &bus_.AddBoard(modelLetter).Board();
        board_->SetKeepReceived(false);
    }
    const TAVDll::UsbBackend& Backend() const override { return bus_.Backend(); }
    tavmodel::BoardModel& Model() override { return *board_; }

private:
    VirtualUsb bus_;
    VirtualBoard* board_ = nullptr;
};

} // namespace

} // namespace tavsim

std::unique_ptr<TAVDll::SimulatedBoard> TAVDll::MakeSimulatedBoard(char modelLetter)
{
    try {
        return std::make_unique<tavsim::BusWithOneBoard>(modelLetter);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
