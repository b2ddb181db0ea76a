// The sound of a recording: which audio streams go into an output, and how.
//
// Audio is copied packet for packet when the output container carries its
// codec. An AVI gets only what Video for Windows programs read back (PCM,
// MP3, AC-3 and the other classic WAVE formats); anything else (AAC, Opus,
// FLAC, ...) is decoded to PCM at its own rate, channel layout and sample
// format, which loses nothing. Other outputs only ever get copies.
#pragma once

#include "tools/ffmpeg.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct SwrContext;

namespace tarv {

struct AudioChoice {
    bool none = false; // --no-audio
    int only = 0;      // --audio N: the Nth audio stream (from 1), 0 for all
};

enum class AudioWay { Copy, Pcm };

struct AudioPlan {
    int stream; // the input's stream index
    AudioWay way;
};

struct StreamPlan {
    std::vector<AudioPlan> audio;
    // What is decoded or not carried, one message per stream, for stderr.
    std::vector<std::string> notes;
};

// The audio of `input` that `output` gets. `decode` allows decoding to PCM
// (encode into AVI); without it streams are copied or left out.
StreamPlan PlanStreams(const std::string& file, const AVFormatContext* input, int videoStream,
                       const AVOutputFormat* output, const AudioChoice& choice, bool decode);

// Decodes one audio stream into frames of interleaved samples in the
// decoder's own sample format (planar formats become their packed forms).
class PcmDecoder {
public:
    PcmDecoder(const std::string& file, const AVStream* stream);
    ~PcmDecoder();
    PcmDecoder(const PcmDecoder&) = delete;
    PcmDecoder& operator=(const PcmDecoder&) = delete;

    AVSampleFormat Format() const;
    const AVCodecContext* Decoder() const { return m_decoder.get(); }
    // Decodes `packet` (null: the end) and hands each frame to `out`.
    void Decode(const AVPacket* packet, const std::function<void(AVFrame*)>& out);

private:
    std::string m_file;
    CodecPtr m_decoder;
    FramePtr m_frame, m_packed;
    SwrContext* m_swr = nullptr;
};

// The carried audio streams of one output, added to it before its header is
// written; packets of the input are written through them.
class AudioTracks {
public:
    AudioTracks(const std::string& file, const AVFormatContext* input, const StreamPlan& plan);
    ~AudioTracks();
    AudioTracks(AudioTracks&&) noexcept;
    AudioTracks& operator=(AudioTracks&&) noexcept;

    bool Carries(int stream) const;
    std::vector<int> Streams() const;
    // Adds one output stream per carried stream.
    void AddTo(AVFormatContext* output);
    // Input time `origin` becomes the output's 0; packets from `end` on are
    // left out (AV_NOPTS_VALUE: no end). Both in `timeBase`.
    void SetTiming(int64_t origin, int64_t end, AVRational timeBase);
    // Writes what the packet becomes; the packet is consumed.
    void Write(AVFormatContext* output, const std::string& name, AVPacket* packet);
    // Flushes decoders.
    void Finish(AVFormatContext* output, const std::string& name);

private:
    struct Track;
    void Send(AVFormatContext* output, const std::string& name, Track& t, AVPacket* packet,
              AVRational timeBase);
    // A decoded frame into PCM packets; null flushes the encoder.
    void EncodePcm(AVFormatContext* output, const std::string& name, Track& t, AVFrame* frame);
    std::string m_file;
    std::vector<std::unique_ptr<Track>> m_tracks;
    int64_t m_origin = 0, m_end = AV_NOPTS_VALUE;
    AVRational m_timeBase{1, 1};
};

// The first difference between two streams of interleaved samples fed in
// pieces, or where one ends before the other. With a rate of 0 the streams
// are bytes of packets (channels and bytes per sample 1).
class SampleComparer {
public:
    SampleComparer(int channels, int bytesPerSample, int rate)
        : m_channels(channels), m_bytes(bytesPerSample), m_rate(rate)
    {
    }
    void Add(int side, const uint8_t* data, size_t bytes);
    // Empty while they agree.
    const std::string& Difference() const { return m_difference; }
    // Call at the end of both.
    void Finish();

private:
    void Compare();
    int m_channels, m_bytes, m_rate;
    std::vector<uint8_t> m_pending[2];
    int64_t m_agreed = 0; // samples (of one channel) compared equal
    std::string m_difference;
};

} // namespace tarv
