// The YUY2 variant's own operations: packed 4:2:2 rows split into Y, U and V
// planes and merged back, its geometry and size rules, and the formats it takes.
#include "tests/support/bytes.h"
#include "tests/support/expect.h"
#include "variants/yuy2/yuy2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace tarv;
using namespace tarv_test;
using Samples = std::vector<uint16_t>;

constexpr uint16_t kSentinel = 0xBEEF;
constexpr uint32_t kTRVR = FourCC('T', 'R', 'V', 'R');

// A packed YUV frame (or a compressed one, given TRVY) with its frame size.
FrameFormat Yuv(int32_t width, int32_t height, uint32_t compression = kFourCC_YUY2,
                uint16_t bits = 16)
{
    return PackedFrameFormat(width, height, compression, bits);
}

// A buffer whose rows are 8 samples apart (every plane of a frame up to 8 pixels
// wide): row i of `rows` starts at sample 8i, everything else holds `rest`.
Samples Buffer(const std::vector<Samples>& rows, uint16_t rest)
{
    Samples s(8 * rows.size(), rest);
    for (size_t i = 0; i < rows.size(); ++i)
        std::copy(rows[i].begin(), rows[i].end(), s.begin() + static_cast<ptrdiff_t>(8 * i));
    return s;
}

TEST(YUY2, FourByTwoFrameSplitsIntoPlanesAndResiduals)
{
    const Bytes frame = {16, 128, 18, 120, 20, 130, 22, 118, 17, 129, 19, 121, 21, 131, 23, 119};
    const FrameFormat in = Yuv(4, 2);
    CEncoderTarvYUV16 enc;
    ASSERT_EQ(enc.Prepare(&in, nullptr), Status::Ok);
    ASSERT_EQ(enc.Samples().count, 48);
    uint16_t* samples = enc.Samples().data;

    // Y, U and V planes at 0, 16 and 32; the row tails stay as allocated.
    ASSERT_EQ(enc.SplitPlanes(samples, frame.data(), &in), 1);
    EXPECT_EQ(
        Samples(samples, samples + 48),
        Buffer({{16, 18, 20, 22}, {17, 19, 21, 23}, {128, 130}, {129, 131}, {120, 118}, {121, 119}},
               0));
    // Each plane predicts from itself alone.
    ASSERT_EQ(enc.Predict(samples, enc.Scratch().data), 1);
    EXPECT_EQ(Samples(samples, samples + 48),
              Buffer({{16, 2, 2, 2}, {1, 0, 0, 0}, {128, 2}, {1, 0}, {120, 65534}, {1, 0}}, 0));
}

