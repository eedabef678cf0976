// The board of a "sim:" selector: a virtual bus of its own with one board.
#include "capi/simulated_board.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "virtual_board.h"

namespace tavsim {

namespace {

class BusWithOneBoard;

// The virtual boards of the process, for watchers.
struct Registry {
    std::mutex mutex;
    std::vector<const BusWithOneBoard*> boards;
    unsigned lastSerial = 0;
};

Registry& Boards()
{
    static Registry* const registry = new Registry; // boards may outlive static objects
    return *registry;
}

class BusWithOneBoard : public TAVDll::SimulatedBoard {
public:
    explicit BusWithOneBoard(char modelLetter) : bus_(VirtualUsb::Install::No)
    {
        bus_.SetLogging(false);
        device_ = &bus_.AddBoard(modelLetter);
        board_ = &device_->Board();
        board_->SetKeepReceived(false);
        std::lock_guard<std::mutex> lock(Boards().mutex);
        serial_ = ++Boards().lastSerial;
        Boards().boards.push_back(this);
    }
    ~BusWithOneBoard() override { Retire(); }
    void Retire() override
    {
        std::lock_guard<std::mutex> lock(Boards().mutex);
        auto& boards = Boards().boards;
        boards.erase(std::remove(boards.begin(), boards.end(), this), boards.end());
    }
    const TAVDll::UsbBackend& Backend() const override { return bus_.Backend(); }
    tavmodel::BoardModel& Model() override { return *board_; }

    bool Unplug() override
    {
        std::lock_guard<std::mutex> lock(Boards().mutex); // watchers look under it
        if (!bus_.IsPlugged(*device_))
            return false;
        bus_.Unplug(*device_);
        return true;
    }
    bool Plug() override
    {
        std::lock_guard<std::mutex> lock(Boards().mutex);
        if (!bus_.PlugBack(*device_))
            return false;
        ++plugNumber_;
        return true;
    }
    void Fail(TAVDll::SimulatedFault fault, int afterRecords) override
    {
        switch (fault) {
        case TAVDll::SimulatedFault::Timeout: bus_.FailWriteFromNow(*device_, afterRecords, WriteFault::Timeout); break;
        case TAVDll::SimulatedFault::Stall: bus_.FailWriteFromNow(*device_, afterRecords, WriteFault::Stall); break;
        case TAVDll::SimulatedFault::ShortWrite:
            bus_.FailWriteFromNow(*device_, afterRecords, WriteFault::Short, SHORT_WRITE_BYTES);
            break;
        case TAVDll::SimulatedFault::Unplug: bus_.UnplugFromNow(*device_, afterRecords); break;
        }
    }

    // Under the registry's lock.
    TAVDll::SimulatedBoardSighting Sighting() const { return {serial_, plugNumber_, board_->ModelLetter()}; }
    bool Plugged() const { return bus_.IsPlugged(*device_); }

private:
    static constexpr int SHORT_WRITE_BYTES = 32; // half a record arrives
    VirtualUsb bus_;
    VirtualDevice* device_ = nullptr;
    VirtualBoard* board_ = nullptr;
    unsigned serial_ = 0;
    unsigned plugNumber_ = 1;
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

size_t TAVDll::PluggedSimulatedBoards(SimulatedBoardSighting* sightings, size_t capacity)
{
    std::lock_guard<std::mutex> lock(tavsim::Boards().mutex);
    size_t count = 0;
    for (const tavsim::BusWithOneBoard* board : tavsim::Boards().boards) {
        if (!board->Plugged())
            continue;
        if (count < capacity)
            sightings[count] = board->Sighting();
        ++count;
    }
    return count;
}
