// Items worked on by several threads and handed back in their order: the loop
// every command of the tool runs, and the frame-parallel decoder's
// (parallel_decoder.h).
//
// The caller fills a slot, submits it, and takes finished slots back oldest
// first; each worker thread runs `work(worker, slot)` with its own index, so
// per-thread state (a codec object) is indexed by it. At most 2 x threads
// slots exist, which bounds memory however long the stream is. With no
// threads, Submit() runs the work on the caller's thread, worker 0.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tarv {

template <class Slot> class OrderedWorkers {
public:
    using Work = std::function<void(int worker, Slot& slot)>;

    OrderedWorkers(int threads, Work work)
        : m_work(std::move(work)), m_slots(static_cast<size_t>(2 * std::max(threads, 1)))
    {
        for (int i = 0; i < threads; ++i)
            m_threads.emplace_back([this, i] { Run(i); });
    }
    ~OrderedWorkers()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        for (std::thread& t : m_threads)
            t.join();
    }
    OrderedWorkers(const OrderedWorkers&) = delete;
    OrderedWorkers& operator=(const OrderedWorkers&) = delete;

    bool Full() const { return m_submitted - m_taken == m_slots.size(); }
    bool Empty() const { return m_submitted == m_taken; }

    // The slot to fill next; only while !Full().
    Slot& Back() { return m_slots[m_submitted % m_slots.size()].value; }
    void Submit()
    {
        if (m_threads.empty()) {
            Entry& e = m_slots[m_submitted++ % m_slots.size()];
            Perform(0, e);
            e.state = State::Done;
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_slots[m_submitted % m_slots.size()].state = State::Pending;
            ++m_submitted;
        }
        m_wake.notify_one();
    }

    // Waits for the oldest submitted slot; only while !Empty(). Rethrows what
    // its work threw, once: a second call returns the slot as the work left
    // it. The slot stays the caller's until Pop().
    Slot& Front()
    {
        Entry& e = m_slots[m_taken % m_slots.size()];
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [&] { return e.state == State::Done; });
        if (e.error)
            std::rethrow_exception(std::exchange(e.error, nullptr));
        return e.value;
    }
    // True when Front() would not wait; only while !Empty().
    bool FrontDone()
    {
        std::lock_guard lock(m_mutex);
        return m_slots[m_taken % m_slots.size()].state == State::Done;
    }
    // The slot submitted `ahead` places after the oldest, or null when there
    // is none yet. Only what the caller filled in before Submit() may be read.
    const Slot* Peek(size_t ahead) const
    {
        if (m_taken + ahead >= m_submitted)
            return nullptr;
        return &m_slots[(m_taken + ahead) % m_slots.size()].value;
    }
    void Pop()
    {
        std::lock_guard lock(m_mutex);
        m_slots[m_taken % m_slots.size()].state = State::Free;
        ++m_taken;
    }

private:
    enum class State { Free, Pending, Running, Done };
    struct Entry {
        Slot value{};
        State state = State::Free;
        std::exception_ptr error;
    };

    void Perform(int worker, Entry& e)
    {
        try {
            m_work(worker, e.value);
        } catch (...) {
            e.error = std::current_exception();
        }
    }

    void Run(int worker)
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_stopping || m_started < m_submitted; });
            if (m_stopping)
                return;
            Entry& e = m_slots[m_started++ % m_slots.size()];
            e.state = State::Running;
            lock.unlock();
            Perform(worker, e);
            lock.lock();
            e.state = State::Done;
            m_done.notify_all();
        }
    }

    Work m_work;
    std::vector<Entry> m_slots;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    size_t m_submitted = 0, m_started = 0, m_taken = 0;
    bool m_stopping = false;
};

// Objects each worker makes for itself on first use (a codec object, a
// converter), indexed by the worker.
template <class T> class PerWorker {
public:
    PerWorker(int threads, std::function<std::unique_ptr<T>()> make)
        : m_objects(static_cast<size_t>(threads)), m_make(std::move(make))
    {
    }
    T& operator[](int worker)
    {
        auto& object = m_objects[static_cast<size_t>(worker)];
        if (!object)
            object = m_make();
        return *object;
    }

private:
    std::vector<std::unique_ptr<T>> m_objects;
    std::function<std::unique_ptr<T>()> m_make;
};

// The one loop of every command: `fill` prepares the next slot and returns
// false at the end; `take` receives the finished slots in their order.
// `workers` is an OrderedWorkers or a ParallelDecoder.
template <class Workers, class Fill, class Take>
void RunInOrder(Workers& workers, Fill fill, Take take)
{
    for (;;) {
        if (workers.Full()) {
            take(workers.Front());
            workers.Pop();
        }
        if (!fill(workers.Back()))
            break;
        workers.Submit();
    }
    while (!workers.Empty()) {
        take(workers.Front());
        workers.Pop();
    }
}

} // namespace tarv
