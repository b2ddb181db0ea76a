// Tarv AVI files: one Tarv video stream, every frame a key frame, beside the
// recording's sound. OpenDML indexes take over beyond 1 GiB.
#pragma once

#include "tools/audio.h"
#include "tools/ffmpeg.h"
#include "variants/frame_coder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarv {

class AviWriter {
public:
    // Bytes go to `path`; messages name `name`, the file the user asked for.
    // `audio` holds the tracks of each input, in order.
    AviWriter(const std::string& path, const std::string& name, Variant v, int width, int height,
              AVRational rate, std::vector<AudioTracks*> audio);
    ~AviWriter();
    void Write(const std::vector<uint8_t>& payload);
    // A packet of a stream input `input`'s tracks carry.
    void WriteAudio(size_t input, AVPacket* packet)
    {
        m_audio[input]->Write(m_format.get(), m_name, packet);
    }
    void Finish();
    int64_t Bytes() const { return m_bytes; }

private:
    std::string m_name;
    std::vector<AudioTracks*> m_audio;
    FormatPtr m_format;
    PacketPtr m_packet;
    AVRational m_rate;
    int64_t m_frames = 0;
    int64_t m_bytes = 0;
};

// The Tarv stream of an AVI file, its geometry and payloads in order, and the
// packets of its other streams between them.
class TarvReader {
public:
    explicit TarvReader(const InputSpec& input);
    ~TarvReader();

    enum class Got { End, Payload, Packet };
    // The next payload, or a packet of another stream in `packet`.
    Got Next(std::vector<uint8_t>& payload, AVPacket* packet);

    const std::string& Path() const { return m_path; }
    const AVFormatContext* Format() const { return m_format.get(); }
    int StreamIndex() const { return m_stream; }
    Variant GetVariant() const { return m_variant; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    AVRational FrameRate() const { return m_rate; }
    int64_t FrameCountHint() const { return m_countHint; }
    int64_t FramesRead() const { return m_frames; }

private:
    std::string m_path;
    FormatPtr m_format;
    int m_stream = -1;
    Variant m_variant = Variant::Yuy2;
    int m_width = 0, m_height = 0;
    AVRational m_rate{25, 1};
    int64_t m_countHint = 0;
    int64_t m_frames = 0;
};

} // namespace tarv
