// Inputs read on threads of their own into a bounded queue, so that a live
// capture is never kept waiting while frames are encoded; its sound held to
// its video; and the keys that end it.
#pragma once

#include "tools/input/reader.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tarv {

// Inputs read on a thread each, their items in one queue bounded by their
// bytes (7/8 for frames, 1/8 for sound), tagged with the input's index. When
// encoding falls behind and the queue is full, a live input's new items are
// dropped and counted: memory stays bounded and nothing is lost unannounced;
// a file waits for room instead. The first input holds the video; once its
// last item is taken, devices that have no end of their own stop.
//
// Given the inputs' starts (`origins`, in microseconds), further inputs are
// kept in step with the video as ffmpeg reads inputs: one whose timestamps
// run more than kSoundLead ahead of the video read waits for it, so a source
// faster than real time does not pile up sound the video never reaches.
class QueuedSource : public Source {
public:
    QueuedSource(std::vector<RecordingReader*> readers, size_t maxBytes,
                 std::vector<int64_t> origins = {});
    ~QueuedSource() override;
    QueuedSource(const QueuedSource&) = delete;
    QueuedSource& operator=(const QueuedSource&) = delete;

    // Waits for the next item; false once the capture has ended and every
    // queued item is delivered. Rethrows the reading thread's error.
    bool Next(FrameOrPacket& item) override;
    // Ends the capture; items already queued still come.
    void Stop();
    // Asked at each Next() and while it waits: true ends the capture (Ctrl-C,
    // a key).
    void SetStopCheck(std::function<bool()> check) { m_stopCheck = std::move(check); }
    // Waits until every reading thread has ended.
    void WaitForEnd();

    struct Counts {
        int64_t frames = 0;         // video frames captured
        int64_t droppedFrames = 0;  // of those, dropped because the queue was full
        int64_t droppedPackets = 0; // other packets dropped so
        size_t peakBytes = 0;       // most bytes queued at once
    };
    Counts GetCounts() const;

    // How far further inputs may run ahead of the video, in microseconds.
    static constexpr int64_t kSoundLead = 2'000'000;

private:
    void Run(size_t input);
    void StopEndlessDevices();
    // The item's time from its input's start in microseconds, or
    // AV_NOPTS_VALUE when it has none or inputs are not kept in step.
    int64_t Time(size_t input, const FrameOrPacket& item) const;

    std::vector<RecordingReader*> m_readers;
    const size_t m_maxBytes;
    const std::vector<int64_t> m_origins;
    int64_t m_videoTime = AV_NOPTS_VALUE; // the latest video frame read
    mutable std::mutex m_mutex;
    std::condition_variable m_ready, m_room;
    std::deque<FrameOrPacket> m_queue;
    size_t m_videoBytes = 0, m_soundBytes = 0;
    std::function<bool()> m_stopCheck;
    size_t m_running;
    size_t m_firstInputQueued = 0;
    bool m_stopping = false, m_videoEnded = false;
    std::exception_ptr m_error;
    Counts m_counts;
    std::vector<std::thread> m_threads;
};

// A capture's sound ends with its video: packets wait here until the video
// written covers them, so that none past the video's end reaches the file.
// Beyond `maxBytes` waiting, the oldest go on regardless.
class SoundHold {
public:
    // `origins`: each input's start, in microseconds.
    SoundHold(std::vector<int64_t> origins, size_t maxBytes)
        : m_origins(std::move(origins)), m_maxBytes(maxBytes)
    {
    }
    // Takes the packet, of input `input` and timed in `timeBase`.
    void Add(size_t input, AVPacket* packet, AVRational timeBase);
    // Hands on, in order, the packets that end by `until` microseconds of
    // video, and any beyond the bound; all of them for AV_NOPTS_VALUE.
    void Release(int64_t until, const std::function<void(size_t, AVPacket*)>& write);

private:
    struct Held {
        size_t input;
        PacketPtr packet;
        int64_t end; // microseconds from the input's start
    };
    std::vector<int64_t> m_origins;
    size_t m_maxBytes, m_bytes = 0;
    std::deque<Held> m_held;
};

// `q` typed on the terminal, read without waiting for Enter. Only when
// standard input is a terminal that the input does not come from; the
// terminal's settings are restored on destruction, or by a second Ctrl-C.
class QuitKey {
public:
    explicit QuitKey(bool watch);
    ~QuitKey();
    QuitKey(const QuitKey&) = delete;
    QuitKey& operator=(const QuitKey&) = delete;
    bool Pressed();

private:
    bool m_watching = false;
    bool m_pressed = false;
};

} // namespace tarv
