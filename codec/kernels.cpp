#include "codec/kernels.h"

#include <cstddef>

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

int PredictPlanes(uint16_t* samples, uint16_t* scratch, const PlaneSpan* planes, size_t count)
{
    if (samples == nullptr || scratch == nullptr)
        return 0;
    for (size_t i = 0; i < count; ++i) {
        const PlaneSpan& p = planes[i];
        if (!PredictRows(samples + p.offset, scratch + p.offset, p.width, p.rows, p.step) ||
            !PredictColumns(scratch + p.offset, samples + p.offset, p.width, p.rows, p.step))
            return 0;
    }
    return 1;
}

int UnpredictPlanes(uint16_t* samples, uint16_t* scratch, const PlaneSpan* planes, size_t count)
{
    if (samples == nullptr || scratch == nullptr)
        return 0;
    for (size_t i = 0; i < count; ++i) {
        const PlaneSpan& p = planes[i];
        if (!UnpredictRows(samples + p.offset, scratch + p.offset, p.width, p.rows, p.step) ||
            !UnpredictColumns(scratch + p.offset, samples + p.offset, p.width, p.rows, p.step))
            return 0;
    }
    return 1;
}
