#include "rgb24_frames.h"
#include "variants/rgb24/rgb24.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace tarv_test;
using Samples = std::vector<uint16_t>;

constexpr uint16_t kSentinel = 0xBEEF;

// A 2x2 frame's buffer: planes red, green, blue at 0, 16 and 32, rows 8 samples apart,
// the 6 samples after each row's pixels filled with `tail`.
Samples TwoByTwo(std::array<uint16_t, 4> r, std::array<uint16_t, 4> g, std::array<uint16_t, 4> b,
                 uint16_t tail)
{
    Samples s(48, tail);
    const std::array<uint16_t, 4>* planes[] = {&r, &g, &b};
    for (size_t k = 0; k < 3; ++k)
        for (size_t i = 0; i < 4; ++i)
            s[16 * k + 8 * (i / 2) + i % 2] = (*planes[k])[i];
    return s;
}

TEST(RGB24, TwoByTwoFrameSplitsIntoPlanesAndResiduals)
{
    // Stored rows of (blue, green, red) pixels, each padded to 8 bytes.
    Bytes frame = {10, 20, 30, 11, 22, 33, 0xEE, 0xEE, 12, 24, 36, 13, 26, 39, 0xEE, 0xEE};
    BITMAPINFOHEADER in = RGBHeader(2, 2);
    CEncoderTarvRGB24 enc;
    ASSERT_EQ(enc.Prepare(&in, nullptr), ICERR_OK);

    Samples samples(48, kSentinel), scratch(48, kSentinel);
    ASSERT_EQ(enc.SplitPlanes(samples.data(), frame.data(), &in), 1);
    EXPECT_EQ(samples, TwoByTwo({30, 33, 36, 39}, {20, 22, 24, 26}, {10, 11, 12, 13}, kSentinel));
    ASSERT_EQ(enc.Predict(samples.data(), scratch.data()), 1);
    EXPECT_EQ(samples, TwoByTwo({30, 3, 6, 0}, {20, 2, 4, 0}, {10, 1, 2, 0}, kSentinel));
    for (size_t i = 0; i < scratch.size(); ++i) {
        if (i % 8 >= 2) {
            ASSERT_EQ(scratch[i], kSentinel) << i;
        }
    }

    // The payload codes the whole buffer, tails included; the row padding plays no part.
    const Compressed c = CompressOn(enc, in, frame);
    ASSERT_EQ(c.rc, ICERR_OK);
    CRangeCoder16 coder;
    coder.SetSymbolCount(CRangeCoder16::kAlphabetSize);
    ASSERT_EQ(coder.AllocateTable(), 1);
    Samples decoded(48, kSentinel);
    uint32_t count = 48;
    ASSERT_EQ(coder.Decode(c.payload.data(), c.header.biSizeImage, decoded.data(), count), 1);
    EXPECT_EQ(count, 96u);
    EXPECT_EQ(decoded, TwoByTwo({30, 3, 6, 0}, {20, 2, 4, 0}, {10, 1, 2, 0}, 0));
    frame[6] = frame[15] = 0x11;
    EXPECT_EQ(CompressOn(enc, in, frame).payload, c.payload);
}

