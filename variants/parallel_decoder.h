// Frames decoded several at once, one codec object per worker thread, and
// handed back in their order: how the players and the tool decode a stream.
// Every frame is a key frame, so frames decode apart from each other.
//
// The caller fills the frame at Back() (its payload, where it goes, its own
// tag), submits it, and takes frames back oldest first with Front() and Pop().
// At most 2 x threads frames are in flight. The payload and the destination
// are not copied: each caller holds them anyway (a mapped GStreamer buffer, a
// VLC block, a slot of the tool), and a copy would only add work on the
// caller's thread, which feeds every worker. They must stay alive until the
// frame is taken back. With one thread, frames decode on the caller's thread as
// they are submitted.
#pragma once

#include "variants/frame_coder.h"
#include "variants/ordered_workers.h"
#include "variants/picture.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tarv {

// What a frame is decoded into.
enum class FrameLayout {
    Packed,     // FrameDecoder's packed frame, FrameBytes() bytes; the stride is not used
    Picture,    // a top-down picture (PackedToPicture), pixels as the codec keeps them
    RgbPicture, // the same with 24-bit pixels as R,G,B
};

// Each worker's codec object and the packed frame it decodes into when the
// destination cannot take it as it is: ParallelDecoder's part that needs no
// template.
class WorkerDecoders {
public:
    // Throws std::runtime_error when the codec refuses the size.
    WorkerDecoders(Variant v, int width, int height, int workers, FrameLayout layout);
    ~WorkerDecoders();
    WorkerDecoders(const WorkerDecoders&) = delete;
    WorkerDecoders& operator=(const WorkerDecoders&) = delete;

    // False for a damaged payload; the destination's content is then unspecified.
    bool Decode(int worker, const uint8_t* payload, size_t size, uint8_t* pixels, size_t stride);

private:
    struct Worker {
        std::unique_ptr<FrameDecoder> decoder;
        std::vector<uint8_t> scratch;
    };
    Variant m_variant;
    int m_width, m_height;
    FrameLayout m_layout;
    std::vector<Worker> m_workers;
};

template <class Tag> class ParallelDecoder {
public:
    struct Frame {
        // Filled by the caller.
        const uint8_t* payload = nullptr;
        size_t size = 0;
        // Where the frame goes, rows `stride` bytes apart and at least
        // PictureRowBytes() long (see PackedToPicture); null for a frame that
        // only keeps its place in the order (an empty chunk that repeats the
        // picture before).
        uint8_t* pixels = nullptr;
        size_t stride = 0;
        Tag tag{};
        // Set by the decoder: false for a damaged payload, or no destination;
        // and when its decoding ended, for a player that paces itself by it.
        bool decoded = false;
        std::chrono::steady_clock::time_point finished{};
    };

    // Throws std::runtime_error when the codec refuses the size.
    ParallelDecoder(Variant v, int width, int height, int threads, FrameLayout layout)
        : m_threads(std::max(threads, 1)), m_decoders(v, width, height, m_threads, layout),
          m_frames(m_threads > 1 ? m_threads : 0, [this](int worker, Frame& f) {
              f.decoded = false; // stays so when Decode throws
              f.decoded = f.pixels != nullptr &&
                          m_decoders.Decode(worker, f.payload, f.size, f.pixels, f.stride);
              f.finished = std::chrono::steady_clock::now();
          })
    {
    }

    int Threads() const { return m_threads; }
    bool Full() const { return m_frames.Full(); }
    bool Empty() const { return m_frames.Empty(); }

    // The frame to fill next; only while !Full().
    Frame& Back() { return m_frames.Back(); }
    void Submit() { m_frames.Submit(); }
    // The oldest frame submitted, once decoded; only while !Empty(). It stays
    // the caller's until Pop(). Rethrows, once, what its decoding threw (out
    // of memory): a second call hands the frame over, not decoded.
    Frame& Front() { return m_frames.Front(); }
    // True when Front() would not wait.
    bool FrontDone() { return m_frames.FrontDone(); }
    // The frame submitted `ahead` places after the oldest, or null; only what
    // the caller filled in may be read.
    const Frame* Peek(size_t ahead) const { return m_frames.Peek(ahead); }
    void Pop() { m_frames.Pop(); }

private:
    int m_threads;
    WorkerDecoders m_decoders;
    OrderedWorkers<Frame> m_frames; // last: its threads stop before the decoders go
};

} // namespace tarv
