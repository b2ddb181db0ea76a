// Packed frames for tests: made from a seed, and compared as pictures.
#pragma once

#include "codec/format.h"
#include "tests/support/bytes.h"
#include "variants/registry.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tarv_test {

// Noise (which does not compress), a photo-like mix of smooth shapes, texture
// and grain, one flat value, or a ramp that wraps through every byte value.
// The golden payloads pin these bytes.
enum class Content { Noise, Photo, Flat, Ramp };

// The sizeImage bytes of a packed frame, row padding made like the pixels (it
// must not reach a payload). Never empty, so that its data pointer is valid
// even for a frame of no rows. Integers only and mt19937's defined sequence,
// so every compiler and platform makes the same bytes.
Bytes Frame(const tarv::FrameFormat& format, Content content, uint32_t seed = 1);

// Where the picture in `got` differs from the one in `want`, or "" when they
// agree: a row's first PictureRowBytes bytes are picture, the rest padding,
// which must hold `padding` when given. The rows are `want`'s; a bottom-up
// variant's frame described with the other sign of height lies upside down.
std::string PictureDifference(tarv::Variant v, const uint8_t* got,
                              const tarv::FrameFormat& gotFormat, const uint8_t* want,
                              const tarv::FrameFormat& wantFormat,
                              std::optional<uint8_t> padding = std::nullopt);

} // namespace tarv_test
