#include "codec/codec.h"
#include "rgb24_frames.h"
#include "variants/rgb24/rgb24.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace tarv_test;

bool SamePlane(const PlaneInfo& a, const PlaneInfo& b)
{
    return a.width == b.width && a.height == b.height && a.stride == b.stride && a.size == b.size;
}

bool AllZero(const SampleBuffer& b)
{
    return std::all_of(b.data, b.data + b.count, [](uint16_t s) { return s == 0; });
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
        BITMAPINFOHEADER raw = RGBHeader(c.w, c.h), trvr = RGBHeader(c.w, c.h, kTRVR);
        CEncoderTarvRGB24 enc;
        CDecoderTarvRGB24 dec;
        ASSERT_EQ(enc.Prepare(&raw, nullptr), ICERR_OK);
        ASSERT_EQ(dec.Prepare(&trvr, &raw), ICERR_OK);
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
    EXPECT_EQ(enc.Prepare(nullptr, nullptr), ICERR_ERROR);
    EXPECT_FALSE(enc.HasTable());
    EXPECT_EQ(enc.Samples().data, nullptr);

    BITMAPINFOHEADER first = RGBHeader(9, 5), second = RGBHeader(9, 5, kFourCC_DIB);
    first.biXPelsPerMeter = 11;
    second.biSizeImage = 12345;
    ASSERT_EQ(enc.Prepare(&first, nullptr), ICERR_OK);
    const uint16_t* samples = enc.Samples().data;
    const uint16_t* scratch = enc.Scratch().data;
    const BITMAPINFOHEADER bad = RGBHeader(8, 8, BI_RGB, 32);
    EXPECT_EQ(enc.Prepare(&bad, nullptr), ICERR_BADFORMAT);
    EXPECT_EQ(enc.Prepare(nullptr, nullptr), ICERR_ERROR);
    ASSERT_EQ(enc.Prepare(&second, nullptr), ICERR_OK);
    EXPECT_EQ(std::memcmp(&enc.Format(), &first, sizeof first), 0);
    EXPECT_EQ(enc.Samples().data, samples);
    EXPECT_EQ(enc.Scratch().data, scratch);
    EXPECT_EQ(CompressOn(enc, first, MakeFrame(9, 5, Content::Noise)).rc, ICERR_OK);

    const BITMAPINFOHEADER other = RGBHeader(10, 5);
    ASSERT_EQ(enc.Prepare(&other, nullptr), ICERR_OK);
    EXPECT_EQ(enc.Format().biWidth, 10);
    EXPECT_EQ(enc.Samples().count, 3 * 16 * 5);
}

TEST(CodecConfiguration, EndStreamReleasesUntilTheNextPrepare)
{
    CEncoderTarvRGB24 enc;
    const BITMAPINFOHEADER in = RGBHeader(5, 3);
    const Bytes frame = MakeFrame(5, 3, Content::Smooth);
    ASSERT_EQ(enc.Prepare(&in, nullptr), ICERR_OK);
    enc.EndStream();
    EXPECT_FALSE(enc.HasTable());
    EXPECT_EQ(enc.Samples().data, nullptr);
    EXPECT_EQ(enc.Scratch().data, nullptr);
    EXPECT_EQ(enc.Format().biWidth, 0);
    EXPECT_EQ(enc.Format().biHeight, 0);
    EXPECT_TRUE(SamePlane(enc.Plane(0), PlaneInfo{}));
    EXPECT_EQ(CompressOn(enc, in, frame).rc, ICERR_BADFORMAT);

    ASSERT_EQ(enc.Prepare(&in, nullptr), ICERR_OK);
    EXPECT_TRUE(enc.HasTable());
    EXPECT_NE(enc.Samples().data, nullptr);
    EXPECT_NE(enc.Scratch().data, nullptr);
    EXPECT_EQ(CompressOn(enc, in, frame).rc, ICERR_OK);
}

