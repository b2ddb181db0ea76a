// The sound of a recording: which audio streams go into an output, and how.
//
// Audio is copied packet for packet when the output container carries its
// codec. An AVI gets only what Video for Windows programs read back (PCM,
// MP3, AC-3 and the other classic WAVE formats); anything else (AAC, Opus,
// FLAC, ...) is decoded to PCM at its own rate, channel layout and sample
// format, which loses nothing. Other outputs only ever get copies.
//
// AVI keeps no time for sound: each stream plays from the file's start,
// sample after sample. PCM is therefore placed by writing silence for a late
// start or a gap; a compressed stream that starts late is decoded to PCM so
// that it can be placed too.
#pragma once

#include "tools/shared/ffmpeg.h"

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

// How a carried stream is coded in the output: its packets copied, decoded
// to PCM, or (Recode) decoded and coded again, exactly, in a lossless codec
// the output holds (ALAC or FLAC), for an output that cannot hold its own.
enum class AudioCoding { Copy, Pcm, Recode };

struct AudioPlan {
    int stream; // the input's stream index
    AudioCoding coding;
    AVCodecID codec = AV_CODEC_ID_NONE; // Recode: the lossless codec
};

struct StreamPlan {
    std::vector<AudioPlan> audio;
    // The recording's start, the earliest of the video and the carried
    // streams, in `timeBase` (the video's); AV_NOPTS_VALUE when unknown.
    int64_t origin = AV_NOPTS_VALUE;
    AVRational timeBase{1, AV_TIME_BASE};
    // What is decoded or not carried, one message per stream, for stderr.
    std::vector<std::string> notes;
};

// The audio of `input` that `output` gets. `decode` allows decoding to PCM
// (encode into AVI); without it streams are copied, recoded losslessly when
// the output cannot hold their codec, or left out. `videoStream`
// is -1 for an input of sound.
StreamPlan PlanStreams(const std::string& file, const AVFormatContext* input, int videoStream,
                       const AVOutputFormat* output, const AudioChoice& choice, bool decode);

// Bytes of one sample of all channels of linear PCM, or 0 for anything else.
int PcmSampleBytes(const AVCodecParameters* par);
// The byte value of silence in a PCM codec: 128 for unsigned 8-bit, else 0.
uint8_t SilenceByte(AVCodecID id);

// Places one PCM stream as AVI keeps it: by position from the file's start.
// Times are in `timeBase`: `origin` is the file's start, and nothing from
// `end` on is kept (AV_NOPTS_VALUE: no end). A gap in the timestamps is filled
// with silence up to kLongestGapSeconds; a longer jump, ahead or back, is
// not: the samples go on from where the last ended.
class SoundPlacer {
public:
    SoundPlacer(int rate, AVRational streamTime, int64_t origin, int64_t end, AVRational timeBase);
    struct Placed {
        int64_t silence;  // samples of silence to write first
        int64_t keep;     // of the samples given, how many to write
        int64_t position; // where the kept samples start, in samples
        int64_t jump;     // samples the timestamps jumped and were not filled (< 0: back)
    };
    // `samples` samples that start at `pts` (stream time; AV_NOPTS_VALUE:
    // right after the last).
    Placed Place(int64_t pts, int64_t samples);
    // Nothing from `end` on is kept: a time from the file's start.
    void CutAt(int64_t end, AVRational timeBase);

private:
    int m_rate;
    AVRational m_streamTime;
    int64_t m_origin, m_end; // in samples
    int64_t m_next = 0;
};

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
    // Bytes of one sample of all channels, interleaved.
    int SampleBytes() const;
    int Channels() const { return m_channels; }
    // Decodes `packet` (null: the end) and hands each frame to `out`.
    void Decode(const AVPacket* packet, const std::function<void(AVFrame*)>& out);

private:
    std::string m_file;
    CodecPtr m_decoder;
    FramePtr m_frame, m_packed;
    SwrContext* m_swr = nullptr;
    int m_channels = 0; // what the output was opened for
};

// The carried audio streams of one output, added to it before its header is
// written; packets of the input are written through them.
class AudioTracks {
public:
    AudioTracks(const std::string& file, const AVFormatContext* input, const StreamPlan& plan);
    ~AudioTracks();
    AudioTracks(AudioTracks&&) noexcept;
    AudioTracks& operator=(AudioTracks&&) noexcept;

    // Adds one output stream per carried stream.
    void AddTo(AVFormatContext* output);
    // Input time `origin` becomes the output's 0; nothing from `end` on is
    // written (AV_NOPTS_VALUE: no end). Both in `timeBase`.
    void SetTiming(int64_t origin, int64_t end, AVRational timeBase);
    // Nothing from `end` on is written: a time from the file's start, which
    // may only come earlier than SetTiming's.
    void CutAt(int64_t end, AVRational timeBase);
    // Writes what the packet becomes; the packet is consumed.
    void Write(AVFormatContext* output, const std::string& name, AVPacket* packet);
    // Flushes decoders.
    void Finish(AVFormatContext* output, const std::string& name);

private:
    struct Track;
    void Send(AVFormatContext* output, const std::string& name, Track& t, AVPacket* packet,
              AVRational timeBase);
    // Where PCM samples go; a jump not filled is reported.
    SoundPlacer::Placed Place(Track& t, int64_t pts, int64_t samples);
    // PCM samples (null `data`: silence) at `position`, gathered into
    // packets of 10 ms or more, and of at most a few MiB.
    void WritePcm(AVFormatContext* output, const std::string& name, Track& t, int64_t position,
                  const uint8_t* data, int64_t samples);
    void Flush(AVFormatContext* output, const std::string& name, Track& t);
    // Decodes a packet (null: the end) into placed PCM.
    void Decode(AVFormatContext* output, const std::string& name, Track& t, const AVPacket* packet);
    // A decoded frame into PCM packets; null flushes the encoder.
    void Encode(AVFormatContext* output, const std::string& name, Track& t, AVFrame* frame);
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
    // Adds `bytes` bytes of silence (zero, or 128 for unsigned 8-bit).
    void AddSilence(int side, size_t bytes, uint8_t value);
    // Empty while they agree.
    const std::string& Difference() const { return m_difference; }
    // Bytes of one side not yet compared.
    size_t Pending(int side) const { return m_pending[side].size() - m_done[side]; }
    // Call at the end of both.
    void Finish();

private:
    void Compare();
    int m_channels, m_bytes, m_rate;
    // Bytes of a side from its `m_done` on are not yet compared; those before
    // are dropped once they are the larger part, so each is moved about once.
    std::vector<uint8_t> m_pending[2];
    size_t m_done[2] = {0, 0};
    int64_t m_agreed = 0; // samples (of one channel) compared equal
    std::string m_difference;
};

} // namespace tarv
