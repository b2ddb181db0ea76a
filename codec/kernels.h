// Gradient prediction kernels on one plane of 16-bit samples.
//
// The forward pair (PredictRows, then PredictColumns on its result) leaves
//   residual[r][c] = x[r][c] - (x[r][c-1] + x[r-1][c] - x[r-1][c-1])   (mod 2^16)
// with neighbours outside the plane taken as 0. Each pass alone negates its
// difference, so the two negations cancel. The inverse pair (UnpredictRows, then
// UnpredictColumns) restores x exactly: the passes work on different axes and
// commute. The residual definition is part of the compressed format.
//
// p[r][c] is p + r * rowStep + c. Source and destination must be different
// buffers. Columns at `width` and beyond (row tails) are never read or written.
// Each kernel returns 1, or 0 when a pointer is absent; a width or row count of 0
// or less touches nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

int PredictRows(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                uint32_t rowStep);
int PredictColumns(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                   uint32_t rowStep);
int UnpredictRows(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                  uint32_t rowStep);
int UnpredictColumns(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                     uint32_t rowStep);

// One plane inside the sample buffer: its first sample and its geometry.
struct PlaneSpan {
    size_t offset; // first sample
    int32_t width; // samples per row
    int32_t rows;
    uint32_t step; // samples from one row to the next
};

// The forward pair on each plane in turn: the residuals end where the planes
// were. 1, or 0 when a buffer is absent. Row tails are not touched in either
// buffer; what `scratch` holds afterwards is unspecified.
int PredictPlanes(uint16_t* samples, uint16_t* scratch, const PlaneSpan* planes, size_t count);
// The inverse pair on each plane in turn: the planes end where the residuals were.
int UnpredictPlanes(uint16_t* samples, uint16_t* scratch, const PlaneSpan* planes, size_t count);

// The optimised kernels behind PredictPlanes and UnpredictPlanes, one plane in
// place, row by row in one pass: the same results as the pairs above.
//   predict:   residual[r][c] = d[r][c] - d[r-1][c] with d[r][c] = x[r][c] - x[r][c-1];
//              `row` holds `width` samples (d of the previous row) and its old
//              content does not matter.
//   unpredict: x[r] = x[r-1] + the running sum of residual row r, from the left.
// One table per instruction set; the codec runs the best that the processor has,
// chosen once, at the first frame.
struct PlaneKernels {
    const char* name; // "c", "sse2"
    void (*predict)(uint16_t* plane, uint16_t* row, int32_t width, int32_t rows, uint32_t rowStep);
    void (*unpredict)(uint16_t* plane, int32_t width, int32_t rows, uint32_t rowStep);
};

// Every implementation this processor runs: plain C first, the fastest last.
std::span<const PlaneKernels> SupportedPlaneKernels();
// The one PredictPlanes and UnpredictPlanes use: the last supported one.
const PlaneKernels& ActivePlaneKernels();
