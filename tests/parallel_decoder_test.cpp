// The frame-parallel decoder and its parts: items worked on by several threads
// and handed back in order, and the one copy of a decoded frame into a
// top-down picture that the tool and the players make.
#include "tests/support/bytes.h"
#include "tests/support/expect.h"
#include "tests/support/frames.h"
#include "variants/parallel_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

using tarv::FrameLayout;
using tarv::RgbOrder;
using tarv::Variant;
using tarv_test::Bytes;
using tarv_test::kFill;

constexpr uint8_t F = kFill; // a byte the copy must leave alone

TEST(OrderedWorkers, HandsBackEveryItemInOrderWhateverTheThreads)
{
    for (const int threads : {0, 1, 2, 5}) {
        std::atomic<int> badWorker{0};
        tarv::OrderedWorkers<std::pair<int, int>> workers(threads, [&](int w, auto& s) {
            if (w < 0 || w >= std::max(threads, 1))
                ++badWorker;
            // Uneven work, so later items often finish first.
            volatile int spin = 0;
            for (int i = 0; i < (s.first % 7) * 20000; ++i)
                spin = spin + 1;
            s.second = s.first * 3;
        });
        std::vector<int> got;
        auto take = [&] {
            const auto& s = workers.Front();
            EXPECT_EQ(s.second, s.first * 3);
            got.push_back(s.first);
            workers.Pop();
        };
        for (int i = 0; i < 200; ++i) {
            if (workers.Full())
                take();
            workers.Back() = {i, -1};
            workers.Submit();
        }
        while (!workers.Empty())
            take();
        ASSERT_EQ(got.size(), 200u);
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(got[static_cast<size_t>(i)], i) << threads << " threads";
        EXPECT_EQ(badWorker, 0);
    }
}

TEST(OrderedWorkers, AFailedItemRethrowsAtItsTurn)
{
    tarv::OrderedWorkers<int> workers(2, [](int, int& s) {
        if (s == 3)
            throw std::runtime_error("item 3");
    });
    for (int i = 0; i < 4; ++i) {
        workers.Back() = i;
        workers.Submit();
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(workers.Front(), i);
        workers.Pop();
    }
    EXPECT_THROW(workers.Front(), std::runtime_error);
    // Once: then the item is handed over as its work left it.
    EXPECT_EQ(workers.Front(), 3);
    workers.Pop();
    workers.Back() = 4;
    workers.Submit();
    // Destruction with submitted work left must not hang or crash.
}

// Packed rows in, picture rows out, padding of either as given.
TEST(PackedToPicture, FlipsTurnsRoundAndCompletesTheLastPixelPair)
{
    const struct {
        const char* name;
        Variant v;
        int width, height;
        size_t stride;
        RgbOrder order;
        bool inPlace;
        Bytes packed, picture;
    } cases[] = {
        {"odd YUY2 width: Y 0, the left neighbour's V",
         Variant::Yuy2,
         3,
         1,
         8,
         RgbOrder::Bgr,
         false,
         {10, 20, 30, 40, 50, 60, 0, 0},
         {10, 20, 30, 40, 50, 60, 0, 40}},
        {"one pixel wide: V 128",
         Variant::Yuy2,
         1,
         1,
         4,
         RgbOrder::Rgb,
         false,
         {10, 20, 0, 0},
         {10, 20, 0, 128}},
        {"no room for the pair's other half",
         Variant::Yuy2,
         3,
         1,
         7,
         RgbOrder::Bgr,
         false,
         {10, 20, 30, 40, 50, 60, 0, 0},
         {10, 20, 30, 40, 50, 60, F}},
        {"in place, rows top-down",
         Variant::Yuy2,
         3,
         2,
         8,
         RgbOrder::Bgr,
         true,
         {10, 20, 30, 40, 50, 60, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0},
         {10, 20, 30, 40, 50, 60, 0, 40, 1, 2, 3, 4, 5, 6, 0, 4}},
        {"RGB rows bottom-up turned top-down",
         Variant::Rgb24,
         1,
         2,
         3,
         RgbOrder::Bgr,
         false,
         {1, 2, 3, 0, 4, 5, 6, 0},
         {4, 5, 6, 1, 2, 3}},
        {"R,G,B order",
         Variant::Rgb24,
         2,
         2,
         7,
         RgbOrder::Rgb,
         false,
         {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0},
         {9, 8, 7, 12, 11, 10, F, 3, 2, 1, 6, 5, 4, F}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.packed.size(), tarv::FrameBytes(c.v, c.width, c.height));
        Bytes picture = c.inPlace ? c.packed : Bytes(c.picture.size(), kFill);
        tarv::PackedToPicture(c.v, c.width, c.height, c.inPlace ? picture.data() : c.packed.data(),
                              picture.data(), c.stride, c.order);
        EXPECT_EQ(picture, c.picture);
    }
}

