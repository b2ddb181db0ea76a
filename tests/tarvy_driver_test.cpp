// libtarvy driven the way a host drives it: loaded at run time and spoken to
// through DriverProc alone (driver_host.h).
#include "codec/codec.h" // PackedRowBytes and RowBytes only
#include "driver_host.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <vector>

namespace {

using namespace driver_host;

constexpr DWORD kTRVY = MakeFourCC('T', 'R', 'V', 'Y');
constexpr DWORD kYUY2 = MakeFourCC('Y', 'U', 'Y', '2');
constexpr DWORD kYUNV = MakeFourCC('Y', 'U', 'N', 'V');
constexpr DWORD kV422 = MakeFourCC('V', '4', '2', '2');
constexpr uint8_t kFill = 0xA7;

BITMAPINFOHEADER Yuv(LONG width, LONG height, DWORD compression = kYUY2, WORD bits = 16)
{
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biCompression = compression;
    const int64_t rows = height < 0 ? -int64_t{height} : height;
    h.biSizeImage = static_cast<DWORD>(PackedRowBytes(width, bits) * rows);
    h.biXPelsPerMeter = 2835;
    h.biClrImportant = 7; // distinct values show where each proposed field came from
    return h;
}

size_t RowOf(const BITMAPINFOHEADER& h)
{
    return static_cast<size_t>(PackedRowBytes(h.biWidth, h.biBitCount));
}

// The luma plane's and both chroma planes' 16-bit rows, plus the largest table.
LRESULT MaxCompressed(int64_t width, int64_t height)
{
    return static_cast<LRESULT>((RowBytes(width) + 2 * RowBytes((width + 1) / 2)) * height +
                                786436);
}

enum class Content { Noise, Smooth };

uint8_t Hash(size_t x, size_t y, uint32_t seed)
{
    uint32_t v = static_cast<uint32_t>(x) * 0x9E3779B1u ^ static_cast<uint32_t>(y) * 0x85EBCA77u ^
                 seed * 0xC2B2AE3Du;
    v = (v ^ (v >> 15)) * 0x2C1B3C6Du;
    v = (v ^ (v >> 12)) * 0x297A2D39u;
    return static_cast<uint8_t>((v ^ (v >> 15)) >> 24);
}

// A packed frame with the header's row length. A pixel byte depends only on its
// position, so frames of any bit count carry the same pixels; the bytes past the
// pixels of each row are noise.
Bytes Frame(const BITMAPINFOHEADER& h, Content content, uint32_t seed = 1)
{
    const size_t row = RowOf(h), used = 2 * static_cast<size_t>(h.biWidth);
    Bytes f(row * static_cast<size_t>(h.biHeight));
    for (size_t y = 0; y < static_cast<size_t>(h.biHeight); ++y)
        for (size_t x = 0; x < row; ++x) {
            const size_t pair = x / 4 + y;
            const size_t smooth = x % 2 == 0   ? (x / 2 + 3 * y) / 4
                                  : x % 4 == 1 ? 96 + pair / 16
                                               : 160 - pair / 32;
            f[y * row + x] = static_cast<uint8_t>(
                x < used && content == Content::Smooth ? smooth : Hash(x, y, seed));
        }
    return f;
}

// Each row of `got` starts with the pixels of the same row of `want` and keeps
// kFill after them.
void ExpectPixels(const Bytes& got, const BITMAPINFOHEADER& gotHeader, const Bytes& want,
                  const BITMAPINFOHEADER& wantHeader)
{
    const size_t used = 2 * static_cast<size_t>(wantHeader.biWidth);
    const size_t gotRow = RowOf(gotHeader), wantRow = RowOf(wantHeader);
    for (size_t y = 0; y < static_cast<size_t>(wantHeader.biHeight); ++y) {
        ASSERT_EQ(std::memcmp(&got[y * gotRow], &want[y * wantRow], used), 0) << "row " << y;
        ASSERT_TRUE(std::all_of(got.begin() + static_cast<ptrdiff_t>(y * gotRow + used),
                                got.begin() + static_cast<ptrdiff_t>((y + 1) * gotRow),
                                [](uint8_t b) { return b == kFill; }))
            << "padding of row " << y;
    }
}

class Tarvy : public DriverHost {
protected:
    Tarvy() : DriverHost(kTRVY) {}

