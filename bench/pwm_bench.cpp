// Cost of the PWM sequences and of a whole InitPWMB over the virtual bus,
// with the heap allocations each operation makes (counted by replacing the
// global operator new).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <unistd.h>

#include "TAVLib.h"
#include "tav/tav.h"
#include "link/board_link.h"
#include "pwm/pwm_sequences.h"
#include "virtual_board.h"
#include "virtual_usb.h"
#include "count_allocations.h"

bool CountsAllocation()
{
    return true;
}

namespace {

using namespace TAVDll::detail;

void ReportAllocations(benchmark::State& state, long before)
{
    state.counters["allocs_per_op"] =
        benchmark::Counter(static_cast<double>(allocationCount.load() - before), benchmark::Counter::kAvgIterations);
}

template <typename Fill>
void RunSequence(benchmark::State& state, int capacity, Fill fill)
{
    const long before = allocationCount.load();
    for (auto _ : state) {
        InstructionBatch batch(capacity);
        benchmark::DoNotOptimize(fill(batch));
        benchmark::DoNotOptimize(batch.records[0]);
    }
    ReportAllocations(state, before);
}

void BM_AppendInitPWMA(benchmark::State& state)
{
    unsigned int max = 0;
    RunSequence(state, PWM_BATCH_CAPACITY, [&](InstructionBatch& batch) {
        return AppendInitGroup(batch, 0, TAVDll::PWM_FREQ_DIV2, {1, 2, 3, 0}, &max);
    });
}

void BM_AppendInitPWMB(benchmark::State& state)
{
    unsigned int max = 0;
    RunSequence(state, PWM_BATCH_CAPACITY, [&](InstructionBatch& batch) {
        return AppendInitGroup(batch, 1, TAVDll::PWM_FREQ_DIV2, {100, 200, 300, 400}, &max);
    });
}

void BM_AppendInitPWMC(benchmark::State& state)
{
    unsigned int max = 0;
    RunSequence(state, PWM_BATCH_CAPACITY, [&](InstructionBatch& batch) {
        return AppendInitGroup(batch, 2, TAVDll::PWM_FREQ_DIV2, {100, 200, 300, 400}, &max);
    });
}

void BM_AppendUpdatePWMC(benchmark::State& state)
{
    RunSequence(state, PWM_BATCH_CAPACITY,
                [](InstructionBatch& batch) { return AppendUpdate(batch, 2, 1, 1234); });
}

void BM_AppendDisablePWM(benchmark::State& state)
{
    RunSequence(state, PWM_DISABLE_BATCH_CAPACITY, [](InstructionBatch& batch) { return AppendDisablePWM(batch); });
}

// Whole operations on the default board over the virtual bus and its board
// model (their logs switched off, so only the library's own allocations are
// counted); items are records.
template <typename Operation>
void RunOverVirtualBus(benchmark::State& state, int recordsPerOperation, Operation operation)
{
    ResetDefaultLink();
    tavsim::VirtualUsb usb;
    tavsim::VirtualBoard& board = usb.AddBoard().Board();
    board.SetKeepReceived(false); // the board model keeps no log and no history:
    board.SetKeepHistory(false); // only the library's allocations are counted
    TAVDll::TAVLib::Initial();
    TAVDll::TAVLib::Open();
    usb.SetLogging(false);
    const long before = allocationCount.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(operation());
    ReportAllocations(state, before);
    state.SetItemsProcessed(state.iterations() * recordsPerOperation);
    ResetDefaultLink();
}

void BM_InitPWMBOverVirtualBus(benchmark::State& state)
{
    unsigned int max = 0;
    RunOverVirtualBus(state, 17, [&] { return TAVDll::TAVLib::InitPWMB(TAVDll::PWM_FREQ_DIV2, 100, 200, 300, 400, &max); });
}

void BM_PinSetOnePinOverVirtualBus(benchmark::State& state)
{
    RunOverVirtualBus(state, 1, [] { return TAVDll::TAVLib::Pin_Set(TAVDll::PIN_BANK_4 | 0x100); });
}

void BM_PinSetSixteenPinsOverVirtualBus(benchmark::State& state)
{
    RunOverVirtualBus(state, 16, [] { return TAVDll::TAVLib::Pin_Set(TAVDll::PIN_BANK_4 | 0xFFFF); });
}

void BM_InitTavOverVirtualBus(benchmark::State& state)
{
    RunOverVirtualBus(state, 61, [] { return TAVDll::TAVLib::InitTav(0); });
}

// The same through a board object of the C interface, which also keeps the
// board's commanded state.
void BM_InitTavOnABoardObject(benchmark::State& state)
{
    ResetDefaultLink();
    tavsim::VirtualUsb usb;
    tavsim::VirtualBoard& board = usb.AddBoard().Board();
    board.SetKeepReceived(false);
    board.SetKeepHistory(false);
    tav_board* object = nullptr;
    if (tav_open("usb:1:2", &object) != TAV_OK)
        state.SkipWithError("no board object");
    usb.SetLogging(false);
    const long before = allocationCount.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(tav_init(object, 0));
    ReportAllocations(state, before);
    state.SetItemsProcessed(state.iterations() * 61);
    tav_release(object);
    ResetDefaultLink();
}

// A board object whose records TAV_TRACE logs (a record log in the temporary
// folder): each pin set is one line, flushed when the operation ends. Fewer
// iterations than the log holds, so that every one is logged.
void BM_PinSetTraced(benchmark::State& state)
{
    ResetDefaultLink();
    tavsim::VirtualUsb usb;
    tavsim::VirtualBoard& board = usb.AddBoard().Board();
    board.SetKeepReceived(false);
    board.SetKeepHistory(false);
    char path[] = "/tmp/tav-bench-XXXXXX";
    const int folder = mkstemp(path);
    if (folder >= 0)
        close(folder);
    setenv("TAV_TRACE", path, 1);
    tav_board* object = nullptr;
    if (tav_open("usb:1:2", &object) != TAV_OK)
        state.SkipWithError("no board object");
    unsetenv("TAV_TRACE");
    usb.SetLogging(false);
    const long before = allocationCount.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(tav_pin_set(object, TAVDll::PIN_BANK_4 | 0x100));
    ReportAllocations(state, before);
    state.SetItemsProcessed(state.iterations());
    tav_release(object);
    unlink(path);
    ResetDefaultLink();
}

BENCHMARK(BM_AppendInitPWMA);
BENCHMARK(BM_AppendInitPWMB);
BENCHMARK(BM_AppendInitPWMC);
BENCHMARK(BM_AppendUpdatePWMC);
BENCHMARK(BM_AppendDisablePWM);
BENCHMARK(BM_InitPWMBOverVirtualBus);
BENCHMARK(BM_PinSetOnePinOverVirtualBus);
BENCHMARK(BM_PinSetSixteenPinsOverVirtualBus);
BENCHMARK(BM_InitTavOverVirtualBus);
BENCHMARK(BM_InitTavOnABoardObject);
BENCHMARK(BM_PinSetTraced)->Iterations(50000);

} // namespace

BENCHMARK_MAIN();
