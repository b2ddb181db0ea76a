// The driver instances this library has handed out and not yet freed.
//
// Every DRV_OPEN makes its own wrapper and gets an identifier that the platform
// passes back with every later message of that instance. Hosts do pass
// identifiers the driver never gave (uninitialised ones, or a closed HIC's,
// after a double close), so no message reads through an identifier before this
// table has found it among the live instances, and no identifier is handed out
// twice while the library is loaded: a stale one can never reach, or free, a
// later stream's instance.
//
// An identifier is a slot number and that slot's generation, which grows by
// one at every open that takes the slot. Opens take slots in turn, so a slot
// comes back only after every other free one has been used. A slot whose
// generation would no longer fit is retired.
//
// Different instances run on different threads at once, and opens and closes
// may run beside them, so the table is lock-free: each slot's state (its
// generation and whether it is live) is one atomic word, changed by
// compare-and-swap; its wrapper is written while the slot is taken and nobody
// yet knows the new identifier, and read between two looks at the state.
#pragma once

#include "platform/platform.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

class CCodecWrapper;

class CInstanceTable {
public:
    // Instances that can be open at once; a power of two.
    static constexpr size_t kCapacity = 4096;

    constexpr CInstanceTable() = default;
    CInstanceTable(const CInstanceTable&) = delete;
    CInstanceTable& operator=(const CInstanceTable&) = delete;

    // Takes `wrapper` into the table and returns its new identifier, never 0;
    // 0, with nothing changed, when every slot holds a live instance.
    DWORD_PTR Add(CCodecWrapper* wrapper) noexcept;
    // The live instance with this identifier, or null (0 and foreign values too).
    CCodecWrapper* Find(DWORD_PTR id) noexcept;
    // Takes the instance out of the table and returns it for the caller to
    // free, or null when the identifier is no live instance. Of two threads
    // removing the same instance, only one gets it.
    CCodecWrapper* Remove(DWORD_PTR id) noexcept;
    // Frees every instance still in the table: the library is being unloaded,
    // and no other thread is in the driver.
    void ReleaseAll() noexcept;

private:
    struct Slot {
        // generation << 1 | live
        std::atomic<uintptr_t> state{0};
        std::atomic<CCodecWrapper*> wrapper{nullptr};
    };

    std::atomic<size_t> m_next{0};
    Slot m_slots[kCapacity];
};

// The library's instances.
extern CInstanceTable g_instances;

// What unloading the library does: frees every instance still open.
void ReleaseInstances() noexcept;