    // A compression stream as a host runs it, into buffers of the proposed size.
    void CompressStream(const BITMAPINFOHEADER& in, const std::vector<Bytes>& frames,
                        std::vector<Encoded>& encoded)
    {
        BITMAPINFOHEADER input = in, proposal = Filled(0xCD), want = in;
        ASSERT_EQ(Send(ICM_COMPRESS_QUERY, P(&input)), ICERR_OK);
        ASSERT_EQ(Send(ICM_COMPRESS_GET_FORMAT, P(&input), P(&proposal)), ICERR_OK);
        want.biCompression = kTRVY;
        want.biSizeImage = static_cast<DWORD>(MaxCompressed(in.biWidth, in.biHeight));
        EXPECT_EQ(proposal, want);
        const LRESULT size = Send(ICM_COMPRESS_GET_SIZE, P(&input), P(&proposal));
        ASSERT_EQ(size, MaxCompressed(in.biWidth, in.biHeight));
        ASSERT_EQ(Send(ICM_COMPRESS_BEGIN, P(&input), P(&proposal)), ICERR_OK);
        encoded.assign(frames.size(), Encoded{});
        for (size_t i = 0; i < frames.size(); ++i) {
            ASSERT_EQ(Compress(in, frames[i], size, &encoded[i]), ICERR_OK) << "frame " << i;
            want.biSizeImage = static_cast<DWORD>(encoded[i].payload.size());
            EXPECT_EQ(encoded[i].header, want);
        }
        EXPECT_EQ(Send(ICM_COMPRESS_END), ICERR_OK);
    }

    // A decompression stream into the format the library proposes, bottom-up and
    // top-down alike: both receive the rows in stored order.
    void DecompressStream(const BITMAPINFOHEADER& in, const std::vector<Bytes>& frames,
                          const std::vector<Encoded>& encoded)
    {
        BITMAPINFOHEADER compressed = encoded.at(0).header, out{};
        ASSERT_EQ(Send(ICM_DECOMPRESS_GET_FORMAT, P(&compressed), P(&out)), ICERR_OK);
        ASSERT_EQ(out.biSizeImage, RowOf(Yuv(in.biWidth, 1)) * static_cast<size_t>(in.biHeight));
        ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&compressed), P(&out)), ICERR_OK);
        ASSERT_EQ(Send(ICM_DECOMPRESS_BEGIN, P(&compressed), P(&out)), ICERR_OK);
        for (size_t i = 0; i < frames.size(); ++i)
            for (LONG sign : {1, -1}) {
                SCOPED_TRACE(testing::Message() << "frame " << i << ", height sign " << sign);
                BITMAPINFOHEADER target = out;
                target.biHeight *= sign;
                Bytes pixels(out.biSizeImage, kFill);
                ASSERT_EQ(Decompress(encoded[i], target, pixels), ICERR_OK);
                ExpectPixels(pixels, out, frames[i], in);
            }
        EXPECT_EQ(Send(ICM_DECOMPRESS_END), ICERR_OK);
    }
};

TEST_F(Tarvy, InfoRecordNamesTRVY)
{
    OpenDriver();
    constexpr char16_t kName[] = u"TRVY";
    constexpr char16_t kDescription[] = u"Tarv Lossless Video Codec (YUY2)";
    static_assert(std::size(kDescription) == 33);
    ICINFO info;
    std::memset(&info, 0xEE, sizeof info);
    ASSERT_EQ(Send(ICM_GETINFO, P(&info), sizeof info), 568);
    EXPECT_EQ(info.fccType, kFourCC_vidc);
    EXPECT_EQ(info.fccHandler, kTRVY);
    for (size_t i = 0; i < std::size(info.szName); ++i)
        EXPECT_EQ(info.szName[i], i < std::size(kName) ? kName[i] : 0xEEEE) << i;
    for (size_t i = 0; i < std::size(info.szDescription); ++i)
        EXPECT_EQ(info.szDescription[i], i < std::size(kDescription) ? kDescription[i] : 0xEEEE)
            << i;
}

