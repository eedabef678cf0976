// Every operation that sends records, with every kind of transfer fault at
// every position: the result, the records attempted and delivered, and
// whether the board is still held. Errors, stalls and short writes leave the
// rest of the operation to be attempted; a time-out ends it; a vanished board
// ends it and is let go. The same sweep runs with the records sent one by
// one and through the bus's queue (also with the queue halting midway, after
// which the rest goes one by one): the expectations are the same. Where the
// two differ on a real bus, behind a time-out (the queue had already handed
// the later records to the bus, which never took them), the usbfs suite
// shows it.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "board_fixture.h"
#include "link/board_link.h"

using TAVDll::TAVLib;
using tavsim::UsbCall;

namespace {

constexpr int NO_RESULT = -1000; // AddCommands reports nothing

struct Operation {
    const char* name;
    std::function<int()> run;
    bool releases; // Close lets go of the board whatever happens
};

const std::vector<Operation>& Operations()
{
    static const std::vector<Operation> operations = {
        {"InitTav", [] { return TAVLib::InitTav(3); }, false},
        {"DisableAll", [] { return TAVLib::DisableAll(); }, false},
        {"Close", [] { return static_cast<int>(TAVLib::Close()); }, true},
        {"InitPWMA", [] { return TAVLib::InitPWMA(TAVDll::PWM_FREQ_DIV2, 1, 2, 3); }, false},
        {"InitPWMB", [] { return TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV4, 1, 2, 3, 4, nullptr); }, false},
        {"InitPWMC", [] { return TAVLib::InitPWMC(TAVDll::PWM_FREQ_DIV8, 1, 2, 3, 4, nullptr); }, false},
        {"UpdatePWMC", [] { return TAVLib::UpdatePWMC(2, 5); }, false},
        {"DisablePWM", [] { return TAVLib::DisablePWM(); }, false},
        {"Pin_Set x16", [] { return TAVLib::Pin_Set(TAVDll::PIN_BANK_4 | 0xFFFF); }, false},
        {"Pin_DirOutput x17", [] { return TAVLib::Pin_DirOutput(TAVDll::PIN_BANK_8 | 0x1FFFF); }, false},
        {"AddCommands x5", [] {
             _INSTRUCTION_INFO_ records[5] = {};
             for (_INSTRUCTION_INFO_& record : records)
                 record.instructionClass = TAVDll::CLASS_GPIO;
             TAVLib::AddCommands(records, 5);
             return NO_RESULT;
         }, false},
    };
    return operations;
}

enum class Fault { Error, Stall, Short, Timeout, Unplug };
const char* const FAULT_NAMES[] = {"error", "stall", "short", "timeout", "unplug"};

struct Outcome {
    int result;
    size_t attempted; // bulk writes made
    size_t delivered; // whole records that arrived
    bool held;        // the library still holds the board
    size_t queues;    // bulkWriteQueue calls
};

enum class Sending { OneByOne, Queued, QueueHaltsMidway };

struct SweepMode {
    Sending sending;
    size_t records; // of the operation, for the halt
};

Outcome RunWithFault(const Operation& operation, int position, const Fault* fault, SweepMode mode)
{
    tavtest::FreshBoard fresh;
    TAVDll::detail::DefaultLink().queued = mode.sending != Sending::OneByOne;
    if (mode.sending == Sending::QueueHaltsMidway)
        fresh.device.HaltQueueAtWrite(static_cast<int>(mode.records / 2 + 1));
    if (fault != nullptr) {
        switch (*fault) {
        case Fault::Error: fresh.device.FailWrite(position, tavsim::WriteFault::Error); break;
        case Fault::Stall: fresh.device.FailWrite(position, tavsim::WriteFault::Stall); break;
        case Fault::Short: fresh.device.FailWrite(position, tavsim::WriteFault::Short, 63); break;
        case Fault::Timeout: fresh.device.FailWrite(position, tavsim::WriteFault::Timeout); break;
        case Fault::Unplug: fresh.device.UnplugAtWrite(position); break;
        }
    }
    Outcome outcome;
    outcome.result = operation.run();
    outcome.attempted = fresh.bus.CountCalls(UsbCall::BulkWrite);
    outcome.delivered = fresh.bus.DeliveredRecords().size();
    outcome.held = fresh.bus.OpenHandleCount() == 1;
    outcome.queues = fresh.bus.CountCalls(UsbCall::QueueWrite);
    TAVDll::detail::DefaultLink().queued = false;
    return outcome;
}

class FaultSweep : public ::testing::TestWithParam<Sending> {};

TEST_P(FaultSweep, EveryOperationEveryPositionEveryFault)
{
    std::vector<std::string> failures;
    int cases = 0;
    for (const Operation& operation : Operations()) {
        const Outcome clean = RunWithFault(operation, 0, nullptr, SweepMode{Sending::OneByOne, 0});
        const size_t records = clean.attempted;
        const SweepMode mode{GetParam(), records};
        const Outcome cleanInMode = RunWithFault(operation, 0, nullptr, mode);
        EXPECT_EQ(cleanInMode.attempted, records) << operation.name;
        EXPECT_EQ(cleanInMode.delivered, clean.delivered) << operation.name;
        EXPECT_EQ(cleanInMode.result, clean.result) << operation.name;
        EXPECT_EQ(cleanInMode.queues > 0, GetParam() != Sending::OneByOne && records > 1) << operation.name;
        ASSERT_GT(records, 0u) << operation.name;
        for (size_t position = 1; position <= records; ++position) {
            for (int kind = 0; kind < 5; ++kind) {
                const auto fault = static_cast<Fault>(kind);
                const bool ends = fault == Fault::Timeout || fault == Fault::Unplug;
                Outcome expected;
                expected.result = clean.result == NO_RESULT ? NO_RESULT : operation.releases ? 0 : 4;
                expected.attempted = ends ? position : records;
                expected.delivered = (ends ? position : records) - 1;
                expected.held = !operation.releases && fault != Fault::Unplug;
                const Outcome actual = RunWithFault(operation, static_cast<int>(position), &fault, mode);
                ++cases;
                if (actual.result != expected.result || actual.attempted != expected.attempted
                    || actual.delivered != expected.delivered || actual.held != expected.held) {
                    failures.push_back(std::string(operation.name) + ", write " + std::to_string(position) + ", " +
                                       FAULT_NAMES[kind] + ": result " + std::to_string(actual.result) + " (want " +
                                       std::to_string(expected.result) + "), attempted " +
                                       std::to_string(actual.attempted) + " (want " +
                                       std::to_string(expected.attempted) + "), delivered " +
                                       std::to_string(actual.delivered) + " (want " +
                                       std::to_string(expected.delivered) + "), board " +
                                       (actual.held ? "held" : "let go") + " (want " +
                                       (expected.held ? "held" : "let go") + ")");
                }
            }
        }
    }
    std::string listing;
    for (size_t index = 0; index < failures.size() && index < 40; ++index)
        listing += "\n  " + failures[index];
    EXPECT_TRUE(failures.empty()) << failures.size() << " of " << cases << " fault positions wrong:" << listing;
    EXPECT_GT(cases, 1000);
    std::printf("%d fault positions checked\n", cases);
}

std::string SendingName(const ::testing::TestParamInfo<Sending>& info)
{
    const char* const names[] = {"OneByOne", "Queued", "QueueHaltsMidway"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Sending, FaultSweep,
                         ::testing::Values(Sending::OneByOne, Sending::Queued, Sending::QueueHaltsMidway),
                         SendingName);

} // namespace
