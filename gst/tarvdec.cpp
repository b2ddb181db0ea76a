// tarvdec: a GStreamer video decoder for Tarv streams (FourCC TRVY and TRVR),
// on the plain frame interface (variants/frame_coder.h).
//
// Every frame is a key frame and decodes alone, so with threads > 1 frames go
// to worker threads, one codec object each, and come back in their order
// (variants/parallel_decoder.h); the streaming thread maps buffers and
// finishes frames, since the base class wants those under its stream lock.
// With one thread, frames decode on the streaming thread itself.
#include "gst/avi_header.h"
#include "variants/parallel_decoder.h"
#include "variants/registry.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <vector>

#ifndef PACKAGE
#define PACKAGE "tarv"
#endif

GST_DEBUG_CATEGORY_STATIC(tarv_dec_debug);
#define GST_CAT_DEFAULT tarv_dec_debug

namespace {

// What tarvdec gives for a variant's pictures: the raw format, and the
// colorimetry where the format implies one.
struct RawOutput {
    GstVideoFormat format;
    const char* colorimetry;
};

RawOutput RawOutputOf(tarv::Variant v)
{
    switch (tarv::Info(v).picture) {
    case tarv::PictureFormat::Yuyv422:
        // Video for Windows YUY2 is BT.601 with studio range, whatever the
        // size; FFmpeg reads and the tarv tool writes it so.
        return {GST_VIDEO_FORMAT_YUY2, GST_VIDEO_COLORIMETRY_BT601};
    case tarv::PictureFormat::Bgr24:
        return {GST_VIDEO_FORMAT_BGR, nullptr};
    }
    return {GST_VIDEO_FORMAT_UNKNOWN, nullptr};
}

// The element's part of a frame in flight: the frame, and its buffers mapped
// while a worker reads and writes them.
struct Job {
    GstVideoCodecFrame* frame = nullptr;
    guint64 sequence = 0; // of the frames handed in, empty ones too
    GstMapInfo in{};
    GstVideoFrame out{};
};
using Engine = tarv::ParallelDecoder<Job>;

} // namespace

G_BEGIN_DECLS
#define TARV_TYPE_DEC (tarv_dec_get_type())
G_DECLARE_FINAL_TYPE(TarvDec, tarv_dec, TARV, DEC, GstVideoDecoder)
G_END_DECLS

struct _TarvDec {
    GstVideoDecoder parent;
    int threads; // the property: 0 for one per processor
    GstVideoCodecState* input;
    GstVideoCodecState* output;
    Engine* engine;
    size_t rowBytes; // the least output stride that holds a row
    guint64 arrived; // frames handed in since the format was set, empty ones too
    // From the file's header: its frame count (0 when unknown), and the
    // furthest frame handed in, to tell a file cut short; the file and the
    // stream's number in it, when the header came from one.
    guint64 frames, furthest;
    gchar* file;
    guint stream;
};

G_DEFINE_TYPE(TarvDec, tarv_dec, GST_TYPE_VIDEO_DECODER)

