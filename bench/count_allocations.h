// The global operator new of a benchmark program, counting its calls in
// allocationCount when the program's CountsAllocation() says so. Included by
// exactly one file of each program, which defines CountsAllocation().
#ifndef TAV_BENCH_COUNT_ALLOCATIONS_H
#define TAV_BENCH_COUNT_ALLOCATIONS_H

#include <atomic>
#include <cstdlib>
#include <new>

bool CountsAllocation();

std::atomic<long> allocationCount{0};

__attribute__((noinline)) void* operator new(std::size_t size)
{
    if (CountsAllocation())
        allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

__attribute__((noinline)) void operator delete(void* block) noexcept
{
    std::free(block);
}

__attribute__((noinline)) void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

#endif
