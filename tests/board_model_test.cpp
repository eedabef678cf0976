// The board model: effects of the library's operations on the board, the
// debug port, and records the firmware refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "board_fixture.h"
#include "model/record_decoder.h"
#include "model/board_view.h"
#include "waveform/waveform.h"

using TAVDll::TAVLib;
using tavmodel::PinFunction;
using tavmodel::PinStatus;
using tavsim::VirtualBoard;
using tavtest::Wire;

namespace {

constexpr int PA = 0;
constexpr int PB = 1;
constexpr int PC = 2;

// Everything the state holds that a rejected record could disturb.
std::string Snapshot(const VirtualBoard& board)
{
    std::ostringstream out;
    const tavmodel::BoardState& state = board.State();
    for (const tavmodel::GpioPortState& port : state.ports) {
        out << port.outputData << ':';
        for (const tavmodel::GpioPinState& pin : port.pins)
            out << int(pin.mode) << '/' << int(pin.speed) << ' ';
    }
    out << int(state.debugPort) << ' ' << state.apb1Enabled << ' ' << state.apb2Enabled << ' ' << state.startCount;
    for (const tavmodel::TimerState& timer : state.timers) {
        out << '|' << timer.clockEnabled << timer.prescaler << ',' << timer.counterMode << ',' << timer.period << ','
            << timer.clockDivision << ',' << timer.arrPreload << timer.counterEnabled << timer.mainOutputEnabled;
        for (const tavmodel::OutputCompareState& unit : timer.outputCompare)
            out << ';' << unit.mode << ',' << unit.outputEnabled << ',' << unit.pulse << ',' << unit.preload;
    }
    return out.str();
}

class BoardModel : public tavtest::BoardTest {
protected:
    VirtualBoard& Open(char model = 'T')
    {
        VirtualBoard& board = OpenBoard(model).Board();
        return board;
    }
};

TEST_F(BoardModel, AfterInitTavEveryPinFloatsAndEveryTimerIsOff)
{
    VirtualBoard& board = Open('T');
    ASSERT_EQ(TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 100, 200, 300), 0);
    ASSERT_EQ(TAVLib::Pin_DirOutput(TAVDll::PIN_BANK_4 | 0xFF), 0);
    ASSERT_EQ(TAVLib::InitTav(5), 0);
    for (const tavmodel::BoardPinRow& row : tavmodel::BoardView(board).Rows())
        EXPECT_EQ(row.status.function, PinFunction::FloatingInput) << row.name << ": " << row.status.Describe();
    for (const tavmodel::TimerState& timer : board.State().timers) {
        EXPECT_FALSE(timer.clockEnabled);
        EXPECT_FALSE(timer.counterEnabled);
        EXPECT_FALSE(timer.mainOutputEnabled);
    }
    EXPECT_EQ(board.State().debugPort, tavmodel::DebugPort::Disabled);
    EXPECT_EQ(board.State().startCount, 1);
    EXPECT_EQ(board.State().startArgument, 5u);
    EXPECT_TRUE(board.Rejected().empty());
}

TEST_F(BoardModel, GroupBRunsAtOneKilohertzWithItsDuties)
{
    VirtualBoard& board = Open('T');
    unsigned int max = 0;
    ASSERT_EQ(TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV2, 100, 200, 300, 400, &max), 0);
    const uint32_t duties[4] = {100, 200, 300, 400};
    for (int channel = 1; channel <= 4; ++channel) {
        const PinStatus status = tavmodel::BoardView(board).McuPin(PA, channel - 1);
        ASSERT_EQ(status.function, PinFunction::Pwm) << status.Describe();
        EXPECT_EQ(status.timer, 2);
        EXPECT_EQ(status.channel, channel);
        EXPECT_DOUBLE_EQ(status.frequencyHz, 1000.0);
        EXPECT_EQ(status.dutyCounts, duties[channel - 1]);
        EXPECT_EQ(status.periodCounts, 36000u);
        EXPECT_NEAR(status.dutyPercent, duties[channel - 1] / 360.0, 1e-9);
    }
    // On model T the same pins are P8.0-P8.3.
    EXPECT_EQ(tavmodel::BoardView(board).Pin(0x80000008).Describe(), "PWM TIM2 CH4, 1000 Hz, duty 400/36000 (1.11%)");
}

