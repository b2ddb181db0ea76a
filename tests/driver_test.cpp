// The codec libraries driven the way a host drives them: each shared library is
// loaded at run time and spoken to through its one export, DriverProc, with the
// platform's messages and records. One suite runs over the variant table, which
// says what differs between the libraries; the few cases that belong to one
// variant alone run for that variant.
#include "codec/codec.h" // RowBytes only
#include "tests/support/driver_host.h"
#include "tests/support/expect.h"
#include "tests/support/frames.h"
#include "tests/support/headers.h"
#include "variants/frame_coder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace tarv_test;
using tarv::Variant;

constexpr LRESULT kLargestTable = 786436;

// Bytes of the largest compressed frame: the 16-bit rows of every plane (three
// full ones for RGB; the luma and two half-width chroma planes for YUY2), plus
// the largest table.
LRESULT MaxCompressed(Variant v, int64_t width, int64_t height)
{
    const int64_t row = v == Variant::Rgb24
                            ? 3 * tarv::PlaneRowBytes(width)
                            : tarv::PlaneRowBytes(width) + 2 * tarv::PlaneRowBytes((width + 1) / 2);
    return static_cast<LRESULT>(row * height + kLargestTable);
}

// The tallest frame 16384 pixels wide whose largest payload stays within 2^31-1.
LONG Tallest16384(Variant v)
{
    return v == Variant::Rgb24 ? 21837 : 32755;
}

// Another variant of the table: its formats are no concern of this library's.
Variant Other(Variant v)
{
    for (const Variant other : tarv::AllVariants())
        if (other != v)
            return other;
    return v;
}

// A format code with its letters in lower case: no longer the same format.
DWORD Lower(DWORD fourcc)
{
    DWORD lower = fourcc;
    for (int shift = 0; shift < 32; shift += 8)
        if (const DWORD c = (fourcc >> shift) & 0xFF; c >= 'A' && c <= 'Z')
            lower += DWORD{0x20} << shift;
    return lower;
}

// Distinct values show where each proposed field came from.
BITMAPINFOHEADER Marked(BITMAPINFOHEADER h)
{
    h.biXPelsPerMeter = 2835;
    h.biYPelsPerMeter = 2834;
    h.biClrImportant = 7;
    return h;
}

// A library through DriverProc, with the variant's headers and host streams.
class DriverSuite : public DriverHost {
protected:
    explicit DriverSuite(Variant v) : DriverHost(v) {}

    // A packed frame in the variant's proposed format, or in another.
    BITMAPINFOHEADER Raw(LONG width, LONG height) const
    {
        return Marked(RawHeader(variant, width, height));
    }
    static BITMAPINFOHEADER Raw(LONG width, LONG height, DWORD compression, WORD bits)
    {
        return Marked(Header(tarv::PackedFrameFormat(width, height, compression, bits)));
    }
    // A compressed header as a compressed frame carries it.
    BITMAPINFOHEADER Packed(LONG width, LONG height, std::optional<WORD> bits = {},
                            std::optional<DWORD> compression = {}) const
    {
        BITMAPINFOHEADER h =
            Raw(width, height, compression.value_or(fourcc), bits.value_or(info.bitCount));
        h.biSizeImage = 4321;
        return h;
    }
    static Bytes FrameOf(const BITMAPINFOHEADER& h, Content content, uint32_t seed = 1)
    {
        return Frame(FormatOf(h), content, seed);
    }

    // A compression stream as a host runs it, into buffers of the proposed
    // size; a host that skips the query relies on the begin to configure.
    void CompressStream(const BITMAPINFOHEADER& in, const std::vector<Bytes>& frames,
                        std::vector<Encoded>& encoded, bool query = true)
    {
        BITMAPINFOHEADER input = in, proposal = Filled(0xCD), want = in;
        if (query) {
            ASSERT_EQ(Send(ICM_COMPRESS_QUERY, P(&input)), ICERR_OK);
        }
        ASSERT_EQ(Send(ICM_COMPRESS_GET_FORMAT, P(&input), P(&proposal)), ICERR_OK);
        want.biCompression = fourcc;
        want.biSizeImage = static_cast<DWORD>(MaxCompressed(variant, in.biWidth, in.biHeight));
        EXPECT_EQ(proposal, want);
        const LRESULT size = Send(ICM_COMPRESS_GET_SIZE, P(&input), P(&proposal));
        ASSERT_EQ(size, MaxCompressed(variant, in.biWidth, in.biHeight));
        ASSERT_EQ(Send(ICM_COMPRESS_BEGIN, P(&input), P(&proposal)), ICERR_OK);
        encoded.assign(frames.size(), Encoded{});
        for (size_t i = 0; i < frames.size(); ++i) {
            ASSERT_EQ(Compress(in, frames[i], size, &encoded[i]), ICERR_OK) << "frame " << i;
            want.biSizeImage = static_cast<DWORD>(encoded[i].payload.size());
            EXPECT_EQ(encoded[i].header, want);
        }
        EXPECT_EQ(Send(ICM_COMPRESS_END), ICERR_OK);
    }

