// The rgb24 variant: 24-bit RGB frames (BI_RGB or 'DIB ') to and from TRVR.
//
// The sample buffer holds three planes after m_plane[0], back to back: red,
// green, blue. Plane row y holds packed row y (rows in stored order); packed
// pixel x is the bytes blue, green, red at 3x.
#pragma once

#include "codec/codec.h"
#include "variants/variant.h"

namespace tarv {

inline constexpr uint32_t kTarvRGB24FourCC = FourCC('T', 'R', 'V', 'R');
inline constexpr uint32_t kFourCC_DIB = FourCC('D', 'I', 'B', ' ');

extern const VariantInfo kRgb24;

class CEncoderTarvRGB24 final : public CEncoder {
public:
    int64_t BufferSampleCount(int64_t plane0, int64_t plane1, int64_t plane2) const override;
    int CheckFormat(const FrameFormat* input, const FrameFormat* output) const override;
    uint32_t GetMaxCompressedSize(int32_t width, int32_t height) const override;
    int SplitPlanes(uint16_t* samples, const uint8_t* input, const FrameFormat* format) override;
    int Predict(uint16_t* samples, uint16_t* scratch) override;
};

class CDecoderTarvRGB24 final : public CDecoder {
public:
    int64_t BufferSampleCount(int64_t plane0, int64_t plane1, int64_t plane2) const override;
    int CheckFormat(const FrameFormat* input, const FrameFormat* output) const override;
    uint32_t GetDecompressedSize(int32_t width, int32_t height) const override;
    int MergePlanes(uint8_t* output, const uint16_t* samples, const FrameFormat* format) override;
    int Unpredict(uint16_t* samples, uint16_t* scratch) override;
};

} // namespace tarv