TEST_F(BoardModel, FrequencyHalvesAtEachStep)
{
    VirtualBoard& board = Open('T');
    const double expected[8] = {2000, 1000, 500, 250, 125, 62.5, 31.25, 15.625};
    for (int step = 0; step < 8; ++step) {
        ASSERT_EQ(TAVLib::InitPWMC(static_cast<TAVDll::PWM_Frequency>(step), 1, 2, 3, 4, nullptr), 0);
        EXPECT_DOUBLE_EQ(tavmodel::BoardView(board).McuPin(PB, 1).frequencyHz, expected[step]) << step;
    }
    ASSERT_EQ(TAVLib::InitPWMC(static_cast<TAVDll::PWM_Frequency>(9), 1, 2, 3, 4, nullptr), 0);
    EXPECT_DOUBLE_EQ(tavmodel::BoardView(board).McuPin(PB, 1).frequencyHz, 2000.0);
}

TEST_F(BoardModel, UpdateChangesOnlyItsChannel)
{
    VirtualBoard& board = Open('T');
    ASSERT_EQ(TAVLib::InitPWMC(TAVDll::PWM_FREQ_DIV1, 10, 20, 30, 40, nullptr), 0);
    ASSERT_EQ(TAVLib::UpdatePWMC(1, 18000), 0);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PB, 1).dutyCounts, 18000u); // channel 1: PB1, TIM3_CH4
    EXPECT_DOUBLE_EQ(tavmodel::BoardView(board).McuPin(PB, 1).dutyPercent, 50.0);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PB, 0).dutyCounts, 20u);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PA, 7).dutyCounts, 30u);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PA, 6).dutyCounts, 40u);
    // A duty above the period keeps the pin high all the time.
    ASSERT_EQ(TAVLib::UpdatePWMC(2, 40000), 0);
    EXPECT_DOUBLE_EQ(tavmodel::BoardView(board).McuPin(PB, 0).dutyPercent, 100.0);
}

TEST_F(BoardModel, AnActiveLowOutputIsHighForTheRestOfThePeriod)
{
    VirtualBoard& board = Open('T');
    ASSERT_EQ(TAVLib::InitPWMC(TAVDll::PWM_FREQ_DIV1, 9000, 9000, 9000, 9000, nullptr), 0);
    // TIM_OC4Init of TIM3 (channel 1, PB1): PWM1, output on, pulse 9000, polarity low.
    const Wire activeLow = Wire(0x22, 5).U32(8, 2).U32(12, 0x60).U32(16, 1).U32(24, 9000).U32(28, 2);
    _INSTRUCTION_INFO_ record{};
    std::memcpy(&record, activeLow.bytes.data(), sizeof record);
    TAVLib::AddCommand(record);
    EXPECT_DOUBLE_EQ(tavmodel::BoardView(board).McuPin(PB, 1).dutyPercent, 75.0);
    EXPECT_DOUBLE_EQ(tavmodel::BoardView(board).McuPin(PB, 0).dutyPercent, 25.0);
}

TEST_F(BoardModel, GroupANeedsItsMainOutput)
{
    VirtualBoard& board = Open('T');
    ASSERT_EQ(TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 9000), 0);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PA, 10).Describe(), "PWM TIM1 CH3, 2000 Hz, duty 9000/36000 (25.00%)");
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PA, 8).function, PinFunction::Pwm);

    _INSTRUCTION_INFO_ moeOff{};
    moeOff.instructionClass = TAVDll::CLASS_TIM;
    moeOff.operation = TAVDll::TIM_OP_CTRL_PWM_OUTPUTS;
    TAVLib::AddCommand(moeOff);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PA, 10).Describe(), "not driven: TIM1 main output off");
}

TEST_F(BoardModel, DisablePWMLeavesNothingDriven)
{
    VirtualBoard& board = Open('S');
    ASSERT_EQ(TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV1, 1, 2, 3), 0);
    ASSERT_EQ(TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, 4, nullptr), 0);
    ASSERT_EQ(TAVLib::InitPWMC(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, 4, nullptr), 0);
    ASSERT_EQ(TAVLib::DisablePWM(), 0);
    for (int port = 0; port < 3; ++port)
        for (int pin = 0; pin < 16; ++pin) {
            const PinFunction function = tavmodel::BoardView(board).McuPin(port, pin).function;
            EXPECT_NE(function, PinFunction::Pwm) << port << "/" << pin;
            EXPECT_NE(function, PinFunction::OutputHigh) << port << "/" << pin;
        }
    EXPECT_EQ(board.State().apb1Enabled, 0u);
    EXPECT_EQ(board.State().apb2Enabled, 0u);
}