    // A decompression stream into the format the library proposes, for
    // bottom-up and top-down outputs alike; row padding is never written.
    void DecompressStream(const BITMAPINFOHEADER& in, const std::vector<Bytes>& frames,
                          const std::vector<Encoded>& encoded, bool query = true)
    {
        BITMAPINFOHEADER compressed = encoded.at(0).header, out{};
        if (query) {
            ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&compressed)), ICERR_OK);
        }
        ASSERT_EQ(Send(ICM_DECOMPRESS_GET_FORMAT, P(&compressed), P(&out)), ICERR_OK);
        ASSERT_EQ(out.biSizeImage, RawFormat(variant, in.biWidth, in.biHeight).sizeImage);
        if (query) {
            ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&compressed), P(&out)), ICERR_OK);
        }
        ASSERT_EQ(Send(ICM_DECOMPRESS_BEGIN, P(&compressed), P(&out)), ICERR_OK);
        for (size_t i = 0; i < frames.size(); ++i)
            for (LONG sign : {1, -1}) {
                SCOPED_TRACE(testing::Message() << "frame " << i << ", height sign " << sign);
                BITMAPINFOHEADER target = out;
                target.biHeight *= sign;
                Bytes pixels(out.biSizeImage, kFill);
                ASSERT_EQ(Decompress(encoded[i], target, pixels), ICERR_OK);
                EXPECT_EQ(PictureDifference(variant, pixels.data(), FormatOf(target),
                                            frames[i].data(), FormatOf(in), kFill),
                          "");
            }
        EXPECT_EQ(Send(ICM_DECOMPRESS_END), ICERR_OK);
    }

    // One frame of noise compressed on the open instance, and the instance
    // configured to decompress it into the input's format.
    void OneFrame(const BITMAPINFOHEADER& in, Encoded& encoded)
    {
        std::vector<Encoded> stream;
        ASSERT_NO_FATAL_FAILURE(CompressStream(in, {FrameOf(in, Content::Noise)}, stream));
        encoded = stream[0];
        BITMAPINFOHEADER compressed = encoded.header, out = in;
        ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&compressed), P(&out)), ICERR_OK);
    }
};

class Driver : public DriverSuite, public testing::WithParamInterface<Variant> {
protected:
    Driver() : DriverSuite(GetParam()) {}
};

INSTANTIATE_TEST_SUITE_P(Variants, Driver, testing::ValuesIn(tarv::AllVariants()), VariantName);

// Identifiers that name no instance of the library (none at all, garbage, a
// closed instance's) are answered alike, and nothing is read through them: the
// sanitizers see a read of the freed instance, and a wild pointer crashes.
TEST_P(Driver, MessageTableWithoutAndWithAnInstance)
{
    struct Row {
        UINT message;
        LPARAM p1, p2;
        LRESULT none, instance;
    };
    BITMAPINFOHEADER raw = Raw(16, 8), packed = Packed(16, 8);
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
        {ICM_COMPRESS_GET_SIZE, P(&raw), u, ICERR_ERROR, MaxCompressed(variant, 16, 8)},
        {ICM_COMPRESS_QUERY, P(&raw), 0, ICERR_ERROR, ICERR_OK},
        {ICM_COMPRESS_BEGIN, 0, 0, ICERR_OK, ICERR_OK},
        {ICM_COMPRESS_BEGIN, P(&raw), 0, ICERR_OK, ICERR_OK},
        {ICM_COMPRESS, 0, u, ICERR_ERROR, ICERR_BADFORMAT},
        {ICM_COMPRESS_END, 0, 0, ICERR_ERROR, ICERR_OK},
        {ICM_DECOMPRESS_GET_FORMAT, P(&packed), 0, ICERR_ERROR, 40},
        {ICM_DECOMPRESS_QUERY, P(&packed), 0, ICERR_ERROR, ICERR_OK},
        {ICM_DECOMPRESS_BEGIN, P(&packed), 0, ICERR_OK, ICERR_OK},
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
TEST_P(Driver, EveryOpenIsAnInstanceOfItsOwn)
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
    const BITMAPINFOHEADER in = Raw(16, 8);
    const Bytes frame = FrameOf(in, Content::Photo);
    const LRESULT capacity = MaxCompressed(variant, 16, 8);
    id = first;
    ASSERT_EQ(Send(ICM_COMPRESS_QUERY, P(&in)), ICERR_OK);
    id = second;
    EXPECT_EQ(Compress(in, frame, capacity), ICERR_BADFORMAT);
    EXPECT_EQ(Send(DRV_CLOSE), 1);
    id = first;
    EXPECT_EQ(Compress(in, frame, capacity), ICERR_OK);
    OpenDriver();
    EXPECT_EQ(Compress(in, frame, capacity), ICERR_BADFORMAT);
}

// A closed identifier stays a stranger for good: a host's second close, or a
// message through a closed HIC, never reaches an instance opened after it,
// however the allocator reuses the closed instance's memory.
TEST_P(Driver, ClosedIdentifiersNeverNameALaterInstance)
{
    const BITMAPINFOHEADER in = Raw(16, 8);
    std::vector<DWORD_PTR> handedOut;
    for (int i = 0; i < 50; ++i) {
        const DWORD_PTR closed = lib.Open();
        ASSERT_NE(closed, 0u);
        ASSERT_EQ(lib.Send(closed, DRV_CLOSE), 1);
        const DWORD_PTR next = lib.Open();
        ASSERT_NE(next, 0u);
        ASSERT_EQ(lib.Send(next, ICM_COMPRESS_QUERY, P(&in)), ICERR_OK);
        EXPECT_EQ(lib.Send(closed, DRV_CLOSE), 1);
        EXPECT_EQ(lib.Send(closed, ICM_COMPRESS_QUERY, P(&in)), ICERR_ERROR);
        EXPECT_EQ(lib.Send(next, ICM_COMPRESS_QUERY, P(&in)), ICERR_OK) << "open " << i;
        ASSERT_EQ(lib.Send(next, DRV_CLOSE), 1);
        handedOut.insert(handedOut.end(), {closed, next});
    }
    std::sort(handedOut.begin(), handedOut.end());
    EXPECT_EQ(std::adjacent_find(handedOut.begin(), handedOut.end()), handedOut.end());
}

