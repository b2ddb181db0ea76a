#include "variants/rgb24/rgb24.h"

#include "codec/kernels.h"
#include "entropy/allocation.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace tarv {

namespace {

bool IsRGB(uint32_t compression)
{
    return compression == kFormatRGB || compression == kFourCC_DIB;
}

int64_t RGBSampleCount(int64_t plane0)
{
    return 3 * plane0;
}

// Red, green and blue, one after another, each with the full-size geometry.
std::array<PlaneSpan, 3> LayoutOf(const PlaneInfo* plane)
{
    const size_t n = plane[0].size / 2;
    const uint32_t step = static_cast<uint32_t>(plane[0].stride) / 2;
    std::array<PlaneSpan, 3> planes{};
    for (size_t k = 0; k < 3; ++k)
        planes[k] = PlaneSpan{k * n, plane[0].width, plane[0].height, step};
    return planes;
}

constexpr uint32_t kRawFormats[] = {kFormatRGB, kFourCC_DIB};

CEncoder* NewEncoder() noexcept
{
    return NewObject<CEncoderTarvRGB24>();
}
CDecoder* NewDecoder() noexcept
{
    return NewObject<CDecoderTarvRGB24>();
}

} // namespace

const VariantInfo kRgb24{Variant::Rgb24,
                         "rgb24",
                         "tarvr",
                         "TRVR",
                         kTarvRGB24FourCC,
                         u"Tarv Lossless Video Codec (RGB24)",
                         kRawFormats,
                         24,
                         true,
                         PictureFormat::Bgr24,
                         NewEncoder,
                         NewDecoder,
                         LayoutOf};

// ---- Encoder ---------------------------------------------------------------

int64_t CEncoderTarvRGB24::BufferSampleCount(int64_t plane0, int64_t, int64_t) const
{
    return RGBSampleCount(plane0);
}

int CEncoderTarvRGB24::CheckFormat(const FrameFormat* input, const FrameFormat* output) const
{
    if (input == nullptr || input->height < 0 || !IsRGB(input->compression) ||
        input->bitCount != 24)
        return 0;
    if (output != nullptr && output->compression != kTarvRGB24FourCC)
        return 0;
    // Negative widths and sizes whose geometry would wrap 32 bits never reach the buffers.
    return FrameFits(input->width, input->height) ? 1 : 0;
}

uint32_t CEncoderTarvRGB24::GetMaxCompressedSize(int32_t width, int32_t height) const
{
    return static_cast<uint32_t>(3 * PlaneRowBytes(width) * height + CRangeCoder16::kMaxTableBytes);
}

int CEncoderTarvRGB24::SplitPlanes(uint16_t* samples, const uint8_t* input,
                                   const FrameFormat* format)
{
    if (samples == nullptr || input == nullptr || format == nullptr)
        return 0;
    const auto [redPlane, greenPlane, bluePlane] = LayoutOf(m_plane);
    const size_t rowBytes = static_cast<size_t>(PackedRowBytes(format->width, format->bitCount));
    uint16_t* red = samples;
    uint16_t* green = samples + greenPlane.offset;
    uint16_t* blue = samples + bluePlane.offset;
    for (int32_t y = 0; y < redPlane.rows; ++y) {
        const uint8_t* p = input + static_cast<size_t>(y) * rowBytes;
        const size_t row = static_cast<size_t>(y) * redPlane.step;
        for (int32_t x = 0; x < redPlane.width; ++x, p += 3) {
            blue[row + static_cast<size_t>(x)] = p[0];
            green[row + static_cast<size_t>(x)] = p[1];
            red[row + static_cast<size_t>(x)] = p[2];
        }
    }
    return 1;
}

int CEncoderTarvRGB24::Predict(uint16_t* samples, uint16_t* scratch)
{
    const auto planes = LayoutOf(m_plane);
    return PredictPlanes(samples, scratch, planes.data(), planes.size());
}

// ---- Decoder ---------------------------------------------------------------

int64_t CDecoderTarvRGB24::BufferSampleCount(int64_t plane0, int64_t, int64_t) const
{
    return RGBSampleCount(plane0);
}

int CDecoderTarvRGB24::CheckFormat(const FrameFormat* input, const FrameFormat* output) const
{
    if (input == nullptr || input->compression != kTarvRGB24FourCC)
        return 0;
    if (output != nullptr && (!IsRGB(output->compression) || output->bitCount != 24))
        return 0;
    // The compressed header gives the geometry: it must be one the encoder could write.
    return FrameFits(input->width, input->height) ? 1 : 0;
}

uint32_t CDecoderTarvRGB24::GetDecompressedSize(int32_t width, int32_t height) const
{
    return static_cast<uint32_t>(PackedRowBytes(width, 24) * height);
}

int CDecoderTarvRGB24::MergePlanes(uint8_t* output, const uint16_t* samples,
                                   const FrameFormat* format)
{
    if (output == nullptr || samples == nullptr || format == nullptr)
        return 0;
    const auto [redPlane, greenPlane, bluePlane] = LayoutOf(m_plane);
    const int64_t outHeight = format->height;
    const int64_t rows = outHeight < 0 ? -outHeight : outHeight;
    if (rows > kMaxFrameQuantity)
        return 1; // a height of -2^31 has no magnitude in 32 bits: nothing to write
    // Decompress has matched the output to the configured size; the bounds keep
    // every other caller inside the planes too.
    const int32_t width = std::min<int32_t>(format->width, redPlane.width);
    const int32_t height = static_cast<int32_t>(std::min<int64_t>(rows, redPlane.rows));
    const size_t rowBytes = static_cast<size_t>(PackedRowBytes(format->width, format->bitCount));
    const uint16_t* red = samples;
    const uint16_t* green = samples + greenPlane.offset;
    const uint16_t* blue = samples + bluePlane.offset;
    for (int32_t y = 0; y < height; ++y) {
        // A negative height stores the image top-down: plane row 0 goes last.
        const int32_t d = outHeight < 0 ? static_cast<int32_t>(rows) - 1 - y : y;
        uint8_t* q = output + static_cast<size_t>(d) * rowBytes;
        const size_t row = static_cast<size_t>(y) * redPlane.step;
        for (int32_t x = 0; x < width; ++x, q += 3) {
            q[0] = static_cast<uint8_t>(blue[row + static_cast<size_t>(x)]);
            q[1] = static_cast<uint8_t>(green[row + static_cast<size_t>(x)]);
            q[2] = static_cast<uint8_t>(red[row + static_cast<size_t>(x)]);
        }
    }
    return 1;
}

int CDecoderTarvRGB24::Unpredict(uint16_t* samples, uint16_t* scratch)
{
    const auto planes = LayoutOf(m_plane);
    return UnpredictPlanes(samples, scratch, planes.data(), planes.size());
}

} // namespace tarv
