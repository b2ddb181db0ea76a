// libtarvr driven the way a host drives it: the shared library is loaded at run
// time and spoken to through its one export, DriverProc, with the platform's
// messages and records. Nothing of the codec is linked into this test.
#include "codec/codec.h" // PackedRowBytes and RowBytes only
#include "driver_host.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <utility>
#include <vector>

namespace {

using namespace driver_host;

constexpr DWORD kTRVR = MakeFourCC('T', 'R', 'V', 'R');
constexpr DWORD kTRVY = MakeFourCC('T', 'R', 'V', 'Y');
constexpr LRESULT kLargestTable = 786436;

// Bytes of the largest compressed frame: three planes of 16-bit rows plus the table.
LRESULT MaxCompressed(int64_t width, int64_t height)
{
    return static_cast<LRESULT>(3 * RowBytes(width) * height + kLargestTable);
}

BITMAPINFOHEADER RGBHeader(LONG width, LONG height, WORD bits = 24, DWORD compression = BI_RGB)
{
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biCompression = compression;
    h.biSizeImage = static_cast<DWORD>(PackedRowBytes(width, bits) * std::abs(height));
    h.biXPelsPerMeter = 2835;
    h.biYPelsPerMeter = 2834;
    h.biClrImportant = 7; // distinct values show where each proposed field came from
    return h;
}

// A compressed header as a compressed frame carries it.
BITMAPINFOHEADER TRVRHeader(LONG width, LONG height, WORD bits = 24)
{
    BITMAPINFOHEADER h = RGBHeader(width, height, bits, kTRVR);
    h.biSizeImage = 4321;
    return h;
}

// A packed 24-bit frame with zero row padding: noise (which does not compress) or a ramp.
Bytes Frame(LONG width, LONG height, bool noise, uint32_t seed = 1)
{
    const size_t row = static_cast<size_t>(PackedRowBytes(width, 24));
    Bytes f(row * static_cast<size_t>(height));
    std::mt19937 rng(seed);
    for (size_t y = 0; y < static_cast<size_t>(height); ++y)
        for (size_t x = 0; x < 3 * static_cast<size_t>(width); ++x)
            f[y * row + x] = static_cast<uint8_t>(noise ? rng() : (x / 3 + 2 * y + x % 3 * 40) / 4);
    return f;
}

// libtarvr through DriverProc.
class Driver : public DriverHost {
protected:
    Driver() : DriverHost(kTRVR) {}
};

// Identifiers that name no instance of the library (none at all, garbage, a
// closed instance's) are answered alike, and nothing is read through them: the
// sanitizers see a read of the freed instance, and a wild pointer crashes.
TEST_F(Driver, MessageTableWithoutAndWithAnInstance)
{
    struct Row {
        UINT message;
        LPARAM p1, p2;
        LRESULT none, instance;
    };
    BITMAPINFOHEADER raw = RGBHeader(16, 8), trvr = TRVRHeader(16, 8);
    uint8_t untouched[64]; // handed to messages that must not read or write it
    std::memset(untouched, 0x5A, sizeof untouched);
    const LPARAM u = P(untouched);
    DWORD quality = 0;
    const LPARAM window = 0x1234;
    const Row rows[] = {
        {DRV_LOAD, 0, 0, 1, 1},
        {DRV_ENABLE, 0, 0, 1, 1},
        {DRV_DISABLE, 0, 0, 1, 1},
        {DRV_FREE, 0, 0, 1, 1},
        {DRV_INSTALL, 0, 0, 1, 1},
        {DRV_REMOVE, 0, 0, 1, 1},
        {DRV_CONFIGURE, window, 0, 0, ICERR_ERROR},
        {DRV_QUERYCONFIGURE, 0, 0, 0, 0},
        {0x000B, u, u, 0, 0}, // below DRV_USER: the platform's default procedure
        {0x3FFF, u, u, 0, 0},
        {ICM_COMPRESS_GET_FORMAT, P(&raw), 0, ICERR_ERROR, 40},
        {ICM_COMPRESS_GET_SIZE, P(&raw), u, ICERR_ERROR, MaxCompressed(16, 8)},
        {ICM_COMPRESS_QUERY, P(&raw), 0, ICERR_ERROR, ICERR_OK},
        {ICM_COMPRESS_BEGIN, 0, 0, ICERR_OK, ICERR_OK},
        {ICM_COMPRESS_BEGIN, P(&raw), 0, ICERR_OK, ICERR_OK},
        {ICM_COMPRESS, 0, u, ICERR_ERROR, ICERR_BADFORMAT},
        {ICM_COMPRESS_END, 0, 0, ICERR_ERROR, ICERR_OK},
        {ICM_DECOMPRESS_GET_FORMAT, P(&trvr), 0, ICERR_ERROR, 40},
        {ICM_DECOMPRESS_QUERY, P(&trvr), 0, ICERR_ERROR, ICERR_OK},
        {ICM_DECOMPRESS_BEGIN, P(&trvr), 0, ICERR_OK, ICERR_OK},
        {ICM_DECOMPRESS, 0, u, ICERR_ERROR, ICERR_BADFORMAT},
        {ICM_DECOMPRESS_END, 0, 0, ICERR_ERROR, ICERR_OK},
        {ICM_DECOMPRESS_SET_PALETTE, u, u, ICERR_OK, ICERR_OK},
        {ICM_DECOMPRESS_GET_PALETTE, u, u, ICERR_OK, ICERR_OK},
        {ICM_COMPRESS_FRAMES_INFO, u, u, ICERR_OK, ICERR_OK},
        {ICM_GETSTATE, u, u, ICERR_OK, ICERR_OK},
        {ICM_SETSTATE, u, u, ICERR_OK, ICERR_OK},
        {ICM_GETINFO, 0, 0, ICERR_ERROR, 568},
        {ICM_CONFIGURE, -1, 0, ICERR_ERROR, ICERR_UNSUPPORTED},
        {ICM_CONFIGURE, window, 0, ICERR_ERROR, ICERR_ERROR},
        {ICM_ABOUT, -1, 0, ICERR_ERROR, ICERR_UNSUPPORTED},
        {ICM_ABOUT, window, 0, ICERR_ERROR, ICERR_ERROR},
        {ICM_GETDEFAULTQUALITY, 0, 0, ICERR_ERROR, ICERR_ERROR},
        {ICM_GETDEFAULTQUALITY, P(&quality), 0, ICERR_OK, ICERR_OK},
        {DRV_USER, u, u, ICERR_UNSUPPORTED, ICERR_UNSUPPORTED},
        {ICM_GETQUALITY, u, u, ICERR_UNSUPPORTED, ICERR_UNSUPPORTED},
        {ICM_SETQUALITY, u, u, ICERR_UNSUPPORTED, ICERR_UNSUPPORTED},
        {0xFFFFFFFF, u, u, ICERR_UNSUPPORTED, ICERR_UNSUPPORTED},
        {DRV_CLOSE, 0, 0, 1, 1}, // last: it ends the instance
    };
    OpenDriver();
    const DWORD_PTR live = id, closed = lib.Open(); // open together: different addresses
    ASSERT_NE(closed, 0u);
    ASSERT_EQ(lib.Send(closed, DRV_CLOSE), 1);
    const DWORD_PTR foreign[] = {
        0, closed, reinterpret_cast<DWORD_PTR>(untouched), live + 8, 1, 0xDEADBEEF, ~DWORD_PTR{0}};
    const auto answer = [&](DWORD_PTR to, const Row& r) {
        id = to;
        quality = 0;
        const LRESULT reply = Send(r.message, r.p1, r.p2);
        if (r.p1 == P(&quality)) {
            EXPECT_EQ(quality, 10000u);
        }
        return reply;
    };
    for (DWORD_PTR stranger : foreign)
        for (const Row& r : rows) {
            SCOPED_TRACE(testing::Message() << "message 0x" << std::hex << r.message
                                            << " to identifier 0x" << stranger);
            EXPECT_EQ(answer(stranger, r), r.none);
        }
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message()
                     << "message 0x" << std::hex << r.message << " to a live instance");
        EXPECT_EQ(answer(live, r), r.instance);
    }
    // The last row closed the instance: from now on it is a stranger too.
    EXPECT_EQ(lib.Send(live, ICM_COMPRESS_QUERY, P(&raw)), ICERR_ERROR);
    for (uint8_t b : untouched)
        ASSERT_EQ(b, 0x5A);
}

