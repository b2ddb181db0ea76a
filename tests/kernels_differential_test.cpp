// The in-place prediction kernels against the reference pairs, on random planes
// of every width up to past eight SIMD lanes, with random row tails: every
// implementation that this processor runs, on the same data.
#include "codec/kernels.h"
#include "reference/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using tarv::PlaneKernels;
using tarv::PlaneSpan;
using tarv::PredictColumns;
using tarv::PredictPlanes;
using tarv::PredictRows;
using tarv::SupportedPlaneKernels;
using tarv::UnpredictColumns;
using tarv::UnpredictPlanes;
using tarv::UnpredictRows;
using Plane = std::vector<uint16_t>;

// Raw generator output only, so that a seed names the same data everywhere.
uint32_t Below(std::mt19937& g, uint32_t n)
{
    return static_cast<uint32_t>(g() % n);
}

// Mostly random samples, with the values where signed and unsigned or
// saturating and wrapping 16-bit arithmetic differ.
uint16_t RandomSample(std::mt19937& g)
{
    static constexpr uint16_t kEdges[] = {0, 1, 0x7FFF, 0x8000, 0x8001, 0xFFFF};
    const auto x = static_cast<uint32_t>(g());
    return (x & 3) == 0 ? kEdges[(x >> 2) % 6] : static_cast<uint16_t>(x >> 16);
}

Plane RandomPlane(std::mt19937& g, size_t size)
{
    Plane p(size);
    for (auto& v : p)
        v = RandomSample(g);
    return p;
}

size_t End(const PlaneSpan& s)
{
    return s.offset + static_cast<size_t>(s.rows - 1) * s.step + static_cast<size_t>(s.width);
}

bool Inside(const PlaneSpan& s, size_t at)
{
    return at >= s.offset && at < End(s) && (at - s.offset) % s.step < static_cast<size_t>(s.width);
}

// Checks `got` against `inside` on the planes' samples and against `outside`
// (the buffer before the kernel) everywhere else: tails, gaps, leads.
testing::AssertionResult Matches(const uint16_t* got, const Plane& inside, const Plane& outside,
                                 const std::vector<PlaneSpan>& spans)
{
    for (size_t at = 0; at < outside.size(); ++at) {
        const bool in = std::any_of(spans.begin(), spans.end(),
                                    [&](const PlaneSpan& s) { return Inside(s, at); });
        const uint16_t want = in ? inside[at] : outside[at];
        if (got[at] != want)
            return testing::AssertionFailure() << (in ? "plane" : "untouchable") << " sample " << at
                                               << " is " << got[at] << ", want " << want;
    }
    return testing::AssertionSuccess();
}

std::unique_ptr<uint16_t[]> ExactCopy(const Plane& p)
{
    std::unique_ptr<uint16_t[]> q(new uint16_t[p.size()]);
    std::copy(p.begin(), p.end(), q.get());
    return q;
}

// The reference pairs on each span, source to destination through a scratch
// plane; everything outside the spans keeps its value.
Plane ReferencePredict(const Plane& x, const std::vector<PlaneSpan>& spans)
{
    Plane out = x, scratch(x.size());
    for (const PlaneSpan& s : spans) {
        EXPECT_EQ(PredictRows(&x[s.offset], &scratch[s.offset], s.width, s.rows, s.step), 1);
        EXPECT_EQ(PredictColumns(&scratch[s.offset], &out[s.offset], s.width, s.rows, s.step), 1);
    }
    return out;
}

Plane ReferenceUnpredict(const Plane& x, const std::vector<PlaneSpan>& spans)
{
    Plane out = x, scratch(x.size());
    for (const PlaneSpan& s : spans) {
        EXPECT_EQ(UnpredictRows(&x[s.offset], &scratch[s.offset], s.width, s.rows, s.step), 1);
        EXPECT_EQ(UnpredictColumns(&scratch[s.offset], &out[s.offset], s.width, s.rows, s.step), 1);
    }
    return out;
}