namespace {

enum { PROP_0, PROP_THREADS };
constexpr int kMaxThreads = 64;

// The frame's number counted from the start of the stream, where its time
// and the frame rate tell it.
std::optional<guint64> FrameNumber(TarvDec* self, const GstVideoCodecFrame* frame)
{
    const GstVideoInfo* info = self->input ? &self->input->info : nullptr;
    if (!GST_CLOCK_TIME_IS_VALID(frame->pts) || !info || info->fps_n <= 0 || info->fps_d <= 0)
        return std::nullopt;
    return gst_util_uint64_scale_round(frame->pts, static_cast<guint64>(info->fps_n),
                                       static_cast<guint64>(info->fps_d) * GST_SECOND);
}

// "Frame 12 (0:00:00.480000000)", as far as it is known.
gchar* DescribeFrame(TarvDec* self, const GstVideoCodecFrame* frame)
{
    if (!GST_CLOCK_TIME_IS_VALID(frame->pts))
        return g_strdup("A frame");
    if (const auto n = FrameNumber(self, frame))
        return g_strdup_printf("Frame %" G_GUINT64_FORMAT " (%" GST_TIME_FORMAT ")", *n,
                               GST_TIME_ARGS(frame->pts));
    return g_strdup_printf("The frame at %" GST_TIME_FORMAT, GST_TIME_ARGS(frame->pts));
}

// The oldest frame in flight, decoded and unmapped, out of the engine.
GstVideoCodecFrame* TakeOldest(TarvDec* self, bool* decoded = nullptr)
{
    try {
        self->engine->Front();
    } catch (const std::exception& e) {
        // A worker ran out of memory: the frame comes back not decoded.
        GST_WARNING_OBJECT(self, "frame not decoded: %s", e.what());
    }
    Engine::Frame& oldest = self->engine->Front();
    Job& job = oldest.tag;
    if (decoded)
        *decoded = oldest.decoded;
    gst_buffer_unmap(job.frame->input_buffer, &job.in);
    gst_video_frame_unmap(&job.out);
    GstVideoCodecFrame* frame = job.frame;
    self->engine->Pop();
    return frame;
}

// True when the oldest frame in flight has `threads` frames handed in behind
// it: then it goes out, so that a drop frame counts too.
bool Due(TarvDec* self, guint64 sequence)
{
    const Engine::Frame* oldest = self->engine->Peek(0);
    return oldest &&
           sequence - oldest->tag.sequence >= static_cast<guint64>(self->engine->Threads());
}

// Hands the oldest frame on: downstream when it decoded, dropped with a
// warning (an error past max-errors) when it did not.
GstFlowReturn FinishOldest(TarvDec* self)
{
    auto* dec = GST_VIDEO_DECODER(self);
    bool ok = false;
    GstVideoCodecFrame* frame = TakeOldest(self, &ok);
    if (ok)
        return gst_video_decoder_finish_frame(dec, frame);
    // A damaged frame is dropped with a warning, and is an error past the
    // base class's max-errors.
    gchar* what = DescribeFrame(self, frame);
    GstFlowReturn ret = GST_FLOW_OK;
    GST_VIDEO_DECODER_ERROR(
        self, 1, STREAM, DECODE, ("%s is damaged: the Tarv codec cannot decode it.", what),
        ("payload of %" G_GSIZE_FORMAT " bytes", gst_buffer_get_size(frame->input_buffer)), ret);
    if (ret == GST_FLOW_OK)
        GST_ELEMENT_WARNING(
            self, STREAM, DECODE,
            ("%s is damaged: the Tarv codec cannot decode it. It is dropped.", what),
            ("payload of %" G_GSIZE_FORMAT " bytes", gst_buffer_get_size(frame->input_buffer)));
    g_free(what);
    const GstFlowReturn dropped = gst_video_decoder_drop_frame(dec, frame);
    return ret != GST_FLOW_OK ? ret : dropped;
}

// Waits for the frames in flight and forgets them: a flush or a stop.
void DiscardAll(TarvDec* self)
{
    while (self->engine && !self->engine->Empty())
        gst_video_decoder_release_frame(GST_VIDEO_DECODER(self), TakeOldest(self));
}

// Every frame in flight out, in order, up to the first that cannot go.
GstFlowReturn FinishAll(TarvDec* self)
{
    while (self->engine && !self->engine->Empty()) {
        const GstFlowReturn ret = FinishOldest(self);
        if (ret != GST_FLOW_OK) {
            DiscardAll(self);
            return ret;
        }
    }
    return GST_FLOW_OK;
}

void DestroyEngine(TarvDec* self)
{
    DiscardAll(self);
    delete self->engine;
    self->engine = nullptr;
}

int ThreadCount(int property)
{
    return property > 0 ? property : std::clamp(static_cast<int>(g_get_num_processors()), 1, 16);
}

// The FourCC in caps: a number from avidemux, four letters from matroskademux.
std::optional<tarv::Variant> VariantOf(const GstStructure* s)
{
    gint number = 0;
    if (gst_structure_get_int(s, "fourcc", &number))
        return tarv::VariantByFourCC(static_cast<uint32_t>(number));
    const gchar* text = gst_structure_get_string(s, "fourcc");
    if (text == nullptr || std::strlen(text) != 4)
        return std::nullopt;
    return tarv::VariantByFourCC(GST_STR_FOURCC(text));
}

// The stream's number in its file: demuxers end its stream id with it.
std::optional<unsigned> StreamNumber(GstPad* pad)
{
    gchar* id = gst_pad_get_stream_id(pad);
    std::optional<unsigned> number;
    const gchar* slash = id ? std::strrchr(id, '/') : nullptr;
    if (slash && g_ascii_isdigit(slash[1])) {
        gchar* end = nullptr;
        const guint64 n = g_ascii_strtoull(slash + 1, &end, 10);
        if (*end == '\0' && n <= G_MAXUINT)
            number = static_cast<unsigned>(n);
    }
    g_free(id);
    return number;
}

// The stream's size and rate from the header of the local AVI file upstream
// reads, when it reads one; the file's name is kept in self->file.
std::optional<tarv_gst::AviVideo> VideoFromUpstreamFile(TarvDec* self, tarv::Variant v)
{
    GstPad* pad = GST_VIDEO_DECODER_SINK_PAD(self);
    GstQuery* query = gst_query_new_uri();
    gchar* uri = nullptr;
    if (gst_pad_peer_query(pad, query))
        gst_query_parse_uri(query, &uri);
    gst_query_unref(query);
    gchar* path = uri ? g_filename_from_uri(uri, nullptr, nullptr) : nullptr;
    g_free(uri);
    if (path == nullptr)
        return std::nullopt;
    std::vector<uint8_t> header(tarv_gst::kAviHeaderBytes);
    size_t got = 0;
    if (FILE* file = std::fopen(path, "rb")) {
        got = std::fread(header.data(), 1, header.size(), file);
        std::fclose(file);
    }
    GST_DEBUG_OBJECT(self, "read %" G_GSIZE_FORMAT " header bytes of %s", got, path);
    auto video =
        tarv_gst::AviVideoStream(header.data(), got, tarv::Info(v).fourccValue, StreamNumber(pad));
    if (video)
        self->file = path;
    else
        g_free(path);
    return video;
}

// True when the frames past the furthest that came are all in the file, as
// empty chunks: Video for Windows drop frames, which avidemux skips.
bool EndsInDropFrames(TarvDec* self)
{
    if (self->file == nullptr)
        return false;
    FILE* file = std::fopen(self->file, "rb");
    if (file == nullptr)
        return false;
    const off_t size = fseeko(file, 0, SEEK_END) == 0 ? ftello(file) : -1;
    const auto read = [file](uint64_t offset, uint8_t* to, size_t bytes) -> size_t {
        return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0
                   ? std::fread(to, 1, bytes, file)
                   : 0;
    };
    const auto chunks =
        size > 0 ? tarv_gst::AviStreamChunks(read, static_cast<uint64_t>(size), self->stream)
                 : tarv_gst::AviChunks{};
    std::fclose(file);
    GST_DEBUG_OBJECT(self,
                     "%s holds %" G_GUINT64_FORMAT " chunks, the last not empty %" G_GUINT64_FORMAT,
                     self->file, chunks.count, chunks.coded);
    return chunks.count >= self->frames && chunks.coded <= self->furthest;
}

// Base class calls come from C: nothing may be thrown through them. A failure
// becomes an element error and the call's failing result.
template <class Result, class Body> Result Guarded(TarvDec* self, Result failed, Body&& body)
{
    try {
        return body();
    } catch (const std::exception& e) {
        GST_ELEMENT_ERROR(self, CORE, FAILED, ("The Tarv decoder failed."), ("%s", e.what()));
        return failed;
    }
}

gboolean SetFormat(GstVideoDecoder* dec, GstVideoCodecState* state)
{
    auto* self = TARV_DEC(dec);
    // Frames of the old format go out before the new one takes over.
    const gboolean finished = Guarded(self, FALSE, [&] {
        FinishAll(self);
        DestroyEngine(self);
        return TRUE;
    });
    if (!finished)
        return FALSE;

    self->frames = self->furthest = 0;
    g_clear_pointer(&self->file, g_free);
    const auto variant = VariantOf(gst_caps_get_structure(state->caps, 0));
    if (!variant) {
        gchar* caps = gst_caps_to_string(state->caps);
        GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("Not a Tarv stream the decoder can take."),
                          ("caps %s", caps));
        g_free(caps);
        return FALSE;
    }
    // Demuxers give a Tarv stream's FourCC but not its size: caps carry it
    // only when set by hand (a capsfilter); otherwise it comes from the file.
    GstVideoInfo& in = state->info;
    if (in.width <= 0 || in.height <= 0) {
        const auto video = VideoFromUpstreamFile(self, *variant);
        if (!video) {
            GST_ELEMENT_ERROR(
                self, STREAM, FORMAT, ("The Tarv stream's frame size is not known."),
                ("demuxers do not tell it: tarvdec reads it from the header of a local AVI "
                 "file; elsewhere give it in the caps, e.g. with a capsfilter adding "
                 "width and height"));
            return FALSE;
        }
        in.width = video->width;
        in.height = video->height;
        self->frames = video->frames;
        self->stream = video->stream;
        if (in.fps_n <= 0 && video->rate > 0 && video->rate <= G_MAXINT &&
            video->scale <= G_MAXINT) {
            in.fps_n = static_cast<gint>(video->rate);
            in.fps_d = static_cast<gint>(video->scale);
        }
    }
    const int width = in.width, height = in.height;
    GST_OBJECT_LOCK(self);
    const int threads = ThreadCount(self->threads);
    GST_OBJECT_UNLOCK(self);
    try {
        self->engine = new Engine(*variant, width, height, threads, tarv::FrameLayout::Picture);
    } catch (const std::bad_alloc&) {
        GST_ELEMENT_ERROR(self, RESOURCE, NO_SPACE_LEFT,
                          ("Out of memory for %dx%d Tarv frames.", width, height), (nullptr));
        return FALSE;
    } catch (const std::exception& e) {
        GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                          ("The Tarv codec cannot decode frames of %dx%d.", width, height),
                          ("%s", e.what()));
        return FALSE;
    }
    self->rowBytes = tarv::TopDownRowBytes(*variant, width);
    self->arrived = 0;

    if (self->input)
        gst_video_codec_state_unref(self->input);
    self->input = gst_video_codec_state_ref(state);
    if (self->output)
        gst_video_codec_state_unref(self->output);
    const RawOutput raw = RawOutputOf(*variant);
    self->output = gst_video_decoder_set_output_state(dec, raw.format, static_cast<guint>(width),
                                                      static_cast<guint>(height), state);
    if (raw.colorimetry != nullptr)
        gst_video_colorimetry_from_string(&self->output->info.colorimetry, raw.colorimetry);

    // A frame goes out once `threads` more have come in behind it, which keeps
    // every worker busy while the streaming thread waits for upstream; with
    // one thread it goes out at once.
    const int held = threads > 1 ? threads : 0;
    GstClockTime latency = 0;
    if (state->info.fps_n > 0 && state->info.fps_d > 0)
        latency = gst_util_uint64_scale_ceil(static_cast<guint64>(held) * GST_SECOND,
                                             static_cast<guint64>(state->info.fps_d),
                                             static_cast<guint64>(state->info.fps_n));
    gst_video_decoder_set_latency(dec, latency, latency);
    GST_DEBUG_OBJECT(self, "%s %dx%d on %d threads", tarv::Info(*variant).name, width, height,
                     threads);
    // Caps go downstream with the first frame, once the source pad is linked.
    return TRUE;
}