// Buffers start zeroed, so row tails (never written by a frame) do not carry heap
// content into the payload, and a frame's bytes do not depend on what came before.
TEST(CodecConfiguration, SameFrameAlwaysCompressesToTheSameBytes)
{
    const BITMAPINFOHEADER wide = RGBHeader(8, 3), narrow = RGBHeader(5, 3);
    const Bytes b = MakeFrame(5, 3, Content::Noise, 2);
    const Compressed fresh = CompressFresh(narrow, b);
    ASSERT_EQ(fresh.rc, ICERR_OK);

    // 8x3 and 5x3 buffers have the same size, so the allocator may hand back the
    // blocks that the 8x3 frame filled.
    CEncoderTarvRGB24 enc;
    ASSERT_EQ(enc.Prepare(&wide, nullptr), ICERR_OK);
    ASSERT_EQ(CompressOn(enc, wide, MakeFrame(8, 3, Content::Noise, 3)).rc, ICERR_OK);
    ASSERT_EQ(enc.Prepare(&narrow, nullptr), ICERR_OK);
    EXPECT_TRUE(AllZero(enc.Samples()));
    EXPECT_TRUE(AllZero(enc.Scratch()));
    ASSERT_EQ(CompressOn(enc, narrow, MakeFrame(5, 3, Content::Noise, 4)).rc, ICERR_OK);
    const Compressed again = CompressOn(enc, narrow, b);
    ASSERT_EQ(again.rc, ICERR_OK);
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
        BITMAPINFOHEADER raw = RGBHeader(c.w, c.h), trvr = RGBHeader(c.w, c.h, kTRVR);
        CEncoderTarvRGB24 enc;
        CDecoderTarvRGB24 dec;
        EXPECT_EQ(enc.CheckFormat(&raw, nullptr) != 0, c.accepted);
        EXPECT_EQ(dec.CheckFormat(&trvr, nullptr) != 0, c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(enc.Prepare(&raw, nullptr), ICERR_BADFORMAT);
            EXPECT_EQ(dec.Prepare(&trvr, nullptr), ICERR_BADFORMAT);
            EXPECT_EQ(enc.Samples().data, nullptr);
            EXPECT_EQ(dec.Samples().data, nullptr);
        }
    }
    // Counts are exact in 64 bits.
    EXPECT_EQ(CEncoderTarvRGB24().BufferSampleCount(int64_t{1} << 31, 0, 0), int64_t{3} << 31);
}

class CompressTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(enc.Prepare(&in, nullptr), ICERR_OK); }

    CEncoderTarvRGB24 enc;
    BITMAPINFOHEADER in = RGBHeader(7, 4);
    Bytes frame = MakeFrame(7, 4, Content::Noise);
};

TEST_F(CompressTest, WritesHeaderChunkIdAndKeyFrameFlag)
{
    in.biXPelsPerMeter = 2835;
    in.biYPelsPerMeter = -7;
    in.biClrImportant = 9;
    in.biSize = 60;
    BITMAPINFOHEADER out;
    std::memset(&out, 0xAB, sizeof out);
    Bytes buffer(enc.GetMaxCompressedSize(7, 4));
    DWORD ckid = 0xFFFFFFFF, flags = 0xFFFFFFFF;
    ICCOMPRESS icc = CompressRecord(&in, frame.data(), &out, buffer.data(), &ckid, &flags);
    icc.dwFlags = 0xFFFFFFFF;
    ASSERT_EQ(enc.Compress(&icc), ICERR_OK);

    BITMAPINFOHEADER expected = in;
    expected.biCompression = kTRVR;
    expected.biSizeImage = CompressOn(enc, in, frame).header.biSizeImage;
    EXPECT_EQ(std::memcmp(&out, &expected, sizeof out), 0);
    EXPECT_GT(out.biSizeImage, 4u);
    EXPECT_EQ(ckid, kTRVR);
    EXPECT_EQ(flags, AVIIF_KEYFRAME);

    icc.lpckid = nullptr;
    icc.lpdwFlags = nullptr;
    EXPECT_EQ(enc.Compress(&icc), ICERR_OK);
}

