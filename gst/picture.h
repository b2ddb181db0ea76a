// A Tarv payload into a GStreamer picture: what tarvdec's workers do with each
// frame, kept apart from GStreamer so that it is fuzzed on its own.
#pragma once

#include "variants/frame_coder.h"

#include <cstddef>
#include <cstdint>

namespace tarv_gst {

// Bytes of a GStreamer row of this width that carry picture: YUY2 rows end on
// a whole pixel pair.
size_t OutputRowBytes(tarv::Variant v, int width);

// Decodes a payload into `height` rows, top row first, `stride` bytes apart
// and each at least OutputRowBytes() long. `scratch` holds FrameBytes() bytes:
// the packed frame, when it cannot be decoded into the picture as it is. False
// for a damaged payload.
bool DecodePicture(tarv::FrameDecoder& decoder, tarv::Variant v, int width, int height,
                   const uint8_t* payload, size_t size, uint8_t* scratch, uint8_t* out,
                   size_t stride);

} // namespace tarv_gst
