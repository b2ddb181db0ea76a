#include "tests/support/frames.h"

#include "variants/frame_coder.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace tarv_test {

Bytes Frame(const tarv::FrameFormat& format, Content content, uint32_t seed)
{
    const size_t bytes = format.sizeImage;
    const auto row = static_cast<size_t>(
        std::max<int64_t>(1, tarv::PackedRowBytes(format.width, format.bitCount)));
    Bytes f(std::max<size_t>(1, bytes));
    std::mt19937 rng(seed);
    for (size_t i = 0; i < bytes; ++i) {
        const auto x = static_cast<int64_t>(i % row), y = static_cast<int64_t>(i / row);
        int64_t v = 0;
        switch (content) {
        case Content::Noise:
            v = rng() & 0xFF;
            break;
        case Content::Photo: {
            const int64_t dx = x - 150, dy = y - 90;
            const int64_t grain = static_cast<int64_t>(rng() % 7) - 3;
            v = 128 + (dx * dx + 3 * dy * dy) / 700 % 90 - 45 + ((x / 6 + y / 4) % 5) * 3 + grain;
            break;
        }
        case Content::Flat:
            v = 77;
            break;
        case Content::Ramp:
            v = static_cast<int64_t>((i * 3 + i / row) & 0xFF);
            break;
        }
        f[i] = static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
    }
    return f;
}

std::string PictureDifference(tarv::Variant v, const uint8_t* got,
                              const tarv::FrameFormat& gotFormat, const uint8_t* want,
                              const tarv::FrameFormat& wantFormat, std::optional<uint8_t> padding)
{
    const size_t rows = static_cast<size_t>(wantFormat.height < 0 ? -int64_t{wantFormat.height}
                                                                  : int64_t{wantFormat.height});
    const size_t picture = tarv::PictureRowBytes(v, wantFormat.width);
    const auto gotRow =
        static_cast<size_t>(tarv::PackedRowBytes(gotFormat.width, gotFormat.bitCount));
    const auto wantRow =
        static_cast<size_t>(tarv::PackedRowBytes(wantFormat.width, wantFormat.bitCount));
    const bool flipped =
        tarv::Info(v).bottomUp && (gotFormat.height < 0) != (wantFormat.height < 0);
    for (size_t y = 0; y < rows; ++y) {
        const uint8_t* row = got + (flipped ? rows - 1 - y : y) * gotRow;
        if (std::memcmp(row, want + y * wantRow, picture) != 0)
            return "picture of row " + std::to_string(y);
        if (padding &&
            std::any_of(row + picture, row + gotRow, [&](uint8_t b) { return b != *padding; }))
            return "padding of row " + std::to_string(y);
    }
    return "";
}

} // namespace tarv_test
