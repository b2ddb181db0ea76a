// The frame size and rate of a video stream, read from an AVI file's header.
//
// avidemux hands streams it has no caps for on as video/x-avi-unknown with
// their FourCC alone: no size, no rate. The decoder finds them here instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tarv_gst {

struct AviVideo {
    int32_t width = 0, height = 0;
    uint32_t rate = 0, scale = 0; // frames per second: rate / scale (0 when unknown)
    uint32_t frames = 0;          // the stream's length in frames, as the header says
};

// How many bytes of the file's start AviVideoStream() wants at most.
inline constexpr size_t kAviHeaderBytes = size_t{1} << 20;

// The video stream with this FourCC (in its format or its handler): stream
// number `stream` when it is one, otherwise the first. Nullopt when the bytes
// are not an AVI header that holds one.
std::optional<AviVideo> AviVideoStream(const uint8_t* data, size_t size, uint32_t fourcc,
                                       std::optional<unsigned> stream);

} // namespace tarv_gst
