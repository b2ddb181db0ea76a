// Range coder speed on a block shaped like a frame's prediction residuals.
#include "entropy/range_coder.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using tarv::CRangeCoder16;

constexpr uint32_t kSamples = 4u << 20;

// Two-sided geometric residuals wrapped to 16 bits: mostly values near 0 and
// just below 65,536, about 5 bits a sample, like gradient residuals of video.
std::vector<uint16_t> ResidualBlock(uint32_t count)
{
    std::mt19937 rng(20261208);
    std::geometric_distribution<int> magnitude(0.12);
    std::bernoulli_distribution negative(0.5);
    std::vector<uint16_t> block(count);
    for (auto& s : block) {
        const int m = magnitude(rng);
        s = static_cast<uint16_t>(negative(rng) ? -m : m);
    }
    return block;
}

uint32_t MaxPayload(uint32_t count)
{
    return 4 + 12 * CRangeCoder16::kAlphabetSize + 2 * count;
}

void SetCounters(benchmark::State& state, uint32_t payloadBytes)
{
    // Inverted rate: seconds per sample, printed with an SI prefix (n = ns).
    state.counters["time/sample"] = benchmark::Counter(
        static_cast<double>(kSamples),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["bits/sample"] = 8.0 * payloadBytes / kSamples;
}

void BM_Encode(benchmark::State& state)
{
    const std::vector<uint16_t> block = ResidualBlock(kSamples);
    std::vector<uint8_t> payload(MaxPayload(kSamples));
    CRangeCoder16 coder;
    coder.SetSymbolCount(CRangeCoder16::kAlphabetSize);
    if (!coder.AllocateTable()) {
        state.SkipWithError("table allocation failed");
        return;
    }
    uint32_t length = 0;
    for (auto _ : state) {
        length = static_cast<uint32_t>(payload.size());
        if (!coder.Encode(payload.data(), length, block.data(), kSamples)) {
            state.SkipWithError("encode failed");
            return;
        }
        benchmark::DoNotOptimize(payload.data());
    }
    SetCounters(state, length);
}

void BM_Decode(benchmark::State& state)
{
    const std::vector<uint16_t> block = ResidualBlock(kSamples);
    std::vector<uint8_t> payload(MaxPayload(kSamples));
    std::vector<uint16_t> decoded(kSamples);
    CRangeCoder16 coder;
    coder.SetSymbolCount(CRangeCoder16::kAlphabetSize);
    uint32_t length = static_cast<uint32_t>(payload.size());
    if (!coder.AllocateTable() || !coder.Encode(payload.data(), length, block.data(), kSamples)) {
        state.SkipWithError("setup failed");
        return;
    }
    for (auto _ : state) {
        uint32_t count = kSamples;
        if (!coder.Decode(payload.data(), length, decoded.data(), count) || count != 2 * kSamples) {
            state.SkipWithError("decode failed");
            return;
        }
        benchmark::DoNotOptimize(decoded.data());
    }
    if (decoded != block)
        state.SkipWithError("decoded block differs");
    SetCounters(state, length);
}

} // namespace

BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
