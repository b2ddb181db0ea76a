#include "vlc/picture.h"

#include <cstring>

namespace tarv_vlc {
namespace {

void CopyRgbRow(const uint8_t* bgr, uint8_t* rgb, size_t bytes)
{
    for (size_t x = 0; x < bytes; x += 3) {
        rgb[x] = bgr[x + 2];
        rgb[x + 1] = bgr[x + 1];
        rgb[x + 2] = bgr[x];
    }
}

} // namespace

void CopyPicture(tarv::Variant v, int width, int height, const uint8_t* packed, uint8_t* pixels,
                 size_t pitch)
{
    const size_t row = tarv::RowBytes(v, width);
    const size_t bytes = tarv::PictureRowBytes(v, width);
    const auto rows = static_cast<size_t>(height);
    // An odd YUY2 width leaves the lone last pixel without V: VLC's picture
    // has room for a whole pixel pair, and the left neighbour's V fills it.
    const bool fillV = v == tarv::Variant::Yuy2 && width % 2 != 0 && pitch >= bytes + 2;
    const bool bottomUp = tarv::Info(v).bottomUp;
    for (size_t y = 0; y < rows; ++y) {
        const uint8_t* in = packed + (bottomUp ? rows - 1 - y : y) * row;
        uint8_t* out = pixels + y * pitch;
        if (v == tarv::Variant::Rgb24) {
            CopyRgbRow(in, out, bytes);
            continue;
        }
        std::memcpy(out, in, bytes);
        if (fillV) {
            out[bytes] = 0;
            out[bytes + 1] = width > 1 ? in[bytes - 3] : 128;
        }
    }
}

} // namespace tarv_vlc
