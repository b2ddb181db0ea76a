// Whole-frame Compress and Decompress on a 1080p RGB24 frame with natural-looking
// content: smooth gradients with sensor-like noise.
#include "variants/rgb24/rgb24.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr LONG kWidth = 1920;
constexpr LONG kHeight = 1080;

BITMAPINFOHEADER RGBHeader()
{
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(h);
    h.biWidth = kWidth;
    h.biHeight = kHeight;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(PackedRowBytes(kWidth, 24) * kHeight);
    return h;
}

std::vector<uint8_t> NaturalFrame(const BITMAPINFOHEADER& h)
{
    std::mt19937 rng(1080);
    std::normal_distribution<double> noise(0.0, 2.0);
    const size_t rowBytes = static_cast<size_t>(PackedRowBytes(h.biWidth, 24));
    std::vector<uint8_t> frame(rowBytes * static_cast<size_t>(h.biHeight));
    for (LONG y = 0; y < h.biHeight; ++y) {
        for (LONG x = 0; x < h.biWidth; ++x) {
            const double base[3] = {40.0 + 150.0 * x / h.biWidth, 60.0 + 120.0 * y / h.biHeight,
                                    90.0 + 60.0 * (x + y) / (h.biWidth + h.biHeight)};
            for (int c = 0; c < 3; ++c) {
                const double v = base[c] + noise(rng);
                frame[static_cast<size_t>(y) * rowBytes + 3 * static_cast<size_t>(x) +
                      static_cast<size_t>(c)] = static_cast<uint8_t>(v < 0     ? 0
                                                                     : v > 255 ? 255
                                                                               : v);
            }
        }
    }
    return frame;
}

void SetCounters(benchmark::State& state, uint32_t compressedBytes, size_t rawBytes)
{
    const double samples = 3.0 * kWidth * kHeight;
    state.counters["time/sample"] = benchmark::Counter(
        samples, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["ratio"] = static_cast<double>(rawBytes) / compressedBytes;
}

struct Compressed {
    BITMAPINFOHEADER header{};
    std::vector<uint8_t> payload;
};

bool CompressOnce(CEncoderTarvRGB24& enc, BITMAPINFOHEADER& in, std::vector<uint8_t>& frame,
                  Compressed& out)
{
    DWORD ckid = 0;
    DWORD flags = 0;
    ICCOMPRESS icc{};
    icc.lpbiInput = &in;
    icc.lpInput = frame.data();
    icc.lpbiOutput = &out.header;
    icc.lpOutput = out.payload.data();
    icc.lpckid = &ckid;
    icc.lpdwFlags = &flags;
    return enc.Compress(&icc) == ICERR_OK;
}

void BM_CompressRGB24(benchmark::State& state)
{
    BITMAPINFOHEADER in = RGBHeader();
    std::vector<uint8_t> frame = NaturalFrame(in);
    CEncoderTarvRGB24 enc;
    Compressed out;
    out.payload.resize(enc.GetMaxCompressedSize(kWidth, kHeight));
    if (enc.Prepare(&in, nullptr) != ICERR_OK) {
        state.SkipWithError("prepare failed");
        return;
    }
    for (auto _ : state) {
        if (!CompressOnce(enc, in, frame, out)) {
            state.SkipWithError("compress failed");
            return;
        }
        benchmark::DoNotOptimize(out.payload.data());
    }
    SetCounters(state, out.header.biSizeImage, frame.size());
}

void BM_DecompressRGB24(benchmark::State& state)
{
    BITMAPINFOHEADER in = RGBHeader();
    std::vector<uint8_t> frame = NaturalFrame(in);
    CEncoderTarvRGB24 enc;
    CDecoderTarvRGB24 dec;
    Compressed packed;
    packed.payload.resize(enc.GetMaxCompressedSize(kWidth, kHeight));
    if (enc.Prepare(&in, nullptr) != ICERR_OK || !CompressOnce(enc, in, frame, packed) ||
        dec.Prepare(&packed.header, &in) != ICERR_OK) {
        state.SkipWithError("setup failed");
        return;
    }
    std::vector<uint8_t> decoded(frame.size());
    ICDECOMPRESS icd{};
    icd.lpbiInput = &packed.header;
    icd.lpInput = packed.payload.data();
    icd.lpbiOutput = &in;
    icd.lpOutput = decoded.data();
    for (auto _ : state) {
        if (dec.Decompress(&icd) != ICERR_OK) {
            state.SkipWithError("decompress failed");
            return;
        }
        benchmark::DoNotOptimize(decoded.data());
    }
    if (decoded != frame)
        state.SkipWithError("decoded frame differs");
    SetCounters(state, packed.header.biSizeImage, frame.size());
}

} // namespace

BENCHMARK(BM_CompressRGB24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecompressRGB24)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