// Every open is an instance of its own, with its own encoder and decoder, and
// makes the same check of its record.
TEST_F(Driver, EveryOpenIsAnInstanceOfItsOwn)
{
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = MakeFourCC('v', 'i', 'd', 's');
    open.dwError = 77;
    EXPECT_EQ(lib.Send(0, DRV_OPEN, 0, P(&open)), 0); // not a video-codec open
    EXPECT_EQ(open.dwError, 77);

    open.fccType = kFourCC_vidc;
    const auto first = static_cast<DWORD_PTR>(lib.Send(0, DRV_OPEN, 0, P(&open)));
    ASSERT_NE(first, 0u);
    EXPECT_EQ(open.dwError, ICERR_OK);
    open.fccType = MakeFourCC('v', 'i', 'd', 's');
    open.dwError = 55;
    EXPECT_EQ(lib.Send(0, DRV_OPEN, 0, P(&open)), 0);
    EXPECT_EQ(open.dwError, 55);
    const auto second = static_cast<DWORD_PTR>(lib.Send(0, DRV_OPEN)); // no record
    ASSERT_NE(second, 0u);
    EXPECT_NE(second, first);

    // Configuring one instance leaves the other as it was; closing one leaves
    // the other working, and a new open starts unconfigured.
    const BITMAPINFOHEADER in = RGBHeader(16, 8);
    const Bytes frame = Frame(16, 8, false);
    id = first;
    ASSERT_EQ(Send(ICM_COMPRESS_QUERY, P(&in)), ICERR_OK);
    id = second;
    EXPECT_EQ(Compress(in, frame, MaxCompressed(16, 8)), ICERR_BADFORMAT);
    EXPECT_EQ(Send(DRV_CLOSE), 1);
    id = first;
    EXPECT_EQ(Compress(in, frame, MaxCompressed(16, 8)), ICERR_OK);
    OpenDriver();
    EXPECT_EQ(Compress(in, frame, MaxCompressed(16, 8)), ICERR_BADFORMAT);
}

