#include "variants/rgb24/rgb24.h"

#include "codec/kernels.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace {

bool IsRGB(DWORD compression)
{
    return compression == BI_RGB || compression == kFourCC_DIB;
}

int64_t RGBSampleCount(int64_t plane0)
{
    return 3 * plane0;
}

// Three planes, all laid out after plane 0 of `plane`.
struct PlaneView {
    int32_t width;
    int32_t height;
    uint32_t step; // samples per row
    size_t planeSamples;
};

PlaneView View(const PlaneInfo& plane)
{
    return PlaneView{plane.width, plane.height, static_cast<uint32_t>(plane.stride) / 2,
                     plane.size / 2};
}

// Red, green and blue, one after another, each with the full-size geometry.
std::array<PlaneSpan, 3> Spans(const PlaneInfo& plane)
{
    const PlaneView v = View(plane);
    std::array<PlaneSpan, 3> spans{};
    for (size_t k = 0; k < 3; ++k)
        spans[k] = PlaneSpan{k * v.planeSamples, v.width, v.height, v.step};
    return spans;
}

} // namespace

// ---- Encoder ---------------------------------------------------------------

int64_t CEncoderTarvRGB24::BufferSampleCount(int64_t plane0, int64_t, int64_t) const
{
    return RGBSampleCount(plane0);
}

int CEncoderTarvRGB24::CheckFormat(const BITMAPINFOHEADER* input,
                                   const BITMAPINFOHEADER* output) const
{
    if (input == nullptr || input->biHeight < 0 || !IsRGB(input->biCompression) ||
        input->biBitCount != 24)
        return 0;
    if (output != nullptr && output->biCompression != kFourCC)
        return 0;
    // Negative widths and sizes whose geometry would wrap 32 bits never reach the buffers.
    return FrameFits(input->biWidth, input->biHeight) ? 1 : 0;
}

uint32_t CEncoderTarvRGB24::GetMaxCompressedSize(LONG width, LONG height) const
{
    return static_cast<uint32_t>(3 * RowBytes(width) * height + CRangeCoder16::kMaxTableBytes);
}

int CEncoderTarvRGB24::SplitPlanes(uint16_t* samples, const uint8_t* input,
                                   const BITMAPINFOHEADER* header)
{
    if (samples == nullptr || input == nullptr || header == nullptr)
        return 0;
    const PlaneView v = View(m_plane[0]);
    const size_t rowBytes =
        static_cast<size_t>(PackedRowBytes(header->biWidth, header->biBitCount));
    uint16_t* red = samples;
    uint16_t* green = samples + v.planeSamples;
    uint16_t* blue = samples + 2 * v.planeSamples;
    for (int32_t y = 0; y < v.height; ++y) {
        const uint8_t* p = input + static_cast<size_t>(y) * rowBytes;
        const size_t row = static_cast<size_t>(y) * v.step;
        for (int32_t x = 0; x < v.width; ++x, p += 3) {
            blue[row + static_cast<size_t>(x)] = p[0];
            green[row + static_cast<size_t>(x)] = p[1];
            red[row + static_cast<size_t>(x)] = p[2];
        }
    }
    return 1;
}

int CEncoderTarvRGB24::Predict(uint16_t* samples, uint16_t* scratch)
{
    const auto spans = Spans(m_plane[0]);
    return PredictPlanes(samples, scratch, spans.data(), spans.size());
}

// ---- Decoder ---------------------------------------------------------------

int64_t CDecoderTarvRGB24::BufferSampleCount(int64_t plane0, int64_t, int64_t) const
{
    return RGBSampleCount(plane0);
}

int CDecoderTarvRGB24::CheckFormat(const BITMAPINFOHEADER* input,
                                   const BITMAPINFOHEADER* output) const
{
    if (input == nullptr || input->biCompression != kTarvRGB24FourCC)
        return 0;
    if (output != nullptr && (!IsRGB(output->biCompression) || output->biBitCount != 24))
        return 0;
    // The compressed header gives the geometry: it must be one the encoder could write.
    return FrameFits(input->biWidth, input->biHeight) ? 1 : 0;
}

uint32_t CDecoderTarvRGB24::GetDecompressedSize(LONG width, LONG height) const
{
    return static_cast<uint32_t>(PackedRowBytes(width, 24) * height);
}

int CDecoderTarvRGB24::MergePlanes(uint8_t* output, const uint16_t* samples,
                                   const BITMAPINFOHEADER* header)
{
    if (output == nullptr || samples == nullptr || header == nullptr)
        return 0;
    const PlaneView v = View(m_plane[0]);
    const int64_t outHeight = header->biHeight;
    const int64_t rows = outHeight < 0 ? -outHeight : outHeight;
    if (rows > kMaxFrameQuantity)
        return 1; // a height of -2^31 has no magnitude in 32 bits: nothing to write
    // Decompress has matched the output to the configured size; the bounds keep
    // every other caller inside the planes too.
    const int32_t width = std::min<int32_t>(header->biWidth, v.width);
    const int32_t height = static_cast<int32_t>(std::min<int64_t>(rows, v.height));
    const size_t rowBytes =
        static_cast<size_t>(PackedRowBytes(header->biWidth, header->biBitCount));
    const uint16_t* red = samples;
    const uint16_t* green = samples + v.planeSamples;
    const uint16_t* blue = samples + 2 * v.planeSamples;
    for (int32_t y = 0; y < height; ++y) {
        // A negative height stores the image top-down: plane row 0 goes last.
        const int32_t d = outHeight < 0 ? static_cast<int32_t>(rows) - 1 - y : y;
        uint8_t* q = output + static_cast<size_t>(d) * rowBytes;
        const size_t row = static_cast<size_t>(y) * v.step;
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
    const auto spans = Spans(m_plane[0]);
    return UnpredictPlanes(samples, scratch, spans.data(), spans.size());
}
