#include "codec/codec.h"

#include "entropy/allocation.h"

#include <algorithm>

namespace tarv {

// ---- SampleBuffer ------------------------------------------------------------

uint16_t* SampleBuffer::Allocate(int64_t n)
{
    if (data != nullptr)
        return data;
    if (n < 0 || 2 * n > UINT32_MAX || n > INT32_MAX)
        return nullptr;
    // Zeroed, so no heap content reaches a compressed frame through the row tails
    // and the same frame always compresses to the same bytes.
    data = NewArray<uint16_t>(static_cast<size_t>(n), true);
    if (data != nullptr)
        count = static_cast<int32_t>(n);
    return data;
}

void SampleBuffer::Free()
{
    delete[] data;
    data = nullptr;
}

// ---- Geometry ------------------------------------------------------------------

bool ComputePlanes(int64_t width, int64_t height, PlaneInfo planes[3])
{
    if (width < 0 || height < 0)
        return false;
    const int64_t dims[3][2] = {
        {width, height}, {HalfUp(width), height}, {HalfUp(width), HalfUp(height)}};
    PlaneInfo out[3];
    for (int i = 0; i < 3; ++i) {
        const int64_t stride = PlaneRowBytes(dims[i][0]);
        const int64_t size = stride * dims[i][1];
        if (stride > kMaxFrameQuantity || size > kMaxFrameQuantity)
            return false;
        out[i] = PlaneInfo{static_cast<int32_t>(dims[i][0]), static_cast<int32_t>(dims[i][1]),
                           static_cast<int32_t>(stride), static_cast<uint32_t>(size)};
    }
    std::copy(out, out + 3, planes);
    return true;
}

// ---- CCodec ------------------------------------------------------------------

CCodec::CCodec()
{
    m_coder.SetSymbolCount(CRangeCoder16::kAlphabetSize);
}

CCodec::~CCodec()
{
    Reset();
    m_coder.FreeTable();
}

bool CCodec::FrameFits(int64_t width, int64_t height) const
{
    PlaneInfo planes[3];
    if (!ComputePlanes(width, height, planes))
        return false;
    const int64_t samples =
        BufferSampleCount(planes[0].size / 2, planes[1].size / 2, planes[2].size / 2);
    return samples >= 0 && 2 * samples + CRangeCoder16::kMaxTableBytes <= kMaxFrameQuantity;
}

int CCodec::Setup(const FrameFormat* format)
{
    if (format == nullptr)
        return 0;
    if (format->width == m_format.width && format->height == m_format.height &&
        m_samples.data != nullptr && m_scratch.data != nullptr)
        return 1;

    Reset();
    m_format = *format;
    if (!ComputePlanes(m_format.width, m_format.height, m_plane)) {
        Reset();
        return 0;
    }
    const int64_t n =
        BufferSampleCount(m_plane[0].size / 2, m_plane[1].size / 2, m_plane[2].size / 2);
    if (m_samples.Allocate(n) == nullptr || m_scratch.Allocate(n) == nullptr) {
        Reset();
        return 0;
    }
    return 1;
}

void CCodec::Reset()
{
    m_samples.Free();
    m_scratch.Free();
    std::fill(m_plane, m_plane + 3, PlaneInfo{});
    m_format = FrameFormat{};
}

Status CCodec::Prepare(const FrameFormat* input, const FrameFormat* output)
{
    if (input == nullptr)
        return Status::Error;
    if (!CheckFormat(input, output))
        return Status::BadFormat;
    if (!m_coder.HasTable() && !m_coder.AllocateTable()) {
        Reset();
        return Status::Memory;
    }
    return Setup(input) ? Status::Ok : Status::Memory;
}

// ---- CEncoder ----------------------------------------------------------------

void CEncoder::EndStream()
{
    Reset();
    m_coder.FreeTable();
}

Status CEncoder::Compress(const FrameFormat& input, const uint8_t* pixels, uint8_t* output,
                          uint32_t& length)
{
    if (pixels == nullptr || output == nullptr || input.sizeImage == 0 ||
        !CheckFormat(&input, nullptr))
        return Status::BadFormat;
    if (input.width != m_format.width || input.height != m_format.height)
        return Status::BadFormat;

    if (!SplitPlanes(m_samples.data, pixels, &input))
        return Status::Error;
    if (!Predict(m_samples.data, m_scratch.data))
        return Status::Error;
    uint32_t size = std::min(length, GetMaxCompressedSize(input.width, input.height));
    if (!m_coder.Encode(output, size, m_samples.data, static_cast<uint32_t>(m_samples.count)))
        return Status::Error;
    length = size;
    return Status::Ok;
}

// ---- CDecoder ----------------------------------------------------------------

Status CDecoder::Decompress(const FrameFormat& input, const uint8_t* payload,
                            const FrameFormat& output, uint8_t* pixels)
{
    if (payload == nullptr || pixels == nullptr || input.sizeImage == 0 ||
        !CheckFormat(&input, &output))
        return Status::BadFormat;
    const int64_t height = m_format.height;
    if (output.width != m_format.width || (output.height != height && output.height != -height))
        return Status::BadFormat;

    uint32_t count = static_cast<uint32_t>(m_samples.count);
    if (!m_coder.Decode(payload, input.sizeImage, m_samples.data, count))
        return Status::Error;
    // A payload that stops short of the buffer (cut-short bytes, a small total)
    // would leave samples from an earlier frame in the picture: refuse it.
    if (count != 2 * static_cast<uint32_t>(m_samples.count))
        return Status::Error;
    if (!Unpredict(m_samples.data, m_scratch.data))
        return Status::Error;
    return MergePlanes(pixels, m_samples.data, &output) ? Status::Ok : Status::Error;
}

} // namespace tarv
