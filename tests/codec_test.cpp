// The codec object and the frame pipeline through the plain interface: the
// configuration a query builds, frames refused before anything is written,
// and round trips of every variant.
#include "codec/codec.h"
#include "tests/support/codec_calls.h"
#include "tests/support/expect.h"
#include "tests/support/frames.h"
#include "tests/support/headers.h"
#include "variants/rgb24/rgb24.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using namespace tarv;
using namespace tarv_test;

constexpr Variant kRgb = Variant::Rgb24;

FrameFormat Raw(int32_t width, int32_t height)
{
    return RawFormat(kRgb, width, height);
}

FrameFormat Trvr(int32_t width, int32_t height)
{
    return CompressedFormat(kRgb, width, height);
}

bool SamePlane(const PlaneInfo& a, const PlaneInfo& b)
{
    return a.width == b.width && a.height == b.height && a.stride == b.stride && a.size == b.size;
}

bool AllZero(const SampleBuffer& b)
{
    return std::all_of(b.data, b.data + b.count, [](uint16_t s) { return s == 0; });
}

bool AllFill(const Bytes& b)
{
    return std::all_of(b.begin(), b.end(), [](uint8_t x) { return x == kFill; });
}

TEST(CodecGeometry, PlanesAndBufferCountsFollowTheFrameSize)
{
    struct Case {
        int32_t w, h;
        PlaneInfo planes[3];
        int32_t samples;
    };
    // clang-format off
    const Case cases[] = {
        {720, 480, {{720, 480, 1440, 691200}, {360, 480, 720, 345600}, {360, 240, 720, 172800}},
         1036800},
        {1366, 768, {{1366, 768, 2736, 2101248}, {683, 768, 1376, 1056768},
                     {683, 384, 1376, 528384}}, 3151872},
        {5, 3, {{5, 3, 16, 48}, {3, 3, 16, 48}, {3, 2, 16, 32}}, 72},
        {1, 1, {{1, 1, 16, 16}, {1, 1, 16, 16}, {1, 1, 16, 16}}, 24},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        const FrameFormat raw = Raw(c.w, c.h), trvr = Trvr(c.w, c.h);
        CEncoderTarvRGB24 enc;
        CDecoderTarvRGB24 dec;
        ASSERT_EQ(enc.Prepare(&raw, nullptr), Status::Ok);
        ASSERT_EQ(dec.Prepare(&trvr, &raw), Status::Ok);
        const CCodec* codecs[] = {&enc, &dec};
        for (const CCodec* codec : codecs) {
            for (int i = 0; i < 3; ++i)
                EXPECT_TRUE(SamePlane(codec->Plane(i), c.planes[i])) << "plane " << i;
            EXPECT_TRUE(codec->HasTable());
            ASSERT_NE(codec->Samples().data, nullptr);
            ASSERT_NE(codec->Scratch().data, nullptr);
            EXPECT_EQ(codec->Samples().count, c.samples);
            EXPECT_EQ(codec->Scratch().count, c.samples);
        }
    }
}

TEST(CodecConfiguration, OnlyANewSizeReplacesTheConfiguration)
{
    CEncoderTarvRGB24 enc;
    EXPECT_EQ(enc.Prepare(nullptr, nullptr), Status::Error);
    EXPECT_FALSE(enc.HasTable());
    EXPECT_EQ(enc.Samples().data, nullptr);

    const FrameFormat first = Raw(9, 5);
    const FrameFormat second{tarv::kFourCC_DIB, 9, 5, 24, 12345};
    ASSERT_EQ(enc.Prepare(&first, nullptr), Status::Ok);
    const uint16_t* samples = enc.Samples().data;
    const uint16_t* scratch = enc.Scratch().data;
    const FrameFormat bad = PackedFrameFormat(8, 8, kFormatRGB, 32);
    EXPECT_EQ(enc.Prepare(&bad, nullptr), Status::BadFormat);
    EXPECT_EQ(enc.Prepare(nullptr, nullptr), Status::Error);
    ASSERT_EQ(enc.Prepare(&second, nullptr), Status::Ok);
    EXPECT_EQ(enc.Format(), first);
    EXPECT_EQ(enc.Samples().data, samples);
    EXPECT_EQ(enc.Scratch().data, scratch);
    EXPECT_EQ(Compress(enc, kRgb, first, Frame(first, Content::Noise)).status, Status::Ok);

    const FrameFormat other = Raw(10, 5);
    ASSERT_EQ(enc.Prepare(&other, nullptr), Status::Ok);
    EXPECT_EQ(enc.Format().width, 10);
    EXPECT_EQ(enc.Samples().count, 3 * 16 * 5);
}

