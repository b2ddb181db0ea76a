// The frame size and rate of a video stream, read from an AVI file's header.
//
// avidemux hands streams it has no caps for on as video/x-avi-unknown with
// their FourCC alone: no size, no rate. The decoder finds them here instead,
// and, at the end of a file that seems short, the frame chunks the file holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace tarv_gst {

struct AviVideo {
    int32_t width = 0, height = 0;
    uint32_t rate = 0, scale = 0; // frames per second: rate / scale (0 when unknown)
    uint32_t frames = 0;          // the stream's length in frames, as the header says
    unsigned stream = 0;          // its number in the file
};

// How many bytes of the file's start AviVideoStream() wants at most.
inline constexpr size_t kAviHeaderBytes = size_t{1} << 20;

// The video stream with this FourCC (in its format or its handler): stream
// number `stream` when it is one, otherwise the first. Nullopt when the bytes
// are not an AVI header that holds one.
std::optional<AviVideo> AviVideoStream(const uint8_t* data, size_t size, uint32_t fourcc,
                                       std::optional<unsigned> stream);

// Reads up to `size` bytes at `offset` of a file; the count read.
using AviReadAt = std::function<size_t(uint64_t offset, uint8_t* to, size_t size)>;

struct AviChunks {
    uint64_t count = 0; // the stream's frame chunks that the file holds whole
    uint64_t coded = 0; // one past the last of them that is not empty
};

// Counts the frame chunks of stream `stream` in an AVI file of `fileSize`
// bytes, through its RIFF lists ('AVI ' and OpenDML's 'AVIX'). An empty chunk
// is a Video for Windows drop frame, which demuxers skip: frames past `coded`
// and up to `count` are all such.
AviChunks AviStreamChunks(const AviReadAt& read, uint64_t fileSize, unsigned stream);

} // namespace tarv_gst
