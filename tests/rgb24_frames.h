// Frame helpers shared by the codec and RGB24 tests: headers, packed frames and
// the Compress / Decompress records, with buffers sized as a driver client sizes them.
#pragma once

#include "variants/rgb24/rgb24.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace tarv_test {

using Bytes = std::vector<uint8_t>;

constexpr DWORD kTRVR = MakeFourCC('T', 'R', 'V', 'R');
constexpr uint8_t kFill = 0xA7;

// Bytes of one packed 24-bit row, rounded up to 4.
inline size_t Row24(int64_t width)
{
    return static_cast<size_t>((3 * width + 3) / 4 * 4);
}

inline BITMAPINFOHEADER RGBHeader(int32_t width, int32_t height, DWORD compression = BI_RGB,
                                  WORD bits = 24)
{
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biCompression = compression;
    const int64_t rows = height < 0 ? -int64_t{height} : height;
    h.biSizeImage = static_cast<DWORD>(Row24(width) * static_cast<uint64_t>(rows));
    return h;
}

enum class Content { Noise, Smooth, AllBytes };

// A packed frame (never empty, so its pointer is valid even for a height of 0). Row
// padding is filled like the pixels: it must not reach the compressed frame.
inline Bytes MakeFrame(int32_t width, int32_t height, Content content, uint32_t seed = 1)
{
    const size_t row = std::max<size_t>(1, Row24(width));
    Bytes f(std::max<size_t>(1, row * static_cast<size_t>(height)));
    std::mt19937 rng(seed);
    for (size_t i = 0; i < f.size(); ++i) {
        const size_t y = i / row, x = i % row;
        const size_t smooth = (x / 3 + 2 * y + (x % 3) * 40) / 4, cycling = i * 7 + y;
        f[i] = static_cast<uint8_t>(content == Content::Noise    ? rng()
                                    : content == Content::Smooth ? smooth
                                                                 : cycling);
    }
    return f;
}

struct Compressed {
    LRESULT rc = ICERR_ERROR;
    BITMAPINFOHEADER header{};
    Bytes payload;
};

inline ICCOMPRESS CompressRecord(BITMAPINFOHEADER* in, void* input, BITMAPINFOHEADER* out,
                                 void* output, DWORD* ckid, DWORD* flags)
{
    return ICCOMPRESS{0, out, output, in, input, ckid, flags, 0, 0, 0, nullptr, nullptr};
}

// One ICM_COMPRESS on an encoder that is already prepared.
inline Compressed CompressOn(CEncoderTarvRGB24& enc, const BITMAPINFOHEADER& in,
                             const Bytes& pixels)
{
    BITMAPINFOHEADER input = in;
    Bytes source = pixels;
    Compressed c;
    Bytes out(enc.GetMaxCompressedSize(in.biWidth, in.biHeight));
    DWORD ckid = 0, flags = 0;
    ICCOMPRESS icc = CompressRecord(&input, source.data(), &c.header, out.data(), &ckid, &flags);
    c.rc = enc.Compress(&icc);
    if (c.rc == ICERR_OK && c.header.biSizeImage <= out.size())
        c.payload.assign(out.begin(), out.begin() + static_cast<ptrdiff_t>(c.header.biSizeImage));
    return c;
}

// Prepare on a fresh encoder, then one frame.
inline Compressed CompressFresh(const BITMAPINFOHEADER& in, const Bytes& pixels)
{
    CEncoderTarvRGB24 enc;
    EXPECT_EQ(enc.Prepare(&in, nullptr), ICERR_OK);
    return CompressOn(enc, in, pixels);
}

// One ICM_DECOMPRESS. The payload sits in a block of exactly `sizeImage` bytes so that
// a read past it trips the sanitizer.
inline LRESULT DecompressOn(CDecoderTarvRGB24& dec, const BITMAPINFOHEADER& compressed,
                            const Bytes& payload, const BITMAPINFOHEADER& out, Bytes& pixels,
                            DWORD flags = 0)
{
    BITMAPINFOHEADER input = compressed, output = out;
    Bytes exact(payload.begin(),
                payload.begin() +
                    std::min<ptrdiff_t>(std::ssize(payload),
                                        static_cast<ptrdiff_t>(compressed.biSizeImage)));
    ICDECOMPRESS icd{flags, &input, exact.data(), &output, pixels.data(), 0};
    return dec.Decompress(&icd);
}

// An output buffer for a width x rows frame, as GetDecompressedSize sizes it, prefilled
// with kFill.
inline Bytes OutputFor(const CDecoderTarvRGB24& dec, int32_t width, int32_t rows)
{
    return Bytes(std::max<size_t>(1, dec.GetDecompressedSize(width, rows)), kFill);
}

} // namespace tarv_test