GstFlowReturn HandleFrameUnsafe(TarvDec* self, GstVideoCodecFrame* frame)
{
    auto* dec = GST_VIDEO_DECODER(self);
    if (!self->engine) {
        gst_video_decoder_release_frame(dec, frame);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    if (const auto n = FrameNumber(self, frame))
        self->furthest = std::max(self->furthest, *n + 1);
    const guint64 sequence = self->arrived++;
    while (Due(self, sequence)) {
        const GstFlowReturn ret = FinishOldest(self);
        if (ret != GST_FLOW_OK) {
            gst_video_decoder_release_frame(dec, frame);
            return ret;
        }
    }
    if (gst_buffer_get_size(frame->input_buffer) == 0) {
        // A Video for Windows "drop frame": the picture before stays up, as
        // when avidemux skips an empty chunk.
        GST_LOG_OBJECT(self, "empty frame: the previous picture stays");
        gst_video_decoder_release_frame(dec, frame);
        return GST_FLOW_OK;
    }
    GstFlowReturn ret = gst_video_decoder_allocate_output_frame(dec, frame);
    if (ret != GST_FLOW_OK) {
        gst_video_decoder_release_frame(dec, frame);
        return ret;
    }
    Engine::Frame& next = self->engine->Back();
    Job& job = next.tag;
    job.frame = frame;
    job.sequence = sequence;
    if (!gst_buffer_map(frame->input_buffer, &job.in, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Cannot read a Tarv frame."), (nullptr));
        gst_video_decoder_release_frame(dec, frame);
        return GST_FLOW_ERROR;
    }
    const bool mapped =
        gst_video_frame_map(&job.out, &self->output->info, frame->output_buffer, GST_MAP_WRITE);
    if (!mapped || GST_VIDEO_FRAME_PLANE_STRIDE(&job.out, 0) < 0 ||
        static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&job.out, 0)) < self->rowBytes) {
        if (mapped)
            gst_video_frame_unmap(&job.out);
        gst_buffer_unmap(frame->input_buffer, &job.in);
        GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Cannot write a decoded frame."),
                          ("the output buffer does not hold the frame"));
        gst_video_decoder_release_frame(dec, frame);
        return GST_FLOW_ERROR;
    }
    next.payload = job.in.data;
    next.size = job.in.size;
    next.pixels = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&job.out, 0));
    next.stride = static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&job.out, 0));
    self->engine->Submit();
    // With one thread the frame is done already.
    if (self->engine->Threads() == 1)
        ret = FinishOldest(self);
    return ret;
}

