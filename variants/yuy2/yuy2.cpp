#include "variants/yuy2/yuy2.h"

#include "codec/kernels.h"
#include "entropy/allocation.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace tarv {

namespace {

constexpr uint16_t kMinBitCount = 16;

bool IsPackedYUV(uint32_t compression)
{
    return compression == kFourCC_YUY2 || compression == kFourCC_YUNV ||
           compression == kFourCC_V422;
}

// A packed frame this header describes: at least 16 bits a pixel, so rows are
// never derived from a bit count too small to hold them, and small enough that
// every byte offset fits in 31 bits.
bool PackedFrameFits(const FrameFormat& h)
{
    if (h.bitCount < kMinBitCount || h.width < 0)
        return false;
    const int64_t rows = h.height < 0 ? -static_cast<int64_t>(h.height) : h.height;
    return PackedRowBytes(h.width, h.bitCount) * rows <= kMaxFrameQuantity;
}

int64_t YUVSampleCount(int64_t plane0, int64_t plane1)
{
    return plane0 + 2 * plane1;
}

// Luma, then the two chroma planes of the half-width geometry.
std::array<PlaneSpan, 3> LayoutOf(const PlaneInfo* plane)
{
    const size_t n0 = plane[0].size / 2;
    const size_t n1 = plane[1].size / 2;
    const uint32_t s0 = static_cast<uint32_t>(plane[0].stride) / 2;
    const uint32_t s1 = static_cast<uint32_t>(plane[1].stride) / 2;
    return {PlaneSpan{0, plane[0].width, plane[0].height, s0},
            PlaneSpan{n0, plane[1].width, plane[1].height, s1},
            PlaneSpan{n0 + n1, plane[1].width, plane[1].height, s1}};
}

constexpr uint32_t kRawFormats[] = {kFourCC_YUY2, kFourCC_YUNV, kFourCC_V422};

CEncoder* NewEncoder() noexcept
{
    return NewObject<CEncoderTarvYUV16>();
}
CDecoder* NewDecoder() noexcept
{
    return NewObject<CDecoderTarvYUV16>();
}

} // namespace

const VariantInfo kYuy2{Variant::Yuy2,   "yuy2",
                        "tarvy",         "TRVY",
                        kTarvYUY2FourCC, u"Tarv Lossless Video Codec (YUY2)",
                        kRawFormats,     16,
                        false,           PictureFormat::Yuyv422,
                        NewEncoder,      NewDecoder,
                        LayoutOf};

// ---- Encoder ---------------------------------------------------------------

int64_t CEncoderTarvYUV16::BufferSampleCount(int64_t plane0, int64_t plane1, int64_t) const
{
    return YUVSampleCount(plane0, plane1);
}

int CEncoderTarvYUV16::CheckFormat(const FrameFormat* input, const FrameFormat* output) const
{
    if (input == nullptr || input->height < 0 || !IsPackedYUV(input->compression))
        return 0;
    if (output != nullptr && output->compression != kTarvYUY2FourCC)
        return 0;
    return PackedFrameFits(*input) && FrameFits(input->width, input->height) ? 1 : 0;
}

uint32_t CEncoderTarvYUV16::GetMaxCompressedSize(int32_t width, int32_t height) const
{
    const int64_t a = PlaneRowBytes(width);
    const int64_t b = (static_cast<int64_t>(width) + 15) / 16 * 16;
    return static_cast<uint32_t>((a + 2 * b) * height + CRangeCoder16::kMaxTableBytes);
}

