// tarv verify: decodes a Tarv AVI and compares every frame with the original
// after the conversion and the frame timing tarv encode applies, and every
// carried audio stream sample for sample.
#include "tools/commands/commands.h"
#include "tools/input/avi_reader.h"
#include "tools/input/reader.h"
#include "tools/input/recording.h"
#include "tools/output/output_file.h"
#include "tools/shared/packing.h"
#include "tools/shared/progress.h"
#include "tools/shared/timing.h"
#include "variants/ordered_workers.h"

#include <cstdio>
#include <cstring>
#include <optional>

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

// One carried audio stream, the original's and the encoded file's. A copied
// compressed stream is compared by the bytes of its packets (a container may
// trim its decoded sound where AVI cannot say so); PCM, copied or decoded, by
// its samples, the original's placed the way encode places them in the AVI.
struct AudioPair {
    size_t input = 0; // which input of the recording
    AudioCoding coding = AudioCoding::Copy;
    int original = 0, encoded = 0;    // stream indices
    const AVStream* stream = nullptr; // the original's
    std::unique_ptr<PcmDecoder> decoders[2];
    std::optional<SoundPlacer> placer;
    std::unique_ptr<SampleComparer> comparer;
    int sampleBytes = 0; // PCM: bytes of one sample of all channels
    uint8_t silence = 0;
    int64_t end = AV_NOPTS_VALUE; // compressed: in the stream's time

    void Add(int side, const uint8_t* data, int64_t pts, int64_t samples)
    {
        if (side == 1) {
            comparer->Add(1, data, static_cast<size_t>(samples * sampleBytes));
            return;
        }
        const auto placed = placer->Place(pts, samples);
        comparer->AddSilence(0, static_cast<size_t>(placed.silence * sampleBytes), silence);
        comparer->Add(0, data, static_cast<size_t>(placed.keep * sampleBytes));
    }
    void Add(int side, const AVPacket* packet)
    {
        if (decoders[side]) {
            decoders[side]->Decode(
                packet, [&](AVFrame* f) { Add(side, f->data[0], f->pts, f->nb_samples); });
        } else if (packet == nullptr) {
        } else if (placer) {
            Add(side, packet->data, packet->pts, packet->size / sampleBytes);
        } else if (side == 1 || end == AV_NOPTS_VALUE || packet->pts == AV_NOPTS_VALUE ||
                   packet->pts < end) {
            comparer->Add(side, packet->data, static_cast<size_t>(packet->size));
        }
    }
};