TEST_F(Driver, InfoRecord)
{
    OpenDriver();
    constexpr char16_t kName[] = u"TRVR";
    constexpr char16_t kDescription[] = u"Tarv Lossless Video Codec (RGB24)";
    static_assert(std::size(kDescription) == 34);
    constexpr char16_t kUnwritten = 0xEEEE;

    ICINFO info, before;
    std::memset(&before, 0xEE, sizeof before);
    info = before;
    EXPECT_EQ(Send(ICM_GETINFO, P(&info), 567), ICERR_ERROR);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
    EXPECT_EQ(Send(ICM_GETINFO, 0, 0), 568);

    for (LPARAM size : {568, 4096}) {
        SCOPED_TRACE(size);
        info = before;
        ASSERT_EQ(Send(ICM_GETINFO, P(&info), size), 568);
        EXPECT_EQ(info.dwSize, 568u);
        EXPECT_EQ(info.fccType, kFourCC_vidc);
        EXPECT_EQ(info.fccHandler, kTRVR);
        EXPECT_EQ(info.dwFlags, 0u);
        EXPECT_EQ(info.dwVersion, 0x10101000u);
        EXPECT_EQ(info.dwVersionICM, 0x104u);
        for (size_t i = 0; i < std::size(info.szName); ++i)
            EXPECT_EQ(info.szName[i], i < std::size(kName) ? kName[i] : kUnwritten) << i;
        for (size_t i = 0; i < std::size(info.szDescription); ++i)
            EXPECT_EQ(info.szDescription[i],
                      i < std::size(kDescription) ? kDescription[i] : kUnwritten)
                << i;
        for (char16_t c : info.szDriver)
            ASSERT_EQ(c, kUnwritten);
    }
}

TEST_F(Driver, CompressProposalReservesTheLargestFrame)
{
    OpenDriver();
    struct Case {
        BITMAPINFOHEADER in;
        LRESULT size;
    };
    BITMAPINFOHEADER noSize = RGBHeader(640, 480);
    noSize.biSizeImage = 0; // allowed for uncompressed frames
    const Case cases[] = {
        {RGBHeader(320, 200), 1170436},
        {RGBHeader(321, 200, 24, kFourCC_DIB), 1180036},
        {RGBHeader(5, 2), 786532},
        {noSize, 2629636},
        {RGBHeader(16, 0), kLargestTable},
        // The tallest frame of this width whose largest payload stays within 2^31-1.
        {RGBHeader(16384, 21837), 2147450884},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.in.biWidth << "x" << c.in.biHeight);
        BITMAPINFOHEADER in = c.in, out = Filled(0xCD), want = c.in;
        want.biCompression = kTRVR;
        want.biSizeImage = static_cast<DWORD>(c.size);
        ASSERT_EQ(Send(ICM_COMPRESS_GET_FORMAT, P(&in), P(&out)), ICERR_OK);
        EXPECT_EQ(out, want);
        EXPECT_EQ(Send(ICM_COMPRESS_GET_SIZE, P(&in)), c.size);
    }
}

