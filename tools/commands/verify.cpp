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
#include <functional>
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
    AudioWay way = AudioWay::Copy;
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

} // namespace

int RunVerify(const Options& options)
{
    const std::string& originalName = options.files[0];
    const std::string& encodedName = options.files.back();
    TarvReader encoded(InputSpec{encodedName, {}, {}});
    if (!encoded.Damage().empty())
        Warn(encodedName + ": " + encoded.Damage());
    // The inputs read as encode read them, on the encoded file's frame rate.
    Recording recording =
        OpenRecording(std::vector<InputSpec>(options.inputs.begin(), options.inputs.end() - 1),
                      options.audio, encoded.FrameRate(), options.duration);
    MediaReader& original = *recording.readers[0];
    const Variant v = encoded.GetVariant();
    const int width = encoded.Width(), height = encoded.Height();
    if (original.Width() != width || original.Height() != height) {
        std::printf("%s is %dx%d but %s is %dx%d\n", originalName.c_str(), original.Width(),
                    original.Height(), encodedName.c_str(), width, height);
        return kExitDiffers;
    }
    if (const std::string loss = ConversionLoss(original.PixelFormat(), v, width); !loss.empty())
        Warn(originalName + ": compared after the same conversion: " + loss);

    // The audio streams encode carries, in order, against the encoded file's.
    std::vector<int> encodedAudio;
    for (unsigned i = 0; i < encoded.Format()->nb_streams; ++i)
        if (encoded.Format()->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            encodedAudio.push_back(static_cast<int>(i));
    std::vector<AudioPair> audio;
    for (size_t k = 0; k < recording.readers.size(); ++k)
        for (const AudioPlan& p : recording.plans[k].audio) {
            AudioPair& a = audio.emplace_back();
            a.input = k;
            a.original = p.stream;
            a.way = p.way;
        }
    if (encodedAudio.size() != audio.size()) {
        std::printf("%s has %zu audio streams, but encoding carries %zu\n", encodedName.c_str(),
                    encodedAudio.size(), audio.size());
        return kExitDiffers;
    }
    for (size_t i = 0; i < audio.size(); ++i) {
        AudioPair& a = audio[i];
        const MediaReader& input = *recording.readers[a.input];
        const Timing& timing = recording.timings[a.input];
        a.encoded = encodedAudio[i];
        a.stream = input.Format()->streams[a.original];
        const AVCodecParameters* par = a.stream->codecpar;
        int channels = par->ch_layout.nb_channels, rate = par->sample_rate;
        if (a.way == AudioWay::Pcm) {
            a.decoders[0] = std::make_unique<PcmDecoder>(input.Path(), a.stream);
            a.decoders[1] =
                std::make_unique<PcmDecoder>(encodedName, encoded.Format()->streams[a.encoded]);
            const PcmDecoder& d = *a.decoders[1];
            if (a.decoders[0]->Format() != d.Format() ||
                a.decoders[0]->Channels() != d.Channels() ||
                a.decoders[0]->Decoder()->sample_rate != d.Decoder()->sample_rate) {
                std::printf("%s: audio stream %d does not hold the samples of %s's stream %d\n",
                            encodedName.c_str(), a.encoded, input.Path().c_str(), a.original);
                return kExitDiffers;
            }
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
    // Inputs of sound are read as far as the encoded file's sound has come,
    // so that neither side piles up.
    std::vector<bool> soundEnded(recording.readers.size(), false);
    Item soundItem;
    std::function<void(int, const AVPacket*, size_t)> addAudio;
    auto readSound = [&](size_t k) {
        if (soundEnded[k] || !recording.readers[k]->Next(soundItem))
            soundEnded[k] = true;
        else
            addAudio(0, soundItem.packet.get(), k);
    };
    addAudio = [&](int side, const AVPacket* packet, size_t input) {
        for (AudioPair& a : audio) {
            if ((side == 0 ? a.original : a.encoded) != packet->stream_index ||
                (side == 0 && a.input != input))
                continue;
            a.Add(side, packet);
            while (side == 1 && a.input > 0 && !soundEnded[a.input] &&
                   a.comparer->Difference().empty() &&
                   a.comparer->Pending(0) < a.comparer->Pending(1))
                readSound(a.input);
        }
    };

    const int threads = ThreadCount(options.threads);
    struct Slot {
        FramePtr frame = NewFrame();
        int64_t index = 0;
        bool repeat = false;
        std::vector<uint8_t> payload, expected, decoded;
    };
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

    // The original's frames as encode timed them: each one `copies` times.
    const Timing& timing = recording.timings[0];
    FrameSync sync(encoded.FrameRate(), timing.timeBase, recording.plans[0].origin);
    sync.Limit(timing.frames);
    Item item;
    FramePtr current = NewFrame();
    int64_t copies = 0;
    bool originalEnded = false;
    // Reads the original on until a frame is due; false at its end.
    auto nextOriginal = [&] {
        while (copies == 0 && !originalEnded) {
            if (!original.Next(item)) {
                originalEnded = true;
                copies = sync.Finish(current.get());
            } else if (item.kind == Item::Kind::Packet) {
                addAudio(0, item.packet.get(), 0);
            } else if (item.frame->width != width || item.frame->height != height) {
                throw ToolError(
                    Where(originalName, original.FramesRead() - 1, "the frame size changes"));
            } else {
                copies = sync.Next(item.frame.get(), current.get());
            }
        }
        return copies > 0;
    };
    PacketPtr packet = NewPacket();
    auto nextEncoded = [&](std::vector<uint8_t>& payload) {
        for (;;) {
            switch (encoded.Next(payload, packet.get())) {
            case TarvReader::Got::End:
                return false;
            case TarvReader::Got::Payload:
                return true;
            case TarvReader::Got::Packet:
                addAudio(1, packet.get(), 0);
                break;
            }
        }
    };

    std::vector<uint8_t> previous;
    int64_t checked = 0;
    std::string difference;
    bool encodedEnded = false;
    auto fill = [&](Slot& s) {
        if (Interrupted())
            throw ToolError(Where(encodedName, checked, "interrupted"));
        if (!difference.empty() || !nextOriginal())
            return false;
        s.index = encoded.FramesRead();
        if (!nextEncoded(s.payload)) {
            encodedEnded = true;
            return false;
        }
        if (av_frame_ref(s.frame.get(), current.get()) < 0)
            throw std::bad_alloc();
        --copies;
        s.repeat = s.payload.empty();
        return true;
    };
    auto take = [&](Slot& s) {
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
        ++checked;
        progress.Update(checked, 0, 0);
    };
    RunInOrder(workers, fill, take);
    progress.Finish();
    if (!difference.empty()) {
        std::printf("%s: %s\n", encodedName.c_str(), difference.c_str());
        return kExitDiffers;
    }
    // Both must end together.
    std::vector<uint8_t> extra;
    const bool moreEncoded = !encodedEnded && nextEncoded(extra);
    const bool moreOriginal = nextOriginal();
    if (moreEncoded || moreOriginal) {
        std::printf("%s has more frames than %s: they agree for the first %lld\n",
                    (moreEncoded ? encodedName : originalName).c_str(),
                    (moreEncoded ? originalName : encodedName).c_str(),
                    static_cast<long long>(checked));
        return kExitDiffers;
    }
    if (checked == 0)
        throw ToolError(Where(encodedName, -1, "has no frames"));
    // Both files are read to their ends now, the sound after the last frame
    // included; the inputs of sound are read to theirs.
    for (size_t k = 1; k < recording.readers.size(); ++k)
        while (!soundEnded[k])
            readSound(k);
    for (AudioPair& a : audio) {
        a.Add(0, nullptr);
        a.Add(1, nullptr);
        a.comparer->Finish();
        if (!a.comparer->Difference().empty()) {
            std::printf("%s: audio stream %d (from %s's stream %d): %s\n", encodedName.c_str(),
                        a.encoded, originalName.c_str(), a.original,
                        a.comparer->Difference().c_str());
            return kExitDiffers;
        }
    }
    if (!options.quiet)
        std::printf("%s: all %lld frames are identical to %s%s\n", encodedName.c_str(),
                    static_cast<long long>(checked), originalName.c_str(),
                    audio.empty()       ? ""
                    : audio.size() == 1 ? ", and its audio stream sample for sample"
                                        : (", and its " + std::to_string(audio.size()) +
                                           " audio streams sample for sample")
                                              .c_str());
    return kExitOk;
}

} // namespace tarv
