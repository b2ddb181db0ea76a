// The one allocation facility of the codec. Everything the codec allocates (the
// coder's sink, its tables, the sample buffers, the wrapper and the codec objects)
// comes from here: it never throws, a failure is a null result, and what it returns
// is released with plain delete or delete[].
//
// Allocations happen per stream or per frame, never per sample, so the counter
// behind the test hook costs nothing measurable. The hook lets a test fail any one
// allocation and check that the failure path replies correctly and leaks nothing.
#pragma once

#include <cstddef>
#include <new>

namespace tarv {

// Counts one allocation; false when the test hook has chosen this one to fail.
bool AllocationAllowed() noexcept;

// Test hook: the allocation with index n (0-based, counted from this call) fails,
// every other one goes ahead; a negative n fails none. Resets the count.
void FailAllocationAt(long n) noexcept;
// Allocations attempted since the last FailAllocationAt.
long AllocationCount() noexcept;

template <class T> T* NewObject()
{
    return AllocationAllowed() ? new (std::nothrow) T : nullptr;
}

// n elements, value-initialised (zeroed for plain types) when `zeroed` is set and
// left as allocated otherwise.
template <class T> T* NewArray(size_t n, bool zeroed)
{
    if (!AllocationAllowed())
        return nullptr;
    return zeroed ? new (std::nothrow) T[n]() : new (std::nothrow) T[n];
}

} // namespace tarv
