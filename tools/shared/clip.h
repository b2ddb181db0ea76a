// Frames made by libavfilter, for benchmarks: a built-in clip, or any graph.
#pragma once

#include "tools/shared/ffmpeg.h"

#include <string>
#include <vector>

namespace tarv {

// A short built-in clip from FFmpeg's test sources: moving colour patterns
// with film-like noise, as yuv444p frames.
std::vector<FramePtr> GenerateClip(int width, int height, int frames);
// `frames` frames from a libavfilter graph description with one output, such
// as "movie=photo.png,scale=1920:1080". A source that ends early repeats its
// last frame.
std::vector<FramePtr> FilterFrames(const std::string& description, int frames);

} // namespace tarv
