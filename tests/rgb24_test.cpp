// The RGB24 variant's own operations: packed BGR rows split into red, green
// and blue planes, its size rules, and the formats it takes. Its round trips
// run with every variant's (codec_test.cpp).
#include "tests/support/codec_calls.h"
#include "tests/support/expect.h"
#include "tests/support/headers.h"
#include "variants/rgb24/rgb24.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

using namespace tarv;
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
    const FrameFormat in = RawFormat(Variant::Rgb24, 2, 2);
    CEncoderTarvRGB24 enc;
    ASSERT_EQ(enc.Prepare(&in, nullptr), Status::Ok);

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
    const Compressed c = Compress(enc, Variant::Rgb24, in, frame);
    ASSERT_EQ(c.status, Status::Ok);
    CRangeCoder16 coder;
    coder.SetSymbolCount(CRangeCoder16::kAlphabetSize);
    ASSERT_EQ(coder.AllocateTable(), 1);
    Samples decoded(48, kSentinel);
    uint32_t count = 48;
    ASSERT_EQ(coder.Decode(c.payload.data(), c.format.sizeImage, decoded.data(), count), 1);
    EXPECT_EQ(count, 96u);
    EXPECT_EQ(decoded, TwoByTwo({30, 3, 6, 0}, {20, 2, 4, 0}, {10, 1, 2, 0}, 0));
    frame[6] = frame[15] = 0x11;
    EXPECT_EQ(Compress(enc, Variant::Rgb24, in, frame).payload, c.payload);
}

TEST(RGB24, SizeRules)
{
    struct Case {
        int32_t w, h;
        uint32_t maxCompressed, decompressed;
    };
    const Case cases[] = {
        {5, 2, 786532, 32}, {640, 480, 2629636, 921600}, {1, 1, 786484, 4}, {0, 0, 786436, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(CEncoderTarvRGB24().GetMaxCompressedSize(c.w, c.h), c.maxCompressed) << c.w;
        EXPECT_EQ(CDecoderTarvRGB24().GetDecompressedSize(c.w, c.h), c.decompressed) << c.w;
    }
}

// Width, sizes and the output's size are not part of the check: they are odd here.
FrameFormat In(uint32_t compression, uint16_t bits, int32_t height = 2)
{
    return FrameFormat{compression, 5, height, bits, 0};
}

FrameFormat Out(uint32_t compression, uint16_t bits)
{
    return PackedFrameFormat(99, -7, compression, bits);
}

constexpr uint32_t kTRVR = kTarvRGB24FourCC;
constexpr uint32_t kLowerTRVR = FourCC('t', 'r', 'v', 'r');
constexpr uint32_t kLowerDIB = FourCC('d', 'i', 'b', ' ');

TEST(RGB24, EncoderFormatRules)
{
    const uint32_t RGB = kFormatRGB;
    const FormatCase cases[] = {
        {"BI_RGB", In(RGB, 24), {}, true},
        {"DIB", In(tarv::kFourCC_DIB, 24), {}, true},
        {"height 0", In(RGB, 24, 0), {}, true},
        {"negative height", In(RGB, 24, -2), {}, false},
        {"16 bits", In(RGB, 16), {}, false},
        {"32 bits", In(RGB, 32), {}, false},
        {"bitfields", In(3, 24), {}, false},
        {"dib in lower case", In(kLowerDIB, 24), {}, false},
        {"YUY2", In(FourCC('Y', 'U', 'Y', '2'), 24), {}, false},
        {"TRVR input", In(kTRVR, 24), {}, false},
        {"TRVR output", In(RGB, 24), Out(kTRVR, 0), true},
        {"trvr output", In(RGB, 24), Out(kLowerTRVR, 0), false},
        {"TRVY output", In(RGB, 24), Out(FourCC('T', 'R', 'V', 'Y'), 0), false},
        {"BI_RGB output", In(RGB, 24), Out(RGB, 24), false},
    };
    ExpectFormats(CEncoderTarvRGB24(), cases);
}

TEST(RGB24, DecoderFormatRules)
{
    const FrameFormat trvr = In(kTRVR, 24);
    const FormatCase cases[] = {
        {"TRVR alone", trvr, {}, true},
        {"TRVR of any bit count", In(kTRVR, 7), {}, true},
        {"trvr", In(kLowerTRVR, 24), {}, false},
        {"BI_RGB input", In(kFormatRGB, 24), {}, false},
        {"negative height", In(kTRVR, 24, -2), {}, false},
        {"to BI_RGB", trvr, Out(kFormatRGB, 24), true},
        {"to DIB", trvr, Out(tarv::kFourCC_DIB, 24), true},
        {"to dib in lower case", trvr, Out(kLowerDIB, 24), false},
        {"to 32 bits", trvr, Out(kFormatRGB, 32), false},
        {"to 16 bits", trvr, Out(kFormatRGB, 16), false},
        {"to TRVR", trvr, Out(kTRVR, 24), false},
    };
    ExpectFormats(CDecoderTarvRGB24(), cases);
}

} // namespace
