// FFmpeg's handles behind small owning types, its errors as ToolErrors, and
// the few choices every command makes the same way (opening an input, a
// stream's frame rate, writing an output). Every failure is a ToolError whose
// text names the file and, where there is one, the frame.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

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
using CodecPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
FramePtr NewFrame();
PacketPtr NewPacket();

// What to read: a file, "-", or a device or source of libavdevice (x11grab,
// v4l2, pulse, alsa, lavfi) named by `format`, with its options.
struct InputSpec {
    std::string path;
    std::string format; // empty: FFmpeg probes the file
    std::vector<std::pair<std::string, std::string>> options;
};

// Any input FFmpeg reads, opened with its streams probed. Whenever `stop`
// returns non-zero, a read that waits gives up with AVERROR_EXIT. Devices
// are opened without blocking: a read may return AVERROR(EAGAIN).
FormatPtr OpenInput(const InputSpec& input, int (*stop)(void*) = nullptr, void* opaque = nullptr);
// True when the input is a capture device or source rather than a file: it
// runs until it is stopped.
bool IsLive(const AVFormatContext* input);

// A decoder for an input stream, opened.
CodecPtr OpenDecoder(const std::string& file, const AVStream* stream);

// The frame rate a video stream declares, or `fallback`.
AVRational StreamRate(const AVStream* stream, AVRational fallback = {25, 1});

// Output contexts. `path` is where the bytes go (a temporary name, or
// "pipe:1"); `name` is what the user asked for, used in messages.
FormatPtr NewOutput(const std::string& name, const std::string& path, const AVOutputFormat* format);
// Opens the file and writes the header.
void StartOutput(AVFormatContext* output, const std::string& name, const std::string& path,
                 AVDictionary** options = nullptr);
// Writes the trailer and closes the file.
void FinishOutput(AVFormatContext* output, const std::string& name);
// Hands a packet, timed in `timeBase`, to the muxer, which interleaves the
// streams by time. The packet is consumed.
void WritePacket(AVFormatContext* output, const std::string& name, AVPacket* packet,
                 AVRational timeBase);

} // namespace tarv