TEST_F(CompressTest, RefusedFramesWriteNothing)
{
    const auto refuse = [&](const char* why, auto&& change) {
        SCOPED_TRACE(why);
        BITMAPINFOHEADER input = in, out;
        std::memset(&out, 0xAB, sizeof out);
        Bytes buffer(enc.GetMaxCompressedSize(7, 4), kFill);
        DWORD ckid = 1, flags = 1;
        ICCOMPRESS icc = CompressRecord(&input, frame.data(), &out, buffer.data(), &ckid, &flags);
        ICCOMPRESS* record = &icc;
        change(input, icc, record);
        EXPECT_EQ(enc.Compress(record), ICERR_BADFORMAT);
        EXPECT_TRUE(
            std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == kFill; }));
        EXPECT_EQ(out.biWidth, static_cast<LONG>(0xABABABAB));
        EXPECT_EQ(ckid, 1u);
        EXPECT_EQ(flags, 1u);
    };
    using H = BITMAPINFOHEADER;
    using R = ICCOMPRESS;
    refuse("no record", [](H&, R&, R*& r) { r = nullptr; });
    refuse("no input header", [](H&, R& r, R*&) { r.lpbiInput = nullptr; });
    refuse("no input", [](H&, R& r, R*&) { r.lpInput = nullptr; });
    refuse("no output header", [](H&, R& r, R*&) { r.lpbiOutput = nullptr; });
    refuse("no output", [](H&, R& r, R*&) { r.lpOutput = nullptr; });
    refuse("size image 0", [](H& h, R&, R*&) { h.biSizeImage = 0; });
    refuse("32 bits", [](H& h, R&, R*&) { h.biBitCount = 32; });
    refuse("narrower", [](H& h, R&, R*&) { h.biWidth = 6; });
    refuse("taller", [](H& h, R&, R*&) { h.biHeight = 5; });
    refuse("flipped", [](H& h, R&, R*&) { h.biHeight = -4; });

    CEncoderTarvRGB24 unprepared;
    EXPECT_EQ(CompressOn(unprepared, in, frame).rc, ICERR_BADFORMAT);
    // A 0x0 frame matches the unconfigured size but has no buffers to work in.
    BITMAPINFOHEADER empty = RGBHeader(0, 0);
    empty.biSizeImage = 4;
    EXPECT_EQ(CompressOn(unprepared, empty, Bytes(4)).rc, ICERR_ERROR);
}

class DecompressTest : public testing::Test {
protected:
    void SetUp() override
    {
        c = CompressFresh(RGBHeader(4, 480), frame);
        ASSERT_EQ(c.rc, ICERR_OK);
        ASSERT_EQ(dec.Prepare(&c.header, nullptr), ICERR_OK);
    }

    LRESULT Run(const BITMAPINFOHEADER& compressed, const Bytes& payload, LONG outHeight = 480)
    {
        pixels = OutputFor(dec, 4, 480);
        return DecompressOn(dec, compressed, payload, RGBHeader(4, outHeight), pixels);
    }
    bool Untouched() const
    {
        return std::all_of(pixels.begin(), pixels.end(), [](uint8_t b) { return b == kFill; });
    }

    Bytes frame = MakeFrame(4, 480, Content::Noise);
    Compressed c;
    CDecoderTarvRGB24 dec;
    Bytes pixels;
};

TEST_F(DecompressTest, OutputSizeMustMatchUpToTheSignOfTheHeight)
{
    EXPECT_EQ(Run(c.header, c.payload, 480), ICERR_OK);
    EXPECT_EQ(Run(c.header, c.payload, -480), ICERR_OK);
    for (LONG h : {479, 481, -479, 0, INT32_MIN}) {
        EXPECT_EQ(Run(c.header, c.payload, h), ICERR_BADFORMAT) << h;
        EXPECT_TRUE(Untouched());
    }
    const BITMAPINFOHEADER narrow = RGBHeader(3, 480);
    pixels = OutputFor(dec, 4, 480);
    EXPECT_EQ(DecompressOn(dec, c.header, c.payload, narrow, pixels), ICERR_BADFORMAT);

    CDecoderTarvRGB24 fresh;
    EXPECT_EQ(DecompressOn(fresh, c.header, c.payload, RGBHeader(4, 480), pixels), ICERR_BADFORMAT);
    EXPECT_TRUE(Untouched());
}

