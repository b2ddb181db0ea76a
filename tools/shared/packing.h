// Decoded pictures of any pixel format into the codec's packed frames, with
// swscale, and what such a conversion loses.
#pragma once

#include "tools/shared/ffmpeg.h"
#include "variants/frame_coder.h"

#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace tarv {

inline constexpr int kScaleFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;

std::string PixelFormatName(AVPixelFormat f);
// "CONVERSION is not exact: A; B", or empty when nothing is lost.
std::string NotExact(const std::string& conversion, const std::vector<std::string>& losses);

// Why turning frames of `from` into the variant's packed frames is not exact,
// or empty when it is (the same samples, only rearranged).
std::string ConversionLoss(AVPixelFormat from, Variant to, int width);

// What becomes of full-range YUV (a yuvj format, or `range` pc) in a YUY2
// AVI, which keeps no range, and how decode restores it; empty for
// limited-range input and for RGB.
std::string RangeNote(AVPixelFormat from, AVColorRange range, Variant to);

// Decoded frames of any format into packed frames of one variant.
class ToPacked {
public:
    ToPacked(Variant v, int width, int height);
    ~ToPacked();
    ToPacked(const ToPacked&) = delete;
    ToPacked& operator=(const ToPacked&) = delete;
    // Writes FrameBytes(v, width, height) bytes; padding is zero. False when
    // the frame's size differs or the conversion fails.
    bool Convert(const AVFrame* frame, uint8_t* packed);

private:
    Variant m_variant;
    int m_width, m_height;
    SwsContext* m_sws = nullptr;
    FramePtr m_top; // the converted picture, top-down, rows padded as FFmpeg likes
};

// The pixel format FFmpeg calls the variant's packed frames; decoded, they go
// into its pictures by PackedToPicture (variants/picture.h).
AVPixelFormat PackedPixelFormat(Variant v);

} // namespace tarv
