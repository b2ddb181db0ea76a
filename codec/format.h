// What the codec core knows of a frame and of a result, in its own plain types:
// the driver turns the platform's records into these, and every other caller
// (the tool, the plugins, the tests) uses them directly.
#pragma once

#include <cstdint>

namespace tarv {

// A format code as four ASCII characters, the first in the lowest byte.
constexpr uint32_t FourCC(char a, char b, char c, char d)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

// Uncompressed RGB: the format code 0.
inline constexpr uint32_t kFormatRGB = 0;

// One frame's description: the fields of a bitmap header that the codec reads.
struct FrameFormat {
    uint32_t compression = 0; // format code: a FourCC, or kFormatRGB
    int32_t width = 0;
    int32_t height = 0;     // for RGB, negative when the rows are stored top-down
    uint16_t bitCount = 0;  // bits a pixel
    uint32_t sizeImage = 0; // bytes of the frame; of the payload when compressed

    friend bool operator==(const FrameFormat&, const FrameFormat&) = default;
};

// The outcome of a codec operation. The numbers are the platform's driver
// result codes, which the driver hands on unchanged.
enum class Status : int32_t {
    Ok = 0,
    BadFormat = -2, // a format, size or buffer the codec does not take
    Memory = -3,    // no memory for the stream's buffers
    Error = -100,   // the frame could not be coded: damaged payload, too little room
};

// Bytes of one packed frame row: width * (bitCount / 8), rounded up to 4.
constexpr int64_t PackedRowBytes(int64_t width, int64_t bitCount)
{
    return (width * (bitCount / 8) + 3) / 4 * 4;
}

// A packed (uncompressed) frame: the given format and depth, and sizeImage the
// bytes of all its rows, whichever way up they lie (none for a negative width).
constexpr FrameFormat PackedFrameFormat(int32_t width, int32_t height, uint32_t compression,
                                        uint16_t bitCount)
{
    const int64_t rows = height < 0 ? -int64_t{height} : height;
    const int64_t row = PackedRowBytes(width, bitCount);
    return FrameFormat{compression, width, height, bitCount,
                       static_cast<uint32_t>(row < 0 ? 0 : row * rows)};
}

} // namespace tarv