TEST_P(Driver, InfoRecord)
{
    OpenDriver();
    std::u16string name;
    for (const char* c = info.fourcc; *c != 0; ++c)
        name += static_cast<char16_t>(*c);
    const std::u16string description = info.description;
    constexpr char16_t kUnwritten = 0xEEEE;
    // Each text with its terminator, then nothing.
    const auto expectText = [&](const WCHAR* field, size_t size, const std::u16string& text) {
        for (size_t i = 0; i < size; ++i)
            EXPECT_EQ(field[i], i <= text.size() ? text.c_str()[i] : kUnwritten) << i;
    };

    ICINFO record, before;
    std::memset(&before, 0xEE, sizeof before);
    record = before;
    EXPECT_EQ(Send(ICM_GETINFO, P(&record), 567), ICERR_ERROR);
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
    EXPECT_EQ(Send(ICM_GETINFO, 0, 0), 568);

    for (LPARAM size : {568, 4096}) {
        SCOPED_TRACE(size);
        record = before;
        ASSERT_EQ(Send(ICM_GETINFO, P(&record), size), 568);
        EXPECT_EQ(record.dwSize, 568u);
        EXPECT_EQ(record.fccType, kFourCC_vidc);
        EXPECT_EQ(record.fccHandler, fourcc);
        EXPECT_EQ(record.dwFlags, 0u);
        EXPECT_EQ(record.dwVersion, 0x10101000u);
        EXPECT_EQ(record.dwVersionICM, 0x104u);
        expectText(record.szName, std::size(record.szName), name);
        expectText(record.szDescription, std::size(record.szDescription), description);
        for (char16_t c : record.szDriver)
            ASSERT_EQ(c, kUnwritten);
    }
}

TEST_P(Driver, CompressProposalReservesTheLargestFrame)
{
    OpenDriver();
    struct Case {
        Variant v;
        LONG width, height;
        size_t format; // of the raw formats
        bool sized;    // biSizeImage 0 is allowed for uncompressed frames
        LRESULT size;
    };
    constexpr Variant Y = Variant::Yuy2, R = Variant::Rgb24;
    const Case cases[] = {
        {R, 320, 200, 0, true, 1170436},    {R, 321, 200, 1, true, 1180036},
        {R, 5, 2, 0, true, 786532},         {R, 640, 480, 0, false, 2629636},
        {R, 16, 0, 0, true, kLargestTable}, {R, 16384, Tallest16384(R), 0, true, 2147450884},
        {Y, 320, 200, 0, true, 1042436},    {Y, 321, 200, 1, true, 1052036},
        {Y, 5, 2, 0, true, 786532},         {Y, 640, 480, 0, false, 2015236},
        {Y, 16, 0, 0, true, kLargestTable}, {Y, 16384, Tallest16384(Y), 0, true, 2147418116},
    };
    for (const Case& c : cases) {
        if (c.v != variant)
            continue;
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        BITMAPINFOHEADER in = Raw(c.width, c.height, info.rawFormats[c.format], info.bitCount),
                         out = Filled(0xCD);
        in.biSizeImage = c.sized ? in.biSizeImage : 0;
        BITMAPINFOHEADER want = in;
        want.biCompression = fourcc;
        want.biSizeImage = static_cast<DWORD>(c.size);
        ASSERT_EQ(Send(ICM_COMPRESS_GET_FORMAT, P(&in), P(&out)), ICERR_OK);
        EXPECT_EQ(out, want);
        EXPECT_EQ(Send(ICM_COMPRESS_GET_SIZE, P(&in)), c.size);
    }
}

