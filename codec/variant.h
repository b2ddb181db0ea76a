// What a variant is: the facts that make one pixel format a codec of the family.
// Each variant defines one of these beside its classes; the driver of a codec
// library binds to one, and the variant table (variants/registry.h) lists them
// all for the tool, the tests, the fuzz targets and the benchmarks.
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

struct VariantInfo {
    Variant variant;
    const char* name;     // the variant's one name: "yuy2", "rgb24"
    const char* library;  // the codec library that carries it: "tarvy", "tarvr"
    const char* fourcc;   // compressed format: "TRVY", "TRVR"
    uint32_t fourccValue; // the same as a format code
    const char16_t* description;
    // Packed formats it takes and gives; the first is the one it proposes.
    std::span<const uint32_t> rawFormats;
    uint16_t bitCount; // bits a packed pixel: 16 or 24
    bool bottomUp;     // a positive height stores the bottom row first (RGB)
    // New codec objects, or null when memory runs out.
    CEncoder* (*newEncoder)() noexcept;
    CDecoder* (*newDecoder)() noexcept;
    // Where its planes lie in the sample buffer of a configured codec object.
    std::array<PlaneSpan, 3> (*layout)(const PlaneInfo* planes);
};

} // namespace tarv
