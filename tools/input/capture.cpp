#include "tools/input/capture.h"

#include "tools/output/output_file.h"
#include "tools/shared/timing.h"

#include <chrono>
#include <cstdlib>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace tarv {
namespace {

size_t BytesOf(const FrameOrPacket& item)
{
    if (item.kind == FrameOrPacket::Kind::Packet)
        return static_cast<size_t>(item.packet->size);
    size_t bytes = 0;
    for (const AVBufferRef* b : item.frame->buf)
        if (b != nullptr)
            bytes += b->size;
    return bytes;
}

} // namespace

QueuedSource::QueuedSource(std::vector<RecordingReader*> readers, size_t maxBytes,
                           std::vector<int64_t> origins)
    : m_readers(std::move(readers)), m_maxBytes(maxBytes), m_origins(std::move(origins)),
      m_running(m_readers.size())
{
    for (size_t i = 0; i < m_readers.size(); ++i)
        m_threads.emplace_back([this, i] { Run(i); });
}

QueuedSource::~QueuedSource()
{
    Stop();
    for (std::thread& t : m_threads)
        t.join();
}

void QueuedSource::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    for (RecordingReader* r : m_readers)
        r->Stop();
    m_room.notify_all();
}

int64_t QueuedSource::Time(size_t input, const FrameOrPacket& item) const
{
    if (m_origins.empty())
        return AV_NOPTS_VALUE;
    const RecordingReader& reader = *m_readers[input];
    const bool video = item.kind == FrameOrPacket::Kind::Frame;
    const int64_t pts = video ? item.frame->pts : item.packet->pts;
    if (pts == AV_NOPTS_VALUE)
        return AV_NOPTS_VALUE;
    const AVRational timeBase =
        video ? reader.Stream()->time_base
              : reader.Format()->streams[item.packet->stream_index]->time_base;
    return av_rescale_q(pts, timeBase, AVRational{1, AV_TIME_BASE}) - m_origins[input];
}

void QueuedSource::Run(size_t input)
{
    RecordingReader& reader = *m_readers[input];
    FrameOrPacket item;
    bool failed = false;
    // A jump of an input's clock (a computer that slept) is placed without a
    // gap, so it neither holds that input back until the video catches up
    // nor lets it run ahead: its times go on from where they were.
    constexpr int64_t kLongestGap = int64_t{kLongestGapSeconds} * AV_TIME_BASE;
    int64_t previous = AV_NOPTS_VALUE, shift = 0;
    try {
        while (reader.Next(item)) {
            const size_t bytes = BytesOf(item);
            const bool video = item.kind == FrameOrPacket::Kind::Frame;
            int64_t time = Time(input, item);
            if (time != AV_NOPTS_VALUE) {
                if (previous != AV_NOPTS_VALUE && std::llabs(time + shift - previous) > kLongestGap)
                    shift = previous - time;
                time += shift;
                previous = time;
            }
            std::unique_lock lock(m_mutex);
            if (time != AV_NOPTS_VALUE && input == 0 && video) {
                m_videoTime = std::max(m_videoTime == AV_NOPTS_VALUE ? time : m_videoTime, time);
                m_room.notify_all();
            } else if (time != AV_NOPTS_VALUE && input > 0) {
                // Only once the video has begun: a device is not kept waiting
                // while the video's first frame comes.
                m_room.wait(lock, [&] {
                    return m_videoTime == AV_NOPTS_VALUE || time <= m_videoTime + kSoundLead ||
                           m_stopping || m_videoEnded;
                });
            }
            m_counts.frames += video ? 1 : 0;
            // A dropped frame is covered by repeating the one before; a
            // dropped sound packet would shift all later sound, so sound has
            // an allowance of its own, minutes long.
            size_t& queued = video ? m_videoBytes : m_soundBytes;
            const size_t bound = video ? m_maxBytes - m_maxBytes / 8 : m_maxBytes / 8;
            auto full = [&] { return !m_queue.empty() && queued + bytes > bound; };
            if (!reader.Live())
                m_room.wait(lock, [&] { return !full() || m_stopping; });
            if (m_stopping && !reader.Live())
                break;
            if (full()) {
                ++(video ? m_counts.droppedFrames : m_counts.droppedPackets);
                continue;
            }
            queued += bytes;
            m_queue.emplace_back();
            FrameOrPacket& last = m_queue.back();
            last.kind = item.kind;
            last.input = input;
            m_firstInputQueued += input == 0 ? 1 : 0;
            av_frame_move_ref(last.frame.get(), item.frame.get());
            av_packet_move_ref(last.packet.get(), item.packet.get());
            m_counts.peakBytes = std::max(m_counts.peakBytes, m_videoBytes + m_soundBytes);
            m_ready.notify_all();
        }
    } catch (...) {
        failed = true;
        std::lock_guard lock(m_mutex);
        if (!m_error)
            m_error = std::current_exception();
    }
    // An error ends every input.
    if (failed)
        Stop();
    std::lock_guard lock(m_mutex);
    if (input == 0) {
        m_videoEnded = true;
        if (m_firstInputQueued == 0)
            StopEndlessDevices();
        m_room.notify_all();
    }
    --m_running;
    m_ready.notify_all();
}

