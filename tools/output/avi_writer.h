// Tarv AVI files written: one Tarv video stream, every frame a key frame,
// beside the recording's sound. OpenDML indexes take over beyond 1 GiB.
#pragma once

#include "tools/shared/audio.h"
#include "tools/shared/ffmpeg.h"
#include "variants/frame_coder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarv {

class TarvAviWriter {
public:
    // Bytes go to `path`; messages name `name`, the file the user asked for.
    // `audio` holds the tracks of each input, in order.
    TarvAviWriter(const std::string& path, const std::string& name, Variant v, int width,
                  int height, AVRational rate, std::vector<AudioTracks*> audio);
    ~TarvAviWriter();
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

} // namespace tarv
