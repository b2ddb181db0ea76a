#include "tools/output/writer.h"

#include "tools/shared/packing.h"

#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace tarv {

namespace {

// Encoders that code exactly with an option set, and that option.
struct LosslessMode {
    const char* encoder;
    const char* key;
    const char* value;
};
constexpr LosslessMode kLosslessModes[] = {
    {"libx264", "qp", "0"}, {"libx264rgb", "qp", "0"}, {"libvpx-vp9", "lossless", "1"}};

const LosslessMode* LosslessModeOf(const AVCodec* codec)
{
    for (const LosslessMode& m : kLosslessModes)
        if (std::strcmp(codec->name, m.encoder) == 0)
            return &m;
    return nullptr;
}

// Whether frames come back from `codec` as they went in.
bool CodesExactly(const AVCodec* codec)
{
    if (LosslessModeOf(codec) != nullptr)
        return true;
    const AVCodecDescriptor* d = avcodec_descriptor_get(codec->id);
    return d != nullptr && (d->props & AV_CODEC_PROP_LOSSLESS) && !(d->props & AV_CODEC_PROP_LOSSY);
}

// Whether the container holds the codec. The MPEG-TS muxer answers for none,
// but carries H.264.
bool Holds(const AVOutputFormat* format, AVCodecID id)
{
    const int r = avformat_query_codec(format, id, FF_COMPLIANCE_NORMAL);
    return r == 1 || (r < 0 && std::strcmp(format->name, "mpegts") == 0 && id == AV_CODEC_ID_H264);
}

// Raw frames where the container takes them, else the first lossless encoder
// it holds; otherwise the format's own choice for the name (PNG for .png
// images, wrapped frames for y4m, JPEG for .jpg), whose loss is announced.
const AVCodec* ChooseEncoder(const AVOutputFormat* format, const std::string& name,
                             AVPixelFormat source, int width)
{
    const std::string muxer = format->name;
    const AVCodec* guessed = avcodec_find_encoder(
        av_guess_codec(format, nullptr, name.c_str(), nullptr, AVMEDIA_TYPE_VIDEO));
    if (muxer == "image2" || muxer == "image2pipe" || muxer == "yuv4mpegpipe")
        return guessed;
    if (Holds(format, AV_CODEC_ID_RAWVIDEO))
        return avcodec_find_encoder(AV_CODEC_ID_RAWVIDEO);
    const bool rgb = source == AV_PIX_FMT_BGR24;
    // x264 codes 4:2:2 at even widths only.
    const char* h264 = rgb ? "libx264rgb" : width % 2 == 0 ? "libx264" : "";
    for (const char* candidate : {h264, "libvpx-vp9", "ffv1"})
        if (const AVCodec* c = avcodec_find_encoder_by_name(candidate); c && Holds(format, c->id))
            return c;
    return guessed;
}

// The encoder's pixel format closest to `source`, and what is lost on the way.
AVPixelFormat ChoosePixelFormat(const AVCodec* codec, const AVOutputFormat* format,
                                AVPixelFormat source)
{
    static const AVPixelFormat kY4m[] = {AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUV420P,
                                         AV_PIX_FMT_GRAY8, AV_PIX_FMT_NONE};
    const AVPixelFormat* list = codec->pix_fmts;
    if (list == nullptr && std::strcmp(format->name, "yuv4mpegpipe") == 0)
        list = kY4m;
    if (list == nullptr)
        return source;
    for (const AVPixelFormat* f = list; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == source)
            return source;
    int loss = 0;
    return avcodec_find_best_pix_fmt_of_list(list, source, 0, &loss);
}

} // namespace

const AVOutputFormat* OutputFormat(const std::string& name, const OutputChoice& choice)
{
    const AVOutputFormat* format = choice.format.empty()
                                       ? av_guess_format(nullptr, name.c_str(), nullptr)
                                       : av_guess_format(choice.format.c_str(), nullptr, nullptr);
    if (format == nullptr)
        throw ToolError(Where(name, -1,
                              choice.format.empty() ? "cannot tell the output format from the name "
                                                      "(give --format)"
                                                    : "unknown output format " + choice.format));
    return format;
}

