#include "tools/frame_coder.h"

#include "codec/codec.h"
#include "platform/platform.h"
#include "variants/rgb24/rgb24.h"
#include "variants/yuy2/yuy2.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace tarv {
namespace {

constexpr VariantInfo kVariants[] = {
    {Variant::Yuy2, "yuy2", "TRVY", kTarvYUY2FourCC, 16, false},
    {Variant::Rgb24, "rgb24", "TRVR", kTarvRGB24FourCC, 24, true},
};

// The uncompressed frame as a driver caller describes it.
BITMAPINFOHEADER RawHeader(Variant v, int width, int height)
{
    return PackedFrameHeader(width, height, v == Variant::Yuy2 ? kFourCC_YUY2 : BI_RGB,
                             static_cast<WORD>(Info(v).bitsPerPixel));
}

std::unique_ptr<CEncoder> NewEncoder(Variant v)
{
    if (v == Variant::Yuy2)
        return std::make_unique<CEncoderTarvYUV16>();
    return std::make_unique<CEncoderTarvRGB24>();
}

std::unique_ptr<CDecoder> NewDecoder(Variant v)
{
    if (v == Variant::Yuy2)
        return std::make_unique<CDecoderTarvYUV16>();
    return std::make_unique<CDecoderTarvRGB24>();
}

std::string SizeText(int width, int height)
{
    return std::to_string(width) + "x" + std::to_string(height);
}

} // namespace

const VariantInfo& Info(Variant v)
{
    return kVariants[v == Variant::Yuy2 ? 0 : 1];
}

std::optional<Variant> VariantByName(std::string_view name)
{
    for (const VariantInfo& i : kVariants)
        if (name == i.name)
            return i.variant;
    return std::nullopt;
}

std::optional<Variant> VariantByFourCC(uint32_t fourcc)
{
    for (const VariantInfo& i : kVariants)
        if (fourcc == i.fourccValue)
            return i.variant;
    return std::nullopt;
}

size_t RowBytes(Variant v, int width)
{
    return static_cast<size_t>(PackedRowBytes(width, Info(v).bitsPerPixel));
}

size_t FrameBytes(Variant v, int width, int height)
{
    return RowBytes(v, width) * static_cast<size_t>(height);
}

size_t PictureRowBytes(Variant v, int width)
{
    return static_cast<size_t>(width) * static_cast<size_t>(Info(v).bitsPerPixel / 8);
}

bool SizeSupported(Variant v, int width, int height)
{
    if (width <= 0 || height <= 0)
        return false;
    const BITMAPINFOHEADER raw = RawHeader(v, width, height);
    return NewEncoder(v)->CheckFormat(&raw, nullptr) != 0;
}

int64_t SamplesPerFrame(Variant v, int width, int height)
{
    const auto encoder = NewEncoder(v);
    PlaneInfo planes[3];
    if (!ComputePlanes(width, height, planes))
        return 0;
    return encoder->BufferSampleCount(planes[0].size / 2, planes[1].size / 2, planes[2].size / 2);
}

FrameEncoder::FrameEncoder(Variant v, int width, int height)
    : m_variant(v), m_width(width), m_height(height), m_encoder(NewEncoder(v))
{
    const BITMAPINFOHEADER raw = RawHeader(v, width, height);
    if (width <= 0 || height <= 0 || m_encoder->Prepare(&raw, nullptr) != ICERR_OK)
        throw std::runtime_error(std::string(Info(v).fourcc) + " cannot code frames of " +
                                 SizeText(width, height));
}

FrameEncoder::~FrameEncoder() = default;

bool FrameEncoder::Encode(const uint8_t* frame, std::vector<uint8_t>& out)
{
    BITMAPINFOHEADER in = RawHeader(m_variant, m_width, m_height);
    BITMAPINFOHEADER compressed = in;
    // Compress into a buffer of the largest size kept here, then copy the
    // payload: cheaper than clearing the caller's vector to that size per frame.
    if (!m_buffer)
        m_buffer.reset(new uint8_t[m_encoder->GetMaxCompressedSize(m_width, m_height)]);
    DWORD ckid = 0, flags = 0;
    ICCOMPRESS icc{};
    icc.lpbiOutput = &compressed;
    icc.lpOutput = m_buffer.get();
    icc.lpbiInput = &in;
    icc.lpInput = const_cast<uint8_t*>(frame);
    icc.lpckid = &ckid;
    icc.lpdwFlags = &flags;
    if (m_encoder->Compress(&icc) != ICERR_OK)
        return false;
    out.assign(m_buffer.get(), m_buffer.get() + compressed.biSizeImage);
    return true;
}

FrameDecoder::FrameDecoder(Variant v, int width, int height)
    : m_variant(v), m_width(width), m_height(height), m_decoder(NewDecoder(v))
{
    BITMAPINFOHEADER compressed = RawHeader(v, width, height);
    compressed.biCompression = Info(v).fourccValue;
    const BITMAPINFOHEADER raw = RawHeader(v, width, height);
    if (width <= 0 || height <= 0 || m_decoder->Prepare(&compressed, &raw) != ICERR_OK)
        throw std::runtime_error(std::string(Info(v).fourcc) + " cannot code frames of " +
                                 SizeText(width, height));
}

FrameDecoder::~FrameDecoder() = default;

bool FrameDecoder::Decode(const uint8_t* payload, size_t size, uint8_t* frame)
{
    if (size == 0 || size > UINT32_MAX)
        return false;
    BITMAPINFOHEADER compressed = RawHeader(m_variant, m_width, m_height);
    compressed.biCompression = Info(m_variant).fourccValue;
    compressed.biSizeImage = static_cast<DWORD>(size);
    BITMAPINFOHEADER raw = RawHeader(m_variant, m_width, m_height);
    ICDECOMPRESS icd{};
    icd.lpbiInput = &compressed;
    icd.lpInput = const_cast<uint8_t*>(payload);
    icd.lpbiOutput = &raw;
    icd.lpOutput = frame;
    if (m_decoder->Decompress(&icd) != ICERR_OK)
        return false;
    // Row padding carries nothing; make it zero so equal pictures are equal bytes.
    const size_t row = RowBytes(m_variant, m_width), picture = PictureRowBytes(m_variant, m_width);
    if (row != picture)
        for (int y = 0; y < m_height; ++y)
            std::memset(frame + static_cast<size_t>(y) * row + picture, 0, row - picture);
    return true;
}

} // namespace tarv
