// One 1080p photo frame through every stage, beside the speed-of-light loops.
//
// The payload is one range-coded stream per frame, a serial chain, so the bare
// per-sample arithmetic of the format on this frame's residuals is the limit:
// the encode loop (reciprocal multiply for range / T, carry, branch-free
// renormalisation, nothing else) and the decode loop (one true division per
// sample, a small lookup table, renormalisation). Whole Compress and Decompress
// are reported against them, measured in the same run.
//
// The frame is TARV_BENCH_PHOTO, or flower.png from Debian's libjxl-testdata,
// scaled and cropped to 1920x1080; without either, FFmpeg's testsrc2 with grain.
#include "codec/kernels.h"
#include "reference/kernels.h"
#include "reference/range_coder.h"
#include "tools/shared/clip.h"
#include "tools/shared/packing.h"
#include "variants/frame_coder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr char kFlower[] = "/usr/share/libjxl-testdata/jxl/flower/flower.png";

// ---- The speed-of-light loops ------------------------------------------------

uint32_t DivideBy(uint64_t reciprocal, uint32_t n)
{
    __extension__ using Wide = unsigned __int128;
    return static_cast<uint32_t>((static_cast<Wide>(reciprocal) * n) >> 64);
}

void StoreBE32(uint8_t* p, uint32_t v)
{
    v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

uint32_t LoadBE32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}

size_t SolEncode(const uint16_t* samples, uint32_t count, const uint32_t* cum, const uint32_t* freq,
                 uint8_t* out)
{
    const uint64_t reciprocal = UINT64_MAX / count + 1;
    uint32_t low = 0, range = 0x80000000u;
    size_t pos = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t s = samples[i];
        const uint32_t r = DivideBy(reciprocal, range);
        const uint32_t next = low + r * cum[s];
        range = r * freq[s];
        if (next < low) {
            size_t p = pos;
            while (p != 0 && ++out[--p] == 0) {
            }
        }
        low = next;
        const unsigned n = static_cast<unsigned>(__builtin_clz(range)) >> 3;
        StoreBE32(out + pos, low);
        pos += n;
        low = static_cast<uint32_t>(static_cast<uint64_t>(low) << (8 * n));
        range <<= 8 * n;
    }
    StoreBE32(out + pos, low);
    return pos + 4;
}

struct Lookup {
    std::vector<uint32_t> cum, freq, symbol;
    std::vector<uint16_t> bucket;
    uint32_t shift = 0;
};

void SolDecode(const uint8_t* coded, uint32_t total, const Lookup& t, uint16_t* out)
{
    const uint64_t reciprocal = UINT64_MAX / total + 1;
    uint32_t low = LoadBE32(coded), range = 0x80000000u;
    const uint8_t* next = coded + 4;
    for (uint32_t i = 0; i < total; ++i) {
        const uint32_t r = DivideBy(reciprocal, range);
        const uint32_t v = low / r;
        uint32_t k = t.bucket[v >> t.shift];
        while (v >= t.cum[k] + t.freq[k])
            ++k;
        out[i] = static_cast<uint16_t>(t.symbol[k]);
        range = r * t.freq[k];
        low -= r * t.cum[k];
        const unsigned n = static_cast<unsigned>(__builtin_clz(range)) >> 3;
        low = static_cast<uint32_t>((static_cast<uint64_t>(low) << 32 | LoadBE32(next)) >>
                                    (32 - 8 * n));
        range <<= 8 * n;
        next += n;
    }
}

// ---- The frame and what each stage needs ----------------------------------

struct Stage {
    tarv::Variant variant;
    std::vector<uint8_t> packed;    // the frame as a driver caller hands it
    std::vector<uint16_t> residual; // the coded block
    std::vector<uint8_t> payload;   // Compress's output, table and coded bytes
    std::vector<uint8_t> coded;     // the coded bytes alone, with zero padding
    std::vector<uint32_t> cum, freq;
    Lookup lookup;
    tarv::FrameFormat raw{}, compressed{};
    std::unique_ptr<tarv::CEncoder> encoder;
    std::unique_ptr<tarv::CDecoder> decoder;
};

