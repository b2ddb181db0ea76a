// A decoded Tarv frame into a VLC picture: what the module does with each
// frame, kept apart from VLC so that it is fuzzed on its own.
#pragma once

#include "variants/frame_coder.h"

#include <cstddef>
#include <cstdint>

namespace tarv_vlc {

// Copies a packed frame (FrameDecoder's) into `height` picture rows, top row
// first, `pitch` bytes apart and each at least PictureRowBytes() long. RGB
// pixels are turned round from the codec's B,G,R into VLC's R,G,B.
void CopyPicture(tarv::Variant v, int width, int height, const uint8_t* packed, uint8_t* pixels,
                 size_t pitch);

} // namespace tarv_vlc
