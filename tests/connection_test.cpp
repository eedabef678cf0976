// Finding, opening and releasing the board; the process-wide state.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "board_fixture.h"
#include "link/board_link.h"
#include "link/device_node.h"

using TAVDll::TAVLib;
using tavsim::UsbCall;

namespace {

class Connection : public tavtest::DebugOutputTest {};

TEST_F(Connection, OpenFindsTheBoardConfiguresAndClaims)
{
    tavsim::VirtualDevice& board = usb.AddBoard();
    TAVLib::Initial();
    usb_dev_handle* handle = nullptr;
    const std::string debug = tavtest::CaptureStderr([&] { handle = TAVLib::Open(); });
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(debug, "open good\n");
    EXPECT_EQ(board.Configuration(), 1);
    EXPECT_TRUE(board.InterfaceClaimed());

    // usb_init, find busses, find devices, then the walk and the three opening calls.
    const auto& calls = usb.Calls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[0].call, UsbCall::Init);
    EXPECT_EQ(calls[1].call, UsbCall::FindBusses);
    EXPECT_EQ(calls[2].call, UsbCall::FindDevices);
    EXPECT_EQ(calls[3].call, UsbCall::GetBusses);
    EXPECT_EQ(calls[4].call, UsbCall::Open);
    EXPECT_EQ(calls[5].call, UsbCall::SetConfiguration);
    EXPECT_EQ(calls[5].argument, 1);
    EXPECT_EQ(calls[6].call, UsbCall::ClaimInterface);
    EXPECT_EQ(calls[6].argument, 0);
}

TEST_F(Connection, SecondOpenReturnsTheSameHandleSilently)
{
    usb.AddBoard();
    TAVLib::Initial();
    usb_dev_handle* first = TAVLib::Open();
    usb.ClearLog();
    usb_dev_handle* second = nullptr;
    usb_dev_handle* other = nullptr;
    const std::string debug = tavtest::CaptureStderr([&] {
        second = TAVLib::Open();
        other = TAVLib::Open(0x1234, 0x5678);
    });
    EXPECT_EQ(second, first);
    EXPECT_EQ(other, first);
    EXPECT_EQ(debug, "");
    EXPECT_TRUE(usb.Calls().empty());
}

TEST_F(Connection, FirstMatchInBusThenDeviceOrderIsOpened)
{
    usb.AddDevice(0, 0x1111, 0x2222, nullptr);
    tavsim::VirtualDevice& wanted = usb.AddBoard('T', {1, 0, 0, 0}, 1);
    tavsim::VirtualDevice& later = usb.AddBoard('T', {1, 0, 0, 0}, 1);
    tavsim::VirtualDevice& lastBus = usb.AddBoard('T', {1, 0, 0, 0}, 2);
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    EXPECT_TRUE(wanted.InterfaceClaimed());
    EXPECT_FALSE(later.InterfaceClaimed());
    EXPECT_FALSE(lastBus.InterfaceClaimed());
}

TEST_F(Connection, FailingFirstMatchIsNotPassedOver)
{
    usb.AddBoard().FailOpen();
    tavsim::VirtualDevice& second = usb.AddBoard();
    TAVLib::Initial();
    usb_dev_handle* handle = reinterpret_cast<usb_dev_handle*>(1);
    const std::string debug = tavtest::CaptureStderr([&] { handle = TAVLib::Open(); });
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(debug, "open good\n");
    EXPECT_FALSE(second.InterfaceClaimed());
    EXPECT_EQ(usb.CountCalls(UsbCall::Open), 1u);
}

TEST_F(Connection, ConfigurationOrClaimFailureClosesTheHandle)
{
    for (int failing = 0; failing < 2; ++failing) {
        tavtest::FreshBoard fresh('T', {1, 0, 0, 0}, false);
        tavsim::VirtualDevice& board = fresh.device;
        if (failing == 0)
            board.FailSetConfiguration();
        else
            board.FailClaim();
        TAVLib::Initial();
        EXPECT_EQ(TAVLib::Open(), nullptr);
        EXPECT_EQ(fresh.bus.OpenHandleCount(), 0);
        EXPECT_EQ(fresh.bus.CountCalls(UsbCall::Close), 1u);
        EXPECT_EQ(TAVLib::Open(static_cast<struct usb_device*>(nullptr)), nullptr);
        unsigned long written = 99;
        uint8_t data[4] = {};
        EXPECT_EQ(TAVLib::WritePipe(data, sizeof data, &written), TAVDll::RESULT_NOT_OPEN);
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(TAVLib::RequestBoardInfo(), TAVDll::RESULT_NOT_OPEN);
    }
}

TEST_F(Connection, NoEnumerationMeansNothingToOpen)
{
    usb.AddBoard();
    EXPECT_EQ(TAVLib::Open(), nullptr);
    EXPECT_EQ(usb.CountCalls(UsbCall::Open), 0u);
}

TEST_F(Connection, IdentifiersAbove16BitsMatchNothing)
{
    usb.AddBoard();
    TAVLib::Initial();
    EXPECT_EQ(TAVLib::Open(0x10000u + 0x4C52u, 0x0101u), nullptr);
    EXPECT_EQ(TAVLib::Open(0x4C52u, 0x10101u), nullptr);
    EXPECT_NE(TAVLib::Open(0x4C52u, 0x0101u), nullptr);
}