std::vector<tarv::FramePtr> Picture()
{
    const char* chosen = std::getenv("TARV_BENCH_PHOTO");
    const std::string path = chosen != nullptr ? chosen : kFlower;
    if (std::filesystem::exists(path))
        return tarv::FilterFrames(
            "movie=" + path + ",scale=" + std::to_string(kWidth) + ":" + std::to_string(kHeight) +
                ":force_original_aspect_ratio=increase,crop=" + std::to_string(kWidth) + ":" +
                std::to_string(kHeight) + ",format=rgb24",
            1);
    std::fprintf(stderr, "no photo at %s: using FFmpeg's testsrc2 with grain\n", path.c_str());
    return tarv::GenerateClip(kWidth, kHeight, 1);
}

Stage& Get(tarv::Variant v)
{
    static std::map<tarv::Variant, std::unique_ptr<Stage>> stages;
    auto& slot = stages[v];
    if (slot)
        return *slot;
    static const std::vector<tarv::FramePtr> picture = Picture();
    slot = std::make_unique<Stage>();
    Stage& s = *slot;
    s.variant = v;
    s.packed.resize(tarv::FrameBytes(v, kWidth, kHeight));
    tarv::ToPacked(v, kWidth, kHeight).Convert(picture[0].get(), s.packed.data());

    const tarv::VariantInfo& info = tarv::Info(v);
    s.raw = tarv::PackedFrameFormat(kWidth, kHeight, info.rawFormats[0], info.bitCount);
    s.encoder.reset(info.newEncoder());
    s.decoder.reset(info.newDecoder());
    s.encoder->Prepare(&s.raw, nullptr);
    uint32_t length = s.encoder->GetMaxCompressedSize(kWidth, kHeight);
    s.payload.resize(length);
    s.encoder->Compress(s.raw, s.packed.data(), s.payload.data(), length);
    s.payload.resize(length);
    s.compressed = s.raw;
    s.compressed.compression = info.fourccValue;
    s.compressed.sizeImage = length;
    s.decoder->Prepare(&s.compressed, &s.raw);

    // The residuals, as Compress codes them, and the model of the block.
    const tarv::SampleBuffer& samples = s.encoder->Samples();
    s.residual.assign(samples.data, samples.data + samples.count);
    s.cum.assign(65536, 0);
    s.freq.assign(65536, 0);
    for (const uint16_t x : s.residual)
        ++s.freq[x];
    uint32_t sum = 0;
    for (uint32_t x = 0; x < 65536; ++x) {
        s.cum[x] = sum;
        sum += s.freq[x];
        if (s.freq[x] != 0) {
            s.lookup.cum.push_back(s.cum[x]);
            s.lookup.freq.push_back(s.freq[x]);
            s.lookup.symbol.push_back(x);
        }
    }
    const auto total = static_cast<uint32_t>(s.residual.size());
    while (((total - 1) >> s.lookup.shift) >= 4096)
        ++s.lookup.shift;
    for (uint32_t b = 0, k = 0; b <= (total - 1) >> s.lookup.shift; ++b) {
        while (s.lookup.cum[k] + s.lookup.freq[k] <= (b << s.lookup.shift))
            ++k;
        s.lookup.bucket.push_back(static_cast<uint16_t>(k));
    }
    const size_t tableBytes = 4 + 12 * s.lookup.cum.size();
    s.coded.assign(s.payload.begin() + static_cast<long>(tableBytes), s.payload.end());
    s.coded.resize(s.coded.size() + 8, 0);
    return s;
}

