// Reading a recording: the decoded frames of its video stream and the packets
// of the other streams it carries, in the order the input holds them.
#pragma once

#include "tools/shared/ffmpeg.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace tarv {

// One thing read: a decoded video frame, or a packet of a carried stream.
struct FrameOrPacket {
    enum class Kind { Frame, Packet };
    Kind kind = Kind::Frame;
    size_t input = 0; // which of several inputs it came from
    FramePtr frame = NewFrame();
    PacketPtr packet = NewPacket();
};

class Source {
public:
    virtual ~Source() = default;
    // The next item; false at the end. The item's old contents are dropped.
    virtual bool Next(FrameOrPacket& item) = 0;
};

// The first video stream of any input FFmpeg reads (image sequences, pipes,
// capture devices), decoded, with the packets of the streams it is told to
// carry. Without `video`, only those packets: an input of sound.
class RecordingReader : public Source {
public:
    explicit RecordingReader(const InputSpec& input, bool video = true);
    ~RecordingReader() override;

    bool Next(FrameOrPacket& item) override;
    // Packets of these streams come with the frames.
    void Carry(std::vector<int> streams) { m_carried = m_pending = std::move(streams); }
    // Ends reading from any thread: a read that waits gives up, and Next()
    // returns false. Interrupts (Ctrl-C) do the same.
    void Stop() { m_stop = true; }
    // Reading ends at `pts`: frames from then on are left out, and reading
    // stops once every carried stream has got there.
    void StopAt(int64_t pts, AVRational timeBase) { m_stopAt = pts, m_stopTime = timeBase; }
    bool HasEnd() const { return m_stopAt != AV_NOPTS_VALUE; }

    const std::string& Path() const { return m_path; }
    const AVFormatContext* Format() const { return m_format.get(); }
    // The video stream, and what is known of it; not for an input of sound.
    const AVStream* Stream() const { return m_format->streams[m_stream]; }
    int StreamIndex() const { return m_stream; }
    bool Live() const { return m_live; }
    int Width() const { return m_decoder->width; }
    int Height() const { return m_decoder->height; }
    AVPixelFormat PixelFormat() const { return m_decoder->pix_fmt; }
    AVRational FrameRate() const { return m_rate; }
    // Frames the container announces, or 0 when it does not know.
    int64_t FrameCountHint() const { return m_countHint; }
    int64_t FramesRead() const { return m_frames; }

private:
    static int StopRequested(void* reader);
    bool Receive(FrameOrPacket& item);
    // Whether a packet of a carried stream is to be left out: any past the
    // end but the first, which places sound up to the end.
    bool PastStop(const AVPacket* packet);

    std::string m_path;
    std::atomic<bool> m_stop{false};
    FormatPtr m_format;
    CodecPtr m_decoder;
    std::vector<int> m_carried;
    int64_t m_stopAt = AV_NOPTS_VALUE;
    AVRational m_stopTime{1, 1};
    bool m_videoDone = false;
    std::vector<int> m_pending; // carried streams not yet at m_stopAt
    int m_stream = -1;
    bool m_live = false;
    AVRational m_rate{25, 1};
    int64_t m_countHint = 0;
    int64_t m_frames = 0;
    bool m_draining = false;
};

} // namespace tarv
