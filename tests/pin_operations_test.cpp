// Pin operations on the wire: record per pin, order, results and failures.
#include <gtest/gtest.h>

#include <functional>

#include "board_fixture.h"

using TAVDll::TAVLib;
using tavsim::WriteFault;
using tavtest::GpioInit;
using tavtest::GpioReset;
using tavtest::GpioSet;
using tavtest::SameRecords;
using tavtest::Wire;

namespace {

constexpr uint8_t kFloating = 0x04;
constexpr uint8_t kOutput = 0x10;

class PinOperations : public tavtest::DebugOutputTest {};

struct NamedOperation {
    const char* name;
    std::function<int(unsigned int)> run;
};

const std::vector<NamedOperation>& AllOperations()
{
    static const std::vector<NamedOperation> operations = {
        {"Pin_DirOutput", TAVLib::Pin_DirOutput}, {"Pin_DirInput", TAVLib::Pin_DirInput},
        {"Pin_Floating", TAVLib::Pin_Floating},   {"Pin_Set", TAVLib::Pin_Set},
        {"Pin_Reset", TAVLib::Pin_Reset},         {"Pin_Write", [](unsigned int pins) { return TAVLib::Pin_Write(pins, 1); }},
    };
    return operations;
}

TEST_F(PinOperations, OneRecordPerPinInAscendingBitOrder)
{
    OpenBoard('T');
    EXPECT_EQ(TAVLib::Pin_Set(0x40000005), 0);
    EXPECT_TRUE(SameRecords(Sent(), {GpioSet(1, 0x0001), GpioSet(1, 0x0004)}));

    usb.ClearLog();
    EXPECT_EQ(TAVLib::Pin_DirOutput(0x80000801), 0);
    EXPECT_TRUE(SameRecords(Sent(), {GpioInit(0, 0x0001, kOutput), GpioInit(2, 0x2000, kOutput)}));
}

TEST_F(PinOperations, BoardSUsesItsOwnColumn)
{
    OpenBoard('S');
    EXPECT_EQ(TAVLib::Pin_Set(0x40000005), 0);
    EXPECT_EQ(TAVLib::Pin_Reset(0x80000800), 0);
    EXPECT_TRUE(SameRecords(Sent(), {GpioSet(0, 0x2000), GpioSet(0, 0x8000), GpioReset(1, 0x0001)}));
}

TEST_F(PinOperations, WholeBanksGoOutInIdentifierOrder)
{
    struct Case {
        char model;
        unsigned int pins;
        std::vector<std::pair<uint32_t, uint32_t>> portMasks;
    };
    const std::vector<Case> cases = {
        {'T', 0x8001FFFF, {{0, 0x0001}, {0, 0x0002}, {0, 0x0004}, {0, 0x0008}, {0, 0x0010}, {0, 0x0020},
                           {0, 0x0040}, {0, 0x0080}, {0, 0x0100}, {0, 0x0200}, {0, 0x0400}, {2, 0x2000},
                           {2, 0x4000}, {0, 0x2000}, {0, 0x4000}, {0, 0x8000}, {2, 0x8000}}},
        {'S', 0x8001FFFF, {{0, 0x0400}, {0, 0x0200}, {0, 0x0100}, {1, 0x8000}, {1, 0x4000}, {1, 0x2000},
                           {1, 0x1000}, {1, 0x0800}, {1, 0x0400}, {1, 0x0004}, {1, 0x0002}, {1, 0x0001},
                           {0, 0x0080}, {0, 0x0040}, {0, 0x0020}, {0, 0x0010}, {0, 0x0008}}},
        {'T', 0x4000FFFF, {{1, 0x0001}, {1, 0x0002}, {1, 0x0004}, {1, 0x0008}, {1, 0x0010}, {1, 0x0020},
                           {1, 0x0040}, {1, 0x0080}, {1, 0x0100}, {1, 0x0200}, {1, 0x0400}, {1, 0x0800},
                           {1, 0x1000}, {1, 0x2000}, {1, 0x4000}, {1, 0x8000}}},
        {'S', 0x4000FFFF, {{0, 0x2000}, {0, 0x4000}, {0, 0x8000}, {1, 0x0008}, {1, 0x0010}, {1, 0x0020},
                           {1, 0x0040}, {1, 0x0080}, {1, 0x0100}, {1, 0x0200}, {2, 0x2000}, {2, 0x4000},
                           {2, 0x8000}, {0, 0x0001}, {0, 0x0002}, {0, 0x0004}}},
    };
    for (const Case& entry : cases) {
        tavtest::FreshBoard fresh(entry.model);
        EXPECT_EQ(TAVLib::Pin_Floating(entry.pins), 0);
        std::vector<Wire> expected;
        for (const auto& [port, mask] : entry.portMasks)
            expected.push_back(GpioInit(port, mask, kFloating));
        EXPECT_TRUE(SameRecords(fresh.bus.DeliveredRecords(), expected)) << entry.model << std::hex << " " << entry.pins;
    }
}

TEST_F(PinOperations, UnmappedPinStopsTheWalkAfterTheLowerPins)
{
    OpenBoard('T');
    EXPECT_EQ(TAVLib::Pin_Set(0x40010001), 64);
    EXPECT_TRUE(SameRecords(Sent(), {GpioSet(1, 0x0001)}));

    usb.ClearLog();
    std::string debug = tavtest::CaptureStderr([] { EXPECT_EQ(TAVLib::Pin_Floating(0x40010001), 64); });
    EXPECT_EQ(debug, "add failed\n");
    EXPECT_TRUE(SameRecords(Sent(), {GpioInit(1, 0x0001, kFloating)}));

    // Only Pin_Floating writes the debug line.
    debug = tavtest::CaptureStderr([] {
        EXPECT_EQ(TAVLib::Pin_Reset(0x40010001), 64);
        EXPECT_EQ(TAVLib::Pin_DirInput(0x40010001), 64);
        EXPECT_EQ(TAVLib::Pin_DirOutput(0x40010001), 64);
    });
    EXPECT_EQ(debug, "");
}

TEST_F(PinOperations, BankWithoutPinsSendsNothing)
{
    OpenBoard('T');
    for (const NamedOperation& operation : AllOperations()) {
        EXPECT_EQ(operation.run(0x40000000), 0) << operation.name;
        EXPECT_EQ(operation.run(0x80000000), 0) << operation.name;
    }
    EXPECT_TRUE(usb.Calls().empty());
}

TEST_F(PinOperations, RejectedIdentifiersSendNothingWithOrWithoutBoard)
{
    for (int withBoard = 0; withBoard < 2; ++withBoard) {
        tavtest::FreshBoard fresh('T', {1, 0, 0, 0}, withBoard != 0);
        fresh.bus.ClearLog();
        const std::string debug = tavtest::CaptureStderr([] {
            for (const NamedOperation& operation : AllOperations())
                for (unsigned int pins : {0x00000001u, 0xC0000001u, 0x90000000u})
                    EXPECT_EQ(operation.run(pins), 32) << operation.name;
        });
        EXPECT_EQ(debug, "");
        EXPECT_TRUE(fresh.bus.Calls().empty());
    }
}

TEST_F(PinOperations, NoBoardGivesNotOpenWithoutLookup)
{
    usb.AddBoard();
    TAVLib::Initial();
    usb.ClearLog();
    const std::string debug = tavtest::CaptureStderr([] {
        for (const NamedOperation& operation : AllOperations()) {
            EXPECT_EQ(operation.run(0x4000FFFF), 2) << operation.name;
            EXPECT_EQ(operation.run(0x40010000), 2) << operation.name; // would be unmapped
        }
    });
    EXPECT_EQ(debug, "");
    EXPECT_TRUE(usb.Calls().empty());
}

TEST_F(PinOperations, ModelsWithoutMapResolveNoPin)
{
    for (char model : {'C', 'x'}) {
        tavtest::FreshBoard fresh(model);
        std::string debug = tavtest::CaptureStderr([] { EXPECT_EQ(TAVLib::Pin_Set(0x80000001), 64); });
        EXPECT_EQ(debug, "");
        debug = tavtest::CaptureStderr([] { EXPECT_EQ(TAVLib::Pin_Floating(0x80000001), 64); });
        EXPECT_EQ(debug, "add failed\n");
        EXPECT_EQ(TAVLib::Pin_DirInput(0x80000001), 64);
        EXPECT_TRUE(fresh.bus.Calls().empty());
    }
}

TEST_F(PinOperations, PinWriteSetsOnlyForOne)
{
    OpenBoard('T');
    EXPECT_EQ(TAVLib::Pin_Write(0x40000003, 1), 0);
    EXPECT_EQ(TAVLib::Pin_Write(0x40000003, 0), 0);
    EXPECT_EQ(TAVLib::Pin_Write(0x40000001, 2), 0);
    EXPECT_EQ(TAVLib::Pin_Write(0x40000001, -1), 0);
    EXPECT_TRUE(SameRecords(Sent(), {GpioSet(1, 1), GpioSet(1, 2), GpioReset(1, 1), GpioReset(1, 2),
                                     GpioReset(1, 1), GpioReset(1, 1)}));
}

TEST_F(PinOperations, DirInputConfiguresFloatingInputsSilently)
{
    OpenBoard('T');
    const std::string debug = tavtest::CaptureStderr([] { EXPECT_EQ(TAVLib::Pin_DirInput(0x80000003), 0); });
    EXPECT_EQ(debug, "");
    EXPECT_TRUE(SameRecords(Sent(), {GpioInit(0, 1, kFloating), GpioInit(0, 2, kFloating)}));
}

TEST_F(PinOperations, FailedTransferGivesIoFailedAfterEveryPin)
{
    tavsim::VirtualDevice& board = OpenBoard('T');
    board.FailWrite(1, WriteFault::Error);
    EXPECT_EQ(TAVLib::Pin_Set(0x40000007), 4);
    EXPECT_EQ(WriteCount(), 3u);
    EXPECT_TRUE(SameRecords(Sent(), {GpioSet(1, 2), GpioSet(1, 4)}));

    // Short and stalled transfers count as failed too.
    board.FailWrite(4, WriteFault::Short, 63).FailWrite(6, WriteFault::Stall);
    EXPECT_EQ(TAVLib::Pin_DirOutput(0x40000001), 4);
    EXPECT_EQ(TAVLib::Pin_DirOutput(0x40000001), 0);
    EXPECT_EQ(TAVLib::Pin_Floating(0x40000001), 4);

    // An unmapped pin still gives 64, even after a failed record.
    board.FailWrite(7, WriteFault::Error);
    const std::string debug = tavtest::CaptureStderr([] { EXPECT_EQ(TAVLib::Pin_Floating(0x40010001), 64); });
    EXPECT_EQ(debug, "add failed\n");

    // A time-out ends the operation after the failing pin.
    usb.ClearLog();
    board.FailWrite(9, WriteFault::Timeout);
    EXPECT_EQ(TAVLib::Pin_Set(0x40000007), 4);
    EXPECT_TRUE(SameRecords(Sent(), {GpioSet(1, 1)}));
    EXPECT_EQ(usb.Transfers().size(), 2u);

    // An unplugged board: the pins after it are not attempted, and the board is let go.
    usb.ClearLog();
    board.UnplugAtWrite(10);
    EXPECT_EQ(TAVLib::Pin_Reset(0x4000000F), 4);
    EXPECT_EQ(usb.CountCalls(tavsim::UsbCall::BulkWrite), 1u);
    EXPECT_EQ(usb.CountCalls(tavsim::UsbCall::Close), 1u);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(TAVLib::Pin_Reset(0x4000000F), 2);
}

// A walk that a time-out or a vanished board ended says 4, also when a later
// bit names a pin no model has: the bits after the stop are not looked at.
TEST_F(PinOperations, ATimeoutOrAGoneBoardEndsTheWalkBeforeAnUnmappedPin)
{
    tavsim::VirtualDevice& board = OpenBoard('T');
    board.FailWrite(1, WriteFault::Timeout);
    EXPECT_EQ(TAVLib::Pin_Set(0x40010001), 4); // P4.0, then bit 16
    EXPECT_EQ(WriteCount(), 1u);
    board.UnplugAtWrite(2);
    EXPECT_EQ(TAVLib::Pin_Reset(0x40010001), 4);
    EXPECT_EQ(TAVLib::Pin_Reset(0x40010001), 2);
}

TEST_F(PinOperations, BitsAboveTheBanksLastPinHaveNoMapping)
{
    OpenBoard('T');
    EXPECT_EQ(TAVLib::Pin_Set(0x80020000), 64);  // P8.17
    EXPECT_EQ(TAVLib::Pin_Set(0x40010000), 64);  // P4.16
    EXPECT_EQ(TAVLib::Pin_Set(0x48000000), 64);  // bit 27 of bank 4
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(TAVLib::Pin_Set(0x80020001), 64);  // P8.0 goes out first
    EXPECT_TRUE(SameRecords(Sent(), {GpioSet(0, 0x0001)}));
}

} // namespace
