// tarv decode: a Tarv AVI into any output FFmpeg writes, its sound copied.
#include "tools/commands/commands.h"
#include "tools/input/avi_reader.h"
#include "tools/output/output_file.h"
#include "tools/shared/packing.h"
#include "tools/shared/progress.h"
#include "variants/ordered_workers.h"

#include <cstdio>
#include <optional>

namespace tarv {

int RunDecode(const Options& options)
{
    const std::string& in = options.files[0];
    const std::string& name = options.files[1];
    TarvReader reader(FirstInput(options), options.keepGoing);
    if (!reader.Damage().empty())
        Warn(in + ": " + reader.Damage());
    const Variant v = reader.GetVariant();
    const int width = reader.Width(), height = reader.Height();

    const StreamPlan plan = PlanStreams(in, reader.Format(), reader.StreamIndex(),
                                        OutputFormat(name, options.output), options.audio, false);
    for (const std::string& note : plan.notes)
        Note(note);
    AudioTracks audio(in, reader.Format(), plan);

    // Standard output is written as it comes; a file appears only when complete.
    const bool toPipe = name == kStandardStream;
    std::optional<OutputFile> out;
    if (!toPipe)
        out.emplace(name, std::vector<std::string>{in}, options.overwrite);
    VideoWriter writer(toPipe ? "pipe:1" : out->WritePath(), name, options.output,
                       PackedPixelFormat(v), width, height, reader.FrameRate(), audio);
    if (!writer.Loss().empty())
        Warn(name + ": " + writer.Loss());
    const int threads = ThreadCount(options.threads);

    struct Slot {
        FramePtr frame;
        int64_t index = 0;
        bool repeat = false; // an empty chunk: the previous frame again
        std::vector<uint8_t> payload, packed;
    };
    PerWorker<FrameDecoder> decoders(
        threads, [&] { return std::make_unique<FrameDecoder>(v, width, height); });
    auto work = [&](int worker, Slot& s) {
        if (s.repeat)
            return;
        s.packed.resize(FrameBytes(v, width, height));
        if (!decoders[worker].Decode(s.payload.data(), s.payload.size(), s.packed.data()))
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

    PacketPtr packet = NewPacket();
    auto fill = [&](Slot& s) {
        for (;;) {
            if (Interrupted())
                throw ToolError(Where(in, reader.FramesRead(), "interrupted"));
            s.index = reader.FramesRead();
            switch (reader.Next(s.payload, packet.get())) {
            case TarvReader::Got::End:
                return false;
            case TarvReader::Got::Payload:
                s.repeat = s.payload.empty();
                return true;
            case TarvReader::Got::Packet:
                writer.WriteAudio(packet.get());
                break;
            }
        }
    };

    Progress progress(options.quiet, "decode", reader.FrameCountHint());
    const auto frameBytes = static_cast<int64_t>(FrameBytes(v, width, height));
    // A picture is kept past its slot only when an empty chunk repeats it, so
    // slots are not copied on reuse.
    FramePtr previous = NewFrame();
    int64_t done = 0, coded = 0;
    auto take = [&](Slot& s) {
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
        ++done;
        progress.Update(done, done * frameBytes, coded);
    };
    RunInOrder(workers, fill, take);
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
    // What --keep-going could not read is said last, where it is seen.
    if (!reader.Loss().empty())
        Warn(in + ": " + reader.Loss());
    return reader.Loss().empty() && !reader.Lost() ? kExitOk : kExitIncomplete;
}

} // namespace tarv
