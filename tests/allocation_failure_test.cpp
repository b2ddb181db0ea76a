// Every allocation the codec makes can fail. Each scenario runs once to count its
// allocations, then once more for each of them with that one failing: the reply
// must report it, nothing may stay half-built (the debug build also checks for
// leaks), and the same step must succeed as soon as memory is back.
#include "driver/instances.h"
#include "driver/wrapper.h"
#include "entropy/allocation.h"
#include "variants/rgb24/rgb24.h"
#include "variants/yuy2/yuy2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM lParam1,
                                     LPARAM lParam2);

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kFill = 0xA7;
constexpr DWORD kSentinel = 0xDEADBEEF;

struct Variant {
    const char* name;
    CEncoder* (*encoder)();
    CDecoder* (*decoder)();
    DWORD raw;
    DWORD fourcc;
    WORD bits;
};

const Variant kVariants[] = {
    {"RGB24", []() -> CEncoder* { return new CEncoderTarvRGB24; },
     []() -> CDecoder* { return new CDecoderTarvRGB24; }, BI_RGB, kTarvRGB24FourCC, 24},
    {"YUY2", []() -> CEncoder* { return new CEncoderTarvYUV16; },
     []() -> CDecoder* { return new CDecoderTarvYUV16; }, kFourCC_YUY2, kTarvYUY2FourCC, 16},
};

LRESULT Send(const CCodecWrapper* w, UINT message, const void* p1 = nullptr,
             const void* p2 = nullptr)
{
    return DriverProc(reinterpret_cast<DWORD_PTR>(w), nullptr, message,
                      reinterpret_cast<LPARAM>(p1), reinterpret_cast<LPARAM>(p2));
}

// Allocations that `step` makes with allocation working.
template <class F> long CountAllocations(F step)
{
    FailAllocationAt(-1);
    step();
    return AllocationCount();
}

struct Frame {
    LRESULT rc = ICERR_ERROR;
    BITMAPINFOHEADER header;
    Bytes payload;
    DWORD ckid = kSentinel;
    DWORD flags = kSentinel;
};

// A variant's encoder and decoder in a wrapper of their own, registered as an
// instance and spoken to through DriverProc as a host would. Frames are 8
// pixels wide: rows carry no padding.
struct Session {
    explicit Session(const Variant& variant) : v(variant)
    {
        wrapper.m_encoder.reset(v.encoder());
        wrapper.m_decoder.reset(v.decoder());
        EXPECT_TRUE(g_instances.Add(&wrapper));
    }
    ~Session() { g_instances.Remove(reinterpret_cast<DWORD_PTR>(&wrapper)); }

    BITMAPINFOHEADER Raw(LONG height) const { return PackedFrameHeader(8, height, v.raw, v.bits); }
    BITMAPINFOHEADER Packed(LONG height) const
    {
        return PackedFrameHeader(8, height, v.fourcc, v.bits);
    }

    static Bytes Pixels(const BITMAPINFOHEADER& h, uint32_t seed)
    {
        std::independent_bits_engine<std::mt19937, 8, uint32_t> rng(seed);
        Bytes b(h.biSizeImage);
        std::generate(b.begin(), b.end(), [&] { return static_cast<uint8_t>(rng()); });
        return b;
    }

    // ICM_COMPRESS straight on the encoder, so that an exception would reach the
    // test instead of the dispatcher's catch-all.
    Frame Compress(const BITMAPINFOHEADER& in, const Bytes& pixels)
    {
        Frame f;
        std::memset(&f.header, kFill, sizeof f.header);
        BITMAPINFOHEADER input = in;
        Bytes source = pixels;
        f.payload.resize(wrapper.m_encoder->GetMaxCompressedSize(in.biWidth, in.biHeight));
        ICCOMPRESS icc{0, &f.header, f.payload.data(), &input, source.data(), &f.ckid, &f.flags, 0,
                       0, 0,         nullptr,          nullptr};
        EXPECT_NO_THROW(f.rc = wrapper.m_encoder->Compress(&icc));
        if (f.rc == ICERR_OK)
            f.payload.resize(f.header.biSizeImage);
        return f;
    }

