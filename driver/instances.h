// The driver instances this library has handed out and not yet freed.
//
// Every DRV_OPEN makes its own wrapper, and its address is the identifier that
// the platform passes back with every later message of that instance. Hosts do
// pass identifiers the driver never gave (uninitialised ones, or a closed
// HIC's), so no message reads through an identifier before this table has
// found it among the live instances.
//
// Different instances run on different threads at once, and opens and closes
// may run beside them, so the table is lock-free: a fixed array of atomic slots,
// open addressing on the address. A slot goes from empty to taken, from taken to
// freed (a tombstone that a later open may take again), and never back to
// empty, so a search for a live instance cannot stop short of it. Finding costs
// a hash and usually one load; an identifier that is no instance reads the
// slots until the first empty one, at worst all of them.
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

    // Takes `wrapper` into the table: false, with nothing changed, when every
    // slot holds a live instance.
    bool Add(CCodecWrapper* wrapper) noexcept;
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
    static constexpr uintptr_t kEmpty = 0;
    static constexpr uintptr_t kFreed = 1; // never an object's address

    static size_t Home(uintptr_t id) noexcept;
    // The slot that holds this live instance, or null.
    std::atomic<uintptr_t>* Locate(DWORD_PTR id) noexcept;

    std::atomic<uintptr_t> m_slots[kCapacity] = {};
};

// The library's instances.
extern CInstanceTable g_instances;

// What unloading the library does: frees every instance still open.
void ReleaseInstances() noexcept;