TEST(RGB24, SizeRules)
{
    struct Case {
        LONG w, h;
        uint32_t maxCompressed, decompressed;
    };
    const Case cases[] = {
        {5, 2, 786532, 32}, {640, 480, 2629636, 921600}, {1, 1, 786484, 4}, {0, 0, 786436, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(CEncoderTarvRGB24().GetMaxCompressedSize(c.w, c.h), c.maxCompressed) << c.w;
        EXPECT_EQ(CDecoderTarvRGB24().GetDecompressedSize(c.w, c.h), c.decompressed) << c.w;
    }
}

struct FormatCase {
    const char* name;
    DWORD inCompression;
    WORD inBits;
    LONG inHeight;
    bool withOutput;
    DWORD outCompression;
    WORD outBits;
    int accepted;
};

// Width, planes, sizes and the output's size are not part of the check: they are odd here.
void ExpectFormats(const CCodec& codec, const FormatCase* begin, const FormatCase* end)
{
    EXPECT_EQ(codec.CheckFormat(nullptr, nullptr), 0);
    for (const FormatCase* c = begin; c != end; ++c) {
        BITMAPINFOHEADER in = RGBHeader(5, c->inHeight, c->inCompression, c->inBits);
        in.biSize = 0;
        in.biPlanes = 3;
        in.biSizeImage = 0;
        const BITMAPINFOHEADER out = RGBHeader(99, -7, c->outCompression, c->outBits);
        EXPECT_EQ(codec.CheckFormat(&in, c->withOutput ? &out : nullptr) != 0, c->accepted != 0)
            << c->name;
    }
}

constexpr DWORD kLowerTRVR = MakeFourCC('t', 'r', 'v', 'r');

TEST(RGB24, EncoderFormatRules)
{
    const FormatCase cases[] = {
        {"BI_RGB", BI_RGB, 24, 2, false, 0, 0, 1},
        {"DIB", kFourCC_DIB, 24, 2, false, 0, 0, 1},
        {"height 0", BI_RGB, 24, 0, false, 0, 0, 1},
        {"negative height", BI_RGB, 24, -2, false, 0, 0, 0},
        {"16 bits", BI_RGB, 16, 2, false, 0, 0, 0},
        {"32 bits", BI_RGB, 32, 2, false, 0, 0, 0},
        {"bitfields", 3, 24, 2, false, 0, 0, 0},
        {"dib in lower case", MakeFourCC('d', 'i', 'b', ' '), 24, 2, false, 0, 0, 0},
        {"YUY2", MakeFourCC('Y', 'U', 'Y', '2'), 24, 2, false, 0, 0, 0},
        {"TRVR input", kTRVR, 24, 2, false, 0, 0, 0},
        {"TRVR output", BI_RGB, 24, 2, true, kTRVR, 0, 1},
        {"trvr output", BI_RGB, 24, 2, true, kLowerTRVR, 0, 0},
        {"TRVY output", BI_RGB, 24, 2, true, MakeFourCC('T', 'R', 'V', 'Y'), 0, 0},
        {"BI_RGB output", BI_RGB, 24, 2, true, BI_RGB, 24, 0},
    };
    ExpectFormats(CEncoderTarvRGB24(), std::begin(cases), std::end(cases));
}

TEST(RGB24, DecoderFormatRules)
{
    const FormatCase cases[] = {
        {"TRVR alone", kTRVR, 24, 2, false, 0, 0, 1},
        {"TRVR of any bit count", kTRVR, 7, 2, false, 0, 0, 1},
        {"trvr", kLowerTRVR, 24, 2, false, 0, 0, 0},
        {"BI_RGB input", BI_RGB, 24, 2, false, 0, 0, 0},
        {"negative height", kTRVR, 24, -2, false, 0, 0, 0},
        {"to BI_RGB", kTRVR, 24, 2, true, BI_RGB, 24, 1},
        {"to DIB", kTRVR, 24, 2, true, kFourCC_DIB, 24, 1},
        {"to dib in lower case", kTRVR, 24, 2, true, MakeFourCC('d', 'i', 'b', ' '), 24, 0},
        {"to 32 bits", kTRVR, 24, 2, true, BI_RGB, 32, 0},
        {"to 16 bits", kTRVR, 24, 2, true, BI_RGB, 16, 0},
        {"to TRVR", kTRVR, 24, 2, true, kTRVR, 24, 0},
    };
    ExpectFormats(CDecoderTarvRGB24(), std::begin(cases), std::end(cases));
}

// Compresses a frame, then decodes it bottom-up and top-down. A negative output height
// stores the same image top-down: source row 0 lands in the last row.
void ExpectRoundTrip(int32_t w, int32_t h, Content content)
{
    SCOPED_TRACE(testing::Message() << w << "x" << h << " content " << static_cast<int>(content));
    BITMAPINFOHEADER in = RGBHeader(w, h);
    in.biSizeImage = std::max<DWORD>(in.biSizeImage, 1); // 0 would be refused
    const Bytes frame = MakeFrame(w, h, content, static_cast<uint32_t>(w * 31 + h));
    const Compressed c = CompressFresh(in, frame);
    ASSERT_EQ(c.rc, ICERR_OK);
    CDecoderTarvRGB24 dec;
    const size_t row = Row24(w), used = 3 * static_cast<size_t>(w);
    for (const LONG sign : {1, -1}) {
        const BITMAPINFOHEADER out = RGBHeader(w, sign * h);
        ASSERT_EQ(dec.Prepare(&c.header, &out), ICERR_OK);
        Bytes pixels = OutputFor(dec, w, h);
        ASSERT_EQ(DecompressOn(dec, c.header, c.payload, out, pixels), ICERR_OK);
        for (int32_t y = 0; y < h; ++y) {
            const size_t d = static_cast<size_t>(sign > 0 ? y : h - 1 - y);
            ASSERT_EQ(std::memcmp(&pixels[d * row], &frame[static_cast<size_t>(y) * row], used), 0)
                << "source row " << y << ", sign " << sign;
            ASSERT_TRUE(std::all_of(pixels.begin() + static_cast<ptrdiff_t>(d * row + used),
                                    pixels.begin() + static_cast<ptrdiff_t>((d + 1) * row),
                                    [](uint8_t b) { return b == kFill; }));
        }
    }
}

TEST(RGB24, SmallFramesRoundTrip)
{
    for (const Content content : {Content::Noise, Content::Smooth, Content::AllBytes})
        for (const auto& [w, h] :
             {std::pair{1, 1}, std::pair{2, 2}, std::pair{3, 5}, std::pair{5, 2}, std::pair{7, 7},
              std::pair{8, 4}, std::pair{13, 9}, std::pair{16, 16}, std::pair{33, 3},
              std::pair{5, 0}})
            ExpectRoundTrip(w, h, content);
}

TEST(RGB24, LargeFramesRoundTrip)
{
    ExpectRoundTrip(640, 480, Content::Noise);
    ExpectRoundTrip(1366, 768, Content::AllBytes);
    ExpectRoundTrip(1920, 1080, Content::Smooth);
}

} // namespace