TEST_P(Driver, RefusedFormatAndSizeRepliesWriteNothing)
{
    OpenDriver();
    struct Case {
        std::string name;
        UINT message;
        BITMAPINFOHEADER in;
        std::optional<BITMAPINFOHEADER> out;
    };
    const DWORD raw = info.rawFormats[0];
    const BITMAPINFOHEADER packed = Packed(8, 2), blank = Filled(0xCD);
    const BITMAPINFOHEADER otherRaw = RawHeader(Other(variant), 8, 2);
    std::vector<Case> cases = {
        {"top-down input", ICM_COMPRESS_GET_FORMAT, Raw(16, -8), blank},
        {"negative width", ICM_COMPRESS_GET_FORMAT, Raw(-16, 8), blank},
        {"too large", ICM_COMPRESS_GET_FORMAT, Raw(40000, 40000), blank},
        {"compressed input", ICM_COMPRESS_GET_FORMAT, Packed(16, 8), blank},
        {"another variant's", ICM_DECOMPRESS_GET_FORMAT,
         Packed(16, 8, {}, tarv::Info(Other(variant)).fourccValue), blank},
        {"raw input", ICM_DECOMPRESS_GET_FORMAT, Raw(16, 8), blank},
        {"negative width", ICM_DECOMPRESS_GET_FORMAT, Packed(-16, 8), blank},
        {"negative height", ICM_DECOMPRESS_GET_FORMAT, Packed(16, -8), blank},
        {"too large", ICM_DECOMPRESS_GET_FORMAT, Packed(40000, 40000), blank},
        {"one row too tall", ICM_COMPRESS_GET_SIZE, Raw(16384, Tallest16384(variant) + 1), blank},
        {"2^30 wide", ICM_COMPRESS_GET_SIZE, Raw(1 << 30, 1), blank},
        {"top-down input", ICM_COMPRESS_GET_SIZE, Raw(16, -8), blank},
        {"negative width", ICM_COMPRESS_GET_SIZE, Raw(-16, 8), blank},
        {"compressed in lower case", ICM_DECOMPRESS_QUERY, Packed(8, 2, {}, Lower(fourcc)), {}},
        {"to another variant's", ICM_DECOMPRESS_QUERY, packed, otherRaw},
    };
    // Depths that hold no pixel of the variant.
    for (const WORD bits :
         variant == Variant::Rgb24 ? std::vector<WORD>{16, 32} : std::vector<WORD>{8, 12})
        for (const UINT message : {ICM_COMPRESS_GET_FORMAT, ICM_COMPRESS_GET_SIZE})
            cases.push_back(
                {std::to_string(bits) + " bits", message, Raw(16, 8, raw, bits), blank});
    for (const DWORD format : info.rawFormats)
        if (Lower(format) != format) {
            const BITMAPINFOHEADER lower = Raw(8, 2, Lower(format), info.bitCount);
            cases.push_back({"raw in lower case", ICM_COMPRESS_QUERY, lower, {}});
            cases.push_back({"raw in lower case", ICM_COMPRESS_GET_FORMAT, lower, blank});
            cases.push_back({"to raw in lower case", ICM_DECOMPRESS_QUERY, packed, lower});
        }
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << ", message 0x" << std::hex << c.message
                                        << std::dec << " " << testing::PrintToString(c.in));
        BITMAPINFOHEADER in = c.in, out = c.out.value_or(blank);
        EXPECT_EQ(Send(c.message, P(&in), c.out ? P(&out) : 0), ICERR_BADFORMAT);
        EXPECT_EQ(out, c.out.value_or(blank));
        // Asked for the size of the record they fill, the format replies answer
        // without judging the input.
        if (c.message == ICM_COMPRESS_GET_FORMAT || c.message == ICM_DECOMPRESS_GET_FORMAT) {
            EXPECT_EQ(Send(c.message, P(&in), 0), 40);
        } else if (c.message == ICM_COMPRESS_GET_SIZE) {
            EXPECT_EQ(Send(c.message, P(&in), 0), ICERR_BADFORMAT);
        }
    }
    for (UINT message :
         {ICM_COMPRESS_GET_FORMAT, ICM_DECOMPRESS_GET_FORMAT, ICM_COMPRESS_GET_SIZE}) {
        BITMAPINFOHEADER out = blank;
        EXPECT_EQ(Send(message, 0, P(&out)), ICERR_ERROR);
        EXPECT_EQ(out, blank);
        EXPECT_EQ(Send(message, 0, 0), message == ICM_COMPRESS_GET_SIZE ? ICERR_ERROR : 40);
    }

    // A frame for another variant's output is refused before any pixel is written.
    const BITMAPINFOHEADER in = Raw(8, 2);
    Encoded frame;
    ASSERT_NO_FATAL_FAILURE(OneFrame(in, frame));
    Bytes pixels(otherRaw.biSizeImage, kFill);
    EXPECT_EQ(Decompress(frame, otherRaw, pixels), ICERR_BADFORMAT);
    EXPECT_EQ(pixels, Bytes(pixels.size(), kFill));
}

// The proposal is the library's own raw format and depth, so the decoder takes
// it, whatever the record held and whatever bit count the compressed header carries.
TEST_P(Driver, DecompressProposalIsTheOwnRawFormatWhateverTheRecordHeld)
{
    OpenDriver();
    struct Case {
        LONG width, height;
        WORD bits; // of the compressed header
        DWORD yuy2, rgb24;
    };
    const Case cases[] = {
        {320, 200, 24, 128000, 192000},
        {321, 200, 24, 128800, 192800},
        {321, 200, 32, 128800, 192800},
        {320, 200, 16, 128000, 192000},
        {320, 240, 16, 153600, 230400},
        {320, 240, 32, 153600, 230400},
        {5, 2, 0, 24, 32},
    };
    const BITMAPINFOHEADER records[] = {BITMAPINFOHEADER{}, Filled(0xCD),
                                        RawHeader(Other(variant), 8, 8)};
    for (const Case& c : cases)
        for (const BITMAPINFOHEADER& held : records) {
            SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << c.bits
                                            << " bits, record " << testing::PrintToString(held));
            BITMAPINFOHEADER in = Packed(c.width, c.height, c.bits), out = held, want = in;
            want.biCompression = info.rawFormats[0];
            want.biBitCount = info.bitCount;
            want.biSizeImage = variant == Variant::Yuy2 ? c.yuy2 : c.rgb24;
            ASSERT_EQ(Send(ICM_DECOMPRESS_GET_FORMAT, P(&in), P(&out)), ICERR_OK);
            EXPECT_EQ(out, want);
            EXPECT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&in), P(&out)), ICERR_OK);
        }
}

