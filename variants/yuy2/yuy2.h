// The tarvy variant: packed 4:2:2 frames (YUY2, YUNV, V422: one byte layout)
// to and from TRVY.
//
// A packed row reads Y0 U0 Y1 V0 Y2 U1 Y3 V1 ...: pixel j has luma at byte 2j
// and shares the chroma byte of its pair. The sample buffer holds the Y plane
// after m_plane[0] (W x H), then U and V after m_plane[1] (half width rounded up,
// full height). Plane row y holds packed row y, rows in stored order.
#pragma once

#include "codec/codec.h"

inline constexpr DWORD kTarvYUY2FourCC = MakeFourCC('T', 'R', 'V', 'Y');
inline constexpr DWORD kFourCC_YUY2 = MakeFourCC('Y', 'U', 'Y', '2');
inline constexpr DWORD kFourCC_YUNV = MakeFourCC('Y', 'U', 'N', 'V');
inline constexpr DWORD kFourCC_V422 = MakeFourCC('V', '4', '2', '2');
inline constexpr char16_t kTarvYUY2Description[] = u"Tarv Lossless Video Codec (YUY2)";

class CEncoderTarvYUV16 final : public CEncoderTarv<kTarvYUY2FourCC> {
public:
    int64_t BufferSampleCount(int64_t plane0, int64_t plane1, int64_t plane2) const override;
    int CheckFormat(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output) const override;
    uint32_t GetMaxCompressedSize(LONG width, LONG height) const override;
    int SplitPlanes(uint16_t* samples, const uint8_t* input,
                    const BITMAPINFOHEADER* header) override;
    int Predict(uint16_t* samples, uint16_t* scratch) override;
};

class CDecoderTarvYUV16 final : public CDecoderTarv {
public:
    int64_t BufferSampleCount(int64_t plane0, int64_t plane1, int64_t plane2) const override;
    int CheckFormat(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output) const override;
    uint32_t GetDecompressedSize(LONG width, LONG height) const override;
    int MergePlanes(uint8_t* output, const uint16_t* samples,
                    const BITMAPINFOHEADER* header) override;
    int Unpredict(uint16_t* samples, uint16_t* scratch) override;
};