TEST_F(Driver, RefusedFormatAndSizeRepliesWriteNothing)
{
    OpenDriver();
    struct Case {
        UINT message;
        BITMAPINFOHEADER in;
        LRESULT reply;
    };
    BITMAPINFOHEADER trvy = TRVRHeader(16, 8);
    trvy.biCompression = kTRVY;
    const Case cases[] = {
        {ICM_COMPRESS_GET_FORMAT, RGBHeader(16, 8, 32), ICERR_BADFORMAT},
        {ICM_COMPRESS_GET_FORMAT, RGBHeader(16, 8, 16), ICERR_BADFORMAT},
        {ICM_COMPRESS_GET_FORMAT, RGBHeader(16, -8), ICERR_BADFORMAT},
        {ICM_COMPRESS_GET_FORMAT, RGBHeader(-16, 8), ICERR_BADFORMAT},
        {ICM_COMPRESS_GET_FORMAT, RGBHeader(40000, 40000), ICERR_BADFORMAT},
        {ICM_COMPRESS_GET_FORMAT, TRVRHeader(16, 8), ICERR_BADFORMAT},
        {ICM_DECOMPRESS_GET_FORMAT, trvy, ICERR_BADFORMAT},
        {ICM_DECOMPRESS_GET_FORMAT, RGBHeader(16, 8), ICERR_BADFORMAT},
        {ICM_DECOMPRESS_GET_FORMAT, TRVRHeader(-16, 8), ICERR_BADFORMAT},
        {ICM_DECOMPRESS_GET_FORMAT, TRVRHeader(16, -8), ICERR_BADFORMAT},
        {ICM_DECOMPRESS_GET_FORMAT, TRVRHeader(40000, 40000), ICERR_BADFORMAT},
        {ICM_COMPRESS_GET_SIZE, RGBHeader(16384, 21838), ICERR_BADFORMAT},
        {ICM_COMPRESS_GET_SIZE, RGBHeader(1 << 30, 1), ICERR_BADFORMAT},
        {ICM_COMPRESS_GET_SIZE, RGBHeader(16, -8), ICERR_BADFORMAT},
        {ICM_COMPRESS_GET_SIZE, RGBHeader(-16, 8), ICERR_BADFORMAT},
        {ICM_COMPRESS_GET_SIZE, RGBHeader(16, 8, 32), ICERR_BADFORMAT},
    };
    const BITMAPINFOHEADER pattern = Filled(0xCD);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << c.message << std::dec << " " << testing::PrintToString(c.in));
        BITMAPINFOHEADER in = c.in, out = pattern;
        EXPECT_EQ(Send(c.message, P(&in), P(&out)), c.reply);
        EXPECT_EQ(out, pattern);
        // Asked for the size of the record they fill, the format replies answer
        // without judging the input.
        EXPECT_EQ(Send(c.message, P(&in), 0), c.message == ICM_COMPRESS_GET_SIZE ? c.reply : 40);
    }
    for (UINT message :
         {ICM_COMPRESS_GET_FORMAT, ICM_DECOMPRESS_GET_FORMAT, ICM_COMPRESS_GET_SIZE}) {
        BITMAPINFOHEADER out = pattern;
        EXPECT_EQ(Send(message, 0, P(&out)), ICERR_ERROR);
        EXPECT_EQ(out, pattern);
        EXPECT_EQ(Send(message, 0, 0), message == ICM_COMPRESS_GET_SIZE ? ICERR_ERROR : 40);
    }
}