TEST_F(Connection, OpenNullDeviceReportsTheCurrentHandle)
{
    usb.AddBoard();
    TAVLib::Initial();
    EXPECT_EQ(TAVLib::Open(static_cast<struct usb_device*>(nullptr)), nullptr);
    usb_dev_handle* handle = TAVLib::Open();
    usb.ClearLog();
    EXPECT_EQ(TAVLib::Open(static_cast<struct usb_device*>(nullptr)), handle);
    EXPECT_TRUE(usb.Calls().empty());
}

TEST_F(Connection, OpenDeviceClosesTheBoardOpenBefore)
{
    tavsim::VirtualDevice& first = usb.AddBoard();
    tavsim::VirtualDevice& second = usb.AddBoard();
    TAVLib::Initial();
    usb_dev_handle* old = TAVLib::Open();
    const std::string debug = tavtest::CaptureStderr([&] { EXPECT_NE(TAVLib::Open(second.Device()), nullptr); });
    EXPECT_EQ(debug, "");
    EXPECT_EQ(usb.OpenHandleCount(), 1);
    EXPECT_FALSE(first.InterfaceClaimed());
    EXPECT_TRUE(second.InterfaceClaimed());
    EXPECT_NE(TAVLib::Open(static_cast<struct usb_device*>(nullptr)), old);

    // The first board can be opened again: nothing kept its interface.
    EXPECT_NE(TAVLib::Open(first.Device()), nullptr);
    EXPECT_TRUE(first.InterfaceClaimed());
    EXPECT_EQ(usb.OpenHandleCount(), 1);
}

TEST_F(Connection, InitialWhileOpenClosesTheHandleAndSendsNothing)
{
    tavsim::VirtualDevice& board = usb.AddBoard();
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    usb.ClearLog();
    TAVLib::Inital();
    EXPECT_EQ(usb.CountCalls(UsbCall::Close), 1u);
    EXPECT_EQ(usb.CountCalls(UsbCall::BulkWrite), 0u);
    EXPECT_EQ(usb.OpenHandleCount(), 0);
    EXPECT_EQ(usb.Calls().front().call, UsbCall::Close);
    EXPECT_EQ(TAVLib::RequestBoardInfo(), TAVDll::RESULT_NOT_OPEN);

    // The same process can open the board again.
    EXPECT_NE(TAVLib::Open(), nullptr);
    EXPECT_TRUE(board.InterfaceClaimed());
}

TEST_F(Connection, BoardAttachedLaterIsFoundAfterInitialOnly)
{
    TAVLib::Initial();
    tavsim::VirtualDevice& board = usb.AddBoard();
    EXPECT_EQ(TAVLib::Open(), nullptr);
    TAVLib::Initial();
    EXPECT_NE(TAVLib::Open(), nullptr);
    EXPECT_TRUE(board.InterfaceClaimed());
}

TEST_F(Connection, UnpluggedBoardLeavesTheListAndComesBack)
{
    tavsim::VirtualDevice& board = usb.AddBoard();
    board.Unplug();
    TAVLib::Initial();
    EXPECT_EQ(TAVLib::Open(), nullptr);
    board.Plug();
    TAVLib::Initial();
    EXPECT_NE(TAVLib::Open(), nullptr);
}

TEST_F(Connection, TimeoutIsZeroBeforeInitialAndFiveSecondsAfter)
{
    tavsim::VirtualDevice& board = usb.AddBoard();
    // An application that enumerated by itself can open before Initial.
    TAVDll::UsbBackend const& backend = usb.Backend();
    backend.findBusses(backend.context);
    backend.findDevices(backend.context);
    ASSERT_NE(TAVLib::Open(board.Device()), nullptr);
    uint8_t data[64] = {};
    TAVLib::WritePipe(data, sizeof data, nullptr);
    TAVLib::Initial();
    TAVLib::Open();
    TAVLib::WritePipe(data, sizeof data, nullptr);
    const auto writes = usb.TransfersTo(tavsim::TAV_ENDPOINT_OUT);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].timeoutMs, 0);
    EXPECT_EQ(writes[1].timeoutMs, 5000);
}

TEST_F(Connection, ReleasingTwiceIsReleasingOnce)
{
    usb.AddBoard();
    TAVLib::Initial();
    TAVLib::Open();
    usb.ClearLog();
    TAVDll::detail::ReleaseDevice(TAVDll::detail::DefaultLink());
    TAVDll::detail::ReleaseDevice(TAVDll::detail::DefaultLink());
    EXPECT_EQ(usb.CountCalls(UsbCall::Close), 1u);
    EXPECT_EQ(usb.Calls().size(), 1u);
    EXPECT_EQ(TAVLib::Open(static_cast<struct usb_device*>(nullptr)), nullptr);
}

