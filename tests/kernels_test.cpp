#include "reference/kernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using tarv::PredictColumns;
using tarv::PredictRows;
using tarv::UnpredictColumns;
using tarv::UnpredictRows;
using Plane = std::vector<uint16_t>;
using Kernel = int (*)(const uint16_t*, uint16_t*, int32_t, int32_t, uint32_t);

constexpr uint16_t kSentinel = 0xBEEF;

// Forward pair: PredictRows into scratch, PredictColumns back into the plane.
Plane Forward(Plane x, int32_t w, int32_t h, uint32_t step)
{
    Plane scratch(x.size(), kSentinel);
    EXPECT_EQ(PredictRows(x.data(), scratch.data(), w, h, step), 1);
    EXPECT_EQ(PredictColumns(scratch.data(), x.data(), w, h, step), 1);
    return x;
}

Plane Inverse(Plane x, int32_t w, int32_t h, uint32_t step)
{
    Plane scratch(x.size(), kSentinel);
    EXPECT_EQ(UnpredictRows(x.data(), scratch.data(), w, h, step), 1);
    EXPECT_EQ(UnpredictColumns(scratch.data(), x.data(), w, h, step), 1);
    return x;
}

TEST(Kernels, TwoByTwoPlaneGoesThroughEveryPass)
{
    const Plane x = {10, 12, 11, 15};
    Plane rows(4), residuals(4), unrows(4), restored(4);
    ASSERT_EQ(PredictRows(x.data(), rows.data(), 2, 2, 2), 1);
    EXPECT_EQ(rows, (Plane{65526, 65534, 65525, 65532}));
    ASSERT_EQ(PredictColumns(rows.data(), residuals.data(), 2, 2, 2), 1);
    EXPECT_EQ(residuals, (Plane{10, 2, 1, 2}));
    ASSERT_EQ(UnpredictRows(residuals.data(), unrows.data(), 2, 2, 2), 1);
    EXPECT_EQ(unrows, (Plane{65526, 65524, 65535, 65533}));
    ASSERT_EQ(UnpredictColumns(unrows.data(), restored.data(), 2, 2, 2), 1);
    EXPECT_EQ(restored, x);
}

TEST(Kernels, ResidualsOfSmallPlanes)
{
    struct Case {
        const char* name;
        int32_t width, rows;
        Plane x, residuals;
    };
    const Case cases[] = {
        {"wrap-around", 2, 1, {65535, 0}, {65535, 1}},
        {"constant", 3, 3, Plane(9, 77), {77, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"width 1 is x - top", 1, 4, {5, 9, 3, 3}, {5, 4, 65530, 0}},
        {"rows 1 is x - left", 4, 1, {5, 9, 3, 3}, {5, 4, 65530, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t step = static_cast<uint32_t>(c.width);
        EXPECT_EQ(Forward(c.x, c.width, c.rows, step), c.residuals);
        EXPECT_EQ(Inverse(c.residuals, c.width, c.rows, step), c.x);
    }
}

TEST(Kernels, RoundTripKeepsRowTailsOfBothBuffers)
{
    struct Shape {
        int32_t width, rows;
        uint32_t step;
    };
    std::mt19937 rng(7);
    const Kernel kernels[] = {PredictRows, PredictColumns, UnpredictRows, UnpredictColumns};
    for (const Shape& s : {Shape{1, 1, 8}, Shape{3, 5, 8}, Shape{7, 4, 16}, Shape{13, 9, 16},
                           Shape{8, 3, 8}, Shape{17, 2, 19}}) {
        SCOPED_TRACE(testing::Message() << s.width << "x" << s.rows << " step " << s.step);
        const size_t w = static_cast<size_t>(s.width), h = static_cast<size_t>(s.rows);
        Plane x(s.step * h, kSentinel);
        for (size_t r = 0; r < h; ++r)
            for (size_t c = 0; c < w; ++c)
                x[r * s.step + c] = static_cast<uint16_t>(rng());
        // Each kernel alone leaves the tails of both its source and its destination alone.
        for (Kernel k : kernels) {
            Plane src = x, dst(x.size(), kSentinel);
            ASSERT_EQ(k(src.data(), dst.data(), s.width, s.rows, s.step), 1);
            EXPECT_EQ(src, x);
            for (size_t r = 0; r < h; ++r)
                for (size_t c = w; c < s.step; ++c)
                    ASSERT_EQ(dst[r * s.step + c], kSentinel);
        }
        EXPECT_EQ(Inverse(Forward(x, s.width, s.rows, s.step), s.width, s.rows, s.step), x);
    }
}

TEST(Kernels, NullPointersFailAndEmptyPlanesTouchNothing)
{
    Plane a(16, 1), b(16, kSentinel);
    for (Kernel k : {PredictRows, PredictColumns, UnpredictRows, UnpredictColumns}) {
        EXPECT_EQ(k(nullptr, b.data(), 2, 2, 8), 0);
        EXPECT_EQ(k(a.data(), nullptr, 2, 2, 8), 0);
        for (const auto& [w, h] : {std::pair{0, 2}, std::pair{2, 0}, std::pair{-1, 2},
                                   std::pair{2, -3}, std::pair{INT32_MIN, INT32_MIN}})
            EXPECT_EQ(k(a.data(), b.data(), w, h, 8), 1);
        EXPECT_EQ(b, Plane(16, kSentinel));
    }
}

} // namespace