    LRESULT Decompress(const Frame& f, const BITMAPINFOHEADER& out, Bytes& pixels)
    {
        BITMAPINFOHEADER input = f.header, output = out;
        Bytes payload = f.payload;
        pixels.assign(out.biSizeImage, kFill);
        ICDECOMPRESS icd{0, &input, payload.data(), &output, pixels.data(), 0};
        LRESULT rc = ICERR_ERROR;
        EXPECT_NO_THROW(rc = wrapper.m_decoder->Decompress(&icd));
        return rc;
    }

    void ExpectRoundTrip(LONG height)
    {
        const BITMAPINFOHEADER raw = Raw(height), packed = Packed(height);
        const Bytes pixels = Pixels(raw, 7);
        ASSERT_EQ(Send(&wrapper, ICM_COMPRESS_QUERY, &raw, &packed), ICERR_OK);
        const Frame f = Compress(raw, pixels);
        ASSERT_EQ(f.rc, ICERR_OK);
        ASSERT_EQ(Send(&wrapper, ICM_DECOMPRESS_QUERY, &f.header, &raw), ICERR_OK);
        Bytes out;
        ASSERT_EQ(Decompress(f, raw, out), ICERR_OK);
        EXPECT_EQ(out, pixels);
    }

    const Variant& v;
    CCodecWrapper wrapper;
};

void ExpectUnconfigured(const CCodec& codec)
{
    EXPECT_EQ(codec.Samples().data, nullptr);
    EXPECT_EQ(codec.Scratch().data, nullptr);
    EXPECT_EQ(codec.Format().biWidth, 0);
    EXPECT_EQ(codec.Format().biHeight, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(codec.Plane(i).size, 0u) << "plane " << i;
}

class AllocationFailure : public testing::Test {
protected:
    // Whatever an assertion cut short, the next test starts with working memory
    // and without an instance.
    void TearDown() override
    {
        FailAllocationAt(-1);
        ReleaseInstances();
    }
};

TEST_F(AllocationFailure, OpenRepliesMemoryAndLeavesNothingBehind)
{
    ICOPEN open{};
    open.fccType = kFourCC_vidc;
    const long count = CountAllocations([&] {
        const LRESULT id = Send(nullptr, DRV_OPEN, nullptr, &open);
        EXPECT_NE(id, 0);
        EXPECT_EQ(DriverProc(static_cast<DWORD_PTR>(id), nullptr, DRV_CLOSE, 0, 0), 1);
    });
    EXPECT_EQ(count, 3); // the wrapper and its two codec objects

    for (long n = 0; n < count; ++n) {
        SCOPED_TRACE(testing::Message() << "allocation " << n);
        for (ICOPEN* record : {&open, static_cast<ICOPEN*>(nullptr)}) {
            constexpr LRESULT kUnwritten = 12345;
            open.dwError = kUnwritten;
            FailAllocationAt(n);
            EXPECT_EQ(Send(nullptr, DRV_OPEN, nullptr, record), 0);
            EXPECT_EQ(open.dwError, record != nullptr ? ICERR_MEMORY : kUnwritten);
        }
        FailAllocationAt(-1);
        const LRESULT id = Send(nullptr, DRV_OPEN, nullptr, &open);
        const CCodecWrapper* w = g_instances.Find(static_cast<DWORD_PTR>(id));
        EXPECT_EQ(open.dwError, ICERR_OK);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->m_encoder && w->m_decoder);
        EXPECT_EQ(Send(w, DRV_CLOSE), 1);
    }

    // CreateCodecs on its own, also when one object is already there: both or neither.
    for (const bool withEncoder : {false, true}) {
        SCOPED_TRACE(withEncoder ? "encoder present" : "empty wrapper");
        auto arrange = [&](CCodecWrapper& w) {
            if (withEncoder)
                w.m_encoder.reset(new CEncoderTarvRGB24);
        };
        const long made = CountAllocations([&] {
            CCodecWrapper w;
            arrange(w);
            EXPECT_EQ(w.CreateCodecs(), 1);
        });
        EXPECT_EQ(made, withEncoder ? 1 : 2);
        for (long n = 0; n < made; ++n) {
            CCodecWrapper w;
            arrange(w);
            FailAllocationAt(n);
            int rc = -1;
            EXPECT_NO_THROW(rc = w.CreateCodecs());
            EXPECT_EQ(rc, 0);
            EXPECT_FALSE(w.m_encoder || w.m_decoder);
            FailAllocationAt(-1);
            EXPECT_EQ(w.CreateCodecs(), 1);
            EXPECT_TRUE(w.m_encoder && w.m_decoder);
        }
    }
}

