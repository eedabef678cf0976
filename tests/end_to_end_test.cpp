// Typical applications, written against the public header only, on the
// virtual bus.
#include <gtest/gtest.h>

#include <cstring>

#include "TAVLib.h"
#include "board_fixture.h"
#include "model/board_view.h"
#include "virtual_usb.h"

using TAVDll::TAVLib;

namespace {

class EndToEnd : public tavtest::BoardTest {};

// The shape of most applications: open, bring up, identify, drive, close.
int RunApplication(char* version, int versionSize)
{
    TAVLib::Initial();
    if (TAVLib::Open() == nullptr)
        return 100;
    if (TAVLib::InitTav(0) != TAVDll::RESULT_OK)
        return 101;
    if (TAVLib::RequestBoardInfo() != TAVDll::RESULT_OK)
        return 102;
    TAVLib::GetVersion(version, versionSize);
    if (TAVLib::Pin_DirOutput(TAVDll::PIN_BANK_4 | 0x30) != 0 || TAVLib::Pin_Set(TAVDll::PIN_BANK_4 | 0x10) != 0
        || TAVLib::Pin_Reset(TAVDll::PIN_BANK_4 | 0x20) != 0)
        return 103;
    unsigned int max = 0;
    if (TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV2, 0, 9000, 18000, 27000, &max) != 0 || max != 36000)
        return 104;
    if (TAVLib::UpdatePWMB(1, max / 2) != 0)
        return 105;
    TAVLib::Close();
    return 0;
}

TEST_F(EndToEnd, OpenBringUpDriveAndClose)
{
    tavsim::VirtualBoard& board = usb.AddBoard('S', {3, 1, 4, 1}).Board();
    char version[16] = {};
    EXPECT_EQ(RunApplication(version, sizeof version), 0);
    // Closed into the safe state: nothing driven, debug port back, timers off.
    for (const tavmodel::BoardPinRow& row : tavmodel::BoardView(board).Rows()) {
        const tavmodel::PinFunction function = row.status.function;
        EXPECT_TRUE(function == tavmodel::PinFunction::FloatingInput || function == tavmodel::PinFunction::DebugPort)
            << row.name << ": " << row.status.Describe();
    }
    EXPECT_EQ(board.State().debugPort, tavmodel::DebugPort::FullSwj);
    EXPECT_EQ(board.State().apb1Enabled | board.State().apb2Enabled, 0u);
    EXPECT_EQ(board.State().startCount, 1);
    EXPECT_TRUE(board.Rejected().empty());
    EXPECT_STREQ(version, "3.1.4.1");
    EXPECT_EQ(TAVLib::GetType(), TAVDll::BOARD_S);
    // 61 + request + 2 pin dirs + set + reset + 17 + 1 + 60 from Close.
    EXPECT_EQ(usb.DeliveredRecords().size(), 61u + 1 + 2 + 1 + 1 + 17 + 1 + 60);
    EXPECT_EQ(usb.OpenHandleCount(), 0);
}

TEST_F(EndToEnd, UnpluggedHalfWayThenPluggedBackIn)
{
    tavsim::VirtualDevice& board = usb.AddBoard('T', {1, 0, 0, 0});
    board.UnplugAtWrite(70);
    char version[16] = {};
    // The pins go out around write 63: the PWM set-up fails part-way, and
    // the library lets go of the board, so later calls say "no board open".
    EXPECT_EQ(RunApplication(version, sizeof version), 104);
    EXPECT_EQ(usb.OpenHandleCount(), 0);
    EXPECT_EQ(TAVLib::Pin_Set(TAVDll::PIN_BANK_4 | 1), TAVDll::RESULT_NOT_OPEN);
    EXPECT_EQ(TAVLib::RequestBoardInfo(), TAVDll::RESULT_NOT_OPEN);
    EXPECT_EQ(TAVLib::Close(), 0);

    // Open() alone hands back no dead handle; while it is away nothing can be
    // opened; back in, the whole application runs again.
    EXPECT_EQ(TAVLib::Open(), nullptr);
    TAVLib::Initial();
    EXPECT_EQ(TAVLib::Open(), nullptr);
    board.Plug();
    usb.ClearLog();
    EXPECT_EQ(RunApplication(version, sizeof version), 0);
    EXPECT_STREQ(version, "1.0.0.0");
    EXPECT_EQ(usb.OpenHandleCount(), 0);
}

} // namespace