// Noise does not compress: its frames must still fit the buffer the host sized
// from the proposal.
TEST_F(Tarvy, FramesRoundTripInBuffersOfTheProposedSize)
{
    OpenDriver();
    struct Case {
        LONG width, height;
        std::vector<Content> contents;
    };
    const std::vector<Content> both = {Content::Noise, Content::Smooth};
    // clang-format off
    const Case cases[] = {
        {1, 1, both}, {2, 1, both}, {3, 2, both}, {5, 3, both}, {15, 4, both}, {16, 3, both},
        {17, 5, both}, {32, 2, both}, {33, 7, both}, {640, 480, {Content::Noise}},
        {1920, 1080, {Content::Smooth}}, {3840, 2160, {Content::Smooth}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        const BITMAPINFOHEADER in = Yuv(c.width, c.height);
        std::vector<Bytes> frames;
        for (Content content : c.contents)
            frames.push_back(Frame(in, content, static_cast<uint32_t>(frames.size())));
        std::vector<Encoded> encoded;
        ASSERT_NO_FATAL_FAILURE(CompressStream(in, frames, encoded));
        if (c.contents[0] == Content::Noise) {
            EXPECT_GT(encoded[0].payload.size(), in.biSizeImage);
        }
        ASSERT_NO_FATAL_FAILURE(DecompressStream(in, frames, encoded));
    }
}

TEST_F(Tarvy, ThirtyTwoBitRowsCarryTheSamePixels)
{
    OpenDriver();
    const BITMAPINFOHEADER in16 = Yuv(7, 4), in32 = Yuv(7, 4, kYUY2, 32);
    const std::vector<Bytes> frames16 = {Frame(in16, Content::Noise)},
                             frames32 = {Frame(in32, Content::Noise)};
    std::vector<Encoded> encoded16, encoded32;
    ASSERT_NO_FATAL_FAILURE(CompressStream(in32, frames32, encoded32));
    ASSERT_NO_FATAL_FAILURE(DecompressStream(in32, frames32, encoded32));
    ASSERT_NO_FATAL_FAILURE(CompressStream(in16, frames16, encoded16));
    EXPECT_TRUE(encoded32[0].payload == encoded16[0].payload);

    // Into 32-bit rows: the first 14 bytes of every 28 are written.
    BITMAPINFOHEADER compressed = encoded16[0].header, out32 = in32;
    ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&compressed), P(&out32)), ICERR_OK);
    Bytes pixels(in32.biSizeImage, kFill);
    ASSERT_EQ(Decompress(encoded16[0], out32, pixels), ICERR_OK);
    ExpectPixels(pixels, out32, frames16[0], in16);
}

TEST_F(Tarvy, YUNVAndV422AreYUY2UnderOtherNames)
{
    OpenDriver();
    const BITMAPINFOHEADER yuy2 = Yuv(9, 3);
    const std::vector<Bytes> frames = {Frame(yuy2, Content::Noise, 3)};
    std::vector<Encoded> reference;
    ASSERT_NO_FATAL_FAILURE(CompressStream(yuy2, frames, reference));
    BITMAPINFOHEADER compressed = reference[0].header, out = yuy2;
    ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&compressed), P(&out)), ICERR_OK);
    Bytes decoded(yuy2.biSizeImage, kFill);
    ASSERT_EQ(Decompress(reference[0], yuy2, decoded), ICERR_OK);

    for (DWORD name : {kYUNV, kV422}) {
        SCOPED_TRACE(name);
        const BITMAPINFOHEADER in = Yuv(9, 3, name);
        std::vector<Encoded> encoded;
        ASSERT_NO_FATAL_FAILURE(CompressStream(in, frames, encoded));
        EXPECT_EQ(encoded[0].header, reference[0].header);
        EXPECT_TRUE(encoded[0].payload == reference[0].payload);
        out = in;
        ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&compressed), P(&out)), ICERR_OK);
        Bytes pixels(in.biSizeImage, kFill);
        ASSERT_EQ(Decompress(reference[0], in, pixels), ICERR_OK);
        EXPECT_TRUE(pixels == decoded);
    }
}