TEST(YUY2, OddWidthRowsSplitAndMerge)
{
    // 5 x 2: rows of 12 bytes, 10 of pixels and 2 of padding.
    Bytes frame(24, 0xEE);
    for (uint8_t i = 0; i < 10; ++i) {
        frame[i] = static_cast<uint8_t>(i + 1);
        frame[12 + i] = static_cast<uint8_t>(i + 101);
    }
    const FrameFormat in = Yuv(5, 2);
    CEncoderTarvYUV16 enc;
    ASSERT_EQ(enc.Prepare(&in, nullptr), Status::Ok);
    ASSERT_EQ(enc.Samples().count, 48);
    Samples split(48, kSentinel);
    ASSERT_EQ(enc.SplitPlanes(split.data(), frame.data(), &in), 1);
    // The lone last pixel carries no V byte: its V sample repeats the row's previous
    // one, so nothing left from an earlier frame reaches the payload.
    const Samples planes = Buffer({{1, 3, 5, 7, 9},
                                   {101, 103, 105, 107, 109},
                                   {2, 6, 10},
                                   {102, 106, 110},
                                   {4, 8, 8},
                                   {104, 108, 108}},
                                  kSentinel);
    EXPECT_EQ(split, planes);

    // Merging writes 10 bytes a row, rows in stored order whatever the sign of the
    // height, and reads no V sample for the last pixel.
    const FrameFormat trvy = Yuv(5, 2, kTarvYUY2FourCC);
    CDecoderTarvYUV16 dec;
    ASSERT_EQ(dec.Prepare(&trvy, &in), Status::Ok);
    Samples merged = planes;
    merged[34] = merged[42] = 99;
    Bytes want = frame;
    want[10] = want[11] = want[22] = want[23] = kFill;
    for (int32_t height : {2, -2, INT32_MIN}) {
        SCOPED_TRACE(height);
        const FrameFormat out = Yuv(5, height);
        Bytes pixels(24, kFill);
        ASSERT_EQ(dec.MergePlanes(pixels.data(), merged.data(), &out), 1);
        // -2^31 has no magnitude in 32 bits: nothing is written.
        EXPECT_EQ(pixels, height == INT32_MIN ? Bytes(24, kFill) : want);
    }

    // Width 1: the row has no V byte at all, so its V sample is 0.
    const Bytes one = {7, 9, 0xEE, 0xEE};
    const FrameFormat narrow = Yuv(1, 1);
    ASSERT_EQ(enc.Prepare(&narrow, nullptr), Status::Ok);
    Samples single(24, kSentinel);
    ASSERT_EQ(enc.SplitPlanes(single.data(), one.data(), &narrow), 1);
    EXPECT_EQ(single, Buffer({{7}, {9}, {0}}, kSentinel));
}

TEST(YUY2, GeometryAndSizeRules)
{
    struct Case {
        int32_t w, h;
        PlaneInfo luma, chroma;
        int32_t samples;
        uint32_t maxCompressed, decompressed;
    };
    const Case cases[] = {
        {5, 2, {5, 2, 16, 32}, {3, 2, 16, 32}, 48, 786532, 24},
        {17, 3, {17, 3, 48, 144}, {9, 3, 32, 96}, 168, 786772, 108},
        {640, 480, {640, 480, 1280, 614400}, {320, 480, 640, 307200}, 614400, 2015236, 614400},
        {720, 576, {720, 576, 1440, 829440}, {360, 576, 720, 414720}, 829440, 2445316, 829440},
    };
    const auto same = [](const PlaneInfo& a, const PlaneInfo& b) {
        return std::memcmp(&a, &b, sizeof a) == 0;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        const FrameFormat raw = Yuv(c.w, c.h), trvy = Yuv(c.w, c.h, kTarvYUY2FourCC);
        CEncoderTarvYUV16 enc;
        CDecoderTarvYUV16 dec;
        ASSERT_EQ(enc.Prepare(&raw, nullptr), Status::Ok);
        ASSERT_EQ(dec.Prepare(&trvy, &raw), Status::Ok);
        const CCodec* codecs[] = {&enc, &dec};
        for (const CCodec* codec : codecs) {
            EXPECT_TRUE(same(codec->Plane(0), c.luma));
            EXPECT_TRUE(same(codec->Plane(1), c.chroma));
            EXPECT_EQ(codec->Samples().count, c.samples);
            EXPECT_EQ(codec->Scratch().count, c.samples);
        }
        EXPECT_EQ(enc.GetMaxCompressedSize(c.w, c.h), c.maxCompressed);
        EXPECT_EQ(dec.GetDecompressedSize(c.w, c.h), c.decompressed);
    }
}

constexpr uint32_t kLowerYUY2 = FourCC('y', 'u', 'y', '2');
constexpr uint32_t kLowerTRVY = FourCC('t', 'r', 'v', 'y');

