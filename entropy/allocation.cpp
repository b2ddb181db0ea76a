#include "entropy/allocation.h"

#include <atomic>

namespace tarv {

namespace {

// Atomic because the encoder and the decoder may serve two threads at once; the
// codec itself takes no locks.
std::atomic<long> g_allocations{0};
std::atomic<long> g_failAt{-1};

} // namespace

bool AllocationAllowed() noexcept
{
    const long failAt = g_failAt.load(std::memory_order_relaxed);
    const long index = g_allocations.fetch_add(1, std::memory_order_relaxed);
    // Without a chosen failure the count may wrap in a long-lived process: harmless.
    return failAt < 0 || index != failAt;
}

void FailAllocationAt(long n) noexcept
{
    g_failAt.store(n, std::memory_order_relaxed);
    g_allocations.store(0, std::memory_order_relaxed);
}

long AllocationCount() noexcept
{
    return g_allocations.load(std::memory_order_relaxed);
}

} // namespace tarv
