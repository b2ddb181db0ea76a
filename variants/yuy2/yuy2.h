// The yuy2 variant: packed 4:2:2 frames (YUY2, YUNV, V422: one byte layout)
// to and from TRVY.
//
// A packed row reads Y0 U0 Y1 V0 Y2 U1 Y3 V1 ...: pixel j has luma at byte 2j
// and shares the chroma byte of its pair. The sample buffer holds the Y plane
// after m_plane[0] (W x H), then U and V after m_plane[1] (half width rounded up,
// full height). Plane row y holds packed row y, rows in stored order.
#pragma once

#include "codec/codec.h"
#include "variants/variant.h"

namespace tarv {

inline constexpr uint32_t kTarvYUY2FourCC = FourCC('T', 'R', 'V', 'Y');
inline constexpr uint32_t kFourCC_YUY2 = FourCC('Y', 'U', 'Y', '2');
inline constexpr uint32_t kFourCC_YUNV = FourCC('Y', 'U', 'N', 'V');
inline constexpr uint32_t kFourCC_V422 = FourCC('V', '4', '2', '2');

extern const VariantInfo kYuy2;

class CEncoderTarvYUV16 final : public CEncoder {
public:
    int64_t BufferSampleCount(int64_t plane0, int64_t plane1, int64_t plane2) const override;
    int CheckFormat(const FrameFormat* input, const FrameFormat* output) const override;
    uint32_t GetMaxCompressedSize(int32_t width, int32_t height) const override;
    int SplitPlanes(uint16_t* samples, const uint8_t* input, const FrameFormat* format) override;
    int Predict(uint16_t* samples, uint16_t* scratch) override;
};

class CDecoderTarvYUV16 final : public CDecoder {
public:
    int64_t BufferSampleCount(int64_t plane0, int64_t plane1, int64_t plane2) const override;
    int CheckFormat(const FrameFormat* input, const FrameFormat* output) const override;
    uint32_t GetDecompressedSize(int32_t width, int32_t height) const override;
    int MergePlanes(uint8_t* output, const uint16_t* samples, const FrameFormat* format) override;
    int Unpredict(uint16_t* samples, uint16_t* scratch) override;
};

} // namespace tarv
