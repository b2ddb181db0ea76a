#include "codec/kernels.h"

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool Empty(int32_t width, int32_t rows)
{
    return width <= 0 || rows <= 0;
}

uint16_t Sub(uint16_t a, uint16_t b)
{
    return static_cast<uint16_t>(a - b);
}
uint16_t Neg(uint16_t a)
{
    return static_cast<uint16_t>(-a);
}

} // namespace

int PredictRows(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                uint32_t rowStep)
{
    if (source == nullptr || destination == nullptr)
        return 0;
    if (Empty(width, rows))
        return 1;
    for (int32_t r = 0; r < rows; ++r) {
        const uint16_t* s = source + static_cast<size_t>(r) * rowStep;
        uint16_t* d = destination + static_cast<size_t>(r) * rowStep;
        d[0] = Neg(s[0]);
        for (int32_t c = 1; c < width; ++c)
            d[c] = Sub(s[c - 1], s[c]);
    }
    return 1;
}

int PredictColumns(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                   uint32_t rowStep)
{
    if (source == nullptr || destination == nullptr)
        return 0;
    if (Empty(width, rows))
        return 1;
    for (int32_t c = 0; c < width; ++c) {
        const uint16_t* s = source + c;
        uint16_t* d = destination + c;
        d[0] = Neg(s[0]);
        for (int32_t r = 1; r < rows; ++r) {
            const size_t at = static_cast<size_t>(r) * rowStep;
            d[at] = Sub(s[at - rowStep], s[at]);
        }
    }
    return 1;
}

int UnpredictRows(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                  uint32_t rowStep)
{
    if (source == nullptr || destination == nullptr)
        return 0;
    if (Empty(width, rows))
        return 1;
    for (int32_t r = 0; r < rows; ++r) {
        const uint16_t* s = source + static_cast<size_t>(r) * rowStep;
        uint16_t* d = destination + static_cast<size_t>(r) * rowStep;
        d[0] = Neg(s[0]);
        for (int32_t c = 1; c < width; ++c)
            d[c] = Sub(d[c - 1], s[c]);
    }
    return 1;
}

int UnpredictColumns(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                     uint32_t rowStep)
{
    if (source == nullptr || destination == nullptr)
        return 0;
    if (Empty(width, rows))
        return 1;
    for (int32_t c = 0; c < width; ++c) {
        const uint16_t* s = source + c;
        uint16_t* d = destination + c;
        d[0] = Neg(s[0]);
        for (int32_t r = 1; r < rows; ++r) {
            const size_t at = static_cast<size_t>(r) * rowStep;
            d[at] = Sub(d[at - rowStep], s[at]);
        }
    }
    return 1;
}

namespace {

// In-row running sums, 8 lanes at a time where SSE2 is there: three shifted
// adds give each lane the sum of itself and the lanes before it.
void RunningSumAddedTo(const uint16_t* residual, const uint16_t* up, uint16_t* out, int32_t width)
{
    int32_t c = 0;
    uint16_t carry = 0;
#if defined(__SSE2__)
    __m128i carried = _mm_setzero_si128();
    for (; c + 8 <= width; c += 8) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual + c));
        x = _mm_add_epi16(x, _mm_slli_si128(x, 2));
        x = _mm_add_epi16(x, _mm_slli_si128(x, 4));
        x = _mm_add_epi16(x, _mm_slli_si128(x, 8));
        x = _mm_add_epi16(x, carried);
        carried = _mm_shufflehi_epi16(_mm_unpackhi_epi64(x, x), 0xFF);
        carried = _mm_unpackhi_epi64(carried, carried);
        const __m128i above = up != nullptr
                                  ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + c))
                                  : _mm_setzero_si128();
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), _mm_add_epi16(x, above));
    }
    carry = static_cast<uint16_t>(_mm_extract_epi16(carried, 7));
#endif
    for (; c < width; ++c) {
        carry = static_cast<uint16_t>(carry + residual[c]);
        out[c] = static_cast<uint16_t>(carry + (up != nullptr ? up[c] : 0));
    }
}

} // namespace

void PredictPlaneInPlace(uint16_t* plane, uint16_t* row, int32_t width, int32_t rows,
                         uint32_t rowStep)
{
    if (Empty(width, rows))
        return;
    for (int32_t r = 0; r < rows; ++r) {
        uint16_t* x = plane + static_cast<size_t>(r) * rowStep;
        const bool above = r > 0;
        // d of this row goes to `row` once d of the row above has been used.
        int32_t c = 0;
        uint16_t left = 0; // x[c - 1] as it was before this pass
#if defined(__SSE2__)
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
        if (c > 0)
            left = static_cast<uint16_t>(_mm_extract_epi16(before, 7));
#endif
        for (; c < width; ++c) {
            const uint16_t d = Sub(x[c], left);
            left = x[c];
            x[c] = Sub(d, above ? row[c] : 0);
            row[c] = d;
        }
    }
}

void UnpredictPlaneInPlace(uint16_t* plane, int32_t width, int32_t rows, uint32_t rowStep)
{
    if (Empty(width, rows))
        return;
    for (int32_t r = 0; r < rows; ++r) {
        uint16_t* x = plane + static_cast<size_t>(r) * rowStep;
        RunningSumAddedTo(x, r == 0 ? nullptr : x - rowStep, x, width);
    }
}

int PredictPlanes(uint16_t* samples, uint16_t* scratch, const PlaneSpan* planes, size_t count)
{
    if (samples == nullptr || scratch == nullptr)
        return 0;
    for (size_t i = 0; i < count; ++i) {
        const PlaneSpan& p = planes[i];
        PredictPlaneInPlace(samples + p.offset, scratch + p.offset, p.width, p.rows, p.step);
    }
    return 1;
}

int UnpredictPlanes(uint16_t* samples, uint16_t* scratch, const PlaneSpan* planes, size_t count)
{
    if (samples == nullptr || scratch == nullptr)
        return 0;
    for (size_t i = 0; i < count; ++i) {
        const PlaneSpan& p = planes[i];
        UnpredictPlaneInPlace(samples + p.offset, p.width, p.rows, p.step);
    }
    return 1;
}