TEST_F(Driver, DecompressProposalIs24BitRGBWhateverTheRecordHeld)
{
    OpenDriver();
    struct Case {
        LONG width, height;
        WORD bits; // of the compressed header
        DWORD size;
    };
    const Case cases[] = {
        {320, 200, 24, 192000}, {321, 200, 24, 192800}, {321, 200, 32, 192800},
        {320, 200, 16, 192000}, {5, 2, 0, 32},
    };
    BITMAPINFOHEADER yuy2 = RGBHeader(8, 8, 16, MakeFourCC('Y', 'U', 'Y', '2'));
    for (const Case& c : cases)
        for (const BITMAPINFOHEADER& held : {BITMAPINFOHEADER{}, yuy2}) {
            SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << c.bits
                                            << " bits, record " << testing::PrintToString(held));
            BITMAPINFOHEADER in = TRVRHeader(c.width, c.height, c.bits), out = held, want = in;
            want.biCompression = BI_RGB;
            want.biBitCount = 24;
            want.biSizeImage = c.size;
            ASSERT_EQ(Send(ICM_DECOMPRESS_GET_FORMAT, P(&in), P(&out)), ICERR_OK);
            EXPECT_EQ(out, want);
            // The decoder takes its own proposal.
            EXPECT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&in), P(&out)), ICERR_OK);
        }
}

TEST_F(Driver, ProposalsFromLongerHeadersAre40Bytes)
{
    OpenDriver();
    struct LongHeader {
        BITMAPINFOHEADER h;
        uint8_t extra[24];
    };
    for (UINT message : {ICM_COMPRESS_GET_FORMAT, ICM_DECOMPRESS_GET_FORMAT}) {
        SCOPED_TRACE(message);
        LongHeader in, out;
        std::memset(&in, 0x11, sizeof in);
        std::memset(&out, 0xCD, sizeof out);
        in.h = message == ICM_COMPRESS_GET_FORMAT ? RGBHeader(16, 8) : TRVRHeader(16, 8);
        in.h.biSize = sizeof(LongHeader);
        ASSERT_EQ(Send(message, P(&in), P(&out)), ICERR_OK);
        EXPECT_EQ(out.h.biSize, 40u);
        EXPECT_EQ(out.h.biWidth, 16);
        for (uint8_t b : out.extra)
            ASSERT_EQ(b, 0xCD);
    }
}

// Hosts may begin a stream without querying it, so a begin configures the
// object just as a query does, and answers as it would.
class DriverConfigure : public Driver, public testing::WithParamInterface<std::pair<UINT, UINT>> {};

TEST_P(DriverConfigure, AcceptedFormatsConfigureAndRefusalsKeepTheConfiguration)
{
    const auto [compressMessage, decompressMessage] = GetParam();
    const LRESULT noInput = compressMessage == ICM_COMPRESS_QUERY ? ICERR_ERROR : ICERR_OK;
    OpenDriver();
    BITMAPINFOHEADER raw = RGBHeader(16, 8), trvrOut = TRVRHeader(16, 8), trvyOut = trvrOut,
                     big = RGBHeader(32, 8), big32 = RGBHeader(32, 8, 32), tall = RGBHeader(32, -8);
    trvyOut.biCompression = kTRVY;
    const Bytes pixels = Frame(16, 8, true);
    EXPECT_EQ(Compress(raw, pixels, MaxCompressed(16, 8)), ICERR_BADFORMAT); // not configured yet
    ASSERT_EQ(Send(compressMessage, P(&raw), P(&trvrOut)), ICERR_OK);
    Encoded frame;
    ASSERT_EQ(Compress(raw, pixels, MaxCompressed(16, 8), &frame), ICERR_OK);

    EXPECT_EQ(Send(compressMessage, P(&big32)), ICERR_BADFORMAT);
    EXPECT_EQ(Send(compressMessage, P(&big), P(&trvyOut)), ICERR_BADFORMAT);
    EXPECT_EQ(Send(compressMessage, P(&tall)), ICERR_BADFORMAT);
    EXPECT_EQ(Send(compressMessage, 0), noInput);
    EXPECT_EQ(Compress(raw, pixels, MaxCompressed(16, 8)), ICERR_OK);
    EXPECT_EQ(Compress(big, Frame(32, 8, true), MaxCompressed(32, 8)), ICERR_BADFORMAT);

    BITMAPINFOHEADER trvr = frame.header, trvy = TRVRHeader(32, 8), trvrBig = TRVRHeader(32, 8),
                     trvrNeg = TRVRHeader(32, -8), out = RGBHeader(16, 8);
    trvy.biCompression = kTRVY;
    ASSERT_EQ(Send(decompressMessage, P(&trvr), P(&out)), ICERR_OK);
    EXPECT_EQ(Send(decompressMessage, P(&trvy)), ICERR_BADFORMAT);
    EXPECT_EQ(Send(decompressMessage, P(&trvrBig), P(&big32)), ICERR_BADFORMAT);
    EXPECT_EQ(Send(decompressMessage, P(&trvrNeg)), ICERR_BADFORMAT);
    EXPECT_EQ(Send(decompressMessage, 0), noInput);
    Bytes decoded(out.biSizeImage);
    EXPECT_EQ(Decompress(frame, out, decoded), ICERR_OK);
    EXPECT_TRUE(decoded == pixels);
}

