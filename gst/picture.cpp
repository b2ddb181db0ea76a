#include "gst/picture.h"

#include <cstring>

namespace tarv_gst {

size_t OutputRowBytes(tarv::Variant v, int width)
{
    return v == tarv::Variant::Yuy2 ? 4 * ((static_cast<size_t>(width) + 1) / 2)
                                    : tarv::PictureRowBytes(v, width);
}

bool DecodePicture(tarv::FrameDecoder& decoder, tarv::Variant v, int width, int height,
                   const uint8_t* payload, size_t size, uint8_t* scratch, uint8_t* out,
                   size_t stride)
{
    const size_t packedRow = tarv::RowBytes(v, width);
    const size_t picture = tarv::PictureRowBytes(v, width);
    const bool bottomUp = tarv::Info(v).bottomUp;
    // GStreamer's rows are top-down; a YUY2 frame with the codec's row length
    // can take the packed frame as it is.
    const bool direct = !bottomUp && stride == packedRow;
    uint8_t* packed = direct ? out : scratch;
    if (!decoder.Decode(payload, size, packed))
        return false;
    const auto rows = static_cast<size_t>(height);
    for (size_t y = 0; y < rows; ++y) {
        uint8_t* row = out + y * stride;
        if (!direct)
            std::memcpy(row, packed + (bottomUp ? rows - 1 - y : y) * packedRow, picture);
        // An odd YUY2 width ends on a half pair: its missing Y is zero and the
        // V the codec does not keep is taken from its left neighbour, as the
        // tarv tool does.
        if (v == tarv::Variant::Yuy2 && width % 2 != 0) {
            row[picture] = 0;
            row[picture + 1] = width > 1 ? row[picture - 3] : 128;
        }
    }
    return true;
}

} // namespace tarv_gst