TEST_F(DecompressTest, RefusedRecordsWriteNothing)
{
    BITMAPINFOHEADER in = c.header, out = RGBHeader(4, 480);
    pixels = OutputFor(dec, 4, 480);
    Bytes payload = c.payload;
    ICDECOMPRESS icd{0, &in, payload.data(), &out, pixels.data(), 0};
    EXPECT_EQ(dec.Decompress(nullptr), ICERR_BADFORMAT);
    ICDECOMPRESS broken[] = {icd, icd, icd, icd};
    broken[0].lpbiInput = broken[1].lpbiOutput = nullptr;
    broken[2].lpInput = broken[3].lpOutput = nullptr;
    for (const ICDECOMPRESS& b : broken)
        EXPECT_EQ(dec.Decompress(&b), ICERR_BADFORMAT);
    in.biSizeImage = 0;
    EXPECT_EQ(dec.Decompress(&icd), ICERR_BADFORMAT);
    in = c.header;
    out.biBitCount = 32;
    EXPECT_EQ(dec.Decompress(&icd), ICERR_BADFORMAT);
    EXPECT_TRUE(Untouched());
}

TEST_F(DecompressTest, FlagsMakeNoDifference)
{
    ASSERT_EQ(Run(c.header, c.payload), ICERR_OK);
    const Bytes plain = pixels;
    // Hurry-up, preroll, null-frame, update and every other bit.
    for (DWORD flags : {0x80000000u, 0x20000000u, 0x10000000u, 0x40000000u, 0xFFFFFFFFu}) {
        Bytes out = OutputFor(dec, 4, 480);
        EXPECT_EQ(DecompressOn(dec, c.header, c.payload, RGBHeader(4, 480), out, flags), ICERR_OK);
        EXPECT_EQ(out, plain) << flags;
    }
}

// A payload that stops short of the buffer would leave an earlier frame's samples in
// the picture: the frame fails and the caller's pixels stay as they were.
TEST_F(DecompressTest, PayloadsWithTooFewSamplesFail)
{
    const uint32_t count = static_cast<uint32_t>(dec.Samples().count);
    uint32_t n = 0;
    std::memcpy(&n, c.payload.data(), 4);
    const uint32_t table = 4 + 12 * n;
    ASSERT_GT(c.payload.size(), table + 64);

    // Cut inside the coded bytes: the coder itself still succeeds, with fewer samples.
    BITMAPINFOHEADER cut = c.header;
    cut.biSizeImage = table + 16;
    CRangeCoder16 coder;
    coder.SetSymbolCount(CRangeCoder16::kAlphabetSize);
    ASSERT_EQ(coder.AllocateTable(), 1);
    std::vector<uint16_t> out(count);
    uint32_t decoded = count;
    ASSERT_EQ(coder.Decode(c.payload.data(), cut.biSizeImage, out.data(), decoded), 1);
    ASSERT_LT(decoded, 2 * count);
    EXPECT_EQ(Run(cut, c.payload), ICERR_ERROR);
    EXPECT_TRUE(Untouched());

    // The table alone, without coded bytes.
    cut.biSizeImage = table;
    EXPECT_EQ(Run(cut, c.payload), ICERR_ERROR);
    EXPECT_TRUE(Untouched());

    // A complete payload of a block one sample shorter than the buffer.
    Bytes shorter(CEncoderTarvRGB24().GetMaxCompressedSize(4, 480));
    uint32_t length = static_cast<uint32_t>(shorter.size());
    std::vector<uint16_t> block(count - 1, 3);
    ASSERT_EQ(coder.Encode(shorter.data(), length, block.data(), count - 1), 1);
    cut.biSizeImage = length;
    EXPECT_EQ(Run(cut, shorter), ICERR_ERROR);
    EXPECT_TRUE(Untouched());

    // The decoder is still usable.
    EXPECT_EQ(Run(c.header, c.payload), ICERR_OK);
}

} // namespace
