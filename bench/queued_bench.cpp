// Heap allocations per record on the real USB paths, against a board that
// umockdev emulates in this process, after warm-up: InitTav (61 records)
// one by one through libusb 0.1 and queued through libusb-1.0. Counted on
// the calling thread (the emulated board answers on another one) and split
// by who allocates: libtav (the global operator new; the library is C++) and
// the USB library (malloc, calloc and realloc called from its own code).
//   LD_PRELOAD=libumockdev-preload.so.0 build/bench/tav_queued_bench
#include <benchmark/benchmark.h>
#include <link.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "count_allocations.h"
#include "emulated_usb.h"
#include "tav/board.hpp"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
}

namespace {

struct CodeRange {
    std::atomic<uintptr_t> start{0};
    std::atomic<uintptr_t> end{0};
    bool Holds(const void* address) const
    {
        const auto value = reinterpret_cast<uintptr_t>(address);
        return value >= start.load(std::memory_order_relaxed) && value < end.load(std::memory_order_relaxed);
    }
};

CodeRange libusb0;
CodeRange libusb1;
std::atomic<pthread_t> measuredThread{};
std::atomic<bool> measuring{false};
std::atomic<long> libusbAllocations{0};

bool OnMeasuredThread()
{
    return measuring.load(std::memory_order_relaxed) && pthread_equal(pthread_self(), measuredThread.load());
}

void NoteCaller(const void* caller)
{
    if (OnMeasuredThread() && (libusb0.Holds(caller) || libusb1.Holds(caller)))
        libusbAllocations.fetch_add(1, std::memory_order_relaxed);
}

// The executable code of a loaded library whose file name holds that text.
void FindLibrary(const char* name, CodeRange* range)
{
    struct Search {
        const char* name;
        CodeRange* range;
    } search{name, range};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* wanted = static_cast<Search*>(data);
            if (info->dlpi_name == nullptr || std::strstr(info->dlpi_name, wanted->name) == nullptr)
                return 0;
            for (int index = 0; index < info->dlpi_phnum; ++index) {
                const ElfW(Phdr)& header = info->dlpi_phdr[index];
                if (header.p_type != PT_LOAD || (header.p_flags & PF_X) == 0)
                    continue;
                wanted->range->start = info->dlpi_addr + header.p_vaddr;
                wanted->range->end = info->dlpi_addr + header.p_vaddr + header.p_memsz;
            }
            return 1;
        },
        &search);
}

} // namespace

extern "C" void* malloc(size_t size)
{
    NoteCaller(__builtin_return_address(0));
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size)
{
    NoteCaller(__builtin_return_address(0));
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, size_t size)
{
    NoteCaller(__builtin_return_address(0));
    return __libc_realloc(block, size);
}

extern "C" void free(void* block)
{
    __libc_free(block);
}

// libtav's allocations: the library is C++, the USB libraries are C.
bool CountsAllocation()
{
    return OnMeasuredThread();
}

namespace {

constexpr int INIT_TAV_RECORDS = 61;

void InitTav(benchmark::State& state, const char* selector)
{
    if (!tavtest::InMockEnvironment()) {
        state.SkipWithError("needs umockdev's preload library: LD_PRELOAD=libumockdev-preload.so.0");
        return;
    }
    tavtest::EmulatedBus bus;
    tavtest::EmulatedBoard& emulated = bus.AddBoard(2);
    tav::Board board;
    if (board.open(selector) != TAV_OK) {
        state.SkipWithError("the emulated board cannot be opened");
        return;
    }
    FindLibrary("libusb-0.1", &libusb0);
    FindLibrary("libusb-1.0", &libusb1);
    // Warm-up: the queue's transfers are made on first use and kept.
    for (int round = 0; round < 3; ++round)
        board.init(0);
    emulated.ClearLog();
    measuredThread = pthread_self();
    const long libtavBefore = allocationCount.load();
    const long libusbBefore = libusbAllocations.load();
    measuring = true;
    for (auto _ : state) {
        if (board.init(0) != TAV_OK) {
            state.SkipWithError("InitTav failed");
            break;
        }
    }
    measuring = false;
    const double records = static_cast<double>(state.iterations()) * INIT_TAV_RECORDS;
    state.counters["libtav_allocs_per_record"] =
        benchmark::Counter(static_cast<double>(allocationCount.load() - libtavBefore) / records);
    state.counters["libusb_allocs_per_record"] =
        benchmark::Counter(static_cast<double>(libusbAllocations.load() - libusbBefore) / records);
    board.release();
}

void OneByOneInitTav(benchmark::State& state)
{
    InitTav(state, "usb:1:2");
}

void QueuedInitTav(benchmark::State& state)
{
    InitTav(state, "queued:usb:1:2");
}

BENCHMARK(OneByOneInitTav)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(QueuedInitTav)->Unit(benchmark::kMillisecond)->Iterations(50);

} // namespace

BENCHMARK_MAIN();
