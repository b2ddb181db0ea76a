// Whole frames through a variant's codec objects: the plain interface that the
// tool, the tests, the fuzz targets and the benchmarks code frames with.
//
// A frame here is a packed frame as a Windows program hands it to the driver:
// YUY2 rows top-down, 2 bytes a pixel, or 24-bit BGR rows bottom-up; each row
// padded to a multiple of 4 bytes. The payload a FrameEncoder writes is byte for
// byte what DriverProc writes for that frame.
#pragma once

#include "codec/codec.h"
#include "variants/registry.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tarv {

// Bytes of one packed row and of one packed frame of this size.
size_t RowBytes(Variant v, int width);
size_t FrameBytes(Variant v, int width, int height);
// Bytes of each packed row that carry picture: the rest is padding. An odd
// YUY2 width keeps its lone last pixel's Y and U only.
size_t PictureRowBytes(Variant v, int width);

// True when the codec takes frames of this size.
bool SizeSupported(Variant v, int width, int height);

// Samples of one frame's coded block. Up to kAlwaysCodedSamples every frame
// codes; beyond it (24-bit RGB at 3840x2160, say) only frames whose detail
// keeps the coder's interval wide enough do, and others are refused.
inline constexpr int64_t kAlwaysCodedSamples = int64_t{1} << 24;
int64_t SamplesPerFrame(Variant v, int width, int height);

class FrameEncoder {
public:
    // Throws std::runtime_error when the codec refuses the size.
    FrameEncoder(Variant v, int width, int height);
    ~FrameEncoder();
    FrameEncoder(const FrameEncoder&) = delete;
    FrameEncoder& operator=(const FrameEncoder&) = delete;

    // Compresses one packed frame of FrameBytes() bytes into `out` (resized to
    // the payload). False when the codec refuses the frame.
    bool Encode(const uint8_t* frame, std::vector<uint8_t>& out);

private:
    FrameFormat m_format;
    std::unique_ptr<CEncoder> m_encoder;
    std::unique_ptr<uint8_t[]> m_buffer;
};

class FrameDecoder {
public:
    FrameDecoder(Variant v, int width, int height);
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // Decompresses a payload into a packed frame of FrameBytes() bytes, with
    // its row padding zeroed. False for a damaged payload; the frame's content
    // is then unspecified.
    bool Decode(const uint8_t* payload, size_t size, uint8_t* frame);

private:
    Variant m_variant;
    FrameFormat m_raw, m_compressed;
    std::unique_ptr<CDecoder> m_decoder;
};

} // namespace tarv