TEST_F(BoardModel, StoppedTimerOrClosedGateIsNotPwm)
{
    VirtualBoard& board = Open('T');
    ASSERT_EQ(TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, 4, nullptr), 0);
    _INSTRUCTION_INFO_ stop{};
    stop.instructionClass = TAVDll::CLASS_TIM;
    stop.operation = TAVDll::TIM_OP_CMD;
    stop.wordParam[0] = 1;
    TAVLib::AddCommand(stop);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PA, 0).Describe(), "not driven: TIM2 stopped");
    _INSTRUCTION_INFO_ gate{};
    gate.instructionClass = TAVDll::CLASS_RCC;
    gate.operation = TAVDll::RCC_OP_APB1_CLOCK;
    gate.wordParam[0] = 0x1;
    TAVLib::AddCommand(gate);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PA, 0).Describe(), "not driven: TIM2 clock off");
}

TEST_F(BoardModel, PinOperationTakesAPinAwayFromItsTimer)
{
    VirtualBoard& board = Open('T');
    ASSERT_EQ(TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, 4, nullptr), 0);
    ASSERT_EQ(TAVLib::Pin_DirOutput(0x80000001), 0); // PA0 on model T
    ASSERT_EQ(TAVLib::Pin_Set(0x80000001), 0);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PA, 0).function, PinFunction::OutputHigh);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PA, 1).function, PinFunction::Pwm);
}

TEST_F(BoardModel, BoardSPinsFollowItsOwnTable)
{
    VirtualBoard& board = Open('S');
    ASSERT_EQ(TAVLib::InitTav(0), 0);
    ASSERT_EQ(TAVLib::Pin_DirOutput(0x40000401), 0); // P4.0 -> PA13, P4.10 -> PC13
    ASSERT_EQ(TAVLib::Pin_Set(0x40000401), 0);
    ASSERT_EQ(TAVLib::Pin_DirOutput(0x80000800), 0); // P8.11 -> PB0
    ASSERT_EQ(TAVLib::Pin_Reset(0x80000800), 0);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PA, 13).function, PinFunction::OutputHigh);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PC, 13).function, PinFunction::OutputHigh);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PB, 0).function, PinFunction::OutputLow);
    EXPECT_EQ(tavmodel::BoardView(board).Pin(0x40000001).function, PinFunction::OutputHigh);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PB, 10).function, PinFunction::FloatingInput); // P4.10 on model T only
}

TEST_F(BoardModel, DebugPinsFollowGpioOnlyAfterTheRemap)
{
    VirtualBoard& board = Open('T');
    // Without InitTav the debug port still holds PA13-PA15, PB3 and PB4.
    ASSERT_EQ(TAVLib::Pin_DirOutput(0x8000E000), 0); // P8.13-15 -> PA13-PA15
    ASSERT_EQ(TAVLib::Pin_Set(0x8000E000), 0);
    ASSERT_EQ(TAVLib::Pin_DirOutput(0x40000018), 0); // P4.3, P4.4 -> PB3, PB4
    for (int pin : {13, 14, 15})
        EXPECT_EQ(tavmodel::BoardView(board).McuPin(PA, pin).function, PinFunction::DebugPort) << pin;
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PB, 3).function, PinFunction::DebugPort);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PB, 4).function, PinFunction::DebugPort);

    TAVLib::AddCommand(_INSTRUCTION_INFO_{}); // not a remap: rejected, no change
    _INSTRUCTION_INFO_ remap{};
    remap.instructionClass = TAVDll::CLASS_GPIO;
    remap.operation = TAVDll::GPIO_OP_PIN_REMAP;
    remap.wordParam[4] = 0x300400;
    remap.wordParam[7] = 1;
    TAVLib::AddCommand(remap);
    for (int pin : {13, 14, 15})
        EXPECT_EQ(tavmodel::BoardView(board).McuPin(PA, pin).function, PinFunction::OutputHigh) << pin;
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PB, 3).function, PinFunction::OutputLow);

    // Close undoes the remap: the debug port takes the pins back.
    TAVLib::Close();
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PA, 13).function, PinFunction::DebugPort);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PB, 4).function, PinFunction::DebugPort);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PB, 5).function, PinFunction::FloatingInput);
}