TEST_P(Driver, ProposalsFromLongerHeadersAre40Bytes)
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
        in.h = message == ICM_COMPRESS_GET_FORMAT ? Raw(16, 8) : Packed(16, 8);
        in.h.biSize = sizeof(LongHeader);
        ASSERT_EQ(Send(message, P(&in), P(&out)), ICERR_OK);
        EXPECT_EQ(out.h.biSize, 40u);
        EXPECT_EQ(out.h.biWidth, 16);
        for (uint8_t b : out.extra)
            ASSERT_EQ(b, 0xCD);
    }
}

// The library writes the compressed frame's header from the input's, with its
// own format and the payload's size, and tags the frame as a key frame. The
// request's flags change nothing, and the two headers may be one record.
TEST_P(Driver, CompressWritesTheHeaderChunkIdAndKeyFrameFlag)
{
    OpenDriver();
    BITMAPINFOHEADER in = Raw(7, 4);
    in.biYPelsPerMeter = -7;
    in.biClrImportant = 9;
    in.biSize = 60;
    ASSERT_EQ(Send(ICM_COMPRESS_QUERY, P(&in)), ICERR_OK);
    Bytes frame = FrameOf(in, Content::Noise);
    Encoded reference;
    ASSERT_EQ(Compress(in, frame, MaxCompressed(variant, 7, 4), &reference), ICERR_OK);
    BITMAPINFOHEADER want = in;
    want.biCompression = fourcc;
    want.biSizeImage = static_cast<DWORD>(reference.payload.size());

    BITMAPINFOHEADER input = in, out = Filled(0xAB);
    Bytes buffer(static_cast<size_t>(MaxCompressed(variant, 7, 4)));
    DWORD ckid = 0xFFFFFFFF, flags = 0xFFFFFFFF;
    ICCOMPRESS icc = CompressRecord(&input, frame.data(), &out, buffer.data(), &ckid, &flags);
    icc.dwFlags = 0xFFFFFFFF;
    ASSERT_EQ(Send(ICM_COMPRESS, P(&icc)), ICERR_OK);
    EXPECT_EQ(out, want);
    EXPECT_EQ(ckid, fourcc);
    EXPECT_EQ(flags, AVIIF_KEYFRAME);
    EXPECT_TRUE(std::equal(reference.payload.begin(), reference.payload.end(), buffer.begin()));

    icc.lpckid = nullptr;
    icc.lpdwFlags = nullptr;
    EXPECT_EQ(Send(ICM_COMPRESS, P(&icc)), ICERR_OK);
    icc.lpbiOutput = &input;
    ASSERT_EQ(Send(ICM_COMPRESS, P(&icc)), ICERR_OK);
    EXPECT_EQ(input, want);
}

// Records without a header or a buffer, and frames the configuration does not
// take, are refused before anything is written.
TEST_P(Driver, RefusedFrameRecordsWriteNothing)
{
    OpenDriver();
    BITMAPINFOHEADER in = Raw(7, 4);
    Encoded frame;
    ASSERT_NO_FATAL_FAILURE(OneFrame(in, frame));
    ASSERT_EQ(Send(ICM_COMPRESS_QUERY, P(&in)), ICERR_OK);
    Bytes pixels = FrameOf(in, Content::Noise), buffer(frame.payload.size() + 64, kFill);
    BITMAPINFOHEADER out = Filled(0xAB), compressed = frame.header;
    DWORD ckid = 1, flags = 1;
    Bytes decoded(in.biSizeImage, kFill);
    const auto withoutEachPart = [&](auto record, UINT message) {
        for (int part = 0; part < 4; ++part) {
            auto r = record;
            if (part == 0)
                r.lpbiInput = nullptr;
            else if (part == 1)
                r.lpInput = nullptr;
            else if (part == 2)
                r.lpbiOutput = nullptr;
            else
                r.lpOutput = nullptr;
            EXPECT_EQ(Send(message, P(&r)), ICERR_BADFORMAT) << "part " << part;
        }
    };
    withoutEachPart(CompressRecord(&in, pixels.data(), &out, buffer.data(), &ckid, &flags),
                    ICM_COMPRESS);
    withoutEachPart(DecompressRecord(&compressed, frame.payload.data(), &in, decoded.data()),
                    ICM_DECOMPRESS);
    BITMAPINFOHEADER flipped = Raw(7, -4);
    const ICCOMPRESS refused =
        CompressRecord(&flipped, pixels.data(), &out, buffer.data(), &ckid, &flags);
    EXPECT_EQ(Send(ICM_COMPRESS, P(&refused)), ICERR_BADFORMAT);
    EXPECT_EQ(buffer, Bytes(buffer.size(), kFill));
    EXPECT_EQ(out, Filled(0xAB));
    EXPECT_EQ(ckid, 1u);
    EXPECT_EQ(flags, 1u);
    EXPECT_EQ(decoded, Bytes(decoded.size(), kFill));
}