RecordingWriter::RecordingWriter(const std::string& path, const std::string& name,
                                 const OutputChoice& choice, AVPixelFormat source, int width,
                                 int height, AVRational rate, AudioTracks& audio)
    : m_path(name), m_audio(audio), m_packet(NewPacket())
{
    const AVOutputFormat* format = OutputFormat(name, choice);
    m_format = NewOutput(name, path, format);

    const AVCodec* codec = choice.codec.empty()
                               ? ChooseEncoder(format, name, source, width)
                               : avcodec_find_encoder_by_name(choice.codec.c_str());
    if (codec == nullptr || codec->type != AVMEDIA_TYPE_VIDEO)
        throw ToolError(Where(name, -1,
                              choice.codec.empty() ? "no video encoder for this output format"
                                                   : "unknown video encoder " + choice.codec));
    AVPixelFormat target = ChoosePixelFormat(codec, format, source);
    if (!choice.pixelFormat.empty()) {
        target = av_get_pix_fmt(choice.pixelFormat.c_str());
        if (target == AV_PIX_FMT_NONE)
            throw ToolError(Where(name, -1, "unknown pixel format " + choice.pixelFormat));
    }
    std::vector<std::string> what;
    if (target != source) {
        const int lost = av_get_pix_fmt_loss(target, source, 0);
        if (lost & FF_LOSS_RESOLUTION)
            what.push_back("chroma resolution");
        if (lost & FF_LOSS_DEPTH)
            what.push_back("bit depth");
        if (lost & (FF_LOSS_COLORSPACE | FF_LOSS_COLORQUANT))
            what.push_back("colour conversion");
        if (lost & FF_LOSS_ALPHA)
            what.push_back("alpha");
        if (lost & FF_LOSS_CHROMA)
            what.push_back("chroma");
        m_sws = sws_getContext(width, height, source, width, height, target, kScaleFlags, nullptr,
                               nullptr, nullptr);
        m_converted = NewFrame();
        m_converted->format = target;
        m_converted->width = width;
        m_converted->height = height;
        if (m_sws == nullptr || av_frame_get_buffer(m_converted.get(), 0) < 0)
            throw ToolError(Where(name, -1,
                                  "cannot convert " + PixelFormatName(source) + " to " +
                                      PixelFormatName(target)));
        // Full-range samples stay as they are in YUV, and become RGB as such.
        int *inverse = nullptr, *table = nullptr;
        int sourceRange = 0, targetRange = 0, brightness = 0, contrast = 0, saturation = 0;
        if (choice.fullRange &&
            sws_getColorspaceDetails(m_sws, &inverse, &sourceRange, &table, &targetRange,
                                     &brightness, &contrast, &saturation) >= 0)
            sws_setColorspaceDetails(m_sws, inverse, 1, table, 1, brightness, contrast, saturation);
    }
    const AVPixFmtDescriptor* targetDesc = av_pix_fmt_desc_get(target);
    if (choice.fullRange && targetDesc != nullptr && !(targetDesc->flags & AV_PIX_FMT_FLAG_RGB))
        m_range = AVCOL_RANGE_JPEG;
    if (!CodesExactly(codec))
        what.push_back(std::string(codec->name) + " is a lossy encoder (.mkv, .nut, .avi or " +
                       "PNG images keep every frame exactly)");
    m_loss = NotExact(PixelFormatName(source) +
                          (target != source ? " to " + PixelFormatName(target) : std::string()) +
                          " for " + codec->name,
                      what);

    m_stream = avformat_new_stream(m_format.get(), nullptr);
    m_encoder.reset(avcodec_alloc_context3(codec));
    if (m_stream == nullptr || !m_encoder)
        throw std::bad_alloc();
    m_encoder->width = width;
    m_encoder->height = height;
    m_encoder->pix_fmt = target;
    m_encoder->color_range = m_range;
    m_encoder->time_base = av_inv_q(rate);
    m_encoder->framerate = rate;
    if (format->flags & AVFMT_GLOBALHEADER)
        m_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* encoderOptions = nullptr;
    if (const LosslessMode* mode = LosslessModeOf(codec))
        av_dict_set(&encoderOptions, mode->key, mode->value, 0);
    int r = avcodec_open2(m_encoder.get(), codec, &encoderOptions);
    av_dict_free(&encoderOptions);
    if (r < 0)
        throw ToolError(Where(name, -1,
                              "cannot encode " + std::string(codec->name) + " in " +
                                  PixelFormatName(target) + ": " + AvError(r)));
    r = avcodec_parameters_from_context(m_stream->codecpar, m_encoder.get());
    if (r < 0)
        throw ToolError(Where(name, -1, AvError(r)));
    m_stream->time_base = m_encoder->time_base;
    m_stream->avg_frame_rate = rate;
    m_audio.AddTo(m_format.get());
    // Matroska takes raw RGB only the Video for Windows way, which it then
    // reads back as it was written.
    AVDictionary* muxerOptions = nullptr;
    if (std::strcmp(format->name, "matroska") == 0 && codec->id == AV_CODEC_ID_RAWVIDEO)
        av_dict_set(&muxerOptions, "allow_raw_vfw", "1", 0);
    try {
        StartOutput(m_format.get(), name, path, &muxerOptions);
    } catch (...) {
        av_dict_free(&muxerOptions);
        throw;
    }
    av_dict_free(&muxerOptions);
}

