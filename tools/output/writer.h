// Decoded video into any output FFmpeg writes: raw video in AVI, Matroska,
// NUT or MOV, YUV4MPEG, image sequences, or any encoder FFmpeg has.
#pragma once

#include "tools/shared/audio.h"
#include "tools/shared/ffmpeg.h"

#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
}

struct SwsContext;

namespace tarv {

// Options of a decoded output; empty strings mean "follow the file name".
struct OutputChoice {
    std::string format; // muxer, as ffmpeg -f names it
    std::string codec;  // encoder, as ffmpeg -c:v names it
    std::string pixelFormat;
    // The decoded YUV is full range (0-255): AVI keeps no range, so only the
    // user can say so.
    bool fullRange = false;
};

// The format of an output: the choice's, or the one its name says.
const AVOutputFormat* OutputFormat(const std::string& name, const OutputChoice& choice);

// Frames encoded and muxed into any output FFmpeg writes, with the sound
// its audio tracks copy.
class RecordingWriter {
public:
    // Bytes go to `path`; `name`, the file the user asked for, decides the
    // format unless the choice names one, and appears in messages.
    RecordingWriter(const std::string& path, const std::string& name, const OutputChoice& choice,
                    AVPixelFormat source, int width, int height, AVRational rate,
                    AudioTracks& audio);
    ~RecordingWriter();
    // Why the output's pixel format loses something, or empty.
    const std::string& Loss() const { return m_loss; }
    std::string Description() const;
    void Write(const AVFrame* frame);
    // A packet of an input stream the tracks carry.
    void WriteAudio(AVPacket* packet) { m_audio.Write(m_format.get(), m_path, packet); }
    void Finish();

private:
    void Drain(bool flush);

    std::string m_path;
    AudioTracks& m_audio;
    FormatPtr m_format;
    CodecPtr m_encoder;
    AVStream* m_stream = nullptr;
    SwsContext* m_sws = nullptr;
    FramePtr m_converted;
    PacketPtr m_packet;
    std::string m_loss;
    AVColorRange m_range = AVCOL_RANGE_UNSPECIFIED;
    int64_t m_frames = 0;
};

} // namespace tarv