TEST_F(BoardModel, EveryKindOfRejectedRecordLeavesTheStateAlone)
{
    VirtualBoard& board = Open('T');
    ASSERT_EQ(TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV1, 1, 2, 3, 4, nullptr), 0);
    ASSERT_EQ(TAVLib::Pin_DirOutput(0x40000001), 0);
    const std::string before = Snapshot(board);
    const std::string viewBefore = tavmodel::BoardView(board).Render();

    struct Case {
        Wire record;
        const char* reason;
    };
    const Case cases[] = {
        {Wire(99, 1), "unknown instruction class 99"},
        {Wire(26, 3).U32(8, 0).U32(12, 1), "unknown GPIO operation 3"},
        {Wire(30, 29).U32(8, 0x800).U8(7, 1), "unknown RCC operation 29"},
        {Wire(34, 6).U32(8, 1), "unknown TIM operation 6"},
        {Wire(2, 2), "unknown board-information operation 2"},
        {Wire(1, 1), "unknown start-up operation 1"},
        {Wire(26, 8).U32(8, 3).U32(12, 1), "port index 3 (only 0-2: GPIOA-GPIOC)"},
        {Wire(26, 9).U32(8, 1).U32(12, 0), "pin mask of zero"},
        {Wire(26, 2).U8(2, 3).U8(3, 0x18).U32(8, 0).U32(12, 0x10000), "pin mask 0x10000 above pin 15"},
        {Wire(26, 2).U8(2, 3).U8(3, 0x33).U32(8, 0).U32(12, 1), "GPIO mode 0x33 unknown"},
        {Wire(26, 2).U8(2, 0).U8(3, 0x10).U32(8, 0).U32(12, 1), "GPIO speed 0 unknown"},
        {Wire(34, 13).U32(8, 3).U32(32, 1), "timer index 3 (only 0-2: TIM1-TIM3)"},
        {Wire(34, 13).U32(8, 1).U32(32, 2), "state 2 (only 0 or 1)"},
        {Wire(34, 37).U32(8, 1).U32(32, 4), "preload code 4 (only 0 or 8)"},
        {Wire(34, 1).U32(8, 1).U32(12, 0x10000), "prescaler 65536 above 16 bits"},
        {Wire(34, 2).U32(8, 1).U32(12, 0x50), "output-compare mode 0x50 unknown"},
        {Wire(30, 31).U32(8, 0).U8(7, 1), "APB1 peripheral mask 0x0 invalid"},
        {Wire(26, 15).U32(24, 0x1234).U32(36, 1), "remap code 0x1234 not supported by this board"},
    };
    for (const Case& entry : cases) {
        _INSTRUCTION_INFO_ record;
        std::memcpy(&record, entry.record.bytes.data(), sizeof record);
        TAVLib::AddCommand(record);
        ASSERT_FALSE(board.Rejected().empty());
        EXPECT_EQ(board.Rejected().back().reason, entry.reason);
    }
    // A short transfer is not a record at all.
    uint8_t half[32] = {26, 8};
    TAVLib::WritePipe(half, sizeof half, nullptr);
    EXPECT_EQ(board.Rejected().back().reason, "record of 32 bytes (a record is 64)");

    EXPECT_EQ(board.Rejected().size(), std::size(cases) + 1);
    EXPECT_EQ(Snapshot(board), before);
    const std::string viewAfter = tavmodel::BoardView(board).Render();
    EXPECT_EQ(viewAfter.substr(0, viewAfter.find("rejected records:")), viewBefore);

    // However many come, only the last REJECTED_LIMIT are kept; the view counts them all.
    const size_t sent = VirtualBoard::REJECTED_LIMIT * 3;
    _INSTRUCTION_INFO_ unknown;
    std::memcpy(&unknown, tavtest::Wire(99, 1).bytes.data(), sizeof unknown);
    for (size_t index = 0; index < sent; ++index)
        TAVLib::AddCommand(unknown);
    EXPECT_EQ(board.Rejected().size(), VirtualBoard::REJECTED_LIMIT);
    EXPECT_EQ(board.RejectedCount(), sent + std::size(cases) + 1);
    EXPECT_NE(tavmodel::BoardView(board).Render().find("rejected records: " + std::to_string(board.RejectedCount())),
              std::string::npos);
}