TEST_P(Driver, DecompressFlagsMakeNoDifference)
{
    OpenDriver();
    const BITMAPINFOHEADER in = Raw(4, 48);
    Encoded frame;
    ASSERT_NO_FATAL_FAILURE(OneFrame(in, frame));
    Bytes plain(in.biSizeImage, kFill);
    ASSERT_EQ(Decompress(frame, in, plain), ICERR_OK);
    // Hurry-up, preroll, null-frame, update and every other bit.
    for (DWORD flags : {0x80000000u, 0x20000000u, 0x10000000u, 0x40000000u, 0xFFFFFFFFu}) {
        Bytes pixels(in.biSizeImage, kFill);
        EXPECT_EQ(Decompress(frame, in, pixels, flags), ICERR_OK);
        EXPECT_EQ(pixels, plain) << flags;
    }
}

TEST_P(Driver, CompressEndReleasesTheEncoderUntilTheNextConfiguration)
{
    OpenDriver();
    BITMAPINFOHEADER in = Raw(16, 8);
    const Bytes pixels = FrameOf(in, Content::Noise);
    const LRESULT capacity = MaxCompressed(variant, 16, 8);
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

TEST_P(Driver, PayloadShorterThanTheConfiguredFrameIsAnError)
{
    OpenDriver();
    BITMAPINFOHEADER small = Raw(8, 4), packedBig = Packed(16, 8), out = Raw(16, 8);
    ASSERT_EQ(Send(ICM_COMPRESS_QUERY, P(&small)), ICERR_OK);
    Encoded frame;
    ASSERT_EQ(Compress(small, FrameOf(small, Content::Noise), MaxCompressed(variant, 8, 4), &frame),
              ICERR_OK);
    // The decoder is set up for 16 x 8; only the output size is matched against it.
    ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&packedBig), P(&out)), ICERR_OK);
    Bytes pixels(out.biSizeImage, 0x77);
    EXPECT_EQ(Decompress(frame, out, pixels), ICERR_ERROR);
    EXPECT_EQ(pixels, Bytes(out.biSizeImage, 0x77));
}

// Every raw format the variant takes is the proposed one under another name:
// the same pixels give the same frame, and decode alike.
TEST_P(Driver, OtherRawFormatsAreTheProposedOneUnderOtherNames)
{
    OpenDriver();
    const BITMAPINFOHEADER proposed = Raw(9, 3);
    const std::vector<Bytes> frames = {FrameOf(proposed, Content::Noise, 3)};
    std::vector<Encoded> encoded;
    ASSERT_NO_FATAL_FAILURE(CompressStream(proposed, frames, encoded));
    const Encoded reference = encoded[0];
    BITMAPINFOHEADER compressed = reference.header, out = proposed;
    ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&compressed), P(&out)), ICERR_OK);
    Bytes decoded(proposed.biSizeImage, kFill);
    ASSERT_EQ(Decompress(reference, proposed, decoded), ICERR_OK);

    for (size_t i = 1; i < info.rawFormats.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "format 0x" << std::hex << info.rawFormats[i]);
        const BITMAPINFOHEADER in = Raw(9, 3, info.rawFormats[i], info.bitCount);
        ASSERT_NO_FATAL_FAILURE(CompressStream(in, frames, encoded));
        EXPECT_EQ(encoded[0].header, reference.header);
        EXPECT_EQ(encoded[0].payload, reference.payload);
        out = in;
        ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&compressed), P(&out)), ICERR_OK);
        Bytes pixels(in.biSizeImage, kFill);
        ASSERT_EQ(Decompress(reference, in, pixels), ICERR_OK);
        EXPECT_EQ(pixels, decoded);
    }
}

// Every frame is coded alone: a frame compresses to the same bytes after any
// other frame as on an encoder that has seen nothing (the end of a stream gives
// the buffers back, so the next query starts afresh).
TEST_P(Driver, AFramesBytesDependOnThatFrameAlone)
{
    OpenDriver();
    for (LONG width : {1, 2, 3, 5, 8, 9, 17}) {
        SCOPED_TRACE(width);
        const BITMAPINFOHEADER in = Raw(width, 3);
        const Bytes a = FrameOf(in, Content::Noise, 1), b = FrameOf(in, Content::Noise, 2);
        std::vector<Encoded> afterA, fresh;
        ASSERT_NO_FATAL_FAILURE(CompressStream(in, {a, b}, afterA));
        ASSERT_NO_FATAL_FAILURE(CompressStream(in, {b}, fresh));
        EXPECT_EQ(afterA[1].payload, fresh[0].payload);
    }
}

// Hosts may begin a stream without querying it, so a begin configures the
// object just as a query does, and answers as it would.
class DriverConfigure
    : public DriverSuite,
      public testing::WithParamInterface<std::tuple<Variant, std::pair<UINT, UINT>>> {
protected:
    DriverConfigure() : DriverSuite(std::get<0>(GetParam())) {}
};

