#include "codec/kernels.h"

#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)
#define TARV_X86 1
#include <emmintrin.h>
#else
#define TARV_X86 0
#endif

namespace tarv {

namespace {

bool Empty(int32_t width, int32_t rows)
{
    return width <= 0 || rows <= 0;
}

uint16_t Sub(uint16_t a, uint16_t b)
{
    return static_cast<uint16_t>(a - b);
}

// The plain C in-place kernels, and the scalar tails of the SIMD ones: from
// column c on, with `left` the sample before c as it was before the pass.
void PredictRowFrom(uint16_t* x, uint16_t* row, int32_t c, int32_t width, uint16_t left, bool above)
{
    for (; c < width; ++c) {
        const uint16_t d = Sub(x[c], left);
        left = x[c];
        x[c] = Sub(d, above ? row[c] : 0);
        row[c] = d;
    }
}

// `carry` is the running sum of the residuals before c.
void RunningSumFrom(const uint16_t* residual, const uint16_t* up, uint16_t* out, int32_t c,
                    int32_t width, uint16_t carry)
{
    for (; c < width; ++c) {
        carry = static_cast<uint16_t>(carry + residual[c]);
        out[c] = static_cast<uint16_t>(carry + (up != nullptr ? up[c] : 0));
    }
}

void PredictPlaneC(uint16_t* plane, uint16_t* row, int32_t width, int32_t rows, uint32_t rowStep)
{
    if (Empty(width, rows))
        return;
    for (int32_t r = 0; r < rows; ++r)
        PredictRowFrom(plane + static_cast<size_t>(r) * rowStep, row, 0, width, 0, r > 0);
}

void UnpredictPlaneC(uint16_t* plane, int32_t width, int32_t rows, uint32_t rowStep)
{
    if (Empty(width, rows))
        return;
    for (int32_t r = 0; r < rows; ++r) {
        uint16_t* x = plane + static_cast<size_t>(r) * rowStep;
        RunningSumFrom(x, r == 0 ? nullptr : x - rowStep, x, 0, width, 0);
    }
}

#if TARV_X86

// SSE2, whatever the compiler was told to assume: a 32-bit build runs on
// processors without it, and chooses at run time.
#define TARV_SSE2 __attribute__((target("sse2")))

// d of this row goes to `row` once d of the row above has been used.
TARV_SSE2 void PredictPlaneSSE2(uint16_t* plane, uint16_t* row, int32_t width, int32_t rows,
                                uint32_t rowStep)
{
    if (Empty(width, rows))
        return;
    for (int32_t r = 0; r < rows; ++r) {
        uint16_t* x = plane + static_cast<size_t>(r) * rowStep;
        const bool above = r > 0;
        int32_t c = 0;
        __m128i before = _mm_setzero_si128();
        for (; c + 8 <= width; c += 8) {
            const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + c));
            const __m128i shifted =
                _mm_or_si128(_mm_slli_si128(cur, 2), _mm_srli_si128(before, 14));
            const __m128i d = _mm_sub_epi16(cur, shifted);
            const __m128i up = above ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + c))
                                     : _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i*>(x + c), _mm_sub_epi16(d, up));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + c), d);
            before = cur;
        }
        const auto left = static_cast<uint16_t>(c > 0 ? _mm_extract_epi16(before, 7) : 0);
        PredictRowFrom(x, row, c, width, left, above);
    }
}

// In-row running sums 8 lanes at a time: three shifted adds give each lane the
// sum of itself and the lanes before it.
TARV_SSE2 void UnpredictPlaneSSE2(uint16_t* plane, int32_t width, int32_t rows, uint32_t rowStep)
{
    if (Empty(width, rows))
        return;
    for (int32_t r = 0; r < rows; ++r) {
        uint16_t* x = plane + static_cast<size_t>(r) * rowStep;
        const uint16_t* up = r == 0 ? nullptr : x - rowStep;
        int32_t c = 0;
        __m128i carried = _mm_setzero_si128();
        for (; c + 8 <= width; c += 8) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + c));
            v = _mm_add_epi16(v, _mm_slli_si128(v, 2));
            v = _mm_add_epi16(v, _mm_slli_si128(v, 4));
            v = _mm_add_epi16(v, _mm_slli_si128(v, 8));
            v = _mm_add_epi16(v, carried);
            carried = _mm_shufflehi_epi16(_mm_unpackhi_epi64(v, v), 0xFF);
            carried = _mm_unpackhi_epi64(carried, carried);
            const __m128i above = up != nullptr
                                      ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + c))
                                      : _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i*>(x + c), _mm_add_epi16(v, above));
        }
        RunningSumFrom(x, up, x, c, width, static_cast<uint16_t>(_mm_extract_epi16(carried, 7)));
    }
}

#endif

// Plain C first, the fastest last.
constexpr PlaneKernels kImplementations[] = {
    {"c", PredictPlaneC, UnpredictPlaneC},
#if TARV_X86
    {"sse2", PredictPlaneSSE2, UnpredictPlaneSSE2},
#endif
};

size_t CountSupported()
{
#if TARV_X86
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2") ? 2 : 1;
#else
    return 1;
#endif
}

} // namespace

std::span<const PlaneKernels> SupportedPlaneKernels()
{
    static const size_t count = CountSupported();
    return {kImplementations, count};
}

const PlaneKernels& ActivePlaneKernels()
{
    return SupportedPlaneKernels().back();
}

int PredictPlanes(uint16_t* samples, uint16_t* scratch, const PlaneSpan* planes, size_t count)
{
    if (samples == nullptr || scratch == nullptr)
        return 0;
    const PlaneKernels& kernels = ActivePlaneKernels();
    for (size_t i = 0; i < count; ++i) {
        const PlaneSpan& p = planes[i];
        kernels.predict(samples + p.offset, scratch + p.offset, p.width, p.rows, p.step);
    }
    return 1;
}

int UnpredictPlanes(uint16_t* samples, uint16_t* scratch, const PlaneSpan* planes, size_t count)
{
    if (samples == nullptr || scratch == nullptr)
        return 0;
    const PlaneKernels& kernels = ActivePlaneKernels();
    for (size_t i = 0; i < count; ++i) {
        const PlaneSpan& p = planes[i];
        kernels.unpredict(samples + p.offset, p.width, p.rows, p.step);
    }
    return 1;
}

} // namespace tarv