class KernelsDifferential : public testing::TestWithParam<PlaneKernels> {};

TEST_P(KernelsDifferential, InPlaceKernelsMatchReferencePairsOnEveryShape)
{
    const PlaneKernels& k = GetParam();
    constexpr int kRounds = 2;
    std::mt19937 g(0x5EED);
    for (int round = 0; round < kRounds; ++round) {
        for (int32_t width = 1; width <= 70; ++width) {
            for (int32_t rows = 1; rows <= 9; ++rows) {
                // A lead of 0..7 samples moves the plane across SIMD alignments; the
                // buffer ends at the plane's last sample, so a read past it shows.
                const PlaneSpan s{Below(g, 8), width, rows,
                                  static_cast<uint32_t>(width) + Below(g, 9)};
                SCOPED_TRACE(testing::Message()
                             << width << "x" << rows << " step " << s.step << " lead " << s.offset);
                const std::vector<PlaneSpan> spans = {s};
                const Plane x = RandomPlane(g, End(s));

                // The row buffer's old content must not matter.
                const auto row = ExactCopy(RandomPlane(g, static_cast<size_t>(width)));
                const auto residuals = ExactCopy(x);
                k.predict(&residuals[s.offset], row.get(), width, rows, s.step);
                ASSERT_TRUE(Matches(residuals.get(), ReferencePredict(x, spans), x, spans));

                const auto restored = ExactCopy(x);
                k.unpredict(&restored[s.offset], width, rows, s.step);
                ASSERT_TRUE(Matches(restored.get(), ReferenceUnpredict(x, spans), x, spans));

                k.unpredict(&residuals[s.offset], width, rows, s.step);
                ASSERT_TRUE(Matches(residuals.get(), x, x, spans)) << "predict then unpredict";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Supported, KernelsDifferential,
                         testing::ValuesIn(SupportedPlaneKernels().begin(),
                                           SupportedPlaneKernels().end()),
                         [](const testing::TestParamInfo<PlaneKernels>& p) {
                             return std::string(p.param.name);
                         });

// The codec's entry points, on the implementation it chose.
TEST(KernelsDifferentialPlanes, PlaneListsMatchReferencePairs)
{
    constexpr int kLayouts = 300;
    std::mt19937 g(0x91A7E5);
    for (int layout = 0; layout < kLayouts; ++layout) {
        // One to four planes in one buffer, one after another with small gaps,
        // as the variants lay them out.
        std::vector<PlaneSpan> spans;
        size_t end = 0;
        for (uint32_t k = 1 + Below(g, 4); k > 0; --k) {
            const auto width = static_cast<int32_t>(1 + Below(g, 70));
            const auto rows = static_cast<int32_t>(1 + Below(g, 9));
            spans.push_back(
                {end + Below(g, 6), width, rows, static_cast<uint32_t>(width) + Below(g, 9)});
            end = End(spans.back());
        }
        SCOPED_TRACE(testing::Message() << "layout " << layout);
        const Plane x = RandomPlane(g, end), scratchBefore = RandomPlane(g, end);

        for (bool forward : {true, false}) {
            SCOPED_TRACE(forward ? "PredictPlanes" : "UnpredictPlanes");
            const auto samples = ExactCopy(x), scratch = ExactCopy(scratchBefore);
            const int rc =
                forward ? PredictPlanes(samples.get(), scratch.get(), spans.data(), spans.size())
                        : UnpredictPlanes(samples.get(), scratch.get(), spans.data(), spans.size());
            ASSERT_EQ(rc, 1);
            const Plane want = forward ? ReferencePredict(x, spans) : ReferenceUnpredict(x, spans);
            ASSERT_TRUE(Matches(samples.get(), want, x, spans));
            // The scratch may change on the planes' samples only.
            ASSERT_TRUE(Matches(scratch.get(), Plane(scratch.get(), scratch.get() + end),
                                scratchBefore, spans));
        }
    }
}

} // namespace
