// tarv encode: any recording FFmpeg reads, a file, a pipe or a live capture,
// into a Tarv AVI with its sound.
#include "tools/commands/commands.h"
#include "tools/input/capture.h"
#include "tools/input/reader.h"
#include "tools/input/recording.h"
#include "tools/output/avi_writer.h"
#include "tools/output/output_file.h"
#include "tools/shared/packing.h"
#include "tools/shared/progress.h"
#include "tools/shared/timing.h"
#include "variants/ordered_workers.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace tarv {
namespace {

// What a capture may hold in memory while encoding catches up: a few seconds
// of 1080p.
constexpr size_t kCaptureQueueBytes = size_t{512} << 20;

bool IsRgb(AVPixelFormat f)
{
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
    return d != nullptr && (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string RateText(AVRational rate)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", av_q2d(rate));
    std::string s = text;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

} // namespace

int RunEncode(const Options& options)
{
    const std::string& in = options.files[0];
    const std::string& name = options.files.back();
    // The video, and its sound, from the first input; sound alone from others.
    Recording recording =
        OpenRecording(std::vector<InputSpec>(options.inputs.begin(), options.inputs.end() - 1),
                      options.audio, options.rate, options.duration);
    const auto& readers = recording.readers;
    MediaReader& reader = *readers[0];
    const int width = reader.Width(), height = reader.Height();
    const Variant v =
        options.codec.value_or(IsRgb(reader.PixelFormat()) ? Variant::Rgb24 : Variant::Yuy2);
    if (!SizeSupported(v, width, height))
        throw ToolError(Where(in, -1,
                              std::string(Info(v).fourcc) + " cannot code frames of " +
                                  SizeText(width, height)));
    if (const std::string loss = ConversionLoss(reader.PixelFormat(), v, width); !loss.empty())
        Warn(in + ": " + loss);
    if (const std::string range =
            RangeNote(reader.PixelFormat(), reader.Stream()->codecpar->color_range, v);
        !range.empty())
        Warn(in + ": " + range);
    const int64_t samples = SamplesPerFrame(v, width, height);
    const std::string tooLarge = std::string(Info(v).fourcc) + " frames of " +
                                 SizeText(width, height) + " hold " + std::to_string(samples) +
                                 " samples, more than the " + std::to_string(kAlwaysCodedSamples) +
                                 " that always fit one coded block";
    if (samples > kAlwaysCodedSamples)
        Warn(in + ": " + tooLarge + "; frames with much detail will fail");

    const AVRational rate = recording.rate;
    std::vector<AudioTracks> audio;
    audio.reserve(readers.size());
    for (size_t i = 0; i < readers.size(); ++i) {
        for (const std::string& note : recording.plans[i].notes)
            Note(note);
        const Timing& t = recording.timings[i];
        audio.emplace_back(readers[i]->Path(), readers[i]->Format(), recording.plans[i]);
        audio.back().SetTiming(t.origin, t.end, t.timeBase);
    }
    const Timing& timing = recording.timings[0];
    FrameSync sync(rate, timing.timeBase, recording.plans[0].origin);
    sync.Limit(timing.frames);

    std::vector<std::string> inputs(options.files.begin(), options.files.end() - 1);
    std::vector<AudioTracks*> tracks;
    for (AudioTracks& a : audio)
        tracks.push_back(&a);
    OutputFile out(name, inputs, options.overwrite);
    AviWriter writer(out.WritePath(), name, v, width, height, rate, tracks);
    const int threads = ThreadCount(options.threads);

    struct Slot {
        FramePtr frame = NewFrame();
        int64_t index = 0;  // the input frame
        int64_t copies = 0; // times it is written
        std::vector<uint8_t> packed, payload;
    };
    PerWorker<ToPacked> converters(threads,
                                   [&] { return std::make_unique<ToPacked>(v, width, height); });
    PerWorker<FrameEncoder> encoders(
        threads, [&] { return std::make_unique<FrameEncoder>(v, width, height); });
    auto work = [&](int worker, Slot& s) {
        s.packed.resize(FrameBytes(v, width, height));
        if (!converters[worker].Convert(s.frame.get(), s.packed.data()))
            throw ToolError(Where(in, s.index,
                                  "cannot convert " +
                                      PixelFormatName(static_cast<AVPixelFormat>(s.frame->format)) +
                                      " to the codec's format"));
        if (!encoders[worker].Encode(s.packed.data(), s.payload))
            throw ToolError(Where(in, s.index,
                                  samples > kAlwaysCodedSamples
                                      ? "the codec refused the frame: " + tooLarge
                                      : "the codec refused the frame"));
        av_frame_unref(s.frame.get());
    };
    OrderedWorkers<Slot> workers(threads, work);

    // Live sources, and several inputs, are read on threads of their own. A
    // capture ends when asked and keeps its file; an interrupt abandons files.
    const bool capture =
        std::any_of(readers.begin(), readers.end(), [](const auto& r) { return r->Live(); });
    std::vector<int64_t> origins; // each input's start, in microseconds
    for (const Timing& t : recording.timings)
        origins.push_back(av_rescale_q(t.origin, t.timeBase, AVRational{1, AV_TIME_BASE}));
    std::unique_ptr<LiveSource> live;
    if (capture || readers.size() > 1) {
        std::vector<MediaReader*> all;
        for (const auto& r : readers)
            all.push_back(r.get());
        live = std::make_unique<LiveSource>(all, kCaptureQueueBytes,
                                            capture ? origins : std::vector<int64_t>{});
    }
    // A capture's sound is cut where its video ends, whenever that is.
    std::optional<SoundHold> hold;
    if (capture)
        hold.emplace(origins, kCaptureQueueBytes / 8);
    auto writeAudio = [&](size_t input, AVPacket* packet) { writer.WriteAudio(input, packet); };
    Source& source = live ? static_cast<Source&>(*live) : reader;
    QuitKey quit(capture &&
                 std::find(inputs.begin(), inputs.end(), kStandardStream) == inputs.end());
    if (live)
        live->SetStopCheck([&] { return Interrupted() || quit.Pressed(); });
    if (capture && !options.quiet)
        Note(in + ": capturing" +
             (options.duration > 0 ? " for " + Clock(options.duration)
                                   : std::string(": Ctrl-C or q ends it")));

    Item item;
    bool ended = false;
    auto fill = [&](Slot& s) {
        while (!ended) {
            if (live && (Interrupted() || quit.Pressed()))
                live->Stop();
            const bool got = source.Next(item);
            if (!capture && Interrupted())
                throw ToolError(Where(in, sync.FramesIn(), "interrupted"));
            int64_t copies = 0;
            if (!got) {
                ended = true;
                copies = sync.Finish(s.frame.get());
                if (hold) {
                    for (AudioTracks& a : audio)
                        a.CutAt(sync.Written(), av_inv_q(rate));
                    hold->Release(AV_NOPTS_VALUE, writeAudio);
                }
            } else if (item.kind == Item::Kind::Packet && hold) {
                const AVPacket* p = item.packet.get();
                hold->Add(item.input, item.packet.get(),
                          readers[item.input]->Format()->streams[p->stream_index]->time_base);
                hold->Release(
                    av_rescale_q(sync.Written(), av_inv_q(rate), AVRational{1, AV_TIME_BASE}),
                    writeAudio);
                continue;
            } else if (item.kind == Item::Kind::Packet) {
                writer.WriteAudio(item.input, item.packet.get());
                continue;
            } else {
                const AVFrame* f = item.frame.get();
                if (f->width != width || f->height != height)
                    throw ToolError(Where(in, sync.FramesIn(),
                                          "the frame size changes from " + SizeText(width, height) +
                                              " to " + SizeText(f->width, f->height)));
                copies = sync.Next(item.frame.get(), s.frame.get());
            }
            if (sync.Jump() != 0)
                Warn(in + ": the video's timestamps jump " + Clock(std::abs(sync.Jump())) +
                     (sync.Jump() > 0 ? " ahead" : " back") + " at frame " +
                     std::to_string(sync.FramesIn() - 1) + ": " +
                     (sync.Jump() > 0 ? "not filled with repeated frames (gaps up to " +
                                            Clock(kLongestGapSeconds) + " are)"
                                      : "the video goes on from there"));
            if (copies > 0) {
                s.index = sync.GivenIndex();
                s.copies = copies;
                return true;
            }
        }
        return false;
    };

    Progress progress(options.quiet, capture ? "capture" : "encode",
                      options.duration > 0 ? timing.frames : reader.FrameCountHint());
    const auto start = std::chrono::steady_clock::now();
    const auto frameBytes = static_cast<int64_t>(FrameBytes(v, width, height));
    int64_t written = 0;
    auto take = [&](Slot& s) {
        for (int64_t i = 0; i < s.copies; ++i)
            writer.Write(s.payload);
        written += s.copies;
        std::string extra;
        if (capture && progress.Shown()) {
            const LiveSource::Counts c = live->GetCounts();
            const double seconds = Seconds(start);
            char text[160];
            std::snprintf(
                text, sizeof text,
                "captured %lld  dropped %lld  repeated %lld  skipped %lld  speed %.2fx",
                static_cast<long long>(c.frames), static_cast<long long>(c.droppedFrames),
                static_cast<long long>(sync.Repeated()), static_cast<long long>(sync.Skipped()),
                seconds > 0 ? static_cast<double>(written) / av_q2d(rate) / seconds : 0.0);
            extra = text;
        }
        progress.Update(written, written * frameBytes, writer.Bytes(), extra);
    };
    RunInOrder(workers, fill, take);
    if (written == 0)
        throw ToolError(Where(in, -1, "has no frames"));
    writer.Finish();
    out.Commit();
    progress.Finish();

    if (capture) {
        const LiveSource::Counts c = live->GetCounts();
        if (c.droppedFrames > 0 || c.droppedPackets > 0)
            Warn(in + ": encoding fell behind the capture: " + std::to_string(c.droppedFrames) +
                 " of " + std::to_string(c.frames) + " frames and " +
                 std::to_string(c.droppedPackets) + " sound packets dropped");
    }
    if (sync.Repeated() > 0 || sync.Skipped() > 0)
        Note(in + ": " + std::to_string(sync.Repeated()) + " frames repeated and " +
             std::to_string(sync.Skipped()) + " skipped to keep " + RateText(rate) +
             " frames a second in time");
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

} // namespace tarv