TEST_P(DriverConfigure, AcceptedFormatsConfigureAndRefusalsKeepTheConfiguration)
{
    const auto [compressMessage, decompressMessage] = std::get<1>(GetParam());
    const LRESULT noInput = compressMessage == ICM_COMPRESS_QUERY ? ICERR_ERROR : ICERR_OK;
    const WORD refusedBits = variant == Variant::Rgb24 ? 32 : 12;
    const DWORD otherCompressed = tarv::Info(Other(variant)).fourccValue;
    OpenDriver();
    BITMAPINFOHEADER raw = Raw(16, 8), packedOut = Packed(16, 8),
                     otherOut = Packed(16, 8, {}, otherCompressed), big = Raw(32, 8),
                     refused = Raw(32, 8, info.rawFormats[0], refusedBits), tall = Raw(32, -8);
    const Bytes pixels = FrameOf(raw, Content::Noise);
    const LRESULT capacity = MaxCompressed(variant, 16, 8);
    EXPECT_EQ(Compress(raw, pixels, capacity), ICERR_BADFORMAT); // not configured yet
    ASSERT_EQ(Send(compressMessage, P(&raw), P(&packedOut)), ICERR_OK);
    Encoded frame;
    ASSERT_EQ(Compress(raw, pixels, capacity, &frame), ICERR_OK);

    EXPECT_EQ(Send(compressMessage, P(&refused)), ICERR_BADFORMAT);
    EXPECT_EQ(Send(compressMessage, P(&big), P(&otherOut)), ICERR_BADFORMAT);
    EXPECT_EQ(Send(compressMessage, P(&tall)), ICERR_BADFORMAT);
    EXPECT_EQ(Send(compressMessage, 0), noInput);
    EXPECT_EQ(Compress(raw, pixels, capacity), ICERR_OK);
    EXPECT_EQ(Compress(big, FrameOf(big, Content::Noise), MaxCompressed(variant, 32, 8)),
              ICERR_BADFORMAT);

    BITMAPINFOHEADER compressed = frame.header, other = Packed(32, 8, {}, otherCompressed),
                     packedBig = Packed(32, 8), packedNeg = Packed(32, -8), out = Raw(16, 8);
    ASSERT_EQ(Send(decompressMessage, P(&compressed), P(&out)), ICERR_OK);
    EXPECT_EQ(Send(decompressMessage, P(&other)), ICERR_BADFORMAT);
    EXPECT_EQ(Send(decompressMessage, P(&packedBig), P(&refused)), ICERR_BADFORMAT);
    EXPECT_EQ(Send(decompressMessage, P(&packedNeg)), ICERR_BADFORMAT);
    EXPECT_EQ(Send(decompressMessage, 0), noInput);
    Bytes decoded(out.biSizeImage);
    EXPECT_EQ(Decompress(frame, out, decoded), ICERR_OK);
    EXPECT_EQ(decoded, pixels); // rows of 16 pixels carry no padding
}

INSTANTIATE_TEST_SUITE_P(
    Variants, DriverConfigure,
    testing::Combine(testing::ValuesIn(tarv::AllVariants()),
                     testing::Values(std::pair{ICM_COMPRESS_QUERY, ICM_DECOMPRESS_QUERY},
                                     std::pair{ICM_COMPRESS_BEGIN, ICM_DECOMPRESS_BEGIN})),
    [](const auto& p) {
        return std::string(tarv::Info(std::get<0>(p.param)).name) +
               (std::get<1>(p.param).first == ICM_COMPRESS_QUERY ? "_query" : "_begin");
    });

class DriverStream : public DriverSuite,
                     public testing::WithParamInterface<std::tuple<Variant, bool>> {
protected:
    DriverStream() : DriverSuite(std::get<0>(GetParam())) {}
};

