// Byte buffers and the little-endian 32-bit fields that payloads are made of.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarv_test {

using Bytes = std::vector<uint8_t>;

// What buffers hold before a call, to show which bytes the call wrote.
inline constexpr uint8_t kFill = 0xA7;

inline uint32_t Le32(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline uint32_t Le32(const Bytes& b, size_t at)
{
    return Le32(b.data() + at);
}

inline void PutLe32(uint8_t* p, uint32_t v)
{
    for (size_t i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void PutLe32(Bytes& b, size_t at, uint32_t v)
{
    PutLe32(b.data() + at, v);
}

} // namespace tarv_test