TEST(CodecConfiguration, EndStreamReleasesUntilTheNextPrepare)
{
    CEncoderTarvRGB24 enc;
    const FrameFormat in = Raw(5, 3);
    const Bytes frame = Frame(in, Content::Photo);
    ASSERT_EQ(enc.Prepare(&in, nullptr), Status::Ok);
    enc.EndStream();
    EXPECT_FALSE(enc.HasTable());
    EXPECT_EQ(enc.Samples().data, nullptr);
    EXPECT_EQ(enc.Scratch().data, nullptr);
    EXPECT_EQ(enc.Format(), FrameFormat{});
    EXPECT_TRUE(SamePlane(enc.Plane(0), PlaneInfo{}));
    EXPECT_EQ(Compress(enc, kRgb, in, frame).status, Status::BadFormat);

    ASSERT_EQ(enc.Prepare(&in, nullptr), Status::Ok);
    EXPECT_TRUE(enc.HasTable());
    EXPECT_NE(enc.Samples().data, nullptr);
    EXPECT_NE(enc.Scratch().data, nullptr);
    EXPECT_EQ(Compress(enc, kRgb, in, frame).status, Status::Ok);
}

// Buffers start zeroed, so row tails (never written by a frame) do not carry heap
// content into the payload, and a frame's bytes do not depend on what came before.
TEST(CodecConfiguration, SameFrameAlwaysCompressesToTheSameBytes)
{
    const FrameFormat wide = Raw(8, 3), narrow = Raw(5, 3);
    const Bytes b = Frame(narrow, Content::Noise, 2);
    const Compressed fresh = CompressFresh(kRgb, narrow, b);
    ASSERT_EQ(fresh.status, Status::Ok);

    // 8x3 and 5x3 buffers have the same size, so the allocator may hand back the
    // blocks that the 8x3 frame filled.
    CEncoderTarvRGB24 enc;
    ASSERT_EQ(enc.Prepare(&wide, nullptr), Status::Ok);
    ASSERT_EQ(Compress(enc, kRgb, wide, Frame(wide, Content::Noise, 3)).status, Status::Ok);
    ASSERT_EQ(enc.Prepare(&narrow, nullptr), Status::Ok);
    EXPECT_TRUE(AllZero(enc.Samples()));
    EXPECT_TRUE(AllZero(enc.Scratch()));
    ASSERT_EQ(Compress(enc, kRgb, narrow, Frame(narrow, Content::Noise, 4)).status, Status::Ok);
    const Compressed again = Compress(enc, kRgb, narrow, b);
    ASSERT_EQ(again.status, Status::Ok);
    EXPECT_EQ(again.payload, fresh.payload);
}

// Width and height limits: every stride, plane size, buffer size and the largest
// compressed frame must fit in a signed 32-bit value, or the sizes wrap.
TEST(CodecConfiguration, FramesWhoseSizesDoNotFitAreRefused)
{
    struct Case {
        int32_t w, h;
        bool accepted;
    };
    // Width 8 has 16-byte strides: 48 * h + 786,436 must stay below 2^31.
    // Width 640: 3,840 * h + 786,436.
    const Case cases[] = {
        {8, 44722858, true},   {8, 44722859, false},  {640, 559035, true}, {640, 559036, false},
        {20000, 20000, false}, {1 << 30, 1, false},   {1 << 30, 0, false}, {INT32_MAX, 1, false},
        {-8, 4, false},        {INT32_MIN, 4, false}, {8, -4, false},      {8, INT32_MIN, false},
        {8, 0, true},          {0, 8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        const FrameFormat raw = Raw(c.w, c.h), trvr = Trvr(c.w, c.h);
        CEncoderTarvRGB24 enc;
        CDecoderTarvRGB24 dec;
        EXPECT_EQ(enc.CheckFormat(&raw, nullptr) != 0, c.accepted);
        EXPECT_EQ(dec.CheckFormat(&trvr, nullptr) != 0, c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(enc.Prepare(&raw, nullptr), Status::BadFormat);
            EXPECT_EQ(dec.Prepare(&trvr, nullptr), Status::BadFormat);
            EXPECT_EQ(enc.Samples().data, nullptr);
            EXPECT_EQ(dec.Samples().data, nullptr);
        }
    }
    // Counts are exact in 64 bits.
    EXPECT_EQ(CEncoderTarvRGB24().BufferSampleCount(int64_t{1} << 31, 0, 0), int64_t{3} << 31);
}

class CompressTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(enc.Prepare(&in, nullptr), Status::Ok); }

    CEncoderTarvRGB24 enc;
    FrameFormat in = Raw(7, 4);
    Bytes frame = Frame(in, Content::Noise);
};