INSTANTIATE_TEST_SUITE_P(Query, DriverConfigure,
                         testing::Values(std::pair{ICM_COMPRESS_QUERY, ICM_DECOMPRESS_QUERY}));
INSTANTIATE_TEST_SUITE_P(Begin, DriverConfigure,
                         testing::Values(std::pair{ICM_COMPRESS_BEGIN, ICM_DECOMPRESS_BEGIN}));

class DriverStream : public Driver, public testing::WithParamInterface<bool> {};

// Frames that do not compress must fit the buffer the host sized from the
// proposal; hosts that skip the query rely on the begin messages to configure.
TEST_P(DriverStream, FramesRoundTripInBuffersOfTheProposedSize)
{
    const bool query = GetParam();
    OpenDriver();
    struct Size {
        LONG width, height;
    };
    for (const Size s : {Size{1, 1}, Size{5, 2}, Size{33, 17}, Size{320, 200}}) {
        SCOPED_TRACE(testing::Message() << s.width << "x" << s.height);
        BITMAPINFOHEADER in = RGBHeader(s.width, s.height), proposal{};
        const Bytes frames[] = {Frame(s.width, s.height, true, 7), Frame(s.width, s.height, false)};
        if (query) {
            ASSERT_EQ(Send(ICM_COMPRESS_QUERY, P(&in)), ICERR_OK);
        }
        ASSERT_EQ(Send(ICM_COMPRESS_GET_FORMAT, P(&in), P(&proposal)), ICERR_OK);
        ASSERT_EQ(Send(ICM_COMPRESS_BEGIN, P(&in), P(&proposal)), ICERR_OK);
        Encoded encoded[2];
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(Compress(in, frames[i], proposal.biSizeImage, &encoded[i]), ICERR_OK);
            BITMAPINFOHEADER want = in;
            want.biCompression = kTRVR;
            want.biSizeImage = static_cast<DWORD>(encoded[i].payload.size());
            EXPECT_EQ(encoded[i].header, want);
        }
        EXPECT_GT(encoded[0].payload.size(), in.biSizeImage); // noise grows
        EXPECT_EQ(Send(ICM_COMPRESS_END), ICERR_OK);

        BITMAPINFOHEADER compressed = encoded[0].header, out{};
        if (query) {
            ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&compressed)), ICERR_OK);
        }
        ASSERT_EQ(Send(ICM_DECOMPRESS_GET_FORMAT, P(&compressed), P(&out)), ICERR_OK);
        ASSERT_EQ(Send(ICM_DECOMPRESS_BEGIN, P(&compressed), P(&out)), ICERR_OK);
        for (int i = 0; i < 2; ++i) {
            Bytes pixels(out.biSizeImage);
            ASSERT_EQ(Decompress(encoded[i], out, pixels), ICERR_OK);
            EXPECT_TRUE(pixels == frames[i]) << "frame " << i;
        }
        EXPECT_EQ(Send(ICM_DECOMPRESS_END), ICERR_OK);
    }
}

INSTANTIATE_TEST_SUITE_P(QueryFirst, DriverStream, testing::Values(true));
INSTANTIATE_TEST_SUITE_P(BeginOnly, DriverStream, testing::Values(false));

TEST_F(Driver, CompressEndReleasesTheEncoderUntilTheNextConfiguration)
{
    OpenDriver();
    BITMAPINFOHEADER in = RGBHeader(16, 8);
    const Bytes pixels = Frame(16, 8, true);
    const LRESULT capacity = MaxCompressed(16, 8);
    ASSERT_EQ(Send(ICM_COMPRESS_QUERY, P(&in)), ICERR_OK);
    ASSERT_EQ(Compress(in, pixels, capacity), ICERR_OK);
    EXPECT_EQ(Send(ICM_COMPRESS_END), ICERR_OK);
    EXPECT_EQ(Compress(in, pixels, capacity), ICERR_BADFORMAT);
    EXPECT_EQ(Send(ICM_COMPRESS_END), ICERR_OK);
    // Begins without a format, or without an instance, have nothing to configure.
    EXPECT_EQ(Send(ICM_COMPRESS_BEGIN), ICERR_OK);
    EXPECT_EQ(lib.Send(0, ICM_COMPRESS_BEGIN, P(&in)), ICERR_OK);
    EXPECT_EQ(Compress(in, pixels, capacity), ICERR_BADFORMAT);
    ASSERT_EQ(Send(ICM_COMPRESS_BEGIN, P(&in)), ICERR_OK);
    EXPECT_EQ(Compress(in, pixels, capacity), ICERR_OK);
}

