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

// The codec the video is coded with, and the error for a frame it refuses.
struct Coding {
    Variant v;
    int width, height;
    std::string refused;
};

// The codec asked for, or the one the video's pixels suit; what the
// conversion loses, and frames too large to be sure to fit, are warned of.
Coding ChooseCoding(const RecordingReader& video, std::optional<Variant> asked)
{
    const std::string& in = video.Path();
    const int width = video.Width(), height = video.Height();
    const Variant v = asked.value_or(IsRgb(video.PixelFormat()) ? Variant::Rgb24 : Variant::Yuy2);
    if (!SizeSupported(v, width, height))
        throw ToolError(Where(in, -1,
                              std::string(Info(v).fourcc) + " cannot code frames of " +
                                  SizeText(width, height)));
    if (const std::string loss = ConversionLoss(video.PixelFormat(), v, width); !loss.empty())
        Warn(in + ": " + loss);
    if (const std::string range =
            RangeNote(video.PixelFormat(), video.Stream()->codecpar->color_range, v);
        !range.empty())
        Warn(in + ": " + range);
    const int64_t samples = SamplesPerFrame(v, width, height);
    if (samples <= kAlwaysCodedSamples)
        return {v, width, height, "the codec refused the frame"};
    const std::string tooLarge = std::string(Info(v).fourcc) + " frames of " +
                                 SizeText(width, height) + " hold " + std::to_string(samples) +
                                 " samples, more than the " + std::to_string(kAlwaysCodedSamples) +
                                 " that always fit one coded block";
    Warn(in + ": " + tooLarge + "; frames with much detail will fail");
    return {v, width, height, "the codec refused the frame: " + tooLarge};
}

// Each input's sound, placed on its own clock, into the AVI's tracks; the
// notes on what is decoded or left out said first.
std::vector<AudioTracks*> MakeTracks(Recording& recording)
{
    std::vector<AudioTracks*> tracks;
    for (Input& input : recording.inputs) {
        for (const std::string& note : input.plan.notes)
            Note(note);
        const Timing& t = input.timing;
        input.audio.emplace(input.reader->Path(), input.reader->Format(), input.plan);
        input.audio->SetTiming(t.origin, t.end, t.timeBase);
        tracks.push_back(&*input.audio);
    }
    return tracks;
}

// The recording as encode reads it: live sources, and several inputs, on
// threads of their own; its frames paced to the AVI's rate, its sound into
// the AVI. A capture ends when asked and keeps its file, its sound held
// until the video written covers it; an interrupt abandons files.
class EncodeInput final : public FramePacer::Events {
public:
    // `stdinFree`: no input comes from standard input, so `q` may end a
    // capture.
    EncodeInput(Recording& recording, TarvAviWriter& writer, bool stdinFree)
        : m_recording(recording), m_writer(writer), m_path(recording.Video().Path()),
          m_capture(std::any_of(recording.inputs.begin(), recording.inputs.end(),
                                [](const Input& i) { return i.reader->Live(); })),
          m_queue(MakeQueue()), m_quit(m_capture && stdinFree),
          m_pacer(recording, m_queue ? *m_queue : static_cast<Source&>(recording.Video()), *this)
    {
        if (m_capture)
            m_hold.emplace(Origins(), kCaptureQueueBytes / 8);
        if (m_queue)
            m_queue->SetStopCheck([this] { return Interrupted() || m_quit.Pressed(); });
    }

    bool Capture() const { return m_capture; }
    const FrameSync& Sync() const { return m_pacer.Sync(); }
    QueuedSource::Counts Counts() const { return m_queue->GetCounts(); }

    // The next frame due, and how many times it is written; 0 at the end.
    int64_t Next(AVFrame* frame) { return m_pacer.Next(frame); }

private:
    // Each input's start, in microseconds.
    std::vector<int64_t> Origins() const
    {
        std::vector<int64_t> origins;
        for (const Input& input : m_recording.inputs)
            origins.push_back(av_rescale_q(input.timing.origin, input.timing.timeBase,
                                           AVRational{1, AV_TIME_BASE}));
        return origins;
    }
    std::unique_ptr<QueuedSource> MakeQueue() const
    {
        if (!m_capture && m_recording.inputs.size() == 1)
            return nullptr;
        std::vector<RecordingReader*> readers;
        for (const Input& input : m_recording.inputs)
            readers.push_back(input.reader.get());
        return std::make_unique<QueuedSource>(readers, kCaptureQueueBytes,
                                              m_capture ? Origins() : std::vector<int64_t>{});
    }
    void Write(size_t input, AVPacket* packet) { m_writer.WriteAudio(input, packet); }
    // Microseconds of video written.
    int64_t VideoWritten() const
    {
        return av_rescale_q(Sync().Written(), av_inv_q(m_recording.rate),
                            AVRational{1, AV_TIME_BASE});
    }

