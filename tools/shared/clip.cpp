#include "tools/shared/clip.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
}

namespace tarv {

std::vector<FramePtr> GenerateClip(int width, int height, int frames)
{
    return FilterFrames("testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) +
                            ":rate=25,noise=alls=6:allf=t,format=yuv444p",
                        frames);
}

std::vector<FramePtr> FilterFrames(const std::string& description, int frames)
{
    struct GraphDeleter {
        void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
    };
    std::unique_ptr<AVFilterGraph, GraphDeleter> graph(avfilter_graph_alloc());
    if (!graph)
        throw std::bad_alloc();
    const std::string full = description + ",buffersink@out";
    AVFilterInOut* inputs = nullptr;
    AVFilterInOut* outputs = nullptr;
    int r = avfilter_graph_parse2(graph.get(), full.c_str(), &inputs, &outputs);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (r >= 0)
        r = avfilter_graph_config(graph.get(), nullptr);
    if (r < 0)
        throw ToolError(description + ": " + AvError(r));
    AVFilterContext* sink = avfilter_graph_get_filter(graph.get(), "buffersink@out");
    std::vector<FramePtr> clip;
    while (static_cast<int>(clip.size()) < frames) {
        FramePtr f = NewFrame();
        r = av_buffersink_get_frame(sink, f.get());
        if (r == AVERROR_EOF && !clip.empty()) {
            // A still picture: repeat it.
            FramePtr again = NewFrame();
            if (av_frame_ref(again.get(), clip.back().get()) < 0)
                throw std::bad_alloc();
            clip.push_back(std::move(again));
            continue;
        }
        if (r < 0)
            throw ToolError(description + ": " + AvError(r));
        clip.push_back(std::move(f));
    }
    return clip;
}

} // namespace tarv