GstFlowReturn HandleFrame(GstVideoDecoder* dec, GstVideoCodecFrame* frame)
{
    auto* self = TARV_DEC(dec);
    return Guarded(self, GST_FLOW_ERROR, [&] { return HandleFrameUnsafe(self, frame); });
}

GstFlowReturn Drain(GstVideoDecoder* dec)
{
    auto* self = TARV_DEC(dec);
    return Guarded(self, GST_FLOW_ERROR, [&] { return FinishAll(self); });
}

// At the end of the stream: every frame out, and an error when a file played
// to its end stopped short of the frames its header counts (drop frames at its
// end aside: they leave the last picture up).
GstFlowReturn Finish(GstVideoDecoder* dec)
{
    auto* self = TARV_DEC(dec);
    GstFlowReturn ret = Drain(dec);
    const GstSegment& segment = dec->input_segment;
    if (ret == GST_FLOW_OK && self->furthest > 0 && self->furthest < self->frames &&
        segment.rate > 0 && !GST_CLOCK_TIME_IS_VALID(segment.stop) && !EndsInDropFrames(self)) {
        GST_ELEMENT_ERROR(self, STREAM, DECODE,
                          ("The Tarv stream ends after %" G_GUINT64_FORMAT
                           " of the %" G_GUINT64_FORMAT " frames its header counts: the file "
                           "is cut short.",
                           self->furthest, self->frames),
                          (nullptr));
        ret = GST_FLOW_ERROR;
    }
    return ret;
}

