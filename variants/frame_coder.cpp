#include "variants/frame_coder.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace tarv {
namespace {

// The uncompressed frame as a driver caller describes it.
FrameFormat RawFormat(Variant v, int width, int height)
{
    const VariantInfo& info = Info(v);
    return PackedFrameFormat(width, height, info.rawFormats[0], info.bitCount);
}

std::runtime_error SizeRefused(Variant v, int width, int height)
{
    return std::runtime_error(std::string(Info(v).fourcc) + " cannot code frames of " +
                              std::to_string(width) + "x" + std::to_string(height));
}

template <class T> std::unique_ptr<T> Owned(T* codec)
{
    if (codec == nullptr)
        throw std::bad_alloc();
    return std::unique_ptr<T>(codec);
}

} // namespace

size_t RowBytes(Variant v, int width)
{
    return static_cast<size_t>(PackedRowBytes(width, Info(v).bitCount));
}

size_t FrameBytes(Variant v, int width, int height)
{
    return RowBytes(v, width) * static_cast<size_t>(height);
}

size_t PictureRowBytes(Variant v, int width)
{
    return static_cast<size_t>(width) * static_cast<size_t>(Info(v).bitCount / 8);
}

bool SizeSupported(Variant v, int width, int height)
{
    if (width <= 0 || height <= 0)
        return false;
    const FrameFormat raw = RawFormat(v, width, height);
    return Owned(Info(v).newEncoder())->CheckFormat(&raw, nullptr) != 0;
}

int64_t SamplesPerFrame(Variant v, int width, int height)
{
    PlaneInfo planes[3];
    if (!ComputePlanes(width, height, planes))
        return 0;
    return Owned(Info(v).newEncoder())
        ->BufferSampleCount(planes[0].size / 2, planes[1].size / 2, planes[2].size / 2);
}

FrameEncoder::FrameEncoder(Variant v, int width, int height)
    : m_format(RawFormat(v, width, height)), m_encoder(Owned(Info(v).newEncoder()))
{
    if (width <= 0 || height <= 0 || m_encoder->Prepare(&m_format, nullptr) != Status::Ok)
        throw SizeRefused(v, width, height);
}

FrameEncoder::~FrameEncoder() = default;

bool FrameEncoder::Encode(const uint8_t* frame, std::vector<uint8_t>& out)
{
    // Compress into a buffer of the largest size kept here, then copy the
    // payload: cheaper than clearing the caller's vector to that size per frame.
    uint32_t length = m_encoder->GetMaxCompressedSize(m_format.width, m_format.height);
    if (!m_buffer)
        m_buffer.reset(new uint8_t[length]);
    if (m_encoder->Compress(m_format, frame, m_buffer.get(), length) != Status::Ok)
        return false;
    out.assign(m_buffer.get(), m_buffer.get() + length);
    return true;
}

FrameDecoder::FrameDecoder(Variant v, int width, int height)
    : m_variant(v), m_raw(RawFormat(v, width, height)), m_compressed(m_raw),
      m_decoder(Owned(Info(v).newDecoder()))
{
    m_compressed.compression = Info(v).fourccValue;
    if (width <= 0 || height <= 0 || m_decoder->Prepare(&m_compressed, &m_raw) != Status::Ok)
        throw SizeRefused(v, width, height);
}

FrameDecoder::~FrameDecoder() = default;

bool FrameDecoder::Decode(const uint8_t* payload, size_t size, uint8_t* frame)
{
    if (size == 0 || size > UINT32_MAX)
        return false;
    FrameFormat compressed = m_compressed;
    compressed.sizeImage = static_cast<uint32_t>(size);
    if (m_decoder->Decompress(compressed, payload, m_raw, frame) != Status::Ok)
        return false;
    // Row padding carries nothing; make it zero so equal pictures are equal bytes.
    const size_t row = RowBytes(m_variant, m_raw.width);
    const size_t picture = PictureRowBytes(m_variant, m_raw.width);
    if (row != picture)
        for (int y = 0; y < m_raw.height; ++y)
            std::memset(frame + static_cast<size_t>(y) * row + picture, 0, row - picture);
    return true;
}

} // namespace tarv