// Pairs the audio streams encode carries, in order, with the encoded file's
// and readies their comparison; what does not match, else empty.
std::string PairAudio(const Recording& recording, const TarvAviReader& encoded,
                      std::vector<AudioPair>& pairs)
{
    const std::string& encodedName = encoded.Path();
    std::vector<int> encodedAudio;
    for (unsigned i = 0; i < encoded.Format()->nb_streams; ++i)
        if (encoded.Format()->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            encodedAudio.push_back(static_cast<int>(i));
    for (size_t k = 0; k < recording.inputs.size(); ++k)
        for (const AudioPlan& p : recording.inputs[k].plan.audio) {
            AudioPair& a = pairs.emplace_back();
            a.input = k;
            a.original = p.stream;
            a.coding = p.coding;
        }
    if (encodedAudio.size() != pairs.size())
        return encodedName + " has " + std::to_string(encodedAudio.size()) +
               " audio streams, but encoding carries " + std::to_string(pairs.size());
    for (size_t i = 0; i < pairs.size(); ++i) {
        AudioPair& a = pairs[i];
        const RecordingReader& input = *recording.inputs[a.input].reader;
        const Timing& timing = recording.inputs[a.input].timing;
        a.encoded = encodedAudio[i];
        a.stream = input.Format()->streams[a.original];
        const AVCodecParameters* par = a.stream->codecpar;
        int channels = par->ch_layout.nb_channels, rate = par->sample_rate;
        if (a.coding == AudioCoding::Pcm) {
            a.decoders[0] = std::make_unique<PcmDecoder>(input.Path(), a.stream);
            a.decoders[1] =
                std::make_unique<PcmDecoder>(encodedName, encoded.Format()->streams[a.encoded]);
            const PcmDecoder& d = *a.decoders[1];
            if (a.decoders[0]->Format() != d.Format() ||
                a.decoders[0]->Channels() != d.Channels() ||
                a.decoders[0]->Decoder()->sample_rate != d.Decoder()->sample_rate)
                return encodedName + ": audio stream " + std::to_string(a.encoded) +
                       " does not hold the samples of " + input.Path() + "'s stream " +
                       std::to_string(a.original);
            channels = d.Channels();
            rate = d.Decoder()->sample_rate;
            a.sampleBytes = d.SampleBytes();
        } else {
            a.sampleBytes = rate > 0 ? PcmSampleBytes(par) : 0;
        }
        // Silence as encode wrote it: in the PCM codec of the encoded stream.
        a.silence = SilenceByte(encoded.Format()->streams[a.encoded]->codecpar->codec_id);
        if (a.sampleBytes > 0) {
            a.placer.emplace(rate, a.stream->time_base, timing.origin, timing.end, timing.timeBase);
            a.comparer = std::make_unique<SampleComparer>(channels, a.sampleBytes / channels, rate);
        } else {
            if (timing.end != AV_NOPTS_VALUE)
                a.end = av_rescale_q(timing.end, timing.timeBase, a.stream->time_base);
            a.comparer = std::make_unique<SampleComparer>(1, 1, 0);
        }
    }
    return {};
}

// The carried audio streams compared: the original's packets as its frames
// are paced, the encoded file's as its frames are read. Inputs of sound are
// read as far as the encoded file's sound has come, so that neither side
// piles up.
class SoundComparison final : public FramePacer::Events {
public:
    SoundComparison(Recording& recording, std::vector<AudioPair> pairs)
        : m_recording(recording), m_pairs(std::move(pairs))
    {
    }
    size_t Streams() const { return m_pairs.size(); }

    // A packet of the encoded file's other streams.
    void Encoded(const AVPacket* packet)
    {
        for (AudioPair& a : m_pairs) {
            if (a.encoded != packet->stream_index)
                continue;
            a.Add(1, packet);
            while (a.input > 0 && !m_recording.inputs[a.input].soundEnded &&
                   a.comparer->Difference().empty() &&
                   a.comparer->Pending(0) < a.comparer->Pending(1))
                ReadSound(a.input);
        }
    }
    // Once both files are read to their ends, the sound after the last frame
    // included: the inputs of sound are read to theirs. The first pair that
    // differs, or null.
    const AudioPair* Finish()
    {
        for (size_t k = 1; k < m_recording.inputs.size(); ++k)
            while (!m_recording.inputs[k].soundEnded)
                ReadSound(k);
        for (AudioPair& a : m_pairs) {
            a.Add(0, nullptr);
            a.Add(1, nullptr);
            a.comparer->Finish();
            if (!a.comparer->Difference().empty())
                return &a;
        }
        return nullptr;
    }

private:
    // A packet of the original's input `input`.
    void Sound(size_t input, AVPacket* packet) override
    {
        for (AudioPair& a : m_pairs)
            if (a.input == input && a.original == packet->stream_index)
                a.Add(0, packet);
    }
    std::string SizeChange(int /*width*/, int /*height*/, const AVFrame& /*frame*/) const override
    {
        return "the frame size changes";
    }
    void ReadSound(size_t input)
    {
        Input& from = m_recording.inputs[input];
        if (from.soundEnded || !from.reader->Next(m_read))
            from.soundEnded = true;
        else
            Sound(input, m_read.packet.get());
    }

    Recording& m_recording;
    std::vector<AudioPair> m_pairs;
    FrameOrPacket m_read;
};

// The original's frames as encode wrote them: each one as many times.
class OriginalFrames {
public:
    OriginalFrames(const Recording& recording, FramePacer::Events& events)
        : m_pacer(recording, recording.Video(), events)
    {
    }
    // Whether another frame is due; false at the end.
    bool Due()
    {
        if (m_copies == 0)
            m_copies = m_pacer.Next(m_current.get());
        return m_copies > 0;
    }
    // The frame due, as a new reference in `frame`.
    void Take(AVFrame* frame)
    {
        if (av_frame_ref(frame, m_current.get()) < 0)
            throw std::bad_alloc();
        --m_copies;
    }

private:
    FramePacer m_pacer;
    FramePtr m_current = NewFrame();
    int64_t m_copies = 0;
};

// The encoded file's next payload, its sound on the way to `sound`; false
// at its end.
bool NextPayload(TarvAviReader& encoded, std::vector<uint8_t>& payload, AVPacket* packet,
                 SoundComparison& sound)
{
    for (;;) {
        switch (encoded.Next(payload, packet)) {
        case TarvAviReader::Chunk::End:
            return false;
        case TarvAviReader::Chunk::Payload:
            return true;
        case TarvAviReader::Chunk::Packet:
            sound.Encoded(packet);
            break;
        }
    }
}

// A frame on its way through the workers.
struct Slot {
    FramePtr frame = NewFrame();
    int64_t index = 0;
    bool repeat = false;
    std::vector<uint8_t> payload, expected, decoded;
};

// The decoded frames against the original's, in order, up to the first
// difference. An empty chunk repeats the frame before it.
class FrameComparison {
public:
    FrameComparison(Variant v, int width, int height, const std::string& encodedName)
        : m_variant(v), m_width(width), m_height(height), m_encodedName(encodedName)
    {
    }
    void Take(Slot& s)
    {
        if (s.repeat && m_previous.empty())
            throw ToolError(
                Where(m_encodedName, s.index, "damaged frame: empty, with no frame before it"));
        if (!s.repeat)
            m_previous.swap(s.decoded);
        if (m_difference.empty()) {
            m_difference =
                FirstDifference(m_variant, m_width, m_height, s.expected.data(), m_previous.data());
            if (!m_difference.empty())
                m_difference =
                    "frame " + std::to_string(s.index) + " differs first at " + m_difference;
        }
        ++m_checked;
    }
    int64_t Checked() const { return m_checked; }
    // Empty while they agree.
    const std::string& Difference() const { return m_difference; }

private:
    const Variant m_variant;
    const int m_width, m_height;
    const std::string& m_encodedName;
    std::vector<uint8_t> m_previous;
    int64_t m_checked = 0;
    std::string m_difference;
};

} // namespace

