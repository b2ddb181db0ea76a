// tarv verify: decodes a Tarv AVI and compares every frame with the original
// after the conversion tarv encode applies.
#include "tools/commands.h"
#include "tools/output_file.h"
#include "tools/pipeline.h"
#include "tools/progress.h"

#include <cstdio>
#include <cstring>

namespace tarv {
namespace {

// The first byte where two packed frames differ in picture, as "x=.., y=.."
// with y counted from the top; empty when they agree. Row padding and, at an
// odd YUY2 width, the V sample the codec does not keep, are not compared.
std::string FirstDifference(Variant v, int width, int height, const uint8_t* a, const uint8_t* b)
{
    const size_t row = RowBytes(v, width), picture = PictureRowBytes(v, width);
    const size_t pixel = static_cast<size_t>(Info(v).bitCount / 8);
    for (int top = 0; top < height; ++top) {
        const int y = Info(v).bottomUp ? height - 1 - top : top;
        const size_t offset = static_cast<size_t>(y) * row;
        if (std::memcmp(a + offset, b + offset, picture) == 0)
            continue;
        size_t i = 0;
        while (a[offset + i] == b[offset + i])
            ++i;
        return "x=" + std::to_string(i / pixel) + ", y=" + std::to_string(top) + " (" +
               std::to_string(a[offset + i]) + " in the original, " +
               std::to_string(b[offset + i]) + " decoded)";
    }
    return {};
}

} // namespace

int RunVerify(const Options& options)
{
    const std::string& originalName = options.files[0];
    const std::string& encodedName = options.files[1];
    TarvReader encoded(encodedName);
    VideoReader original(originalName);
    const Variant v = encoded.GetVariant();
    const int width = encoded.Width(), height = encoded.Height();
    if (original.Width() != width || original.Height() != height) {
        std::printf("%s is %dx%d but %s is %dx%d\n", originalName.c_str(), original.Width(),
                    original.Height(), encodedName.c_str(), width, height);
        return kExitDiffers;
    }
    if (const std::string loss = ConversionLoss(original.PixelFormat(), v, width); !loss.empty())
        Warn(originalName + ": compared after the same conversion: " + loss);

    const int threads = ThreadCount(options.threads);
    struct Slot {
        FramePtr frame = NewFrame();
        int64_t index = 0;
        bool repeat = false;
        std::vector<uint8_t> payload, expected, decoded;
    };
    std::vector<std::unique_ptr<ToPacked>> converters(static_cast<size_t>(threads));
    std::vector<std::unique_ptr<FrameDecoder>> decoders(static_cast<size_t>(threads));
    const size_t frameBytes = FrameBytes(v, width, height);
    auto work = [&](int worker, Slot& s) {
        auto& converter = converters[static_cast<size_t>(worker)];
        auto& decoder = decoders[static_cast<size_t>(worker)];
        if (!converter) {
            converter = std::make_unique<ToPacked>(v, width, height);
            decoder = std::make_unique<FrameDecoder>(v, width, height);
        }
        s.expected.resize(frameBytes);
        if (!converter->Convert(s.frame.get(), s.expected.data()))
            throw ToolError(Where(originalName, s.index, "cannot convert the frame"));
        av_frame_unref(s.frame.get());
        if (s.repeat)
            return;
        s.decoded.resize(frameBytes);
        if (!decoder->Decode(s.payload.data(), s.payload.size(), s.decoded.data()))
            throw ToolError(
                Where(encodedName, s.index, "damaged frame: the codec cannot decode it"));
    };
    OrderedWorkers<Slot> workers(threads, work);
    Progress progress(options.quiet, "verify", encoded.FrameCountHint());

    std::vector<uint8_t> previous;
    int64_t checked = 0;
    std::string difference;
    auto takeOne = [&] {
        Slot& s = workers.Front();
        if (s.repeat && previous.empty())
            throw ToolError(
                Where(encodedName, s.index, "damaged frame: empty, with no frame before it"));
        if (!s.repeat)
            previous.swap(s.decoded);
        if (difference.empty()) {
            difference = FirstDifference(v, width, height, s.expected.data(), previous.data());
            if (!difference.empty())
                difference = "frame " + std::to_string(s.index) + " differs first at " + difference;
        }
        workers.Pop();
        ++checked;
        progress.Update(checked, 0, 0);
    };
    for (;;) {
        if (Interrupted())
            throw ToolError(Where(encodedName, checked, "interrupted"));
        if (workers.Full())
            takeOne();
        if (!difference.empty())
            break;
        Slot& s = workers.Back();
        s.index = encoded.FramesRead();
        if (!encoded.Next(s.payload))
            break;
        const AVFrame* frame = original.Next();
        if (frame == nullptr)
            break;
        if (frame->width != width || frame->height != height)
            throw ToolError(Where(originalName, s.index, "the frame size changes"));
        if (av_frame_ref(s.frame.get(), frame) < 0)
            throw std::bad_alloc();
        s.repeat = s.payload.empty();
        workers.Submit();
    }
    while (!workers.Empty())
        takeOne();
    progress.Finish();
    if (!difference.empty()) {
        std::printf("%s: %s\n", encodedName.c_str(), difference.c_str());
        return kExitDiffers;
    }
    // Both must end together.
    std::vector<uint8_t> extra;
    const bool moreEncoded = encoded.FramesRead() > checked || encoded.Next(extra);
    const bool moreOriginal = original.FramesRead() > checked || original.Next() != nullptr;
    if (moreEncoded || moreOriginal) {
        std::printf("%s has more frames than %s: they agree for the first %lld\n",
                    (moreEncoded ? encodedName : originalName).c_str(),
                    (moreEncoded ? originalName : encodedName).c_str(),
                    static_cast<long long>(checked));
        return kExitDiffers;
    }
    if (checked == 0)
        throw ToolError(Where(encodedName, -1, "has no frames"));
    if (!options.quiet)
        std::printf("%s: all %lld frames are identical to %s\n", encodedName.c_str(),
                    static_cast<long long>(checked), originalName.c_str());
    return kExitOk;
}

} // namespace tarv