// Frames come back in their order, each decoded where it was sent, whatever
// the threads; a damaged payload and a frame with nowhere to go come back in
// their place, not decoded.
TEST(ParallelDecoder, KeepsTheOrderAndReportsDamagedFrames)
{
    constexpr int kWidth = 33, kHeight = 17;
    constexpr size_t kFrames = 12, kDamaged = 4, kNowhere = 7;
    for (const Variant v : tarv::AllVariants()) {
        const tarv::FrameFormat format = tarv_test::RawFormat(v, kWidth, kHeight);
        tarv::FrameEncoder encoder(v, kWidth, kHeight);
        std::vector<Bytes> frames, payloads(kFrames);
        for (size_t i = 0; i < kFrames; ++i) {
            frames.push_back(
                tarv_test::Frame(format, tarv_test::Content::Photo, static_cast<uint32_t>(i)));
            ASSERT_TRUE(encoder.Encode(frames.back().data(), payloads[i]));
        }
        std::fill_n(payloads[kDamaged].begin(), 4, 0xFF); // a record count far past the payload
        for (const int threads : {1, 3}) {
            for (const FrameLayout layout : {FrameLayout::Packed, FrameLayout::Picture}) {
                SCOPED_TRACE(testing::Message() << tarv::Info(v).name << ", " << threads
                                                << " threads, layout " << static_cast<int>(layout));
                // At the packed row's stride a picture is the packed frame,
                // its rows top-down.
                tarv::FrameFormat got = format;
                if (layout == FrameLayout::Picture)
                    got.height = tarv::Info(v).bottomUp ? -kHeight : kHeight;
                tarv::ParallelDecoder<size_t> decoder(v, kWidth, kHeight, threads, layout);
                std::vector<Bytes> pictures(kFrames, Bytes(format.sizeImage, kFill));
                size_t next = 0;
                std::vector<size_t> order;
                auto fill = [&](tarv::ParallelDecoder<size_t>::Frame& f) {
                    if (next == kFrames)
                        return false;
                    f.tag = next;
                    f.payload = payloads[next].data();
                    f.size = payloads[next].size();
                    f.pixels = next == kNowhere ? nullptr : pictures[next].data();
                    f.stride = tarv::RowBytes(v, kWidth);
                    ++next;
                    return true;
                };
                auto take = [&](tarv::ParallelDecoder<size_t>::Frame& f) {
                    order.push_back(f.tag);
                    EXPECT_EQ(f.decoded, f.tag != kDamaged && f.tag != kNowhere) << f.tag;
                    if (f.decoded) {
                        EXPECT_EQ(tarv_test::PictureDifference(v, pictures[f.tag].data(), got,
                                                               frames[f.tag].data(), format),
                                  "")
                            << "frame " << f.tag;
                    }
                };
                tarv::RunInOrder(decoder, fill, take);
                std::vector<size_t> expected(kFrames);
                std::iota(expected.begin(), expected.end(), size_t{0});
                EXPECT_EQ(order, expected);
            }
        }
    }
}

} // namespace