TEST_F(BoardModel, ViewListsEveryBoardPinAndTheUnreachedOnes)
{
    VirtualBoard& board = Open('T');
    ASSERT_EQ(TAVLib::InitTav(0), 0);
    const std::string view = tavmodel::BoardView(board).Render();
    EXPECT_NE(view.find("timer clock 72 MHz"), std::string::npos);
    EXPECT_NE(view.find("P4.0   0x40000001  PB0   floating input"), std::string::npos) << view;
    EXPECT_NE(view.find("P8.16  0x80010000  PC15  floating input"), std::string::npos) << view;
    const std::string unreached = view.substr(view.find("pins no identifier reaches:"));
    for (const char* pin : {"PA11", "PA12", "PC0", "PC12"})
        EXPECT_NE(unreached.find(pin), std::string::npos) << pin;
    EXPECT_EQ(unreached.find("PB0 "), std::string::npos);
    EXPECT_EQ(tavmodel::BoardView(board).Rows().size(), 33u);

    board.SetModelLetter('C');
    EXPECT_EQ(tavmodel::BoardView(board).Pin(0x40000001).Describe(), "not driven: no mapping on board model C");
    const std::string viewC = tavmodel::BoardView(board).Render();
    EXPECT_NE(viewC.find("P4.0   0x40000001  -     not driven: no mapping on board model C"), std::string::npos);
}

TEST_F(BoardModel, GpioModesAsTheVendorLibrarySetsThem)
{
    VirtualBoard board('T');
    auto execute = [&board](const Wire& record) { board.Execute(record.bytes.data(), record.bytes.size()); };
    const std::pair<uint8_t, PinFunction> modes[] = {
        {0x00, PinFunction::AnalogInput},   {0x04, PinFunction::FloatingInput}, {0x28, PinFunction::PullDownInput},
        {0x48, PinFunction::PullUpInput},   {0x10, PinFunction::OutputHigh},    {0x14, PinFunction::OutputHigh},
        {0x18, PinFunction::NotDriven},     {0x1C, PinFunction::NotDriven},
    };
    for (const auto& [mode, function] : modes) {
        execute(tavtest::GpioSet(PB, 1u << 5));
        execute(tavtest::GpioInit(PB, 1u << 5, mode));
        EXPECT_EQ(tavmodel::BoardView(board).McuPin(PB, 5).function, function) << std::hex << int(mode);
    }
    EXPECT_TRUE(tavmodel::BoardView(board).McuPin(PB, 5).openDrain);
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PB, 5).reason, "alternate function, but no timer channel on this pin");
    // A pull-down clears the output bit, a pull-up sets it.
    execute(tavtest::GpioInit(PB, 1u << 6, 0x28));
    execute(tavtest::GpioInit(PB, 1u << 6, 0x10));
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PB, 6).function, PinFunction::OutputLow);
    execute(tavtest::GpioInit(PB, 1u << 6, 0x48));
    execute(tavtest::GpioInit(PB, 1u << 6, 0x14));
    EXPECT_EQ(tavmodel::BoardView(board).McuPin(PB, 6).function, PinFunction::OutputHigh);
    EXPECT_TRUE(board.Rejected().empty());
}

