// tarv bench: encode and decode speed and ratio of both codecs on a clip, or
// on a built-in one, and a bit-exactness check of every frame.
#include "tools/commands/commands.h"
#include "tools/input/reader.h"
#include "tools/shared/clip.h"
#include "tools/shared/packing.h"
#include "variants/ordered_workers.h"
#include "variants/parallel_decoder.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace tarv {
namespace {

constexpr int kClipWidth = 1920, kClipHeight = 1080, kClipFrames = 30;

struct Run {
    double encodeSeconds = 0, decodeSeconds = 0;
    int64_t coded = 0;
    bool exact = true;
};

// Codes every packed frame and decodes it again on `threads` threads.
Run Measure(Variant v, int width, int height, const std::vector<std::vector<uint8_t>>& frames,
            int threads)
{
    Run run;
    std::vector<std::vector<uint8_t>> payloads(frames.size());
    {
        std::vector<std::unique_ptr<FrameEncoder>> encoders(static_cast<size_t>(threads));
        for (auto& e : encoders)
            e = std::make_unique<FrameEncoder>(v, width, height);
        OrderedWorkers<size_t> workers(threads, [&](int worker, size_t& i) {
            if (!encoders[static_cast<size_t>(worker)]->Encode(frames[i].data(), payloads[i]))
                throw ToolError("bench: frame " + std::to_string(i) + ": the codec refused it");
        });
        size_t next = 0;
        const auto start = std::chrono::steady_clock::now();
        RunInOrder(
            workers,
            [&](size_t& i) {
                i = next++;
                return i < frames.size();
            },
            [](size_t&) {});
        run.encodeSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    for (const auto& p : payloads)
        run.coded += static_cast<int64_t>(p.size());

    struct Slot {
        size_t index = 0;
        std::vector<uint8_t> decoded;
    };
    using Decoder = ParallelDecoder<Slot>;
    Decoder decoder(v, width, height, threads, FrameLayout::Packed);
    size_t next = 0;
    const auto start = std::chrono::steady_clock::now();
    RunInOrder(
        decoder,
        [&](Decoder::Frame& f) {
            if (next == frames.size())
                return false;
            f.tag.index = next++;
            f.tag.decoded.resize(frames[f.tag.index].size());
            f.payload = payloads[f.tag.index].data();
            f.size = payloads[f.tag.index].size();
            f.pixels = f.tag.decoded.data();
            return true;
        },
        [&](const Decoder::Frame& f) {
            if (!f.decoded)
                throw ToolError("bench: frame " + std::to_string(f.tag.index) +
                                ": cannot decode it");
            run.exact = run.exact && f.tag.decoded == frames[f.tag.index];
        });
    run.decodeSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

} // namespace

int RunBench(const Options& options)
{
    const int limit = options.frames > 0 ? options.frames : kClipFrames;
    std::vector<FramePtr> clip;
    std::string source;
    if (options.files.empty()) {
        clip = GenerateClip(kClipWidth, kClipHeight, limit);
        source = "built-in clip (testsrc2 with noise, yuv444p)";
    } else {
        RecordingReader reader(FirstInput(options));
        FrameOrPacket item;
        while (static_cast<int>(clip.size()) < limit && reader.Next(item))
            clip.push_back(std::exchange(item.frame, NewFrame()));
        if (clip.empty())
            throw ToolError(Where(options.files[0], -1, "has no frames"));
        source = options.files[0];
    }
    const int width = clip[0]->width, height = clip[0]->height;
    const int threads = ThreadCount(options.threads);
    std::printf("%s: %zu frames of %dx%d, %s\n", source.c_str(), clip.size(), width, height,
                av_get_pix_fmt_name(static_cast<AVPixelFormat>(clip[0]->format)));
    std::printf("%-6s %7s %7s %10s %10s %10s %10s  %s\n", "codec", "threads", "ratio", "enc ms/f",
                "enc fps", "dec ms/f", "dec fps", "bit-exact");

    bool exact = true;
    for (const Variant v : AllVariants()) {
        if (options.codec && *options.codec != v)
            continue;
        if (!SizeSupported(v, width, height))
            throw ToolError(std::string(Info(v).fourcc) + " cannot code frames of this size");
        // The conversion is the tool's, not the codec's: done before timing.
        ToPacked converter(v, width, height);
        std::vector<std::vector<uint8_t>> frames(clip.size());
        for (size_t i = 0; i < clip.size(); ++i) {
            frames[i].resize(FrameBytes(v, width, height));
            if (clip[i]->width != width || clip[i]->height != height ||
                !converter.Convert(clip[i].get(), frames[i].data()))
                throw ToolError("bench: frame " + std::to_string(i) + ": cannot convert it");
        }
        const double count = static_cast<double>(frames.size());
        for (const int t : std::set<int>{1, threads}) {
            const Run run = Measure(v, width, height, frames, t);
            exact = exact && run.exact;
            std::printf("%-6s %7d %7.3f %10.2f %10.1f %10.2f %10.1f  %s\n", Info(v).fourcc, t,
                        count * static_cast<double>(frames[0].size()) /
                            static_cast<double>(run.coded),
                        1000 * run.encodeSeconds / count, count / run.encodeSeconds,
                        1000 * run.decodeSeconds / count, count / run.decodeSeconds,
                        run.exact ? "yes" : "NO");
            std::fflush(stdout);
        }
    }
    return exact ? kExitOk : kExitDiffers;
}

} // namespace tarv