void Counters(benchmark::State& state, const Stage& s)
{
    state.counters["ns/sample"] = benchmark::Counter(static_cast<double>(s.residual.size()),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
    state.counters["ratio"] =
        static_cast<double>(s.packed.size()) / static_cast<double>(s.payload.size());
}

tarv::Variant VariantOf(const benchmark::State& state)
{
    return state.range(0) == 0 ? tarv::Variant::Yuy2 : tarv::Variant::Rgb24;
}

void BM_Compress(benchmark::State& state)
{
    Stage& s = Get(VariantOf(state));
    std::vector<uint8_t> out(s.encoder->GetMaxCompressedSize(kWidth, kHeight));
    for (auto _ : state) {
        auto length = static_cast<uint32_t>(out.size());
        if (s.encoder->Compress(s.raw, s.packed.data(), out.data(), length) != tarv::Status::Ok)
            state.SkipWithError("Compress failed");
    }
    Counters(state, s);
}

void BM_Decompress(benchmark::State& state)
{
    Stage& s = Get(VariantOf(state));
    std::vector<uint8_t> out(s.packed.size());
    for (auto _ : state)
        if (s.decoder->Decompress(s.compressed, s.payload.data(), s.raw, out.data()) !=
            tarv::Status::Ok)
            state.SkipWithError("Decompress failed");
    if (out != s.packed && s.variant == tarv::Variant::Rgb24)
        state.SkipWithError("decoded frame differs");
    Counters(state, s);
}

void BM_SpeedOfLightEncode(benchmark::State& state)
{
    Stage& s = Get(VariantOf(state));
    std::vector<uint8_t> out(s.payload.size() + 16);
    size_t bytes = 0;
    for (auto _ : state) {
        bytes = SolEncode(s.residual.data(), static_cast<uint32_t>(s.residual.size()), s.cum.data(),
                          s.freq.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    if (bytes + 4 + 12 * s.lookup.cum.size() != s.payload.size())
        state.SkipWithError("the bare loop wrote another length");
    Counters(state, s);
}

void BM_SpeedOfLightDecode(benchmark::State& state)
{
    Stage& s = Get(VariantOf(state));
    std::vector<uint16_t> out(s.residual.size());
    for (auto _ : state) {
        SolDecode(s.coded.data(), static_cast<uint32_t>(out.size()), s.lookup, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    if (out != s.residual)
        state.SkipWithError("the bare loop decoded other samples");
    Counters(state, s);
}

// The coder alone, fast and reference paths.
void BM_CoderEncode(benchmark::State& state)
{
    Stage& s = Get(VariantOf(state));
    tarv::CRangeCoder16 coder;
    coder.SetSymbolCount(tarv::CRangeCoder16::kAlphabetSize);
    coder.AllocateTable();
    std::vector<uint8_t> out(s.payload.size() + 1024);
    const bool reference = state.range(1) != 0;
    for (auto _ : state) {
        auto length = static_cast<uint32_t>(out.size());
        const auto count = static_cast<uint32_t>(s.residual.size());
        const int ok = reference
                           ? tarv::EncodeReference(out.data(), length, s.residual.data(), count)
                           : coder.Encode(out.data(), length, s.residual.data(), count);
        if (!ok)
            state.SkipWithError("Encode failed");
    }
    Counters(state, s);
}

void BM_CoderDecode(benchmark::State& state)
{
    Stage& s = Get(VariantOf(state));
    tarv::CRangeCoder16 coder;
    coder.SetSymbolCount(tarv::CRangeCoder16::kAlphabetSize);
    coder.AllocateTable();
    std::vector<uint16_t> out(s.residual.size());
    const bool reference = state.range(1) != 0;
    for (auto _ : state) {
        auto count = static_cast<uint32_t>(out.size());
        const auto length = static_cast<uint32_t>(s.payload.size());
        const int ok =
            reference ? tarv::DecodeReference(coder, s.payload.data(), length, out.data(), count)
                      : coder.Decode(s.payload.data(), length, out.data(), count);
        if (!ok)
            state.SkipWithError("Decode failed");
    }
    Counters(state, s);
}

// The prediction kernels over every plane: the reference pairs (implementation
// 0), then each in-place implementation (1 plain C, 2 SSE2) that the processor runs.
void BM_Predict(benchmark::State& state)
{
    Stage& s = Get(VariantOf(state));
    const auto implementation = static_cast<size_t>(state.range(1));
    const bool reference = implementation == 0;
    if (implementation > tarv::SupportedPlaneKernels().size()) {
        state.SkipWithError("not supported on this processor");
        return;
    }
    const tarv::PlaneKernels& kernels =
        tarv::SupportedPlaneKernels()[reference ? 0 : implementation - 1];
    state.SetLabel(reference ? "reference" : kernels.name);
    tarv::SampleBuffer work, scratch;
    work.Allocate(static_cast<int64_t>(s.residual.size()));
    scratch.Allocate(static_cast<int64_t>(s.residual.size()));
    const tarv::PlaneInfo planes[3] = {s.encoder->Plane(0), s.encoder->Plane(1),
                                       s.encoder->Plane(2)};
    const auto spans = tarv::Info(s.variant).layout(planes);
    const bool inverse = state.range(2) != 0;
    for (auto _ : state) {
        for (const tarv::PlaneSpan& p : spans) {
            uint16_t* x = work.data + p.offset;
            uint16_t* t = scratch.data + p.offset;
            if (reference && !inverse) {
                tarv::PredictRows(x, t, p.width, p.rows, p.step);
                tarv::PredictColumns(t, x, p.width, p.rows, p.step);
            } else if (reference) {
                tarv::UnpredictRows(x, t, p.width, p.rows, p.step);
                tarv::UnpredictColumns(t, x, p.width, p.rows, p.step);
            } else if (!inverse) {
                kernels.predict(x, t, p.width, p.rows, p.step);
            } else {
                kernels.unpredict(x, p.width, p.rows, p.step);
            }
        }
        benchmark::DoNotOptimize(work.data);
    }
    Counters(state, s);
}

// Variant: 0 YUY2, 1 RGB24.
BENCHMARK(BM_Compress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpeedOfLightEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decompress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpeedOfLightDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
// Variant, reference path.
BENCHMARK(BM_CoderEncode)->Args({0, 0})->Args({1, 0})->Args({1, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoderDecode)->Args({0, 0})->Args({1, 0})->Args({1, 1})->Unit(benchmark::kMillisecond);
// Variant, implementation, inverse.
BENCHMARK(BM_Predict)->ArgsProduct({{1}, {0, 1, 2}, {0, 1}})->Unit(benchmark::kMillisecond);

// Prints whole frames against the bare loops once every benchmark has run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override
    {
        // One run, or the median of repetitions.
        for (const Run& r : runs)
            if (!r.error_occurred &&
                (r.run_type == Run::RT_Iteration || r.aggregate_name == "median"))
                m_ms[r.run_name.str()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nwhole frame against the bare serial loop (CPU time, same run):\n");
        for (const char* v : {"0", "1"}) {
            const char* name = v[0] == '0' ? "YUY2 " : "RGB24";
            for (const auto& [whole, bare] :
                 {std::pair{"BM_Compress/", "BM_SpeedOfLightEncode/"},
                  std::pair{"BM_Decompress/", "BM_SpeedOfLightDecode/"}}) {
                const auto a = m_ms.find(std::string(whole) + v);
                const auto b = m_ms.find(std::string(bare) + v);
                if (a == m_ms.end() || b == m_ms.end())
                    continue;
                std::printf("  %s %-11s %8.2f ms   bare loop %8.2f ms   ratio %.3f\n", name,
                            whole + 3, a->second, b->second, a->second / b->second);
            }
        }
    }

private:
    std::map<std::string, double> m_ms;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