RecordingWriter::~RecordingWriter()
{
    sws_freeContext(m_sws);
}

std::string RecordingWriter::Description() const
{
    return std::string(m_format->oformat->name) + ", " + m_encoder->codec->name + ", " +
           PixelFormatName(m_encoder->pix_fmt);
}

void RecordingWriter::Drain(bool flush)
{
    for (;;) {
        const int r = avcodec_receive_packet(m_encoder.get(), m_packet.get());
        if (r == AVERROR(EAGAIN) || (flush && r == AVERROR_EOF))
            return;
        if (r < 0)
            throw ToolError(Where(m_path, m_frames, "cannot encode: " + AvError(r)));
        m_packet->stream_index = m_stream->index;
        WritePacket(m_format.get(), m_path, m_packet.get(), m_encoder->time_base);
    }
}

void RecordingWriter::Write(const AVFrame* frame)
{
    const AVFrame* out = frame;
    if (m_sws != nullptr) {
        if (av_frame_make_writable(m_converted.get()) < 0)
            throw std::bad_alloc();
        sws_scale(m_sws, frame->data, frame->linesize, 0, frame->height, m_converted->data,
                  m_converted->linesize);
        out = m_converted.get();
    }
    // pts is all the encoder looks at besides the pixels.
    AVFrame* mutableOut = const_cast<AVFrame*>(out);
    mutableOut->pts = m_frames;
    if (m_range != AVCOL_RANGE_UNSPECIFIED)
        mutableOut->color_range = m_range;
    const int r = avcodec_send_frame(m_encoder.get(), mutableOut);
    if (r < 0)
        throw ToolError(Where(m_path, m_frames, "cannot encode: " + AvError(r)));
    Drain(false);
    ++m_frames;
}

void RecordingWriter::Finish()
{
    const int r = avcodec_send_frame(m_encoder.get(), nullptr);
    if (r < 0 && r != AVERROR_EOF)
        throw ToolError(Where(m_path, -1, "cannot encode: " + AvError(r)));
    Drain(true);
    m_audio.Finish(m_format.get(), m_path);
    FinishOutput(m_format.get(), m_path);
}

} // namespace tarv
