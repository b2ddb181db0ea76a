// tarv decode: a Tarv AVI into any output FFmpeg writes, its sound copied.
#include "tools/commands/commands.h"
#include "tools/input/avi_reader.h"
#include "tools/output/output_file.h"
#include "tools/shared/packing.h"
#include "tools/shared/progress.h"
#include "variants/parallel_decoder.h"

#include <cstdio>
#include <optional>

namespace tarv {
namespace {

// One frame on its way from the file to the output.
struct Slot {
    int64_t index = 0;
    bool repeat = false; // an empty chunk: the previous frame again
    std::vector<uint8_t> payload;
    FramePtr frame;
};
using Decoder = ParallelDecoder<Slot>;

// The frames of a Tarv AVI decoded on worker threads and written in their
// order, with the sound read between them.
class FrameCopy {
public:
    FrameCopy(const std::string& in, TarvAviReader& reader, RecordingWriter& writer,
              Progress& progress, int threads)
        : m_in(in), m_reader(reader), m_writer(writer), m_progress(progress),
          m_variant(reader.GetVariant()), m_width(reader.Width()), m_height(reader.Height()),
          m_decoder(m_variant, m_width, m_height, threads, FrameLayout::Picture)
    {
    }

    // The frames written.
    int64_t Run()
    {
        RunInOrder(
            m_decoder, [this](Decoder::Frame& f) { return Fill(f); },
            [this](Decoder::Frame& f) { Take(f); });
        return m_done;
    }

private:
    // The next frame read, and the sound before it written; false at the end.
    bool Fill(Decoder::Frame& f)
    {
        Slot& s = f.tag;
        for (;;) {
            if (Interrupted())
                throw ToolError(Where(m_in, m_reader.FramesRead(), "interrupted"));
            s.index = m_reader.FramesRead();
            switch (m_reader.Next(s.payload, m_packet.get())) {
            case TarvAviReader::Chunk::End:
                return false;
            case TarvAviReader::Chunk::Payload:
                s.repeat = s.payload.empty();
                Aim(f);
                return true;
            case TarvAviReader::Chunk::Packet:
                m_writer.WriteAudio(m_packet.get());
                break;
            }
        }
    }

    // Where the frame decodes to: the slot's own picture, made anew when the
    // output's encoder still holds the last one. A repeat decodes nothing.
    void Aim(Decoder::Frame& f)
    {
        Slot& s = f.tag;
        f.payload = s.payload.data();
        f.size = s.payload.size();
        f.pixels = nullptr;
        if (s.repeat)
            return;
        if (!s.frame || !av_frame_is_writable(s.frame.get())) {
            s.frame = NewFrame();
            s.frame->format = PackedPixelFormat(m_variant);
            s.frame->width = m_width;
            s.frame->height = m_height;
            if (av_frame_get_buffer(s.frame.get(), 0) < 0)
                throw std::bad_alloc();
        }
        f.pixels = s.frame->data[0];
        f.stride = static_cast<size_t>(s.frame->linesize[0]);
    }

    void Take(Decoder::Frame& f)
    {
        const Slot& s = f.tag;
        if (!s.repeat && !f.decoded)
            throw ToolError(Where(m_in, s.index, "damaged frame: the codec cannot decode it"));
        // A picture is kept past its slot only when an empty chunk repeats it,
        // so slots are not copied on reuse.
        const Decoder::Frame* next = m_decoder.Peek(1);
        const bool keep = next != nullptr && next->tag.repeat;
        if (s.repeat) {
            if (m_previous->buf[0] == nullptr)
                throw ToolError(
                    Where(m_in, s.index, "damaged frame: empty, with no frame before it"));
            m_writer.Write(m_previous.get());
            if (!keep)
                av_frame_unref(m_previous.get());
        } else {
            m_writer.Write(s.frame.get());
            av_frame_unref(m_previous.get());
            if (keep && av_frame_ref(m_previous.get(), s.frame.get()) < 0)
                throw std::bad_alloc();
        }
        m_coded += static_cast<int64_t>(s.payload.size());
        ++m_done;
        const auto frameBytes = static_cast<int64_t>(FrameBytes(m_variant, m_width, m_height));
        m_progress.Update(m_done, m_done * frameBytes, m_coded);
    }

    const std::string& m_in;
    TarvAviReader& m_reader;
    RecordingWriter& m_writer;
    Progress& m_progress;
    Variant m_variant;
    int m_width, m_height;
    Decoder m_decoder;
    PacketPtr m_packet = NewPacket();
    FramePtr m_previous = NewFrame();
    int64_t m_done = 0, m_coded = 0;
};

} // namespace

int RunDecode(const Options& options)
{
    const std::string& in = options.files[0];
    const std::string& name = options.files[1];
    TarvAviReader reader(FirstInput(options), options.keepGoing);
    if (!reader.Damage().empty())
        Warn(in + ": " + reader.Damage());
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
    const int width = reader.Width(), height = reader.Height();
    RecordingWriter writer(toPipe ? "pipe:1" : out->WritePath(), name, options.output,
                           PackedPixelFormat(reader.GetVariant()), width, height,
                           reader.FrameRate(), audio);
    if (!writer.Loss().empty())
        Warn(name + ": " + writer.Loss());

    Progress progress(options.quiet, "decode", reader.FrameCountHint());
    const int64_t done =
        FrameCopy(in, reader, writer, progress, ThreadCount(options.threads)).Run();
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