TEST_F(Driver, PayloadShorterThanTheConfiguredFrameIsAnError)
{
    OpenDriver();
    BITMAPINFOHEADER small = RGBHeader(8, 4), trvrBig = TRVRHeader(16, 8), out = RGBHeader(16, 8);
    ASSERT_EQ(Send(ICM_COMPRESS_QUERY, P(&small)), ICERR_OK);
    Encoded frame;
    ASSERT_EQ(Compress(small, Frame(8, 4, true), MaxCompressed(8, 4), &frame), ICERR_OK);
    // The decoder is set up for 16 x 8; only the output size is matched against it.
    ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&trvrBig), P(&out)), ICERR_OK);
    Bytes pixels(out.biSizeImage, 0x77);
    EXPECT_EQ(Decompress(frame, out, pixels), ICERR_ERROR);
    EXPECT_TRUE(pixels == Bytes(out.biSizeImage, 0x77));
}

// What an instance holds is given back when it closes, and what a host left
// open is given back when the library unloads. The first cycle lets the loader
// and the allocator settle. valgrind brings its own allocator, so these are
// left out of its runs.
const BITMAPINFOHEADER kFullHD = RGBHeader(1920, 1080), kFullHDTRVR = TRVRHeader(1920, 1080);
// One sample buffer: three 1920 x 1080 planes of 16-bit samples. A configured
// encoder and decoder hold four.
constexpr size_t kFullHDBuffer = 3 * size_t{1920} * 1080 * 2;

void QueryFullHD(const Library& lib, DWORD_PTR id)
{
    BITMAPINFOHEADER raw = kFullHD, trvr = kFullHDTRVR;
    ASSERT_EQ(lib.Send(id, ICM_COMPRESS_QUERY, P(&raw)), ICERR_OK);
    ASSERT_EQ(lib.Send(id, ICM_DECOMPRESS_QUERY, P(&trvr)), ICERR_OK);
}

TEST(DriverHeap, OpenQueryCloseCyclesGiveEverythingBack)
{
    Library lib;
    ASSERT_TRUE(lib.Loaded()) << dlerror();
    size_t before = 0;
    for (int i = 0; i <= 40; ++i) {
        const DWORD_PTR id = lib.Open();
        ASSERT_NE(id, 0u);
        ASSERT_NO_FATAL_FAILURE(QueryFullHD(lib, id));
        ASSERT_EQ(lib.Send(id, DRV_CLOSE), 1);
        if (i == 0)
            before = HeapInUse();
        // Stop early rather than pile up a leak of four buffers a cycle.
        ASSERT_LT(HeapInUse(), before + 8 * kFullHDBuffer) << "after " << i << " cycles";
    }
    // A leak of even the frequency tables alone would exceed this after 40 cycles.
    EXPECT_LT(HeapInUse(), before + kFullHDBuffer);
}

TEST(DriverHeap, UnloadingFreesTheInstancesLeftOpen)
{
    const auto cycle = [&] {
        Library lib;
        ASSERT_TRUE(lib.Loaded()) << dlerror();
        for (int open = 0; open < 2; ++open) {
            const DWORD_PTR id = lib.Open();
            ASSERT_NE(id, 0u);
            ASSERT_NO_FATAL_FAILURE(QueryFullHD(lib, id));
        }
    };
    cycle();
    ASSERT_FALSE(Resident()) << "dlclose left the library mapped";
    const size_t before = HeapInUse();
    for (int i = 0; i < 30; ++i) {
        cycle();
        ASSERT_FALSE(Resident());
        ASSERT_LT(HeapInUse(), before + 16 * kFullHDBuffer) << "after " << i + 1 << " cycles";
    }
    EXPECT_LT(HeapInUse(), before + kFullHDBuffer);
}

} // namespace
