#include "tools/capture.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace tarv {
namespace {

size_t ItemBytes(const Item& item)
{
    if (item.kind == Item::Kind::Packet)
        return static_cast<size_t>(item.packet->size);
    size_t bytes = 0;
    for (const AVBufferRef* b : item.frame->buf)
        if (b != nullptr)
            bytes += b->size;
    return bytes;
}

} // namespace

LiveSource::LiveSource(MediaReader& reader, size_t maxBytes)
    : m_reader(reader), m_maxBytes(maxBytes), m_thread([this] { Run(); })
{
}

LiveSource::~LiveSource()
{
    Stop();
    m_thread.join();
}

void LiveSource::Run()
{
    Item item;
    try {
        while (m_reader.Next(item)) {
            const size_t bytes = ItemBytes(item);
            const bool video = item.kind == Item::Kind::Video;
            std::lock_guard lock(m_mutex);
            m_counts.frames += video ? 1 : 0;
            if (!m_queue.empty() && m_bytes + bytes > m_maxBytes) {
                ++(video ? m_counts.droppedFrames : m_counts.droppedPackets);
                continue;
            }
            m_queue.emplace_back();
            Item& queued = m_queue.back();
            queued.kind = item.kind;
            av_frame_move_ref(queued.frame.get(), item.frame.get());
            av_packet_move_ref(queued.packet.get(), item.packet.get());
            m_bytes += bytes;
            m_counts.peakBytes = std::max(m_counts.peakBytes, m_bytes);
            m_ready.notify_all();
        }
    } catch (...) {
        std::lock_guard lock(m_mutex);
        m_error = std::current_exception();
    }
    std::lock_guard lock(m_mutex);
    m_ended = true;
    m_ready.notify_all();
}

bool LiveSource::Next(Item& item)
{
    std::unique_lock lock(m_mutex);
    m_ready.wait(lock, [&] { return !m_queue.empty() || m_ended; });
    if (m_queue.empty()) {
        if (m_error)
            std::rethrow_exception(m_error);
        return false;
    }
    Item& front = m_queue.front();
    m_bytes -= ItemBytes(front);
    item.kind = front.kind;
    av_frame_unref(item.frame.get());
    av_packet_unref(item.packet.get());
    av_frame_move_ref(item.frame.get(), front.frame.get());
    av_packet_move_ref(item.packet.get(), front.packet.get());
    m_queue.pop_front();
    return true;
}

void LiveSource::WaitForEnd()
{
    std::unique_lock lock(m_mutex);
    m_ready.wait(lock, [&] { return m_ended; });
}

LiveSource::Counts LiveSource::GetCounts() const
{
    std::lock_guard lock(m_mutex);
    return m_counts;
}

// ---- QuitKey ----------------------------------------------------------------

struct QuitKey::Saved {
    termios settings;
};

QuitKey::QuitKey(bool watch)
{
    termios settings{};
    if (!watch || isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &settings) != 0)
        return;
    m_saved = std::make_unique<Saved>(Saved{settings});
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    m_watching = tcsetattr(STDIN_FILENO, TCSANOW, &settings) == 0;
}

QuitKey::~QuitKey()
{
    if (m_saved)
        tcsetattr(STDIN_FILENO, TCSANOW, &m_saved->settings);
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
