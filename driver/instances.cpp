#include "driver/instances.h"

#include "driver/wrapper.h"

#include <algorithm>
#include <bit>
#include <limits>

CInstanceTable g_instances;

namespace {

constexpr size_t kMask = CInstanceTable::kCapacity - 1;
static_assert((CInstanceTable::kCapacity & kMask) == 0, "the capacity is a power of two");
constexpr int kSlotBits = std::countr_zero(CInstanceTable::kCapacity);

// Generations start at 1, so no identifier is 0. The state word keeps one bit
// beside the generation, so the largest one fits both the identifier and it.
constexpr uintptr_t kLastGeneration = std::min<uintptr_t>(
    std::numeric_limits<DWORD_PTR>::max() >> kSlotBits, std::numeric_limits<uintptr_t>::max() >> 1);
constexpr uintptr_t kLive = 1;

constexpr DWORD_PTR Identifier(size_t slot, uintptr_t generation)
{
    return static_cast<DWORD_PTR>(generation) << kSlotBits | slot;
}

// The state a live instance with this identifier has in its slot.
constexpr uintptr_t LiveState(DWORD_PTR id)
{
    return static_cast<uintptr_t>(id >> kSlotBits) << 1 | kLive;
}

} // namespace

DWORD_PTR CInstanceTable::Add(CCodecWrapper* wrapper) noexcept
{
    const size_t start = m_next.fetch_add(1, std::memory_order_relaxed);
    for (size_t i = 0; i < kCapacity; ++i) {
        const size_t index = (start + i) & kMask;
        Slot& slot = m_slots[index];
        uintptr_t seen = slot.state.load(std::memory_order_relaxed);
        // Another open may take this slot first; then the search goes on.
        while ((seen & kLive) == 0 && (seen >> 1) < kLastGeneration) {
            const uintptr_t generation = (seen >> 1) + 1;
            if (slot.state.compare_exchange_weak(seen, generation << 1 | kLive,
                                                 std::memory_order_acquire,
                                                 std::memory_order_relaxed)) {
                slot.wrapper.store(wrapper, std::memory_order_release);
                if (i != 0)
                    m_next.store(start + i + 1, std::memory_order_relaxed);
                return Identifier(index, generation);
            }
        }
    }
    return 0;
}

CCodecWrapper* CInstanceTable::Find(DWORD_PTR id) noexcept
{
    if ((id >> kSlotBits) == 0) // generation 0: none was ever handed out
        return nullptr;
    const uintptr_t live = LiveState(id);
    Slot& slot = m_slots[id & kMask];
    if (slot.state.load(std::memory_order_acquire) != live)
        return nullptr;
    CCodecWrapper* wrapper = slot.wrapper.load(std::memory_order_acquire);
    // Closed and opened again in between: the wrapper read may be the new one.
    return slot.state.load(std::memory_order_acquire) == live ? wrapper : nullptr;
}

CCodecWrapper* CInstanceTable::Remove(DWORD_PTR id) noexcept
{
    CCodecWrapper* wrapper = Find(id);
    uintptr_t expected = LiveState(id);
    // The wrapper cannot change while the slot stays live in this generation.
    if (wrapper == nullptr || !m_slots[id & kMask].state.compare_exchange_strong(
                                  expected, expected & ~kLive, std::memory_order_acq_rel))
        return nullptr;
    return wrapper;
}

void CInstanceTable::ReleaseAll() noexcept
{
    for (Slot& slot : m_slots) {
        const uintptr_t seen = slot.state.fetch_and(~kLive, std::memory_order_acq_rel);
        if ((seen & kLive) != 0)
            delete slot.wrapper.exchange(nullptr, std::memory_order_acq_rel);
    }
}

void ReleaseInstances() noexcept
{
    g_instances.ReleaseAll();
}