TEST_F(Connection, OpenWalksPastOtherDevicesOnTheSameBus)
{
    usb.AddDevice(0, 0x4C52, 0x0102, nullptr); // same vendor, another product
    usb.AddDevice(0, 0x1111, 0x0101, nullptr); // another vendor, same product
    tavsim::VirtualDevice& board = usb.AddBoard();
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    EXPECT_TRUE(board.InterfaceClaimed());
    EXPECT_EQ(usb.CountCalls(UsbCall::Open), 1u);
}

TEST_F(Connection, CloseThenOpenKeepsTheTransferTimeout)
{
    usb.AddBoard();
    TAVLib::Initial();
    ASSERT_NE(TAVLib::Open(), nullptr);
    EXPECT_EQ(TAVLib::Close(), 0);
    ASSERT_NE(TAVLib::Open(), nullptr); // no Initial in between
    usb.ClearLog();
    EXPECT_EQ(TAVLib::Pin_Set(TAVDll::PIN_BANK_4 | 1), 0);
    ASSERT_EQ(usb.Transfers().size(), 1u);
    EXPECT_EQ(usb.Transfers()[0].timeoutMs, 5000);
}

TEST_F(Connection, FailedConfigurationIsNotFollowedByAClaim)
{
    usb.AddBoard().FailSetConfiguration();
    TAVLib::Initial();
    usb.ClearLog();
    EXPECT_EQ(TAVLib::Open(), nullptr);
    std::vector<UsbCall> calls;
    for (const tavsim::CallRecord& record : usb.Calls())
        calls.push_back(record.call);
    EXPECT_EQ(calls, (std::vector<UsbCall>{UsbCall::GetBusses, UsbCall::Open, UsbCall::SetConfiguration, UsbCall::Close}));
}

} // namespace

// dev: selectors: a device node, or a link to one (a udev rule's SYMLINK, which
// udev makes relative to /dev), by its path; nothing else.
TEST(DeviceNode, NodesAndLinksToThemNameTheirBusAndDevice)
{
    unsigned long busNumber = 0;
    unsigned long deviceNumber = 0;
#ifdef _WIN32
    EXPECT_FALSE(TAVDll::detail::UsbDeviceNodeAddress("/dev/bus/usb/001/005", &busNumber, &deviceNumber));
#else
    using TAVDll::detail::UsbDeviceNodeAddress;
    ASSERT_TRUE(UsbDeviceNodeAddress("/dev/bus/usb/001/005", &busNumber, &deviceNumber));
    EXPECT_EQ(busNumber, 1u);
    EXPECT_EQ(deviceNumber, 5u);
    for (const char* notANode : {"/dev/bus/usb/001/005x", "/dev/bus/usb/001/005/", "/dev/bus/usb/000/005",
                                 "/dev/bus/usb/001/000", "/tmp/xbus/usb/001/005", "/dev/bus/usb/1234/005",
                                 "/dev/null", "", "bus/usb/001"})
        EXPECT_FALSE(UsbDeviceNodeAddress(notANode, &busNumber, &deviceNumber)) << notANode;
    EXPECT_FALSE(UsbDeviceNodeAddress(nullptr, &busNumber, &deviceNumber));
    // Links, relative to their own folder as udev makes them, and chained.
    char folder[] = "/tmp/tav-device-node-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string base = folder;
    ASSERT_EQ(mkdir((base + "/dev").c_str(), 0700), 0);
    ASSERT_EQ(symlink("bus/usb/003/017", (base + "/dev/tav-bench-3").c_str()), 0);
    ASSERT_EQ(symlink("dev/tav-bench-3", (base + "/bench").c_str()), 0);
    ASSERT_EQ(symlink("/dev/bus/usb/002/009", (base + "/absolute").c_str()), 0);
    ASSERT_TRUE(UsbDeviceNodeAddress((base + "/dev/tav-bench-3").c_str(), &busNumber, &deviceNumber));
    EXPECT_EQ(busNumber, 3u);
    EXPECT_EQ(deviceNumber, 17u);
    ASSERT_TRUE(UsbDeviceNodeAddress((base + "/bench").c_str(), &busNumber, &deviceNumber));
    EXPECT_EQ(busNumber, 3u);
    EXPECT_EQ(deviceNumber, 17u);
    ASSERT_TRUE(UsbDeviceNodeAddress((base + "/absolute").c_str(), &busNumber, &deviceNumber));
    EXPECT_EQ(busNumber, 2u);
    EXPECT_EQ(deviceNumber, 9u);
    // A link to what is no node, and a loop, are no selectors.
    ASSERT_EQ(symlink("../etc/passwd", (base + "/dev/other").c_str()), 0);
    EXPECT_FALSE(UsbDeviceNodeAddress((base + "/dev/other").c_str(), &busNumber, &deviceNumber));
    ASSERT_EQ(symlink("loop", (base + "/loop").c_str()), 0);
    EXPECT_FALSE(UsbDeviceNodeAddress((base + "/loop").c_str(), &busNumber, &deviceNumber));
    for (const char* name : {"/dev/tav-bench-3", "/dev/other", "/bench", "/absolute", "/loop"})
        unlink((base + name).c_str());
    rmdir((base + "/dev").c_str());
    rmdir(base.c_str());
#endif
}
