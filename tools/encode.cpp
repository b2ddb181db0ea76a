// tarv encode and tarv decode: between any video FFmpeg handles and Tarv AVI.
#include "tools/commands.h"
#include "tools/output_file.h"
#include "tools/pipeline.h"
#include "tools/progress.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace tarv {

int ThreadCount(int requested)
{
    if (requested > 0)
        return requested;
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void Warn(const std::string& text)
{
    std::fprintf(stderr, "tarv: warning: %s\n", text.c_str());
}

namespace {

bool IsRgb(AVPixelFormat f)
{
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
    return d != nullptr && (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0;
}

std::string SizeText(int width, int height)
{
    return std::to_string(width) + "x" + std::to_string(height);
}

void CheckInterrupted(const std::string& file, int64_t frame)
{
    if (Interrupted())
        throw ToolError(Where(file, frame, "interrupted"));
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int RunEncode(const Options& options)
{
    const std::string& in = options.files[0];
    const std::string& name = options.files[1];
    VideoReader reader(in);
    const int width = reader.Width(), height = reader.Height();
    const Variant v =
        options.codec.value_or(IsRgb(reader.PixelFormat()) ? Variant::Rgb24 : Variant::Yuy2);
    if (!SizeSupported(v, width, height))
        throw ToolError(Where(in, -1,
                              std::string(Info(v).fourcc) + " cannot code frames of " +
                                  SizeText(width, height)));
    if (const std::string loss = ConversionLoss(reader.PixelFormat(), v, width); !loss.empty())
        Warn(in + ": " + loss);
    const int64_t samples = SamplesPerFrame(v, width, height);
    const std::string tooLarge = std::string(Info(v).fourcc) + " frames of " +
                                 SizeText(width, height) + " hold " + std::to_string(samples) +
                                 " samples, more than the " + std::to_string(kAlwaysCodedSamples) +
                                 " that always fit one coded block";
    if (samples > kAlwaysCodedSamples)
        Warn(in + ": " + tooLarge + "; frames with much detail will fail");

    OutputFile out(name, {in}, options.overwrite);
    AviWriter writer(out.WritePath(), name, v, width, height, reader.FrameRate());
    const int threads = ThreadCount(options.threads);

    struct Slot {
        FramePtr frame = NewFrame();
        int64_t index = 0;
        std::vector<uint8_t> packed, payload;
    };
    // Each worker converts and compresses with objects of its own.
    std::vector<std::unique_ptr<ToPacked>> converters(static_cast<size_t>(threads));
    std::vector<std::unique_ptr<FrameEncoder>> encoders(static_cast<size_t>(threads));
    auto work = [&](int worker, Slot& s) {
        auto& converter = converters[static_cast<size_t>(worker)];
        auto& encoder = encoders[static_cast<size_t>(worker)];
        if (!converter) {
            converter = std::make_unique<ToPacked>(v, width, height);
            encoder = std::make_unique<FrameEncoder>(v, width, height);
        }
        s.packed.resize(FrameBytes(v, width, height));
        if (!converter->Convert(s.frame.get(), s.packed.data()))
            throw ToolError(Where(
                in, s.index,
                "cannot convert " +
                    std::string(av_get_pix_fmt_name(static_cast<AVPixelFormat>(s.frame->format))) +
                    " to the codec's format"));
        if (!encoder->Encode(s.packed.data(), s.payload))
            throw ToolError(Where(in, s.index,
                                  samples > kAlwaysCodedSamples
                                      ? "the codec refused the frame: " + tooLarge
                                      : "the codec refused the frame"));
        av_frame_unref(s.frame.get());
    };
    OrderedWorkers<Slot> workers(threads, work);

    Progress progress(options.quiet, "encode", reader.FrameCountHint());
    const auto start = std::chrono::steady_clock::now();
    const auto frameBytes = static_cast<int64_t>(FrameBytes(v, width, height));
    int64_t written = 0;
    auto takeOne = [&] {
        Slot& s = workers.Front();
        writer.Write(s.payload);
        workers.Pop();
        ++written;
        progress.Update(written, written * frameBytes, writer.Bytes());
    };
    int64_t index = 0;
    while (const AVFrame* frame = reader.Next()) {
        CheckInterrupted(in, index);
        if (frame->width != width || frame->height != height)
            throw ToolError(Where(in, index,
                                  "the frame size changes from " + SizeText(width, height) +
                                      " to " + SizeText(frame->width, frame->height)));
        if (workers.Full())
            takeOne();
        Slot& s = workers.Back();
        if (av_frame_ref(s.frame.get(), frame) < 0)
            throw std::bad_alloc();
        s.index = index++;
        workers.Submit();
    }
    while (!workers.Empty())
        takeOne();
    if (written == 0)
        throw ToolError(Where(in, -1, "has no frames"));
    writer.Finish();
    out.Commit();
    progress.Finish();

    if (!options.quiet) {
        const double seconds = Seconds(start);
        std::fprintf(stderr, "%s: %lld frames, %s %s, %lld bytes, ratio %.3f, %.1f fps\n",
                     name.c_str(), static_cast<long long>(written), SizeText(width, height).c_str(),
                     Info(v).fourcc, static_cast<long long>(writer.Bytes()),
                     static_cast<double>(written * frameBytes) /
                         static_cast<double>(writer.Bytes()),
                     seconds > 0 ? static_cast<double>(written) / seconds : 0.0);
    }
    return kExitOk;
}

int RunDecode(const Options& options)
{
    const std::string& in = options.files[0];
    const std::string& name = options.files[1];
    TarvReader reader(in);
    const Variant v = reader.GetVariant();
    const int width = reader.Width(), height = reader.Height();

    // Standard output is written as it comes; a file appears only when complete.
    const bool toPipe = name == kStandardStream;
    std::optional<OutputFile> out;
    if (!toPipe)
        out.emplace(name, std::vector<std::string>{in}, options.overwrite);
    VideoWriter writer(toPipe ? "pipe:1" : out->WritePath(), name, options.output,
                       PackedPixelFormat(v), width, height, reader.FrameRate());
    if (!writer.Loss().empty())
        Warn(name + ": " + writer.Loss());
    const int threads = ThreadCount(options.threads);

    struct Slot {
        FramePtr frame;
        int64_t index = 0;
        bool repeat = false; // an empty chunk: the previous frame again
        std::vector<uint8_t> payload, packed;
    };
    std::vector<std::unique_ptr<FrameDecoder>> decoders(static_cast<size_t>(threads));
    auto work = [&](int worker, Slot& s) {
        if (s.repeat)
            return;
        auto& decoder = decoders[static_cast<size_t>(worker)];
        if (!decoder)
            decoder = std::make_unique<FrameDecoder>(v, width, height);
        s.packed.resize(FrameBytes(v, width, height));
        if (!decoder->Decode(s.payload.data(), s.payload.size(), s.packed.data()))
            throw ToolError(Where(in, s.index, "damaged frame: the codec cannot decode it"));
        if (!s.frame) {
            s.frame = NewFrame();
            s.frame->format = PackedPixelFormat(v);
            s.frame->width = width;
            s.frame->height = height;
            if (av_frame_get_buffer(s.frame.get(), 0) < 0)
                throw std::bad_alloc();
        }
        // The output's encoder may still hold the last picture of this slot.
        if (av_frame_make_writable(s.frame.get()) < 0)
            throw std::bad_alloc();
        PackedToFrame(v, s.packed.data(), s.frame.get());
    };
    OrderedWorkers<Slot> workers(threads, work);

    Progress progress(options.quiet, "decode", reader.FrameCountHint());
    const auto frameBytes = static_cast<int64_t>(FrameBytes(v, width, height));
    // A picture is kept past its slot only when an empty chunk repeats it, so
    // slots are not copied on reuse.
    FramePtr previous = NewFrame();
    int64_t done = 0, coded = 0;
    auto takeOne = [&] {
        Slot& s = workers.Front();
        const Slot* next = workers.Peek(1);
        const bool keep = next != nullptr && next->repeat;
        if (s.repeat) {
            if (previous->buf[0] == nullptr)
                throw ToolError(
                    Where(in, s.index, "damaged frame: empty, with no frame before it"));
            writer.Write(previous.get());
            if (!keep)
                av_frame_unref(previous.get());
        } else {
            writer.Write(s.frame.get());
            av_frame_unref(previous.get());
            if (keep && av_frame_ref(previous.get(), s.frame.get()) < 0)
                throw std::bad_alloc();
        }
        coded += static_cast<int64_t>(s.payload.size());
        workers.Pop();
        ++done;
        progress.Update(done, done * frameBytes, coded);
    };
    for (;;) {
        CheckInterrupted(in, reader.FramesRead());
        if (workers.Full())
            takeOne();
        Slot& s = workers.Back();
        s.index = reader.FramesRead();
        if (!reader.Next(s.payload))
            break;
        s.repeat = s.payload.empty();
        workers.Submit();
    }
    while (!workers.Empty())
        takeOne();
    if (done == 0)
        throw ToolError(Where(in, -1, "has no frames"));
    writer.Finish();
    if (out)
        out->Commit();
    progress.Finish();
    if (!options.quiet)
        std::fprintf(stderr, "%s: %lld frames, %s, %s\n", name.c_str(),
                     static_cast<long long>(done), SizeText(width, height).c_str(),
                     writer.Description().c_str());
    return kExitOk;
}

} // namespace tarv
