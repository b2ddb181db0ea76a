// Payloads are part of the format: files written today must decode tomorrow,
// and faster code must write the very same bytes. These hashes were recorded
// from the plain reference implementation; a change here is a format change.
#include "variants/rgb24/rgb24.h"
#include "variants/yuy2/yuy2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

enum class Content { Noise, Photo, Flat, Ramp };

// Packed bytes of a frame: noise, a photo-like mix of smooth shapes, texture
// and grain, one flat value, or a ramp that wraps. Integers only, and only
// mt19937's defined sequence, so every compiler and platform makes the same.
std::vector<uint8_t> Frame(size_t bytes, size_t row, Content content)
{
    std::vector<uint8_t> f(bytes);
    std::mt19937 rng(1234);
    for (size_t i = 0; i < bytes; ++i) {
        const auto x = static_cast<int64_t>(i % row), y = static_cast<int64_t>(i / row);
        int64_t v = 0;
        switch (content) {
        case Content::Noise:
            v = rng() & 0xFF;
            break;
        case Content::Photo: {
            const int64_t dx = x - 150, dy = y - 90;
            const int64_t grain = static_cast<int64_t>(rng() % 7) - 3;
            v = 128 + (dx * dx + 3 * dy * dy) / 700 % 90 - 45 + ((x / 6 + y / 4) % 5) * 3 + grain;
            break;
        }
        case Content::Flat:
            v = 77;
            break;
        case Content::Ramp:
            v = static_cast<int64_t>((i * 3 + i / row) & 0xFF);
            break;
        }
        f[i] = static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
    }
    return f;
}

uint64_t Fnv1a(const uint8_t* p, size_t n)
{
    uint64_t h = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 0x100000001B3ull;
    return h;
}

struct Golden {
    bool yuy2;
    int32_t width, height;
    Content content;
    uint32_t bytes;
    uint64_t hash;
};

// Hash and size of each payload, the compressed frame's bytes after the header.
uint64_t Compress(bool yuy2, int32_t width, int32_t height, Content content, uint32_t& bytes)
{
    std::unique_ptr<CEncoder> encoder;
    if (yuy2)
        encoder = std::make_unique<CEncoderTarvYUV16>();
    else
        encoder = std::make_unique<CEncoderTarvRGB24>();
    BITMAPINFOHEADER in = yuy2 ? PackedFrameHeader(width, height, kFourCC_YUY2, 16)
                               : PackedFrameHeader(width, height, BI_RGB, 24);
    const size_t row = static_cast<size_t>(PackedRowBytes(width, in.biBitCount));
    EXPECT_EQ(encoder->Prepare(&in, nullptr), ICERR_OK);
    const std::vector<uint8_t> frame = Frame(in.biSizeImage, row, content);
    std::vector<uint8_t> out(encoder->GetMaxCompressedSize(width, height));
    BITMAPINFOHEADER header = in;
    DWORD ckid = 0, flags = 0;
    ICCOMPRESS icc{};
    icc.lpbiInput = &in;
    icc.lpInput = const_cast<uint8_t*>(frame.data());
    icc.lpbiOutput = &header;
    icc.lpOutput = out.data();
    icc.lpckid = &ckid;
    icc.lpdwFlags = &flags;
    EXPECT_EQ(encoder->Compress(&icc), ICERR_OK);
    bytes = header.biSizeImage;
    return Fnv1a(out.data(), header.biSizeImage);
}

TEST(GoldenPayloads, StayByteForByteTheSame)
{
    const Golden golden[] = {
#include "golden_payloads.inc"
    };
    for (const Golden& g : golden) {
        SCOPED_TRACE(testing::Message() << (g.yuy2 ? "TRVY " : "TRVR ") << g.width << "x"
                                        << g.height << " content " << static_cast<int>(g.content));
        uint32_t bytes = 0;
        const uint64_t hash = Compress(g.yuy2, g.width, g.height, g.content, bytes);
        EXPECT_EQ(bytes, g.bytes);
        EXPECT_EQ(hash, g.hash) << std::hex << "0x" << hash;
    }
}

} // namespace