// The proposal is the library's own format, so the decoder takes it, whatever
// the record held and whatever bit count the compressed header carries.
TEST_F(Tarvy, DecompressProposalIsYUY2WhateverTheRecordHeld)
{
    OpenDriver();
    struct Case {
        LONG width, height;
        WORD bits;
        DWORD size;
    };
    const Case cases[] = {{320, 240, 16, 153600}, {320, 240, 32, 153600}, {5, 2, 0, 24}};
    const BITMAPINFOHEADER records[] = {BITMAPINFOHEADER{}, Filled(0xCD), Yuv(8, 8, BI_RGB, 24)};
    for (const Case& c : cases)
        for (const BITMAPINFOHEADER& held : records) {
            SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << c.bits
                                            << " bits, record " << testing::PrintToString(held));
            BITMAPINFOHEADER in = Yuv(c.width, c.height, kTRVY, c.bits), out = held, want = in;
            want.biCompression = kYUY2;
            want.biBitCount = 16;
            want.biSizeImage = c.size;
            ASSERT_EQ(Send(ICM_DECOMPRESS_GET_FORMAT, P(&in), P(&out)), ICERR_OK);
            EXPECT_EQ(out, want);
            EXPECT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&in), P(&out)), ICERR_OK);
        }
}

TEST_F(Tarvy, RefusedFormatsWriteNothing)
{
    OpenDriver();
    struct Case {
        const char* name;
        UINT message;
        BITMAPINFOHEADER in;
        std::optional<BITMAPINFOHEADER> out;
    };
    const DWORD yuy2Lower = MakeFourCC('y', 'u', 'y', '2'), trvr = MakeFourCC('T', 'R', 'V', 'R');
    const BITMAPINFOHEADER yuy2 = Yuv(8, 2), trvy = Yuv(8, 2, kTRVY), blank = Filled(0xCD);
    const Case cases[] = {
        {"yuy2 input", ICM_COMPRESS_QUERY, Yuv(8, 2, yuy2Lower), {}},
        {"yuy2 proposal", ICM_COMPRESS_GET_FORMAT, Yuv(8, 2, yuy2Lower), blank},
        {"12-bit input", ICM_COMPRESS_GET_SIZE, Yuv(8, 2, kYUY2, 12), {}},
        {"trvy input", ICM_DECOMPRESS_QUERY, Yuv(8, 2, MakeFourCC('t', 'r', 'v', 'y')), {}},
        {"TRVR proposal", ICM_DECOMPRESS_GET_FORMAT, Yuv(8, 2, trvr), blank},
        {"to yuy2", ICM_DECOMPRESS_QUERY, trvy, Yuv(8, 2, yuy2Lower)},
        {"to BI_RGB", ICM_DECOMPRESS_QUERY, trvy, Yuv(8, 2, BI_RGB, 24)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BITMAPINFOHEADER in = c.in, out = c.out.value_or(blank);
        EXPECT_EQ(Send(c.message, P(&in), c.out ? P(&out) : 0), ICERR_BADFORMAT);
        EXPECT_EQ(out, c.out.value_or(blank));
    }

    // A frame for a BI_RGB output is refused before any pixel is written.
    std::vector<Encoded> encoded;
    ASSERT_NO_FATAL_FAILURE(CompressStream(yuy2, {Frame(yuy2, Content::Noise)}, encoded));
    BITMAPINFOHEADER compressed = encoded[0].header, out = yuy2;
    ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&compressed), P(&out)), ICERR_OK);
    Bytes pixels(Yuv(8, 2, BI_RGB, 24).biSizeImage, kFill);
    EXPECT_EQ(Decompress(encoded[0], Yuv(8, 2, BI_RGB, 24), pixels), ICERR_BADFORMAT);
    EXPECT_TRUE(pixels == Bytes(pixels.size(), kFill));
}

// Every frame is coded alone: a frame compresses to the same bytes after any
// other frame as on an encoder that has seen nothing (the end of a stream gives
// the buffers back, so the next query starts afresh).
TEST_F(Tarvy, AFramesBytesDependOnThatFrameAlone)
{
    OpenDriver();
    for (LONG width : {1, 2, 3, 5, 8, 9, 17}) {
        SCOPED_TRACE(width);
        const BITMAPINFOHEADER in = Yuv(width, 3);
        const Bytes a = Frame(in, Content::Noise, 1), b = Frame(in, Content::Noise, 2);
        std::vector<Encoded> afterA, fresh;
        ASSERT_NO_FATAL_FAILURE(CompressStream(in, {a, b}, afterA));
        ASSERT_NO_FATAL_FAILURE(CompressStream(in, {b}, fresh));
        EXPECT_TRUE(afterA[1].payload == fresh[0].payload);
    }
}

} // namespace