// A GPIO_Init naming many pins of a port sets each as its own record would:
// the mode everywhere, the speed only for output modes, the pull through the
// output register, and nothing on the pins it does not name.
TEST_F(BoardModel, ManyPinsOfAPortTakeTheirModeAsOneByOne)
{
    const uint8_t modes[] = {0x04, 0x28, 0x48, 0x10, 0x14, 0x18, 0x1C, 0x00};
    const uint32_t masks[] = {0xFFFF, 0x8001, 0x0F0F, 0x1234, 0xF000, 0x0110, 0x7FFE};
    for (const uint8_t speed : {uint8_t{1}, uint8_t{2}}) {
        VirtualBoard together('T');
        VirtualBoard oneByOne('T');
        auto both = [&](const Wire& record) {
            together.Execute(record.bytes.data(), record.bytes.size());
            oneByOne.Execute(record.bytes.data(), record.bytes.size());
        };
        // Every pin an output at 50 MHz with a level, so that a speed or a
        // pull written where it should not be shows.
        both(Wire(26, 2).U8(2, 3).U8(3, 0x10).U32(8, PB).U32(12, 0xFFFF));
        both(tavtest::GpioSet(PB, 0xA5A5));
        // An input mode leaves the speed an output mode set; an output mode
        // sets its own.
        both(Wire(26, 2).U8(2, speed).U8(3, 0x04).U32(8, PB).U32(12, 0x0F0F));
        both(Wire(26, 2).U8(2, speed).U8(3, 0x14).U32(8, PB).U32(12, 0x00FF));
        both(Wire(26, 2).U8(2, speed).U8(3, 0x28).U32(8, PB).U32(12, 1u << 12));
        for (int pin = 0; pin < 16; ++pin) {
            EXPECT_EQ(together.State().ports[PB].pins[pin].speed, pin < 8 ? speed : 3) << pin;
            EXPECT_EQ(together.State().ports[PB].pins[pin].mode, pin < 8 ? 0x14 : pin == 12 ? 0x28 : pin < 12 ? 0x04 : 0x10)
                << pin;
        }
        for (const uint32_t mask : masks) {
            for (const uint8_t mode : modes) {
                const Wire record = Wire(26, 2).U8(2, speed).U8(3, mode).U32(8, PB).U32(12, mask);
                together.Execute(record.bytes.data(), record.bytes.size());
                for (uint32_t pin = 0; pin < 16; ++pin) {
                    if ((mask & (1u << pin)) == 0)
                        continue;
                    const Wire single = Wire(26, 2).U8(2, speed).U8(3, mode).U32(8, PB).U32(12, 1u << pin);
                    oneByOne.Execute(single.bytes.data(), single.bytes.size());
                }
                const tavmodel::GpioPortState& a = together.State().ports[PB];
                const tavmodel::GpioPortState& b = oneByOne.State().ports[PB];
                ASSERT_EQ(a.outputData, b.outputData) << std::hex << mask << " " << int(mode);
                for (int pin = 0; pin < 16; ++pin) {
                    ASSERT_EQ(a.pins[pin].mode, b.pins[pin].mode) << std::hex << mask << " " << int(mode) << " " << pin;
                    ASSERT_EQ(a.pins[pin].speed, b.pins[pin].speed) << std::hex << mask << " " << int(mode) << " " << pin;
                }
            }
        }
        EXPECT_TRUE(together.Rejected().empty());
    }
}

TEST_F(BoardModel, BoardInformationAndStartRecord)
{
    VirtualBoard& board = Open('S');
    ASSERT_EQ(TAVLib::InitTav(258), 0);
    EXPECT_EQ(board.State().startArgument, 258u);
    EXPECT_EQ(board.State().infoRequests, 1); // OpenBoard asked once
    board.SetVersion({9, 8, 7, 6});
    ASSERT_EQ(TAVLib::RequestBoardInfo(), 0);
    char version[16];
    TAVLib::GetVersion(version, sizeof version);
    EXPECT_STREQ(version, "9.8.7.6");
}

TEST(BoardHistory, ACounterStartedAgainCountsFromThen)
{
    VirtualBoard board;
    board.UseVirtualTime(true);
    const auto on = Wire(0x22, 0x0D).U32(8, 1).U32(32, 1).bytes;
    const auto off = Wire(0x22, 0x0D).U32(8, 1).bytes;
    board.Advance(1000);
    board.Execute(on.data(), 64);
    EXPECT_EQ(board.State().timers[1].counterStartNs, 1000u);
    board.Advance(1000);
    board.Execute(on.data(), 64); // already counting: no restart
    EXPECT_EQ(board.State().timers[1].counterStartNs, 1000u);
    board.Execute(off.data(), 64);
    board.Advance(1000);
    board.Execute(on.data(), 64);
    EXPECT_EQ(board.State().timers[1].counterStartNs, 3000u);
}

TEST(BoardHistory, StopsAtItsLimitAndTheWaveformSaysSo)
{
    VirtualBoard board;
    board.UseVirtualTime(true);
    const auto set = Wire(26, 8).U32(8, 1).U32(12, 0x100).bytes;
    const auto reset = Wire(26, 9).U32(8, 1).U32(12, 0x100).bytes;
    for (size_t change = 0; change < VirtualBoard::HISTORY_LIMIT + 10; ++change) {
        board.Advance(1000);
        board.Execute((change % 2 ? reset : set).data(), 64);
    }
    EXPECT_EQ(board.History().size(), VirtualBoard::HISTORY_LIMIT);
    EXPECT_FALSE(board.HistoryComplete());
    EXPECT_NE(tavmodel::RenderVcd(board).find("The board's history was full"), std::string::npos);
    // Changes at one moment keep one entry, the latest state.
    VirtualBoard quick;
    quick.UseVirtualTime(true);
    quick.Execute(set.data(), 64);
    quick.Execute(reset.data(), 64);
    ASSERT_EQ(quick.History().size(), 1u);
    EXPECT_EQ(quick.History().back().state.ports[1].outputData, 0u);
}

} // namespace
