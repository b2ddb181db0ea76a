#include "reference/kernels.h"

#include <cstddef>

namespace tarv {

namespace {

// The four kernels are one pass each, along the rows or down the columns. On
// every line it negates the first sample and subtracts each later one from the
// sample before it on the line: the source's when predicting, the one it has
// just written when undoing a prediction.
enum class Axis { Rows, Columns };
enum class Before { Source, Destination };

int Pass(Axis axis, Before before, const uint16_t* source, uint16_t* destination, int32_t width,
         int32_t rows, uint32_t rowStep)
{
    if (source == nullptr || destination == nullptr)
        return 0;
    if (width <= 0 || rows <= 0)
        return 1;
    const bool alongRows = axis == Axis::Rows;
    const auto lines = static_cast<size_t>(alongRows ? rows : width);
    const auto length = static_cast<size_t>(alongRows ? width : rows);
    const size_t lineStep = alongRows ? rowStep : 1, step = alongRows ? 1 : rowStep;
    for (size_t line = 0; line < lines; ++line) {
        const uint16_t* s = source + line * lineStep;
        uint16_t* d = destination + line * lineStep;
        const uint16_t* earlier = before == Before::Source ? s : d;
        d[0] = static_cast<uint16_t>(-s[0]);
        for (size_t k = 1; k < length; ++k)
            d[k * step] = static_cast<uint16_t>(earlier[(k - 1) * step] - s[k * step]);
    }
    return 1;
}

} // namespace

int PredictRows(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                uint32_t rowStep)
{
    return Pass(Axis::Rows, Before::Source, source, destination, width, rows, rowStep);
}

int PredictColumns(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                   uint32_t rowStep)
{
    return Pass(Axis::Columns, Before::Source, source, destination, width, rows, rowStep);
}

int UnpredictRows(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                  uint32_t rowStep)
{
    return Pass(Axis::Rows, Before::Destination, source, destination, width, rows, rowStep);
}

int UnpredictColumns(const uint16_t* source, uint16_t* destination, int32_t width, int32_t rows,
                     uint32_t rowStep)
{
    return Pass(Axis::Columns, Before::Destination, source, destination, width, rows, rowStep);
}

} // namespace tarv
