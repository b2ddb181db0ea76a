// The tarvr variant: 24-bit RGB frames (BI_RGB or 'DIB ') to and from TRVR.
//
// The sample buffer holds three planes after m_plane[0], back to back: red,
// green, blue. Plane row y holds packed row y (rows in stored order); packed
// pixel x is the bytes blue, green, red at 3x.
#pragma once

#include "codec/codec.h"

inline constexpr DWORD kTarvRGB24FourCC = MakeFourCC('T', 'R', 'V', 'R');
inline constexpr char16_t kTarvRGB24Description[] = u"Tarv Lossless Video Codec (RGB24)";

class CEncoderTarvRGB24 final : public CEncoderTarv<kTarvRGB24FourCC> {
public:
    int64_t BufferSampleCount(int64_t plane0, int64_t plane1, int64_t plane2) const override;
    int CheckFormat(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output) const override;
    uint32_t GetMaxCompressedSize(LONG width, LONG height) const override;
    int SplitPlanes(uint16_t* samples, const uint8_t* input,
                    const BITMAPINFOHEADER* header) override;
    int Predict(uint16_t* samples, uint16_t* scratch) override;
};

class CDecoderTarvRGB24 final : public CDecoderTarv {
public:
    int64_t BufferSampleCount(int64_t plane0, int64_t plane1, int64_t plane2) const override;
    int CheckFormat(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output) const override;
    uint32_t GetDecompressedSize(LONG width, LONG height) const override;
    int MergePlanes(uint8_t* output, const uint16_t* samples,
                    const BITMAPINFOHEADER* header) override;
    int Unpredict(uint16_t* samples, uint16_t* scratch) override;
};
