#include "variants/picture.h"

#include "variants/registry.h"

#include <cstring>

namespace tarv {
namespace {

// In place too: each pixel is read whole before it is written.
void SwapRedAndBlue(const uint8_t* in, uint8_t* out, size_t bytes)
{
    for (size_t x = 0; x < bytes; x += 3) {
        const uint8_t blue = in[x], green = in[x + 1], red = in[x + 2];
        out[x] = red;
        out[x + 1] = green;
        out[x + 2] = blue;
    }
}

} // namespace

size_t TopDownRowBytes(Variant v, int width)
{
    switch (Info(v).picture) {
    case PictureFormat::Yuyv422:
        return 4 * ((static_cast<size_t>(width) + 1) / 2);
    case PictureFormat::Bgr24:
        return PictureRowBytes(v, width);
    }
    return 0;
}

void PackedToPicture(Variant v, int width, int height, const uint8_t* packed, uint8_t* pixels,
                     size_t stride, RgbOrder order)
{
    const size_t row = RowBytes(v, width);
    const size_t bytes = PictureRowBytes(v, width);
    const auto rows = static_cast<size_t>(height);
    const bool bottomUp = Info(v).bottomUp;
    const PictureFormat format = Info(v).picture;
    const bool swap = format == PictureFormat::Bgr24 && order == RgbOrder::Rgb;
    const bool halfPair =
        format == PictureFormat::Yuyv422 && width % 2 != 0 && stride >= TopDownRowBytes(v, width);
    for (size_t y = 0; y < rows; ++y) {
        const uint8_t* in = packed + (bottomUp ? rows - 1 - y : y) * row;
        uint8_t* out = pixels + y * stride;
        if (swap)
            SwapRedAndBlue(in, out, bytes);
        else if (in != out)
            std::memcpy(out, in, bytes);
        if (halfPair) {
            out[bytes] = 0;
            out[bytes + 1] = width > 1 ? out[bytes - 3] : 128;
        }
    }
}

} // namespace tarv