int RunVerify(const Options& options)
{
    const std::string& originalName = options.files[0];
    const std::string& encodedName = options.files.back();
    TarvAviReader encoded(InputSpec{encodedName, {}, {}});
    if (!encoded.Damage().empty())
        Warn(encodedName + ": " + encoded.Damage());
    // The inputs read as encode read them, on the encoded file's frame rate.
    Recording recording =
        OpenRecording(std::vector<InputSpec>(options.inputs.begin(), options.inputs.end() - 1),
                      options.audio, encoded.FrameRate(), options.duration);
    const RecordingReader& original = recording.Video();
    const Variant v = encoded.GetVariant();
    const int width = encoded.Width(), height = encoded.Height();
    if (original.Width() != width || original.Height() != height) {
        std::printf("%s is %dx%d but %s is %dx%d\n", originalName.c_str(), original.Width(),
                    original.Height(), encodedName.c_str(), width, height);
        return kExitDiffers;
    }
    if (const std::string loss = ConversionLoss(original.PixelFormat(), v, width); !loss.empty())
        Warn(originalName + ": compared after the same conversion: " + loss);
    std::vector<AudioPair> pairs;
    if (const std::string mismatch = PairAudio(recording, encoded, pairs); !mismatch.empty()) {
        std::printf("%s\n", mismatch.c_str());
        return kExitDiffers;
    }
    SoundComparison sound(recording, std::move(pairs));

    const int threads = ThreadCount(options.threads);
    PerWorker<ToPacked> converters(threads,
                                   [&] { return std::make_unique<ToPacked>(v, width, height); });
    PerWorker<FrameDecoder> decoders(
        threads, [&] { return std::make_unique<FrameDecoder>(v, width, height); });
    const size_t frameBytes = FrameBytes(v, width, height);
    auto work = [&](int worker, Slot& s) {
        s.expected.resize(frameBytes);
        if (!converters[worker].Convert(s.frame.get(), s.expected.data()))
            throw ToolError(Where(originalName, s.index, "cannot convert the frame"));
        av_frame_unref(s.frame.get());
        if (s.repeat)
            return;
        s.decoded.resize(frameBytes);
        if (!decoders[worker].Decode(s.payload.data(), s.payload.size(), s.decoded.data()))
            throw ToolError(
                Where(encodedName, s.index, "damaged frame: the codec cannot decode it"));
    };
    OrderedWorkers<Slot> workers(threads, work);
    Progress progress(options.quiet, "verify", encoded.FrameCountHint());

    OriginalFrames originals(recording, sound);
    PacketPtr packet = NewPacket();
    FrameComparison frames(v, width, height, encodedName);
    bool encodedEnded = false;
    auto fill = [&](Slot& s) {
        if (Interrupted())
            throw ToolError(Where(encodedName, frames.Checked(), "interrupted"));
        if (!frames.Difference().empty() || !originals.Due())
            return false;
        s.index = encoded.FramesRead();
        if (!NextPayload(encoded, s.payload, packet.get(), sound)) {
            encodedEnded = true;
            return false;
        }
        originals.Take(s.frame.get());
        s.repeat = s.payload.empty();
        return true;
    };
    auto take = [&](Slot& s) {
        frames.Take(s);
        progress.Update(frames.Checked(), 0, 0);
    };
    RunInOrder(workers, fill, take);
    progress.Finish();
    if (!frames.Difference().empty()) {
        std::printf("%s: %s\n", encodedName.c_str(), frames.Difference().c_str());
        return kExitDiffers;
    }
    // Both must end together.
    std::vector<uint8_t> extra;
    const bool moreEncoded = !encodedEnded && NextPayload(encoded, extra, packet.get(), sound);
    const bool moreOriginal = originals.Due();
    if (moreEncoded || moreOriginal) {
        std::printf("%s has more frames than %s: they agree for the first %lld\n",
                    (moreEncoded ? encodedName : originalName).c_str(),
                    (moreEncoded ? originalName : encodedName).c_str(),
                    static_cast<long long>(frames.Checked()));
        return kExitDiffers;
    }
    if (frames.Checked() == 0)
        throw ToolError(Where(encodedName, -1, "has no frames"));
    if (const AudioPair* a = sound.Finish()) {
        std::printf("%s: audio stream %d (from %s's stream %d): %s\n", encodedName.c_str(),
                    a->encoded, originalName.c_str(), a->original,
                    a->comparer->Difference().c_str());
        return kExitDiffers;
    }
    const size_t streams = sound.Streams();
    if (!options.quiet)
        std::printf("%s: all %lld frames are identical to %s%s\n", encodedName.c_str(),
                    static_cast<long long>(frames.Checked()), originalName.c_str(),
                    streams == 0   ? ""
                    : streams == 1 ? ", and its audio stream sample for sample"
                                   : (", and its " + std::to_string(streams) +
                                      " audio streams sample for sample")
                                         .c_str());
    return kExitOk;
}

} // namespace tarv