// Rows come from the bit count, so fewer than 16 bits cannot hold a pixel pair, and
// a frame of 64-bit rows (8 bytes a pixel) passes 2^31 - 1 bytes at 16 x 2^24.
TEST(YUY2, EncoderFormatRules)
{
    const uint32_t Y = kFourCC_YUY2;
    const FormatCase cases[] = {
        {"YUY2", Yuv(8, 2, Y, 16), {}, true},
        {"YUNV", Yuv(8, 2, kFourCC_YUNV, 16), {}, true},
        {"V422", Yuv(8, 2, kFourCC_V422, 16), {}, true},
        {"yuy2", Yuv(8, 2, kLowerYUY2, 16), {}, false},
        {"BI_RGB", Yuv(8, 2, kFormatRGB, 16), {}, false},
        {"TRVY input", Yuv(8, 2, kTarvYUY2FourCC, 16), {}, false},
        {"8 bits", Yuv(8, 2, Y, 8), {}, false},
        {"12 bits", Yuv(8, 2, Y, 12), {}, false},
        {"24 bits", Yuv(8, 2, Y, 24), {}, true},
        {"32 bits", Yuv(8, 2, Y, 32), {}, true},
        {"height 0", Yuv(8, 0, Y, 16), {}, true},
        {"negative height", Yuv(8, -2, Y, 16), {}, false},
        {"negative width", Yuv(-8, 2, Y, 16), {}, false},
        {"to TRVY", Yuv(8, 2, Y, 16), Yuv(8, 2, kTarvYUY2FourCC, 16), true},
        {"to trvy", Yuv(8, 2, Y, 16), Yuv(8, 2, kLowerTRVY, 16), false},
        {"to TRVR", Yuv(8, 2, Y, 16), Yuv(8, 2, kTRVR, 16), false},
        {"packed frame of 2^31 - 128", Yuv(16, 16777215, Y, 64), {}, true},
        {"packed frame of 2^31", Yuv(16, 16777216, Y, 64), {}, false},
        {"largest buffer of width 8", Yuv(8, 44722858, Y, 16), {}, true},
        {"buffer one row larger", Yuv(8, 44722859, Y, 16), {}, false},
    };
    ExpectFormats(CEncoderTarvYUV16(), cases);
}

TEST(YUY2, DecoderFormatRules)
{
    const uint32_t Y = kFourCC_YUY2, T = kTarvYUY2FourCC;
    const FrameFormat trvy = Yuv(8, 2, T, 16);
    const FormatCase cases[] = {
        {"TRVY alone", trvy, {}, true},
        {"trvy", Yuv(8, 2, kLowerTRVY, 16), {}, false},
        {"TRVR", Yuv(8, 2, kTRVR, 16), {}, false},
        {"YUY2 input", Yuv(8, 2, Y, 16), {}, false},
        {"negative height", Yuv(8, -2, T, 16), {}, false},
        {"negative width", Yuv(-8, 2, T, 16), {}, false},
        {"buffer past 2^31 - 1", Yuv(8, 44722859, T, 16), {}, false},
        {"to YUY2", trvy, Yuv(8, 2, Y, 16), true},
        {"to YUNV", trvy, Yuv(8, 2, kFourCC_YUNV, 16), true},
        {"to V422", trvy, Yuv(8, 2, kFourCC_V422, 16), true},
        {"to yuy2", trvy, Yuv(8, 2, kLowerYUY2, 16), false},
        {"to BI_RGB", trvy, Yuv(8, 2, kFormatRGB, 24), false},
        {"to TRVY", trvy, trvy, false},
        {"to 8 bits", trvy, Yuv(8, 2, Y, 8), false},
        {"to 24 bits", trvy, Yuv(8, 2, Y, 24), true},
        {"to 32 bits", trvy, Yuv(8, 2, Y, 32), true},
        {"to top-down", trvy, Yuv(8, -2, Y, 16), true},
        {"to packed frame of 2^31 - 128", trvy, Yuv(16, 16777215, Y, 64), true},
        {"to packed frame of 2^31", trvy, Yuv(16, -16777216, Y, 64), false},
    };
    ExpectFormats(CDecoderTarvYUV16(), cases);
}

} // namespace
