// FFmpeg's libraries behind small owning classes: reading any video, turning
// its frames into the codec's packed frames and back, and writing and reading
// Tarv AVI files. Every failure is a ToolError whose text names the file and,
// where there is one, the frame.
#pragma once

#include "variants/frame_coder.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixfmt.h>
}

struct SwsContext;

namespace tarv {

// "-" as a file name: standard input for an input, standard output for
// decode's output.
inline constexpr const char* kStandardStream = "-";

struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// FFmpeg's text for an error code.
std::string AvError(int code);
// "FILE: frame N: what" (frame counted from 0), or "FILE: what" when frame < 0.
std::string Where(const std::string& file, int64_t frame, const std::string& what);

struct FormatContextDeleter {
    void operator()(AVFormatContext* c) const;
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using FormatPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
FramePtr NewFrame();
PacketPtr NewPacket();
// Any file FFmpeg reads, opened with its streams probed.
FormatPtr OpenInput(const std::string& path);

// The first video stream of any file FFmpeg reads (image sequences too),
// decoded frame by frame.
class VideoReader {
public:
    explicit VideoReader(const std::string& path);
    ~VideoReader();

    // The next frame, or null at the end. Valid until the next call.
    const AVFrame* Next();

    const std::string& Path() const { return m_path; }
    int Width() const { return m_decoder->width; }
    int Height() const { return m_decoder->height; }
    AVPixelFormat PixelFormat() const { return m_decoder->pix_fmt; }
    AVRational FrameRate() const { return m_rate; }
    // Frames the container announces, or 0 when it does not know.
    int64_t FrameCountHint() const { return m_countHint; }
    int64_t FramesRead() const { return m_frames; }

private:
    bool Receive();

    std::string m_path;
    FormatPtr m_format;
    std::unique_ptr<AVCodecContext, CodecContextDeleter> m_decoder;
    PacketPtr m_packet;
    FramePtr m_frame;
    int m_stream = -1;
    AVRational m_rate{25, 1};
    int64_t m_countHint = 0;
    int64_t m_frames = 0;
    bool m_draining = false;
};

// Why turning frames of `from` into the variant's packed frames is not exact,
// or empty when it is (the same samples, only rearranged).
std::string ConversionLoss(AVPixelFormat from, Variant to, int width);

// Decoded frames of any format into packed frames of one variant.
class ToPacked {
public:
    ToPacked(Variant v, int width, int height);
    ~ToPacked();
    ToPacked(const ToPacked&) = delete;
    ToPacked& operator=(const ToPacked&) = delete;
    // Writes FrameBytes(v, width, height) bytes; padding is zero. False when
    // the frame's size differs or the conversion fails.
    bool Convert(const AVFrame* frame, uint8_t* packed);

private:
    Variant m_variant;
    int m_width, m_height;
    SwsContext* m_sws = nullptr;
    FramePtr m_top; // the converted picture, top-down, rows padded as FFmpeg likes
};

// The pixel format FFmpeg calls the variant's packed frames.
AVPixelFormat PackedPixelFormat(Variant v);
// Copies a packed frame into an AVFrame of PackedPixelFormat(v), top-down.
// For an odd YUY2 width the lone last pixel's V, which the codec does not
// keep, is taken from its left neighbour.
void PackedToFrame(Variant v, const uint8_t* packed, AVFrame* frame);

// A Tarv AVI written through libavformat: one video stream, every frame a key
// frame. OpenDML indexes take over beyond 1 GiB.
class AviWriter {
public:
    // Bytes go to `path`; messages name `name`, the file the user asked for.
    AviWriter(const std::string& path, const std::string& name, Variant v, int width, int height,
              AVRational rate);
    ~AviWriter();
    void Write(const std::vector<uint8_t>& payload);
    void Finish();
    int64_t Bytes() const { return m_bytes; }

private:
    std::string m_path;
    FormatPtr m_format;
    PacketPtr m_packet;
    int64_t m_frames = 0;
    int64_t m_bytes = 0;
};

// The Tarv stream of an AVI file: its geometry and its payloads in order.
class TarvReader {
public:
    explicit TarvReader(const std::string& path);
    ~TarvReader();

    // The next payload; false at the end.
    bool Next(std::vector<uint8_t>& payload);

    const std::string& Path() const { return m_path; }
    Variant GetVariant() const { return m_variant; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    AVRational FrameRate() const { return m_rate; }
    int64_t FrameCountHint() const { return m_countHint; }
    int64_t FramesRead() const { return m_frames; }

private:
    std::string m_path;
    FormatPtr m_format;
    PacketPtr m_packet;
    int m_stream = -1;
    Variant m_variant = Variant::Yuy2;
    int m_width = 0, m_height = 0;
    AVRational m_rate{25, 1};
    int64_t m_countHint = 0;
    int64_t m_frames = 0;
};

// Options of a decoded output; empty strings mean "follow the file name".
struct OutputChoice {
    std::string format; // muxer, as ffmpeg -f names it
    std::string codec;  // encoder, as ffmpeg -c:v names it
    std::string pixelFormat;
};

// Frames encoded and muxed into any output FFmpeg writes.
class VideoWriter {
public:
    // Bytes go to `path`; `name`, the file the user asked for, decides the
    // format unless the choice names one, and appears in messages.
    VideoWriter(const std::string& path, const std::string& name, const OutputChoice& choice,
                AVPixelFormat source, int width, int height, AVRational rate);
    ~VideoWriter();
    // Why the output's pixel format loses something, or empty.
    const std::string& Loss() const { return m_loss; }
    std::string Description() const;
    void Write(const AVFrame* frame);
    void Finish();

private:
    void Drain(bool flush);

    std::string m_path;
    FormatPtr m_format;
    std::unique_ptr<AVCodecContext, CodecContextDeleter> m_encoder;
    AVStream* m_stream = nullptr;
    SwsContext* m_sws = nullptr;
    FramePtr m_converted;
    PacketPtr m_packet;
    std::string m_loss;
    int64_t m_frames = 0;
};

// A short built-in clip from FFmpeg's test sources (libavfilter): moving
// colour patterns with film-like noise, as yuv444p frames.
std::vector<FramePtr> GenerateClip(int width, int height, int frames);
// `frames` frames from a libavfilter graph description with one output, such
// as "movie=photo.png,scale=1920:1080". A source that ends early repeats its
// last frame.
std::vector<FramePtr> FilterFrames(const std::string& description, int frames);

} // namespace tarv