gboolean Flush(GstVideoDecoder* dec)
{
    auto* self = TARV_DEC(dec);
    return Guarded(self, FALSE, [&] {
        DiscardAll(self);
        return TRUE;
    });
}

gboolean Stop(GstVideoDecoder* dec)
{
    auto* self = TARV_DEC(dec);
    // The codec states go whether or not the frames in flight finished well.
    Guarded(self, FALSE, [&] {
        DestroyEngine(self);
        return TRUE;
    });
    g_clear_pointer(&self->input, gst_video_codec_state_unref);
    g_clear_pointer(&self->output, gst_video_codec_state_unref);
    g_clear_pointer(&self->file, g_free);
    return TRUE;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    auto* self = TARV_DEC(object);
    if (id == PROP_THREADS) {
        GST_OBJECT_LOCK(self);
        self->threads = g_value_get_int(value);
        GST_OBJECT_UNLOCK(self);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    auto* self = TARV_DEC(object);
    if (id == PROP_THREADS) {
        GST_OBJECT_LOCK(self);
        g_value_set_int(value, self->threads);
        GST_OBJECT_UNLOCK(self);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

// The caps of every variant: its FourCC in, as avidemux and matroskademux
// (V_MS/VFW/FOURCC) give it, its packed format out.
GstCaps* SinkCaps()
{
    GstCaps* caps = gst_caps_new_empty();
    for (tarv::Variant v : tarv::AllVariants())
        gst_caps_append_structure(
            caps, gst_structure_new("video/x-avi-unknown", "fourcc", G_TYPE_INT,
                                    static_cast<gint>(tarv::Info(v).fourccValue), nullptr));
    for (tarv::Variant v : tarv::AllVariants())
        gst_caps_append_structure(
            caps, gst_structure_new("video/x-unknown", "codec-id", G_TYPE_STRING, "V_MS/VFW/FOURCC",
                                    "fourcc", G_TYPE_STRING, tarv::Info(v).fourcc, nullptr));
    return caps;
}

GstCaps* SourceCaps()
{
    GstCaps* caps = gst_caps_new_empty();
    for (tarv::Variant v : tarv::AllVariants())
        gst_caps_append(caps, gst_video_make_raw_caps(std::array{RawOutputOf(v).format}.data(), 1));
    return caps;
}

} // namespace

static void tarv_dec_init(TarvDec* self)
{
    self->threads = 0;
    self->engine = nullptr;
    self->rowBytes = 0;
    self->arrived = 0;
    self->input = nullptr;
    self->output = nullptr;
    self->frames = self->furthest = 0;
    self->file = nullptr;
    self->stream = 0;
    auto* dec = GST_VIDEO_DECODER(self);
    gst_video_decoder_set_packetized(dec, TRUE);
    gst_video_decoder_set_needs_format(dec, TRUE);
    gst_video_decoder_set_use_default_pad_acceptcaps(dec, TRUE);
    GST_PAD_SET_ACCEPT_TEMPLATE(GST_VIDEO_DECODER_SINK_PAD(dec));
}

static void tarv_dec_class_init(TarvDecClass* klass)
{
    auto* object = G_OBJECT_CLASS(klass);
    object->set_property = SetProperty;
    object->get_property = GetProperty;
    g_object_class_install_property(
        object, PROP_THREADS,
        g_param_spec_int("threads", "Threads",
                         "Frames decoded at once, each on its own thread (0: one per processor; "
                         "1: on the streaming thread)",
                         0, kMaxThreads, 0,
                         static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                  GST_PARAM_MUTABLE_READY)));

    auto* element = GST_ELEMENT_CLASS(klass);
    GstCaps* sink = SinkCaps();
    GstCaps* source = SourceCaps();
    gst_element_class_add_pad_template(
        element, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, sink));
    gst_element_class_add_pad_template(
        element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, source));
    gst_caps_unref(sink);
    gst_caps_unref(source);
    gst_element_class_set_static_metadata(element, "Tarv video decoder", "Codec/Decoder/Video",
                                          "Decodes Tarv lossless video (FourCC TRVY and TRVR)",
                                          "The Tarv developers");

    auto* dec = GST_VIDEO_DECODER_CLASS(klass);
    dec->stop = Stop;
    dec->set_format = SetFormat;
    dec->handle_frame = HandleFrame;
    dec->drain = Drain;
    dec->finish = Finish;
    dec->flush = Flush;
}

static gboolean plugin_init(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(tarv_dec_debug, "tarvdec", 0, "Tarv video decoder");
    return gst_element_register(plugin, "tarvdec", GST_RANK_PRIMARY, TARV_TYPE_DEC);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, tarv, "Tarv lossless video decoder",
                  plugin_init, TARV_VERSION, "BSD", "Tarv", "the Tarv source tree")
