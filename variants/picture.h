// Decoded packed frames into top-down pictures, as FFmpeg, GStreamer and VLC
// hold them: the one copy the tool and both players make of each frame.
#pragma once

#include "variants/frame_coder.h"

#include <cstddef>
#include <cstdint>

namespace tarv {

// How a picture holds 24-bit pixels: as the codec keeps them (B,G,R, FFmpeg's
// bgr24 and GStreamer's BGR) or turned round (R,G,B, VLC's usual RGB24).
enum class RgbOrder { Bgr, Rgb };

// Bytes of a picture row this wide that a copy fills: a YUY2 row ends on a
// whole pixel pair.
size_t TopDownRowBytes(Variant v, int width);

// Copies a packed frame (FrameDecoder's) into `height` rows, top row first,
// `stride` bytes apart, each at least PictureRowBytes() long. At an odd YUY2
// width a row with room for TopDownRowBytes() also gets the lone last pixel's
// other half: the missing Y is 0 and the V, which the codec does not keep, is
// the left neighbour's (128 when the picture is one pixel wide). `packed` may
// be `pixels` itself when the rows already lie where the picture wants them: a
// top-down variant (YUY2) at a stride of RowBytes().
void PackedToPicture(Variant v, int width, int height, const uint8_t* packed, uint8_t* pixels,
                     size_t stride, RgbOrder order);

} // namespace tarv
