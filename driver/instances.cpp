#include "driver/instances.h"

#include "driver/wrapper.h"

#include <bit>

CInstanceTable g_instances;

namespace {

constexpr size_t kMask = CInstanceTable::kCapacity - 1;
static_assert((CInstanceTable::kCapacity & kMask) == 0, "the capacity is a power of two");

} // namespace

// Fibonacci hashing of the address: heap addresses differ mostly in their
// middle bits, and the multiply carries those into the top bits it keeps.
size_t CInstanceTable::Home(uintptr_t id) noexcept
{
    constexpr int kBits = std::countr_zero(kCapacity);
    return static_cast<size_t>((static_cast<uint64_t>(id) * 0x9E3779B97F4A7C15ull) >> (64 - kBits));
}

bool CInstanceTable::Add(CCodecWrapper* wrapper) noexcept
{
    const auto value = reinterpret_cast<uintptr_t>(wrapper);
    const size_t home = Home(value);
    for (size_t i = 0; i < kCapacity; ++i) {
        std::atomic<uintptr_t>& slot = m_slots[(home + i) & kMask];
        uintptr_t seen = slot.load(std::memory_order_relaxed);
        // Another open may take this slot first; then the search goes on.
        while (seen == kEmpty || seen == kFreed) {
            if (slot.compare_exchange_weak(seen, value, std::memory_order_release,
                                           std::memory_order_relaxed))
                return true;
        }
    }
    return false;
}

std::atomic<uintptr_t>* CInstanceTable::Locate(DWORD_PTR id) noexcept
{
    const auto value = static_cast<uintptr_t>(id);
    if (value == kEmpty || value == kFreed)
        return nullptr;
    const size_t home = Home(value);
    for (size_t i = 0; i < kCapacity; ++i) {
        std::atomic<uintptr_t>& slot = m_slots[(home + i) & kMask];
        const uintptr_t seen = slot.load(std::memory_order_acquire);
        if (seen == value)
            return &slot;
        if (seen == kEmpty)
            break;
    }
    return nullptr;
}

CCodecWrapper* CInstanceTable::Find(DWORD_PTR id) noexcept
{
    return Locate(id) != nullptr ? reinterpret_cast<CCodecWrapper*>(id) : nullptr;
}

CCodecWrapper* CInstanceTable::Remove(DWORD_PTR id) noexcept
{
    std::atomic<uintptr_t>* slot = Locate(id);
    uintptr_t expected = static_cast<uintptr_t>(id);
    if (slot == nullptr ||
        !slot->compare_exchange_strong(expected, kFreed, std::memory_order_acq_rel))
        return nullptr;
    return reinterpret_cast<CCodecWrapper*>(id);
}

void CInstanceTable::ReleaseAll() noexcept
{
    for (std::atomic<uintptr_t>& slot : m_slots) {
        const uintptr_t seen = slot.exchange(kEmpty, std::memory_order_acq_rel);
        if (seen != kEmpty && seen != kFreed)
            delete reinterpret_cast<CCodecWrapper*>(seen);
    }
}

void ReleaseInstances() noexcept
{
    g_instances.ReleaseAll();
}
