// What a variant is: the facts that make one pixel format a codec of the family,
// and the list of the variants. Each variant defines its VariantInfo beside its
// classes; the driver of a codec library binds to one, and the variant table
// (variants/registry.h) lists them all for the tool, the players, the tests,
// the fuzz targets and the benchmarks.
//
// A new variant is a value of Variant, its VariantInfo, a case in Info() and
// an entry in the table's list (registry.cpp); the compiler names each place
// that is missing: the switches have no default, and the list is checked
// against them.
#pragma once

#include "codec/format.h"
#include "codec/kernels.h"

#include <array>
#include <cstdint>
#include <span>

namespace tarv {

class CEncoder;
class CDecoder;
struct PlaneInfo;

enum class Variant { Yuy2, Rgb24 };

// How a decoded frame's pixels lie in a top-down picture: what a player asks
// its framework for. Each player maps these once, in a switch with no default.
enum class PictureFormat {
    Yuyv422, // Y0 U0 Y1 V0 a pixel pair; an odd width ends on half a pair
    Bgr24,   // B, G, R bytes a pixel
};

struct VariantInfo {
    Variant variant;
    const char* name;     // the variant's one name: "yuy2", "rgb24"
    const char* library;  // the codec library that carries it: "tarvy", "tarvr"
    const char* fourcc;   // compressed format: "TRVY", "TRVR"
    uint32_t fourccValue; // the same as a format code
    const char16_t* description;
    // Packed formats it takes and gives; the first is the one it proposes.
    std::span<const uint32_t> rawFormats;
    uint16_t bitCount;     // bits a packed pixel: 16 or 24
    bool bottomUp;         // a positive height stores the bottom row first (RGB)
    PictureFormat picture; // its pixels in a player's top-down picture
    // New codec objects, or null when memory runs out.
    CEncoder* (*newEncoder)() noexcept;
    CDecoder* (*newDecoder)() noexcept;
    // Where its planes lie in the sample buffer of a configured codec object.
    std::array<PlaneSpan, 3> (*layout)(const PlaneInfo* planes);
};

} // namespace tarv