// Frames that do not compress must fit the buffer the host sized from the
// proposal, with a query first or with the begin messages alone.
TEST_P(DriverStream, FramesRoundTripInBuffersOfTheProposedSize)
{
    const bool query = std::get<1>(GetParam());
    OpenDriver();
    struct Case {
        LONG width, height;
        std::vector<Content> contents;
    };
    const std::vector<Content> both = {Content::Noise, Content::Photo};
    // clang-format off
    const Case cases[] = {
        {1, 1, both}, {2, 1, both}, {3, 2, both}, {5, 2, both}, {5, 3, both}, {15, 4, both},
        {16, 3, both}, {17, 5, both}, {32, 2, both}, {33, 7, both}, {33, 17, both},
        {320, 200, both}, {640, 480, {Content::Noise}}, {1920, 1080, {Content::Photo}},
        {3840, 2160, {Content::Photo}},
    };
    // clang-format on
    for (const Case& c : cases) {
        // How a stream starts does not depend on the frame size: the large
        // frames run once. Past kAlwaysCodedSamples a frame codes only when its
        // detail lets it, which no size promises.
        if ((!query && c.width > 320) ||
            tarv::SamplesPerFrame(variant, c.width, c.height) > tarv::kAlwaysCodedSamples)
            continue;
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        const BITMAPINFOHEADER in = Raw(c.width, c.height);
        std::vector<Bytes> frames;
        for (Content content : c.contents)
            frames.push_back(FrameOf(in, content, static_cast<uint32_t>(frames.size() + 7)));
        std::vector<Encoded> encoded;
        ASSERT_NO_FATAL_FAILURE(CompressStream(in, frames, encoded, query));
        if (c.contents[0] == Content::Noise) {
            EXPECT_GT(encoded[0].payload.size(), in.biSizeImage); // noise grows
        }
        ASSERT_NO_FATAL_FAILURE(DecompressStream(in, frames, encoded, query));
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, DriverStream,
                         testing::Combine(testing::ValuesIn(tarv::AllVariants()), testing::Bool()),
                         [](const auto& p) {
                             return std::string(tarv::Info(std::get<0>(p.param)).name) +
                                    (std::get<1>(p.param) ? "_query_first" : "_begin_only");
                         });

// YUY2 rows of 24 or 32 bits a pixel carry the same pixels as 16-bit ones,
// each row's first 2 bytes a pixel, and give the same payload.
class DriverYuy2 : public DriverSuite {
protected:
    DriverYuy2() : DriverSuite(Variant::Yuy2) {}
};

TEST_F(DriverYuy2, ThirtyTwoBitRowsCarryTheSamePixels)
{
    OpenDriver();
    const BITMAPINFOHEADER in16 = Raw(7, 4), in32 = Raw(7, 4, info.rawFormats[0], 32);
    const std::vector<Bytes> frames32 = {FrameOf(in32, Content::Noise)};
    std::vector<Bytes> frames16 = {FrameOf(in16, Content::Noise)};
    for (size_t y = 0; y < 4; ++y) // the same 14 picture bytes a row
        std::memcpy(&frames16[0][y * 16], &frames32[0][y * 28], 14);
    std::vector<Encoded> encoded16, encoded32;
    ASSERT_NO_FATAL_FAILURE(CompressStream(in32, frames32, encoded32));
    ASSERT_NO_FATAL_FAILURE(DecompressStream(in32, frames32, encoded32));
    ASSERT_NO_FATAL_FAILURE(CompressStream(in16, frames16, encoded16));
    EXPECT_EQ(encoded32[0].payload, encoded16[0].payload);

    // Into 32-bit rows: the first 14 bytes of every 28 are written.
    BITMAPINFOHEADER compressed = encoded16[0].header, out32 = in32;
    ASSERT_EQ(Send(ICM_DECOMPRESS_QUERY, P(&compressed), P(&out32)), ICERR_OK);
    Bytes pixels(in32.biSizeImage, kFill);
    ASSERT_EQ(Decompress(encoded16[0], out32, pixels), ICERR_OK);
    EXPECT_EQ(PictureDifference(variant, pixels.data(), FormatOf(out32), frames16[0].data(),
                                FormatOf(in16), kFill),
              "");
}

// What an instance holds is given back when it closes, and what a host left
// open is given back when the library unloads. The first cycle lets the loader
// and the allocator settle. valgrind brings its own allocator, so these are
// left out of its runs.

// One sample buffer of a full HD frame: a configured encoder and decoder hold four.
size_t FullHDBuffer(Variant v)
{
    return static_cast<size_t>(MaxCompressed(v, 1920, 1080) - kLargestTable);
}

void QueryFullHD(const Library& lib, DWORD_PTR id, Variant v)
{
    BITMAPINFOHEADER raw = RawHeader(v, 1920, 1080), packed = CompressedHeader(v, 1920, 1080);
    ASSERT_EQ(lib.Send(id, ICM_COMPRESS_QUERY, P(&raw)), ICERR_OK);
    ASSERT_EQ(lib.Send(id, ICM_DECOMPRESS_QUERY, P(&packed)), ICERR_OK);
}

TEST(DriverHeap, OpenQueryCloseCyclesGiveEverythingBack)
{
    for (const Variant v : tarv::AllVariants()) {
        SCOPED_TRACE(tarv::Info(v).name);
        Library lib(LibraryPath(v));
        ASSERT_TRUE(lib.Loaded()) << dlerror();
        size_t before = 0;
        for (int i = 0; i <= 40; ++i) {
            const DWORD_PTR id = lib.Open();
            ASSERT_NE(id, 0u);
            ASSERT_NO_FATAL_FAILURE(QueryFullHD(lib, id, v));
            ASSERT_EQ(lib.Send(id, DRV_CLOSE), 1);
            if (i == 0)
                before = HeapInUse();
            // Stop early rather than pile up a leak of four buffers a cycle.
            ASSERT_LT(HeapInUse(), before + 8 * FullHDBuffer(v)) << "after " << i << " cycles";
        }
        // A leak of even the frequency tables alone would exceed this after 40 cycles.
        EXPECT_LT(HeapInUse(), before + FullHDBuffer(v));
    }
}

TEST(DriverHeap, UnloadingFreesTheInstancesLeftOpen)
{
    for (const Variant v : tarv::AllVariants()) {
        SCOPED_TRACE(tarv::Info(v).name);
        const auto cycle = [&] {
            Library lib(LibraryPath(v));
            ASSERT_TRUE(lib.Loaded()) << dlerror();
            for (int open = 0; open < 2; ++open) {
                const DWORD_PTR id = lib.Open();
                ASSERT_NE(id, 0u);
                ASSERT_NO_FATAL_FAILURE(QueryFullHD(lib, id, v));
            }
        };
        cycle();
        ASSERT_FALSE(Resident(LibraryPath(v))) << "dlclose left the library mapped";
        const size_t before = HeapInUse();
        for (int i = 0; i < 30; ++i) {
            cycle();
            ASSERT_FALSE(Resident(LibraryPath(v)));
            ASSERT_LT(HeapInUse(), before + 16 * FullHDBuffer(v)) << "after " << i + 1 << " cycles";
        }
        EXPECT_LT(HeapInUse(), before + FullHDBuffer(v));
    }
}

} // namespace