void QueuedSource::StopEndlessDevices()
{
    for (RecordingReader* r : m_readers)
        if (r != m_readers[0] && r->Live() && !r->HasEnd())
            r->Stop();
}

bool QueuedSource::Next(FrameOrPacket& item)
{
    if (m_stopCheck && m_stopCheck())
        Stop();
    std::unique_lock lock(m_mutex);
    // A device may have nothing for a long while: the stop check still runs.
    while (!m_ready.wait_for(lock, std::chrono::milliseconds(100),
                             [&] { return !m_queue.empty() || m_running == 0; }))
        if (m_stopCheck && m_stopCheck()) {
            lock.unlock();
            Stop();
            lock.lock();
        }
    if (m_error)
        std::rethrow_exception(m_error);
    if (m_queue.empty())
        return false;
    FrameOrPacket& front = m_queue.front();
    (front.kind == FrameOrPacket::Kind::Frame ? m_videoBytes : m_soundBytes) -= BytesOf(front);
    // Once encoding has reached the video's end (not merely reading, which
    // may run ahead), devices without an end of their own stop: they would
    // go on forever. Files end by themselves.
    if (front.input == 0 && --m_firstInputQueued == 0 && m_videoEnded)
        StopEndlessDevices();
    item.kind = front.kind;
    item.input = front.input;
    av_frame_unref(item.frame.get());
    av_packet_unref(item.packet.get());
    av_frame_move_ref(item.frame.get(), front.frame.get());
    av_packet_move_ref(item.packet.get(), front.packet.get());
    m_queue.pop_front();
    m_room.notify_all();
    return true;
}

void QueuedSource::WaitForEnd()
{
    std::unique_lock lock(m_mutex);
    m_ready.wait(lock, [&] { return m_running == 0; });
}

QueuedSource::Counts QueuedSource::GetCounts() const
{
    std::lock_guard lock(m_mutex);
    return m_counts;
}

// ---- SoundHold ----------------------------------------------------------------

void SoundHold::Add(size_t input, AVPacket* packet, AVRational timeBase)
{
    Held& h = m_held.emplace_back(Held{input, NewPacket(), AV_NOPTS_VALUE});
    av_packet_move_ref(h.packet.get(), packet);
    const AVPacket* p = h.packet.get();
    if (p->pts != AV_NOPTS_VALUE)
        h.end = av_rescale_q(p->pts + std::max<int64_t>(0, p->duration), timeBase,
                             AVRational{1, AV_TIME_BASE}) -
                m_origins[input];
    m_bytes += static_cast<size_t>(p->size);
}

void SoundHold::Release(int64_t until, const std::function<void(size_t, AVPacket*)>& write)
{
    while (!m_held.empty()) {
        Held& h = m_held.front();
        if (until != AV_NOPTS_VALUE && h.end != AV_NOPTS_VALUE && h.end > until &&
            m_bytes <= m_maxBytes)
            return;
        m_bytes -= static_cast<size_t>(h.packet->size);
        write(h.input, h.packet.get());
        m_held.pop_front();
    }
}

// ---- QuitKey ----------------------------------------------------------------

namespace {

// The terminal as it was, for QuitKey and for a second Ctrl-C.
termios g_terminal{};

void RestoreTerminal()
{
    tcsetattr(STDIN_FILENO, TCSANOW, &g_terminal);
}

} // namespace

QuitKey::QuitKey(bool watch)
{
    termios settings{};
    // Only in the foreground: a background process that touches the
    // terminal is stopped.
    if (!watch || isatty(STDIN_FILENO) == 0 || tcgetpgrp(STDIN_FILENO) != getpgrp() ||
        tcgetattr(STDIN_FILENO, &settings) != 0)
        return;
    g_terminal = settings;
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    AtForcedExit(RestoreTerminal);
    m_watching = tcsetattr(STDIN_FILENO, TCSANOW, &settings) == 0;
}

QuitKey::~QuitKey()
{
    if (m_watching) {
        RestoreTerminal();
        AtForcedExit(nullptr);
    }
}

bool QuitKey::Pressed()
{
    while (m_watching && !m_pressed) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        char c = 0;
        if (poll(&p, 1, 0) <= 0 || read(STDIN_FILENO, &c, 1) != 1)
            break;
        m_pressed = c == 'q' || c == 'Q';
    }
    return m_pressed;
}

} // namespace tarv