    // A file's encode stops at once; a capture ends through its queue.
    void Read() override
    {
        if (!m_capture && Interrupted())
            throw ToolError(Where(m_path, Sync().FramesIn(), "interrupted"));
    }
    void Sound(size_t input, AVPacket* packet) override
    {
        if (!m_hold) {
            Write(input, packet);
            return;
        }
        const AVRational time =
            m_recording.inputs[input].reader->Format()->streams[packet->stream_index]->time_base;
        m_hold->Add(input, packet, time);
        m_hold->Release(VideoWritten(), [this](size_t i, AVPacket* p) { Write(i, p); });
    }
    // A capture's sound is cut where its video ends, whenever that is.
    void Ended() override
    {
        if (!m_hold)
            return;
        for (Input& input : m_recording.inputs)
            input.audio->CutAt(Sync().Written(), av_inv_q(m_recording.rate));
        m_hold->Release(AV_NOPTS_VALUE, [this](size_t i, AVPacket* p) { Write(i, p); });
    }
    std::string SizeChange(int width, int height, const AVFrame& frame) const override
    {
        return "the frame size changes from " + SizeText(width, height) + " to " +
               SizeText(frame.width, frame.height);
    }
    void Jumped(double seconds, int64_t frame) override
    {
        Warn(m_path + ": the video's timestamps jump " + Clock(std::abs(seconds)) +
             (seconds > 0 ? " ahead" : " back") + " at frame " + std::to_string(frame) + ": " +
             (seconds > 0 ? "not filled with repeated frames (gaps up to " +
                                Clock(kLongestGapSeconds) + " are)"
                          : "the video goes on from there"));
    }

    Recording& m_recording;
    TarvAviWriter& m_writer;
    const std::string m_path;
    const bool m_capture;
    std::unique_ptr<QueuedSource> m_queue;
    std::optional<SoundHold> m_hold;
    QuitKey m_quit;
    FramePacer m_pacer;
};

// A frame on its way through the workers.
struct Slot {
    FramePtr frame = NewFrame();
    int64_t index = 0;  // the input frame
    int64_t copies = 0; // times it is written
    std::vector<uint8_t> packed, payload;
};

// The progress line's account of a capture, `video` seconds of it written in
// `seconds`.
std::string CaptureText(const QueuedSource::Counts& c, const FrameSync& sync, double video,
                        double seconds)
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "captured %lld  dropped %lld  repeated %lld  skipped %lld  speed %.2fx",
                  static_cast<long long>(c.frames), static_cast<long long>(c.droppedFrames),
                  static_cast<long long>(sync.Repeated()), static_cast<long long>(sync.Skipped()),
                  seconds > 0 ? video / seconds : 0.0);
    return text;
}

// What the capture lost, and what holding the frame rate took.
void ReportTiming(const std::string& in, const EncodeInput& input, AVRational rate)
{
    if (input.Capture()) {
        const QueuedSource::Counts n = input.Counts();
        if (n.droppedFrames > 0 || n.droppedPackets > 0)
            Warn(in + ": encoding fell behind the capture: " + std::to_string(n.droppedFrames) +
                 " of " + std::to_string(n.frames) + " frames and " +
                 std::to_string(n.droppedPackets) + " sound packets dropped");
    }
    const FrameSync& sync = input.Sync();
    if (sync.Repeated() > 0 || sync.Skipped() > 0)
        Note(in + ": " + std::to_string(sync.Repeated()) + " frames repeated and " +
             std::to_string(sync.Skipped()) + " skipped to keep " + RateText(rate) +
             " frames a second in time");
}

} // namespace

int RunEncode(const Options& options)
{
    const std::string& in = options.files[0];
    const std::string& name = options.files.back();
    const std::vector<std::string> inputs(options.files.begin(), options.files.end() - 1);
    // The video, and its sound, from the first input; sound alone from others.
    Recording recording =
        OpenRecording(std::vector<InputSpec>(options.inputs.begin(), options.inputs.end() - 1),
                      options.audio, options.rate, options.duration);
    const Coding c = ChooseCoding(recording.Video(), options.codec);
    const Variant v = c.v;
    const int width = c.width, height = c.height;
    const std::vector<AudioTracks*> tracks = MakeTracks(recording);

    OutputFile out(name, inputs, options.overwrite);
    TarvAviWriter writer(out.WritePath(), name, v, width, height, recording.rate, tracks);
    const int threads = ThreadCount(options.threads);
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
            throw ToolError(Where(in, s.index, c.refused));
        av_frame_unref(s.frame.get());
    };
    OrderedWorkers<Slot> workers(threads, work);

    EncodeInput input(recording, writer,
                      std::find(inputs.begin(), inputs.end(), kStandardStream) == inputs.end());
    const bool capture = input.Capture();
    if (capture && !options.quiet)
        Note(in + ": capturing" +
             (options.duration > 0 ? " for " + Clock(options.duration)
                                   : std::string(": Ctrl-C or q ends it")));
    auto fill = [&](Slot& s) {
        s.copies = input.Next(s.frame.get());
        s.index = input.Sync().GivenIndex();
        return s.copies > 0;
    };

    Progress progress(options.quiet, capture ? "capture" : "encode",
                      options.duration > 0 ? recording.inputs[0].timing.frames
                                           : recording.Video().FrameCountHint());
    const auto start = std::chrono::steady_clock::now();
    const auto frameBytes = static_cast<int64_t>(FrameBytes(v, width, height));
    int64_t written = 0;
    auto take = [&](Slot& s) {
        for (int64_t i = 0; i < s.copies; ++i)
            writer.Write(s.payload);
        written += s.copies;
        std::string extra;
        if (capture && progress.Shown())
            extra =
                CaptureText(input.Counts(), input.Sync(),
                            static_cast<double>(written) / av_q2d(recording.rate), Seconds(start));
        progress.Update(written, written * frameBytes, writer.Bytes(), extra);
    };
    RunInOrder(workers, fill, take);
    if (written == 0)
        throw ToolError(Where(in, -1, "has no frames"));
    writer.Finish();
    out.Commit();
    progress.Finish();

    ReportTiming(in, input, recording.rate);
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
