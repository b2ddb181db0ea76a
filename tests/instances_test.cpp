// Many instances of one library at once, as editors, converters and
// multi-threaded players open them: each keeps its own configuration, and
// instances on different threads never touch each other's frames. Built once
// for each library; TARV_VARIANT names its variant.
#include "tests/support/driver_host.h"
#include "tests/support/frames.h"
#include "tests/support/headers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace tarv_test;

constexpr tarv::Variant kVariant = tarv::Variant::TARV_VARIANT;

// One open instance with a compression and a decompression stream configured
// for one frame size, as a host keeps a clip open.
class Stream {
public:
    Stream(const Library& lib, LONG width, LONG height)
        : m_lib(lib), m_id(lib.Open()), m_raw(RawHeader(kVariant, width, height))
    {
        BITMAPINFOHEADER raw = m_raw;
        m_capacity = m_lib.Send(m_id, ICM_COMPRESS_GET_SIZE, P(&raw));
        m_ready =
            m_id != 0 &&
            m_lib.Send(m_id, ICM_COMPRESS_GET_FORMAT, P(&raw), P(&m_compressed)) == ICERR_OK &&
            m_lib.Send(m_id, ICM_COMPRESS_BEGIN, P(&raw), P(&m_compressed)) == ICERR_OK &&
            m_lib.Send(m_id, ICM_DECOMPRESS_BEGIN, P(&m_compressed), P(&raw)) == ICERR_OK;
    }
    ~Stream()
    {
        if (m_id != 0)
            m_lib.Send(m_id, DRV_CLOSE);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    bool Ready() const { return m_ready; }
    DWORD_PTR Id() const { return m_id; }

    // A frame of noise: every pixel and padding byte comes from `seed`.
    Bytes Frame(uint32_t seed) const
    {
        return tarv_test::Frame(FormatOf(m_raw), Content::Noise, seed);
    }

    // ICM_COMPRESS; an empty payload when it fails.
    Encoded Compress(const Bytes& frame) const
    {
        Encoded e;
        if (tarv_test::Compress(m_lib, m_id, m_compressed.biCompression, m_raw, frame, m_capacity,
                                &e) != ICERR_OK)
            e.payload.clear();
        return e;
    }

    // ICM_DECOMPRESS, and whether the picture is `frame` exactly (row padding
    // is no part of the picture).
    bool DecodesTo(const Encoded& e, const Bytes& frame) const
    {
        Bytes picture(m_raw.biSizeImage);
        return !e.payload.empty() &&
               tarv_test::Decompress(m_lib, m_id, e, m_raw, picture) == ICERR_OK &&
               PictureDifference(kVariant, picture.data(), FormatOf(m_raw), frame.data(),
                                 FormatOf(m_raw))
                   .empty();
    }

private:
    const Library& m_lib;
    DWORD_PTR m_id;
    BITMAPINFOHEADER m_raw;
    BITMAPINFOHEADER m_compressed{};
    LRESULT m_capacity = 0;
    bool m_ready = false;
};

class Instances : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(lib.Loaded()) << dlerror(); }
    Library lib{LibraryPath(kVariant)};
};

// An editor's timeline: two clips of different sizes open at once, their
// frames interleaved.
TEST_F(Instances, TwoSizesAtOnceInterleave)
{
    Stream big(lib, 161, 91), small(lib, 33, 17);
    ASSERT_TRUE(big.Ready() && small.Ready());
    ASSERT_NE(big.Id(), small.Id());
    for (uint32_t i = 0; i < 4; ++i) {
        const Bytes a = big.Frame(i), b = small.Frame(100 + i);
        const Encoded ea = big.Compress(a), eb = small.Compress(b);
        EXPECT_TRUE(big.DecodesTo(ea, a)) << "frame " << i;
        EXPECT_TRUE(small.DecodesTo(eb, b)) << "frame " << i;
    }
}

// A multi-threaded host: each thread codes on an instance of its own while
// another opens, configures and closes instances beside them. ThreadSanitizer
// runs this too (the tsan preset).
TEST_F(Instances, ThreadsWithAnInstanceEachNeverMixFrames)
{
    constexpr int kFrames = 150;
    std::atomic<int> wrong{0}, refused{0};
    const auto code = [&](LONG width, LONG height, uint32_t seed) {
        Stream s(lib, width, height);
        if (!s.Ready()) {
            ++refused;
            return;
        }
        for (int i = 0; i < kFrames; ++i) {
            const Bytes frame = s.Frame(seed + static_cast<uint32_t>(i));
            if (!s.DecodesTo(s.Compress(frame), frame))
                ++wrong;
        }
    };
    const auto churn = [&] {
        for (int i = 0; i < kFrames; ++i) {
            const Stream s(lib, 64 + i % 7, 16);
            if (!s.Ready())
                ++refused;
        }
    };
    std::thread threads[] = {std::thread(code, 96, 64, 1), std::thread(code, 75, 41, 5000),
                             std::thread(churn)};
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0) << "of " << 2 * kFrames << " round trips";
    EXPECT_EQ(refused.load(), 0);
}

// Opens beyond what the library can hold are refused like a failed allocation,
// and a close makes room again.
TEST_F(Instances, OpensPastTheLimitAreRefusedUntilOneCloses)
{
    std::vector<DWORD_PTR> ids;
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = kFourCC_vidc;
    for (;;) {
        const auto id = static_cast<DWORD_PTR>(lib.Send(0, DRV_OPEN, 0, P(&open)));
        if (id == 0)
            break;
        ids.push_back(id);
        ASSERT_LT(ids.size(), 100000u) << "no limit";
    }
    EXPECT_EQ(ids.size(), 4096u);
    EXPECT_EQ(open.dwError, ICERR_MEMORY);
    EXPECT_EQ(lib.Send(ids[100], DRV_CLOSE), 1);
    ids[100] = static_cast<DWORD_PTR>(lib.Send(0, DRV_OPEN, 0, P(&open)));
    EXPECT_NE(ids[100], 0u);
    EXPECT_EQ(open.dwError, ICERR_OK);
    for (DWORD_PTR id : ids) {
        ASSERT_EQ(lib.Send(id, ICM_GETINFO), 568) << "a live instance is not found";
        EXPECT_EQ(lib.Send(id, DRV_CLOSE), 1);
    }
}

} // namespace
