// tarv verify: decodes a Tarv AVI and compares every frame with the original
// after the conversion and the frame timing tarv encode applies, and every
// carried audio stream sample for sample.
#include "tools/avi.h"
#include "tools/commands.h"
#include "tools/output_file.h"
#include "tools/packing.h"
#include "tools/pipeline.h"
#include "tools/progress.h"
#include "tools/reader.h"
#include "tools/timing.h"

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

// One carried audio stream, the original's and the encoded file's: the bytes
// of their packets when it was copied (a container may trim decoded sound
// where AVI cannot say so), else both decoded to interleaved samples.
struct AudioPair {
    int original, encoded; // stream indices
    std::unique_ptr<PcmDecoder> decoders[2];
    std::unique_ptr<SampleComparer> comparer;

    void Add(int side, const AVPacket* packet)
    {
        if (!decoders[side]) {
            if (packet != nullptr)
                comparer->Add(side, packet->data, static_cast<size_t>(packet->size));
            return;
        }
        decoders[side]->Decode(packet, [&](AVFrame* f) {
            comparer->Add(side, f->data[0],
                          static_cast<size_t>(f->nb_samples) *
                              static_cast<size_t>(f->ch_layout.nb_channels) *
                              static_cast<size_t>(
                                  av_get_bytes_per_sample(static_cast<AVSampleFormat>(f->format))));
        });
    }
};

} // namespace

int RunVerify(const Options& options)
{
    const std::string& originalName = options.files[0];
    const std::string& encodedName = options.files[1];
    TarvReader encoded(InputSpec{encodedName, {}, {}});
    MediaReader original(FirstInput(options));
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
    const StreamPlan plan =
        PlanStreams(originalName, original.Format(), original.StreamIndex(),
                    av_guess_format("avi", nullptr, nullptr), options.audio, true);
    std::vector<int> encodedAudio;
    for (unsigned i = 0; i < encoded.Format()->nb_streams; ++i)
        if (encoded.Format()->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            encodedAudio.push_back(static_cast<int>(i));
    if (encodedAudio.size() != plan.audio.size()) {
        std::printf("%s has %zu audio streams, but encoding %s carries %zu\n", encodedName.c_str(),
                    encodedAudio.size(), originalName.c_str(), plan.audio.size());
        return kExitDiffers;
    }
    std::vector<AudioPair> audio(plan.audio.size());
    std::vector<int> carried;
    for (size_t i = 0; i < audio.size(); ++i) {
        AudioPair& a = audio[i];
        a.original = plan.audio[i].stream;
        a.encoded = encodedAudio[i];
        carried.push_back(a.original);
        if (plan.audio[i].way == AudioWay::Copy) {
            a.comparer = std::make_unique<SampleComparer>(1, 1, 0);
            continue;
        }
        a.decoders[0] =
            std::make_unique<PcmDecoder>(originalName, original.Format()->streams[a.original]);
        a.decoders[1] =
            std::make_unique<PcmDecoder>(encodedName, encoded.Format()->streams[a.encoded]);
        const AVCodecContext* d = a.decoders[1]->Decoder();
        if (a.decoders[0]->Format() != a.decoders[1]->Format() ||
            a.decoders[0]->Decoder()->ch_layout.nb_channels != d->ch_layout.nb_channels ||
            a.decoders[0]->Decoder()->sample_rate != d->sample_rate) {
            std::printf("%s: audio stream %d does not hold the samples of %s's stream %d\n",
                        encodedName.c_str(), a.encoded, originalName.c_str(), a.original);
            return kExitDiffers;
        }
        a.comparer = std::make_unique<SampleComparer>(
            d->ch_layout.nb_channels, av_get_bytes_per_sample(a.decoders[1]->Format()),
            d->sample_rate);
    }
    original.Carry(carried);
    auto addAudio = [&](int side, const AVPacket* packet) {
        for (AudioPair& a : audio)
            if ((side == 0 ? a.original : a.encoded) == packet->stream_index)
                a.Add(side, packet);
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
    FrameSync sync(encoded.FrameRate(), original.Stream()->time_base, original.Origin());
    Item item;
    FramePtr held = NewFrame(), current = NewFrame();
    int64_t copies = 0;
    bool originalEnded = false;
    // Reads the original on until a frame is due; false at its end.
    auto nextOriginal = [&] {
        while (copies == 0 && !originalEnded) {
            if (!original.Next(item)) {
                originalEnded = true;
                copies = sync.Finish(held->pts != AV_NOPTS_VALUE && held->pkt_duration > 0
                                         ? held->pts + held->pkt_duration
                                         : AV_NOPTS_VALUE);
                av_frame_unref(current.get());
                av_frame_move_ref(current.get(), held.get());
                break;
            }
            if (item.kind == Item::Kind::Packet) {
                addAudio(0, item.packet.get());
                continue;
            }
            if (item.frame->width != width || item.frame->height != height)
                throw ToolError(
                    Where(originalName, original.FramesRead() - 1, "the frame size changes"));
            copies = sync.Next(item.frame->pts);
            av_frame_unref(current.get());
            av_frame_move_ref(current.get(), held.get());
            av_frame_move_ref(held.get(), item.frame.get());
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
                addAudio(1, packet.get());
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
    // included.
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
