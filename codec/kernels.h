// Gradient prediction on the planes of 16-bit samples.
//
// Prediction leaves, on each plane,
//   residual[r][c] = x[r][c] - (x[r][c-1] + x[r-1][c] - x[r-1][c-1])   (mod 2^16)
// with neighbours outside the plane taken as 0, and its inverse restores x
// exactly. The residual definition is part of the compressed format; the plain
// two-pass kernels of reference/kernels.h are the model these are checked against.
//
// p[r][c] is p + r * step + c. Columns at `width` and beyond (row tails) are
// never read or written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarv {

// One plane inside the sample buffer: its first sample and its geometry.
struct PlaneSpan {
    size_t offset; // first sample
    int32_t width; // samples per row
    int32_t rows;
    uint32_t step; // samples from one row to the next
};

// Prediction on each plane in turn: the residuals end where the planes were.
// 1, or 0 when a buffer is absent. Row tails are not touched in either buffer;
// what `scratch` holds afterwards is unspecified.
int PredictPlanes(uint16_t* samples, uint16_t* scratch, const PlaneSpan* planes, size_t count);
// The inverse on each plane in turn: the planes end where the residuals were.
int UnpredictPlanes(uint16_t* samples, uint16_t* scratch, const PlaneSpan* planes, size_t count);

// The optimised kernels behind PredictPlanes and UnpredictPlanes, one plane in
// place, row by row in one pass:
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

} // namespace tarv