int CEncoderTarvYUV16::SplitPlanes(uint16_t* samples, const uint8_t* input,
                                   const FrameFormat* format)
{
    if (samples == nullptr || input == nullptr || format == nullptr)
        return 0;
    const auto [lumaPlane, uPlane, vPlane] = LayoutOf(m_plane);
    const size_t rowBytes = static_cast<size_t>(PackedRowBytes(format->width, format->bitCount));
    // Compress has matched the header to the configured size; the planes bound it anyway.
    const int32_t width = std::min<int32_t>(format->width, m_plane[0].width);
    const int32_t height = std::min<int32_t>(format->height, m_plane[0].height);
    const int32_t pairs = width / 2;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* p = input + static_cast<size_t>(y) * rowBytes;
        uint16_t* luma = samples + static_cast<size_t>(y) * lumaPlane.step;
        uint16_t* u = samples + uPlane.offset + static_cast<size_t>(y) * uPlane.step;
        uint16_t* v = samples + vPlane.offset + static_cast<size_t>(y) * vPlane.step;
        for (int32_t m = 0; m < pairs; ++m, p += 4) {
            luma[2 * m] = p[0];
            u[m] = p[1];
            luma[2 * m + 1] = p[2];
            v[m] = p[3];
        }
        if (width % 2 != 0) {
            // The lone last pixel carries no V byte. Its V sample repeats the
            // row's previous one, so the frame's bytes depend on this frame alone.
            luma[2 * pairs] = p[0];
            u[pairs] = p[1];
            v[pairs] = pairs > 0 ? v[pairs - 1] : 0;
        }
    }
    return 1;
}

int CEncoderTarvYUV16::Predict(uint16_t* samples, uint16_t* scratch)
{
    const auto planes = LayoutOf(m_plane);
    return PredictPlanes(samples, scratch, planes.data(), planes.size());
}

// ---- Decoder ---------------------------------------------------------------

int64_t CDecoderTarvYUV16::BufferSampleCount(int64_t plane0, int64_t plane1, int64_t) const
{
    return YUVSampleCount(plane0, plane1);
}

int CDecoderTarvYUV16::CheckFormat(const FrameFormat* input, const FrameFormat* output) const
{
    if (input == nullptr || input->compression != kTarvYUY2FourCC)
        return 0;
    if (output != nullptr && (!IsPackedYUV(output->compression) || !PackedFrameFits(*output)))
        return 0;
    return FrameFits(input->width, input->height) ? 1 : 0;
}

uint32_t CDecoderTarvYUV16::GetDecompressedSize(int32_t width, int32_t height) const
{
    return static_cast<uint32_t>(PackedRowBytes(width, 16) * height);
}

int CDecoderTarvYUV16::MergePlanes(uint8_t* output, const uint16_t* samples,
                                   const FrameFormat* format)
{
    if (output == nullptr || samples == nullptr || format == nullptr)
        return 0;
    const int64_t outHeight = format->height;
    const int64_t rows = outHeight < 0 ? -outHeight : outHeight;
    if (rows > kMaxFrameQuantity)
        return 1; // a height of -2^31 has no magnitude in 32 bits: nothing to write
    const auto [lumaPlane, uPlane, vPlane] = LayoutOf(m_plane);
    const size_t rowBytes = static_cast<size_t>(PackedRowBytes(format->width, format->bitCount));
    const int32_t width = std::min<int32_t>(format->width, m_plane[0].width);
    const int32_t height = static_cast<int32_t>(std::min<int64_t>(rows, m_plane[0].height));
    const int32_t pairs = width / 2;
    // Rows go out in stored order whatever the sign of the height: the encoder
    // read them in that order.
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* q = output + static_cast<size_t>(y) * rowBytes;
        const uint16_t* luma = samples + static_cast<size_t>(y) * lumaPlane.step;
        const uint16_t* u = samples + uPlane.offset + static_cast<size_t>(y) * uPlane.step;
        const uint16_t* v = samples + vPlane.offset + static_cast<size_t>(y) * vPlane.step;
        for (int32_t m = 0; m < pairs; ++m, q += 4) {
            q[0] = static_cast<uint8_t>(luma[2 * m]);
            q[1] = static_cast<uint8_t>(u[m]);
            q[2] = static_cast<uint8_t>(luma[2 * m + 1]);
            q[3] = static_cast<uint8_t>(v[m]);
        }
        if (width % 2 != 0) {
            q[0] = static_cast<uint8_t>(luma[2 * pairs]);
            q[1] = static_cast<uint8_t>(u[pairs]);
        }
    }
    return 1;
}

int CDecoderTarvYUV16::Unpredict(uint16_t* samples, uint16_t* scratch)
{
    const auto planes = LayoutOf(m_plane);
    return UnpredictPlanes(samples, scratch, planes.data(), planes.size());
}

} // namespace tarv
