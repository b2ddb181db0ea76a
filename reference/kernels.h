// The plain model of gradient prediction: the literal two-pass kernels, for
// tests and benchmarks to check the codec's in-place kernels (codec/kernels.h)
// against. The codec libraries never link it.
//
// The forward pair (PredictRows, then PredictColumns on its result) leaves
//   residual[r][c] = x[r][c] - (x[r][c-1] + x[r-1][c] - x[r-1][c-1])   (mod 2^16)
// with neighbours outside the plane taken as 0. Each pass alone negates its
// difference, so the two negations cancel. The inverse pair (UnpredictRows, then
// UnpredictColumns) restores x exactly: the passes work on different axes and
// commute.
//
// p[r][c] is p + r * rowStep + c. Source and destination must be different
// buffers. Columns at `width` and beyond (row tails) are never read or written.
// Each kernel returns 1, or 0 when a pointer is absent; a width or row count of 0
// or less touches nothing.
#pragma once

#include <cstdint>

namespace tarv {

int PredictRows(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                uint32_t rowStep);
int PredictColumns(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                   uint32_t rowStep);
int UnpredictRows(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                  uint32_t rowStep);
int UnpredictColumns(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                     uint32_t rowStep);

} // namespace tarv