// The states a query can find its object in, and what the query must allocate:
// the table once per stream, the two buffers once per frame size.
enum class Start { Fresh, OtherSize, Ended };

TEST_F(AllocationFailure, QueryRepliesMemoryAndLeavesTheObjectUnconfigured)
{
    struct Case {
        UINT message;
        bool decoder;
        Start start;
        long allocations;
    };
    // A begin with a format configures like a query.
    const Case cases[] = {
        {ICM_COMPRESS_QUERY, false, Start::Fresh, 4},
        {ICM_COMPRESS_QUERY, false, Start::OtherSize, 2},
        {ICM_COMPRESS_QUERY, false, Start::Ended, 4},
        {ICM_COMPRESS_BEGIN, false, Start::Fresh, 4},
        {ICM_DECOMPRESS_QUERY, true, Start::Fresh, 4},
        {ICM_DECOMPRESS_QUERY, true, Start::OtherSize, 2},
        {ICM_DECOMPRESS_BEGIN, true, Start::Fresh, 4},
    };
    constexpr LONG kHeight = 6, kOtherHeight = 4;
    for (const Variant& v : kVariants) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << v.name << ", message 0x" << std::hex << c.message
                                            << ", start " << static_cast<int>(c.start));
            auto arrange = [&](Session& s) {
                const BITMAPINFOHEADER raw = s.Raw(kOtherHeight), packed = s.Packed(kOtherHeight);
                if (c.start == Start::OtherSize)
                    s.ExpectRoundTrip(kOtherHeight);
                if (c.start == Start::Ended) {
                    ASSERT_EQ(Send(&s.wrapper, ICM_COMPRESS_QUERY, &raw, &packed), ICERR_OK);
                    ASSERT_EQ(Send(&s.wrapper, ICM_COMPRESS_END), ICERR_OK);
                }
            };
            auto query = [&](Session& s) {
                const BITMAPINFOHEADER raw = s.Raw(kHeight), packed = s.Packed(kHeight);
                return c.decoder ? Send(&s.wrapper, c.message, &packed, &raw)
                                 : Send(&s.wrapper, c.message, &raw, &packed);
            };

            Session counted(v);
            arrange(counted);
            EXPECT_EQ(CountAllocations([&] { EXPECT_EQ(query(counted), ICERR_OK); }),
                      c.allocations);

            for (long n = 0; n < c.allocations; ++n) {
                SCOPED_TRACE(testing::Message() << "allocation " << n);
                Session s(v);
                arrange(s);
                FailAllocationAt(n);
                EXPECT_EQ(query(s), ICERR_MEMORY);
                FailAllocationAt(-1);
                const CCodec& codec = c.decoder ? static_cast<const CCodec&>(*s.wrapper.m_decoder)
                                                : *s.wrapper.m_encoder;
                ExpectUnconfigured(codec);
                EXPECT_EQ(query(s), ICERR_OK);
                s.ExpectRoundTrip(kHeight);
            }
        }
    }
}

// Frames reuse what the query allocated: the coder's table and scratch and the
// two sample buffers. A frame allocates nothing, so no frame can fail for memory.
TEST_F(AllocationFailure, FramesAllocateNothing)
{
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        Session s(v);
        const BITMAPINFOHEADER raw = s.Raw(6), packed = s.Packed(6);
        ASSERT_EQ(Send(&s.wrapper, ICM_COMPRESS_QUERY, &raw, &packed), ICERR_OK);
        const Bytes pixels = Session::Pixels(raw, 1), other = Session::Pixels(raw, 2);
        Frame first, second;
        EXPECT_EQ(CountAllocations([&] { first = s.Compress(raw, pixels); }), 0);
        EXPECT_EQ(CountAllocations([&] { second = s.Compress(raw, other); }), 0);
        ASSERT_EQ(first.rc, ICERR_OK);
        ASSERT_EQ(second.rc, ICERR_OK);
        ASSERT_EQ(Send(&s.wrapper, ICM_DECOMPRESS_QUERY, &first.header, &raw), ICERR_OK);
        Bytes out;
        EXPECT_EQ(CountAllocations([&] { EXPECT_EQ(s.Decompress(first, raw, out), ICERR_OK); }), 0);
        EXPECT_EQ(CountAllocations([&] { EXPECT_EQ(s.Decompress(second, raw, out), ICERR_OK); }),
                  0);
    }
}

} // namespace
