// Every allocation the codec makes can fail. Each scenario runs once to count its
// allocations, then once more for each of them with that one failing: the reply
// must report it, nothing may stay half-built (the debug build also checks for
// leaks), and the same step must succeed as soon as memory is back.
#include "driver/instances.h"
#include "driver/wrapper.h"
#include "entropy/allocation.h"
#include "tests/support/codec_calls.h"
#include "tests/support/frames.h"
#include "tests/support/headers.h"
#include "variants/rgb24/rgb24.h"

#include <gtest/gtest.h>

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM lParam1,
                                     LPARAM lParam2);

namespace {

using namespace tarv;
using namespace tarv_test;

LRESULT Send(DWORD_PTR id, UINT message, const void* p1 = nullptr, const void* p2 = nullptr)
{
    return DriverProc(id, nullptr, message, reinterpret_cast<LPARAM>(p1),
                      reinterpret_cast<LPARAM>(p2));
}

// Allocations that `step` makes with allocation working.
template <class F> long CountAllocations(F step)
{
    FailAllocationAt(-1);
    step();
    return AllocationCount();
}

// A variant's encoder and decoder in a wrapper of their own, registered as an
// instance and spoken to through DriverProc as a host would. Frames are 8
// pixels wide: rows carry no padding.
struct Session {
    explicit Session(Variant variant) : v(variant)
    {
        wrapper.m_encoder.reset(Info(v).newEncoder());
        wrapper.m_decoder.reset(Info(v).newDecoder());
        id = g_instances.Add(&wrapper);
        EXPECT_NE(id, 0u);
    }
    ~Session() { g_instances.Remove(id); }

    BITMAPINFOHEADER Raw(int32_t height) const { return RawHeader(v, 8, height); }
    BITMAPINFOHEADER Packed(int32_t height) const { return CompressedHeader(v, 8, height); }

    // A frame straight on the encoder, so that an exception would reach the
    // test instead of the dispatcher's catch-all.
    Compressed Compress(int32_t height, const Bytes& pixels)
    {
        Compressed c;
        EXPECT_NO_THROW(
            c = tarv_test::Compress(*wrapper.m_encoder, v, RawFormat(v, 8, height), pixels));
        return c;
    }

    Status Decompress(const Compressed& c, Bytes& pixels)
    {
        pixels.assign(RawFormat(v, 8, c.format.height).sizeImage, kFill);
        Status status = Status::Error;
        EXPECT_NO_THROW(status = tarv_test::Decompress(*wrapper.m_decoder, c.format, c.payload,
                                                       RawFormat(v, 8, c.format.height), pixels));
        return status;
    }

    void ExpectRoundTrip(int32_t height)
    {
        const BITMAPINFOHEADER raw = Raw(height), packed = Packed(height);
        const Bytes pixels = Frame(RawFormat(v, 8, height), Content::Noise, 7);
        ASSERT_EQ(Send(id, ICM_COMPRESS_QUERY, &raw, &packed), ICERR_OK);
        const Compressed c = Compress(height, pixels);
        ASSERT_EQ(c.status, Status::Ok);
        const BITMAPINFOHEADER compressed = Header(c.format);
        ASSERT_EQ(Send(id, ICM_DECOMPRESS_QUERY, &compressed, &raw), ICERR_OK);
        Bytes out;
        ASSERT_EQ(Decompress(c, out), Status::Ok);
        EXPECT_EQ(out, pixels);
    }

    const Variant v;
    CCodecWrapper wrapper;
    DWORD_PTR id = 0;
};

void ExpectUnconfigured(const CCodec& codec)
{
    EXPECT_EQ(codec.Samples().data, nullptr);
    EXPECT_EQ(codec.Scratch().data, nullptr);
    EXPECT_EQ(codec.Format().width, 0);
    EXPECT_EQ(codec.Format().height, 0);
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
        const LRESULT id = Send(0, DRV_OPEN, nullptr, &open);
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
            EXPECT_EQ(Send(0, DRV_OPEN, nullptr, record), 0);
            EXPECT_EQ(open.dwError, record != nullptr ? ICERR_MEMORY : kUnwritten);
        }
        FailAllocationAt(-1);
        const LRESULT id = Send(0, DRV_OPEN, nullptr, &open);
        const CCodecWrapper* w = g_instances.Find(static_cast<DWORD_PTR>(id));
        EXPECT_EQ(open.dwError, ICERR_OK);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->m_encoder && w->m_decoder);
        EXPECT_EQ(Send(static_cast<DWORD_PTR>(id), DRV_CLOSE), 1);
    }

    // CreateCodecs on its own, also when one object is already there: both or neither.
    for (const bool withEncoder : {false, true}) {
        SCOPED_TRACE(withEncoder ? "encoder present" : "empty wrapper");
        auto arrange = [&](CCodecWrapper& w) {
            if (withEncoder)
                w.m_encoder.reset(new CEncoderTarvRGB24); // the tarvr binding's
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
    for (const Variant v : AllVariants()) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << Info(v).name << ", message 0x" << std::hex << c.message << ", start "
                         << static_cast<int>(c.start));
            auto arrange = [&](Session& s) {
                const BITMAPINFOHEADER raw = s.Raw(kOtherHeight), packed = s.Packed(kOtherHeight);
                if (c.start == Start::OtherSize)
                    s.ExpectRoundTrip(kOtherHeight);
                if (c.start == Start::Ended) {
                    ASSERT_EQ(Send(s.id, ICM_COMPRESS_QUERY, &raw, &packed), ICERR_OK);
                    ASSERT_EQ(Send(s.id, ICM_COMPRESS_END), ICERR_OK);
                }
            };
            auto query = [&](Session& s) {
                const BITMAPINFOHEADER raw = s.Raw(kHeight), packed = s.Packed(kHeight);
                return c.decoder ? Send(s.id, c.message, &packed, &raw)
                                 : Send(s.id, c.message, &raw, &packed);
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
    for (const Variant v : AllVariants()) {
        SCOPED_TRACE(Info(v).name);
        Session s(v);
        const BITMAPINFOHEADER raw = s.Raw(6), packed = s.Packed(6);
        ASSERT_EQ(Send(s.id, ICM_COMPRESS_QUERY, &raw, &packed), ICERR_OK);
        const FrameFormat format = RawFormat(v, 8, 6);
        const Bytes pixels = Frame(format, Content::Noise, 1),
                    other = Frame(format, Content::Noise, 2);
        Compressed first, second;
        EXPECT_EQ(CountAllocations([&] { first = s.Compress(6, pixels); }), 0);
        EXPECT_EQ(CountAllocations([&] { second = s.Compress(6, other); }), 0);
        ASSERT_EQ(first.status, Status::Ok);
        ASSERT_EQ(second.status, Status::Ok);
        const BITMAPINFOHEADER compressed = Header(first.format);
        ASSERT_EQ(Send(s.id, ICM_DECOMPRESS_QUERY, &compressed, &raw), ICERR_OK);
        Bytes out;
        EXPECT_EQ(CountAllocations([&] { EXPECT_EQ(s.Decompress(first, out), Status::Ok); }), 0);
        EXPECT_EQ(CountAllocations([&] { EXPECT_EQ(s.Decompress(second, out), Status::Ok); }), 0);
    }
}

} // namespace