// `length` is the room in and the payload's bytes out: a payload never goes
// past the room it was given, and one that does not fit is an error.
TEST_F(CompressTest, PayloadsStayWithinTheRoomGiven)
{
    const Compressed c = Compress(enc, kRgb, in, frame);
    ASSERT_EQ(c.status, Status::Ok);
    ASSERT_GT(c.payload.size(), 4u);
    for (const size_t room : {c.payload.size(), c.payload.size() - 1}) {
        SCOPED_TRACE(room);
        Bytes out(room + 16, kFill);
        uint32_t length = static_cast<uint32_t>(room);
        const Status status = enc.Compress(in, frame.data(), out.data(), length);
        EXPECT_TRUE(std::all_of(out.begin() + static_cast<ptrdiff_t>(room), out.end(),
                                [](uint8_t b) { return b == kFill; }));
        if (room == c.payload.size()) {
            ASSERT_EQ(status, Status::Ok);
            EXPECT_EQ(length, room);
            EXPECT_TRUE(std::equal(c.payload.begin(), c.payload.end(), out.begin()));
        } else {
            EXPECT_EQ(status, Status::Error);
        }
    }
}

TEST_F(CompressTest, RefusedFramesWriteNothing)
{
    struct Case {
        const char* why;
        FrameFormat input;
        bool pixels, output;
    };
    const auto with = [&](auto change) {
        FrameFormat f = in;
        change(f);
        return f;
    };
    const Case cases[] = {
        {"no input", in, false, true},
        {"no output", in, true, false},
        {"size image 0", with([](FrameFormat& f) { f.sizeImage = 0; }), true, true},
        {"32 bits", with([](FrameFormat& f) { f.bitCount = 32; }), true, true},
        {"narrower", with([](FrameFormat& f) { f.width = 6; }), true, true},
        {"taller", with([](FrameFormat& f) { f.height = 5; }), true, true},
        {"flipped", with([](FrameFormat& f) { f.height = -4; }), true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Bytes buffer(enc.GetMaxCompressedSize(7, 4), kFill);
        uint32_t length = static_cast<uint32_t>(buffer.size());
        EXPECT_EQ(enc.Compress(c.input, c.pixels ? frame.data() : nullptr,
                               c.output ? buffer.data() : nullptr, length),
                  Status::BadFormat);
        EXPECT_TRUE(AllFill(buffer));
        EXPECT_EQ(length, buffer.size());
    }

    CEncoderTarvRGB24 unprepared;
    EXPECT_EQ(Compress(unprepared, kRgb, in, frame).status, Status::BadFormat);
    // A 0x0 frame matches the unconfigured size but has no buffers to work in.
    FrameFormat empty = Raw(0, 0);
    empty.sizeImage = 4;
    EXPECT_EQ(Compress(unprepared, kRgb, empty, Bytes(4)).status, Status::Error);
}

class DecompressTest : public testing::Test {
protected:
    void SetUp() override
    {
        c = CompressFresh(kRgb, Raw(4, 480), frame);
        ASSERT_EQ(c.status, Status::Ok);
        ASSERT_EQ(dec.Prepare(&c.format, nullptr), Status::Ok);
    }

    Status Run(const FrameFormat& compressed, const Bytes& payload, int32_t outHeight = 480,
               CDecoder* decoder = nullptr)
    {
        pixels.assign(dec.GetDecompressedSize(4, 480), kFill);
        return Decompress(decoder != nullptr ? *decoder : dec, compressed, payload,
                          Raw(4, outHeight), pixels);
    }

    Bytes frame = tarv_test::Frame(Raw(4, 480), Content::Noise);
    Compressed c;
    CDecoderTarvRGB24 dec;
    Bytes pixels;
};

TEST_F(DecompressTest, OutputSizeMustMatchUpToTheSignOfTheHeight)
{
    EXPECT_EQ(Run(c.format, c.payload, 480), Status::Ok);
    EXPECT_EQ(Run(c.format, c.payload, -480), Status::Ok);
    for (int32_t h : {479, 481, -479, 0, INT32_MIN}) {
        EXPECT_EQ(Run(c.format, c.payload, h), Status::BadFormat) << h;
        EXPECT_TRUE(AllFill(pixels));
    }
    pixels.assign(pixels.size(), kFill);
    EXPECT_EQ(Decompress(dec, c.format, c.payload, Raw(3, 480), pixels), Status::BadFormat);

    CDecoderTarvRGB24 fresh;
    EXPECT_EQ(Run(c.format, c.payload, 480, &fresh), Status::BadFormat);
    EXPECT_TRUE(AllFill(pixels));
}

TEST_F(DecompressTest, RefusedFramesWriteNothing)
{
    pixels.assign(dec.GetDecompressedSize(4, 480), kFill);
    const FrameFormat out = Raw(4, 480);
    EXPECT_EQ(dec.Decompress(c.format, nullptr, out, pixels.data()), Status::BadFormat);
    EXPECT_EQ(dec.Decompress(c.format, c.payload.data(), out, nullptr), Status::BadFormat);
    FrameFormat empty = c.format;
    empty.sizeImage = 0;
    EXPECT_EQ(dec.Decompress(empty, c.payload.data(), out, pixels.data()), Status::BadFormat);
    FrameFormat deep = out;
    deep.bitCount = 32;
    EXPECT_EQ(dec.Decompress(c.format, c.payload.data(), deep, pixels.data()), Status::BadFormat);
    EXPECT_TRUE(AllFill(pixels));
}

// A payload that stops short of the buffer would leave an earlier frame's samples in
// the picture: the frame fails and the caller's pixels stay as they were.
TEST_F(DecompressTest, PayloadsWithTooFewSamplesFail)
{
    const uint32_t count = static_cast<uint32_t>(dec.Samples().count);
    const uint32_t table = 4 + 12 * Le32(c.payload, 0);
    ASSERT_GT(c.payload.size(), table + 64);

    // Cut inside the coded bytes: the coder itself still succeeds, with fewer samples.
    FrameFormat cut = c.format;
    cut.sizeImage = table + 16;
    CRangeCoder16 coder;
    coder.SetSymbolCount(CRangeCoder16::kAlphabetSize);
    ASSERT_EQ(coder.AllocateTable(), 1);
    std::vector<uint16_t> out(count);
    uint32_t decoded = count;
    ASSERT_EQ(coder.Decode(c.payload.data(), cut.sizeImage, out.data(), decoded), 1);
    ASSERT_LT(decoded, 2 * count);
    EXPECT_EQ(Run(cut, c.payload), Status::Error);
    EXPECT_TRUE(AllFill(pixels));

    // The table alone, without coded bytes.
    cut.sizeImage = table;
    EXPECT_EQ(Run(cut, c.payload), Status::Error);
    EXPECT_TRUE(AllFill(pixels));

    // A complete payload of a block one sample shorter than the buffer.
    Bytes shorter(CEncoderTarvRGB24().GetMaxCompressedSize(4, 480));
    uint32_t length = static_cast<uint32_t>(shorter.size());
    std::vector<uint16_t> block(count - 1, 3);
    ASSERT_EQ(coder.Encode(shorter.data(), length, block.data(), count - 1), 1);
    cut.sizeImage = length;
    EXPECT_EQ(Run(cut, shorter), Status::Error);
    EXPECT_TRUE(AllFill(pixels));

    // The decoder is still usable.
    EXPECT_EQ(Run(c.format, c.payload), Status::Ok);
}

// Every variant's frames come back exactly, into bottom-up and top-down
// outputs, and the decoder writes no row padding.
class RoundTrip : public testing::TestWithParam<Variant> {
protected:
    void Expect(int32_t w, int32_t h, Content content)
    {
        SCOPED_TRACE(testing::Message()
                     << w << "x" << h << " content " << static_cast<int>(content));
        const Variant v = GetParam();
        FrameFormat in = RawFormat(v, w, h);
        in.sizeImage = std::max<uint32_t>(in.sizeImage, 1); // 0 would be refused
        const Bytes frame = Frame(in, content, static_cast<uint32_t>(w * 31 + h));
        const Compressed c = CompressFresh(v, in, frame);
        ASSERT_EQ(c.status, Status::Ok);
        const std::unique_ptr<CDecoder> dec(Info(v).newDecoder());
        for (const int32_t sign : {1, -1}) {
            const FrameFormat out = RawFormat(v, w, sign * h);
            ASSERT_EQ(dec->Prepare(&c.format, &out), Status::Ok);
            Bytes pixels(std::max<size_t>(1, dec->GetDecompressedSize(w, h)), kFill);
            ASSERT_EQ(Decompress(*dec, c.format, c.payload, out, pixels), Status::Ok);
            ASSERT_EQ(PictureDifference(v, pixels.data(), out, frame.data(), in, kFill), "")
                << "height sign " << sign;
        }
    }
};

TEST_P(RoundTrip, SmallFrames)
{
    for (const Content content : {Content::Noise, Content::Photo, Content::Ramp})
        for (const auto& [w, h] :
             {std::pair{1, 1}, std::pair{2, 2}, std::pair{3, 5}, std::pair{5, 2}, std::pair{7, 7},
              std::pair{8, 4}, std::pair{13, 9}, std::pair{16, 16}, std::pair{33, 3},
              std::pair{5, 0}})
            Expect(w, h, content);
}

TEST_P(RoundTrip, LargeFrames)
{
    Expect(640, 480, Content::Noise);
    Expect(1366, 768, Content::Ramp);
    Expect(1920, 1080, Content::Photo);
}

INSTANTIATE_TEST_SUITE_P(Variants, RoundTrip, testing::ValuesIn(AllVariants()), VariantName);

} // namespace
