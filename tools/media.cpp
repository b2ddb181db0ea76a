#include "tools/media.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace tarv {
namespace {

constexpr int kScaleFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;

// FFmpeg's full-range ("J") YUV formats hold the same samples as the plain
// ones; naming them plainly keeps swscale from rescaling the range.
AVPixelFormat PlainRange(AVPixelFormat f)
{
    switch (f) {
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        return AV_PIX_FMT_YUV411P;
    default:
        return f;
    }
}

std::string PixelFormatName(AVPixelFormat f)
{
    const char* name = av_get_pix_fmt_name(f);
    return name != nullptr ? name : "unknown";
}

std::string ChromaName(const AVPixFmtDescriptor* d)
{
    const int w = d->log2_chroma_w, h = d->log2_chroma_h;
    if (w == 0 && h == 0)
        return "4:4:4";
    if (w == 1 && h == 0)
        return "4:2:2";
    if (w == 1 && h == 1)
        return "4:2:0";
    if (w == 2 && h == 0)
        return "4:1:1";
    return "subsampled";
}

int MaxDepth(const AVPixFmtDescriptor* d)
{
    int depth = 0;
    for (int i = 0; i < d->nb_components; ++i)
        depth = std::max(depth, d->comp[i].depth);
    return depth;
}

std::string Join(const std::vector<std::string>& parts)
{
    std::string text;
    for (const std::string& p : parts)
        text += (text.empty() ? "" : "; ") + p;
    return text;
}

// `path` is where the bytes go (a temporary name); `name` is what the user
// asked for, used in messages.
AVFormatContext* OpenOutput(const std::string& name, const std::string& path,
                            const AVOutputFormat* format)
{
    AVFormatContext* context = nullptr;
    const int r = avformat_alloc_output_context2(&context, format, nullptr, path.c_str());
    if (r < 0 || context == nullptr)
        throw ToolError(Where(name, -1, "cannot write: " + AvError(r)));
    return context;
}

void OpenFile(AVFormatContext* context, const std::string& name, const std::string& path)
{
    if (context->oformat->flags & AVFMT_NOFILE)
        return;
    const int r = avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (r < 0)
        throw ToolError(Where(name, -1, "cannot write: " + AvError(r)));
}

} // namespace

std::string AvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string Where(const std::string& file, int64_t frame, const std::string& what)
{
    if (frame < 0)
        return file + ": " + what;
    return file + ": frame " + std::to_string(frame) + ": " + what;
}

void FormatContextDeleter::operator()(AVFormatContext* c) const
{
    if (c == nullptr)
        return;
    if (c->iformat != nullptr) {
        avformat_close_input(&c);
        return;
    }
    if (c->pb != nullptr && !(c->oformat->flags & AVFMT_NOFILE))
        avio_closep(&c->pb);
    avformat_free_context(c);
}

FramePtr NewFrame()
{
    FramePtr f(av_frame_alloc());
    if (!f)
        throw std::bad_alloc();
    return f;
}

PacketPtr NewPacket()
{
    PacketPtr p(av_packet_alloc());
    if (!p)
        throw std::bad_alloc();
    return p;
}

FormatPtr OpenInput(const std::string& path)
{
    AVFormatContext* context = nullptr;
    const std::string url = path == kStandardStream ? "pipe:0" : path;
    int r = avformat_open_input(&context, url.c_str(), nullptr, nullptr);
    if (r < 0)
        throw ToolError(Where(path, -1, "cannot read: " + AvError(r)));
    FormatPtr format(context);
    r = avformat_find_stream_info(context, nullptr);
    if (r < 0)
        throw ToolError(Where(path, -1, "cannot read: " + AvError(r)));
    return format;
}

// ---- VideoReader ----------------------------------------------------------

VideoReader::VideoReader(const std::string& path)
    : m_path(path), m_packet(NewPacket()), m_frame(NewFrame())
{
    m_format = OpenInput(path);
    AVFormatContext* context = m_format.get();
    const AVCodec* codec = nullptr;
    m_stream = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (m_stream == AVERROR_STREAM_NOT_FOUND)
        throw ToolError(Where(path, -1, "has no video stream"));
    if (m_stream < 0 || codec == nullptr) {
        for (unsigned i = 0; i < context->nb_streams; ++i)
            if (VariantByFourCC(context->streams[i]->codecpar->codec_tag))
                throw ToolError(Where(path, -1, "is already a Tarv file (use tarv decode)"));
        throw ToolError(Where(path, -1, "unsupported video format: no decoder for it"));
    }
    const AVStream* stream = context->streams[m_stream];
    m_decoder.reset(avcodec_alloc_context3(codec));
    if (!m_decoder)
        throw std::bad_alloc();
    int r = avcodec_parameters_to_context(m_decoder.get(), stream->codecpar);
    if (r >= 0) {
        m_decoder->thread_count = 0;
        r = avcodec_open2(m_decoder.get(), codec, nullptr);
    }
    if (r < 0)
        throw ToolError(
            Where(path, -1, "cannot decode " + std::string(codec->name) + ": " + AvError(r)));
    if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0)
        m_rate = stream->avg_frame_rate;
    else if (stream->r_frame_rate.num > 0 && stream->r_frame_rate.den > 0)
        m_rate = stream->r_frame_rate;
    m_countHint = stream->nb_frames;
    if (m_countHint <= 0 && stream->duration > 0)
        m_countHint = av_rescale_q(stream->duration, stream->time_base, av_inv_q(m_rate));
    if (m_countHint <= 0 && context->duration > 0)
        m_countHint =
            av_rescale_q(context->duration, AVRational{1, AV_TIME_BASE}, av_inv_q(m_rate));
}

VideoReader::~VideoReader() = default;

bool VideoReader::Receive()
{
    av_frame_unref(m_frame.get());
    const int r = avcodec_receive_frame(m_decoder.get(), m_frame.get());
    if (r == 0)
        return true;
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
        return false;
    throw ToolError(Where(m_path, m_frames, "damaged frame: " + AvError(r)));
}

const AVFrame* VideoReader::Next()
{
    for (;;) {
        if (Receive()) {
            ++m_frames;
            return m_frame.get();
        }
        if (m_draining)
            return nullptr;
        const int r = av_read_frame(m_format.get(), m_packet.get());
        if (r == AVERROR_EOF) {
            m_draining = true;
            avcodec_send_packet(m_decoder.get(), nullptr);
            continue;
        }
        if (r < 0)
            throw ToolError(Where(m_path, m_frames, "cannot read: " + AvError(r)));
        if (m_packet->stream_index == m_stream) {
            const int s = avcodec_send_packet(m_decoder.get(), m_packet.get());
            if (s < 0 && s != AVERROR(EAGAIN))
                throw ToolError(Where(m_path, m_frames, "damaged frame: " + AvError(s)));
        }
        av_packet_unref(m_packet.get());
    }
}

// ---- Conversion -------------------------------------------------------------

AVPixelFormat PackedPixelFormat(Variant v)
{
    return v == Variant::Yuy2 ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_BGR24;
}

std::string ConversionLoss(AVPixelFormat from, Variant to, int width)
{
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(from);
    if (d == nullptr)
        return "unknown pixel format";
    std::vector<std::string> loss;
    const bool rgb = (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0;
    const bool grey = !rgb && d->nb_components <= 2;
    if (to == Variant::Yuy2) {
        if (rgb)
            loss.push_back("RGB is converted to YUV");
        else if (grey)
            loss.push_back("grey is converted to YUV");
        else if (d->log2_chroma_w != 1 || d->log2_chroma_h != 0)
            loss.push_back(ChromaName(d) + " chroma is resampled to 4:2:2");
        if (width % 2 != 0)
            loss.push_back("at an odd width the last column's V sample is not kept");
    } else if (!rgb) {
        loss.push_back(grey ? "grey is converted to RGB" : "YUV is converted to RGB");
    }
    if (MaxDepth(d) > 8)
        loss.push_back(std::to_string(MaxDepth(d)) + "-bit samples are reduced to 8 bits");
    if (d->flags & AV_PIX_FMT_FLAG_ALPHA)
        loss.push_back("the alpha channel is dropped");
    if (loss.empty())
        return {};
    return PixelFormatName(from) + " to " + PixelFormatName(PackedPixelFormat(to)) +
           " is not exact: " + Join(loss);
}

ToPacked::ToPacked(Variant v, int width, int height)
    : m_variant(v), m_width(width), m_height(height), m_top(NewFrame())
{
    // swscale writes whole vectors past the end of a row, so it converts into
    // FFmpeg's padded frame buffer, never straight into the packed frame.
    m_top->format = PackedPixelFormat(v);
    m_top->width = width;
    m_top->height = height;
    if (av_frame_get_buffer(m_top.get(), 0) < 0)
        throw std::bad_alloc();
}

ToPacked::~ToPacked()
{
    sws_freeContext(m_sws);
}

bool ToPacked::Convert(const AVFrame* frame, uint8_t* packed)
{
    if (frame->width != m_width || frame->height != m_height)
        return false;
    const auto source = PlainRange(static_cast<AVPixelFormat>(frame->format));
    const AVPixelFormat target = PackedPixelFormat(m_variant);
    const AVFrame* picture = frame;
    if (source != target) {
        m_sws = sws_getCachedContext(m_sws, m_width, m_height, source, m_width, m_height, target,
                                     kScaleFlags, nullptr, nullptr, nullptr);
        if (m_sws == nullptr || sws_scale(m_sws, frame->data, frame->linesize, 0, m_height,
                                          m_top->data, m_top->linesize) != m_height)
            return false;
        picture = m_top.get();
    }
    // Rows into place: RGB bottom-up, the picture's top row last.
    const size_t row = RowBytes(m_variant, m_width);
    const size_t bytes = PictureRowBytes(m_variant, m_width);
    const auto height = static_cast<size_t>(m_height);
    for (size_t y = 0; y < height; ++y) {
        uint8_t* out = packed + (Info(m_variant).bottomUp ? height - 1 - y : y) * row;
        std::memcpy(out, picture->data[0] + y * static_cast<size_t>(picture->linesize[0]), bytes);
        std::memset(out + bytes, 0, row - bytes);
    }
    return true;
}

void PackedToFrame(Variant v, const uint8_t* packed, AVFrame* frame)
{
    const size_t row = RowBytes(v, frame->width);
    const size_t picture = PictureRowBytes(v, frame->width);
    const auto height = static_cast<size_t>(frame->height);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* in = packed + (Info(v).bottomUp ? height - 1 - y : y) * row;
        uint8_t* out = frame->data[0] + y * static_cast<size_t>(frame->linesize[0]);
        std::memcpy(out, in, picture);
        if (v == Variant::Yuy2 && frame->width % 2 != 0) {
            out[picture] = 0;
            out[picture + 1] = frame->width > 1 ? in[picture - 3] : 128;
        }
    }
}

// ---- AviWriter --------------------------------------------------------------

AviWriter::AviWriter(const std::string& path, const std::string& name, Variant v, int width,
                     int height, AVRational rate)
    : m_path(name), m_packet(NewPacket())
{
    m_format.reset(OpenOutput(name, path, av_guess_format("avi", nullptr, nullptr)));
    AVStream* stream = avformat_new_stream(m_format.get(), nullptr);
    if (stream == nullptr)
        throw std::bad_alloc();
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_NONE; // FFmpeg has no codec of ours: the tag says it all
    par->codec_tag = Info(v).fourccValue;
    par->width = width;
    par->height = height;
    par->bits_per_coded_sample = Info(v).bitCount;
    stream->time_base = av_inv_q(rate);
    stream->avg_frame_rate = rate;
    stream->r_frame_rate = rate;
    OpenFile(m_format.get(), name, path);
    const int r = avformat_write_header(m_format.get(), nullptr);
    if (r < 0)
        throw ToolError(Where(name, -1, "cannot write: " + AvError(r)));
}

AviWriter::~AviWriter() = default;

void AviWriter::Write(const std::vector<uint8_t>& payload)
{
    AVStream* stream = m_format->streams[0];
    AVPacket* p = m_packet.get();
    av_packet_unref(p);
    p->data = const_cast<uint8_t*>(payload.data());
    p->size = static_cast<int>(payload.size());
    p->stream_index = 0;
    p->pts = p->dts = av_rescale_q(m_frames, av_inv_q(stream->avg_frame_rate), stream->time_base);
    p->duration = av_rescale_q(1, av_inv_q(stream->avg_frame_rate), stream->time_base);
    p->flags = AV_PKT_FLAG_KEY;
    const int r = av_write_frame(m_format.get(), p);
    p->data = nullptr;
    p->size = 0;
    if (r < 0)
        throw ToolError(Where(m_path, m_frames, "cannot write: " + AvError(r)));
    ++m_frames;
    m_bytes += static_cast<int64_t>(payload.size());
}

void AviWriter::Finish()
{
    int r = av_write_trailer(m_format.get());
    if (r >= 0)
        r = avio_closep(&m_format->pb);
    if (r < 0)
        throw ToolError(Where(m_path, -1, "cannot write: " + AvError(r)));
}

// ---- TarvReader -------------------------------------------------------------

TarvReader::TarvReader(const std::string& path) : m_path(path), m_packet(NewPacket())
{
    m_format = OpenInput(path);
    AVFormatContext* context = m_format.get();
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* s = context->streams[i];
        const auto v = VariantByFourCC(s->codecpar->codec_tag);
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && v) {
            m_stream = static_cast<int>(i);
            m_variant = *v;
            m_width = s->codecpar->width;
            m_height = s->codecpar->height;
            m_countHint = s->nb_frames;
            if (s->avg_frame_rate.num > 0 && s->avg_frame_rate.den > 0)
                m_rate = s->avg_frame_rate;
            else if (s->r_frame_rate.num > 0 && s->r_frame_rate.den > 0)
                m_rate = s->r_frame_rate;
            break;
        }
    }
    if (m_stream < 0)
        throw ToolError(Where(path, -1, "has no TRVY or TRVR video stream"));
    if (!SizeSupported(m_variant, m_width, m_height))
        throw ToolError(Where(path, -1,
                              "unsupported frame size " + std::to_string(m_width) + "x" +
                                  std::to_string(m_height)));
}

TarvReader::~TarvReader() = default;

bool TarvReader::Next(std::vector<uint8_t>& payload)
{
    for (;;) {
        const int r = av_read_frame(m_format.get(), m_packet.get());
        if (r == AVERROR_EOF)
            return false;
        if (r < 0)
            throw ToolError(Where(m_path, m_frames, "cannot read: " + AvError(r)));
        if (m_packet->stream_index != m_stream) {
            av_packet_unref(m_packet.get());
            continue;
        }
        const bool cut = (m_packet->flags & AV_PKT_FLAG_CORRUPT) != 0;
        payload.assign(m_packet->data, m_packet->data + m_packet->size);
        av_packet_unref(m_packet.get());
        if (cut)
            throw ToolError(Where(m_path, m_frames, "damaged frame: the file ends inside it"));
        ++m_frames;
        return true;
    }
}

// ---- VideoWriter ------------------------------------------------------------

namespace {

// Raw frames where the container takes them; otherwise the format's own
// choice for the name (PNG for .png images, wrapped frames for y4m).
const AVCodec* ChooseEncoder(const AVOutputFormat* format, const std::string& name)
{
    const std::string muxer = format->name;
    if (muxer == "image2" || muxer == "image2pipe" || muxer == "yuv4mpegpipe")
        return avcodec_find_encoder(
            av_guess_codec(format, nullptr, name.c_str(), nullptr, AVMEDIA_TYPE_VIDEO));
    if (avformat_query_codec(format, AV_CODEC_ID_RAWVIDEO, FF_COMPLIANCE_NORMAL) == 1)
        return avcodec_find_encoder(AV_CODEC_ID_RAWVIDEO);
    return avcodec_find_encoder(
        av_guess_codec(format, nullptr, name.c_str(), nullptr, AVMEDIA_TYPE_VIDEO));
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

VideoWriter::VideoWriter(const std::string& path, const std::string& name,
                         const OutputChoice& choice, AVPixelFormat source, int width, int height,
                         AVRational rate)
    : m_path(name), m_packet(NewPacket())
{
    const AVOutputFormat* format = choice.format.empty()
                                       ? av_guess_format(nullptr, name.c_str(), nullptr)
                                       : av_guess_format(choice.format.c_str(), nullptr, nullptr);
    if (format == nullptr)
        throw ToolError(Where(name, -1,
                              choice.format.empty() ? "cannot tell the output format from the name "
                                                      "(give --format)"
                                                    : "unknown output format " + choice.format));
    m_format.reset(OpenOutput(name, path, format));

    const AVCodec* codec = choice.codec.empty()
                               ? ChooseEncoder(format, name)
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
    if (target != source) {
        const int lost = av_get_pix_fmt_loss(target, source, 0);
        std::vector<std::string> what;
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
        if (!what.empty())
            m_loss = PixelFormatName(source) + " to " + PixelFormatName(target) + " for " +
                     codec->name + " is not exact: " + Join(what);
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
    }

    m_stream = avformat_new_stream(m_format.get(), nullptr);
    m_encoder.reset(avcodec_alloc_context3(codec));
    if (m_stream == nullptr || !m_encoder)
        throw std::bad_alloc();
    m_encoder->width = width;
    m_encoder->height = height;
    m_encoder->pix_fmt = target;
    m_encoder->time_base = av_inv_q(rate);
    m_encoder->framerate = rate;
    if (format->flags & AVFMT_GLOBALHEADER)
        m_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(m_encoder.get(), codec, nullptr);
    if (r < 0)
        throw ToolError(Where(name, -1,
                              "cannot encode " + std::string(codec->name) + " in " +
                                  PixelFormatName(target) + ": " + AvError(r)));
    r = avcodec_parameters_from_context(m_stream->codecpar, m_encoder.get());
    if (r < 0)
        throw ToolError(Where(name, -1, AvError(r)));
    m_stream->time_base = m_encoder->time_base;
    m_stream->avg_frame_rate = rate;
    OpenFile(m_format.get(), name, path);
    // Matroska takes raw RGB only the Video for Windows way, which it then
    // reads back as it was written.
    AVDictionary* muxerOptions = nullptr;
    if (std::strcmp(format->name, "matroska") == 0 && codec->id == AV_CODEC_ID_RAWVIDEO)
        av_dict_set(&muxerOptions, "allow_raw_vfw", "1", 0);
    r = avformat_write_header(m_format.get(), &muxerOptions);
    av_dict_free(&muxerOptions);
    if (r < 0)
        throw ToolError(Where(name, -1,
                              "cannot write " + std::string(format->name) + " with " + codec->name +
                                  ": " + AvError(r)));
}

VideoWriter::~VideoWriter()
{
    sws_freeContext(m_sws);
}

std::string VideoWriter::Description() const
{
    return std::string(m_format->oformat->name) + ", " + m_encoder->codec->name + ", " +
           PixelFormatName(m_encoder->pix_fmt);
}

void VideoWriter::Drain(bool flush)
{
    for (;;) {
        const int r = avcodec_receive_packet(m_encoder.get(), m_packet.get());
        if (r == AVERROR(EAGAIN) || (flush && r == AVERROR_EOF))
            return;
        if (r < 0)
            throw ToolError(Where(m_path, m_frames, "cannot encode: " + AvError(r)));
        av_packet_rescale_ts(m_packet.get(), m_encoder->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        const int w = av_interleaved_write_frame(m_format.get(), m_packet.get());
        if (w < 0)
            throw ToolError(Where(m_path, m_frames, "cannot write: " + AvError(w)));
    }
}

void VideoWriter::Write(const AVFrame* frame)
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
    const int r = avcodec_send_frame(m_encoder.get(), mutableOut);
    if (r < 0)
        throw ToolError(Where(m_path, m_frames, "cannot encode: " + AvError(r)));
    Drain(false);
    ++m_frames;
}

void VideoWriter::Finish()
{
    const int r = avcodec_send_frame(m_encoder.get(), nullptr);
    if (r < 0 && r != AVERROR_EOF)
        throw ToolError(Where(m_path, -1, "cannot encode: " + AvError(r)));
    Drain(true);
    int w = av_write_trailer(m_format.get());
    if (w >= 0 && !(m_format->oformat->flags & AVFMT_NOFILE))
        w = avio_closep(&m_format->pb);
    if (w < 0)
        throw ToolError(Where(m_path, -1, "cannot write: " + AvError(w)));
}

// ---- Built-in clip ----------------------------------------------------------

std::vector<FramePtr> GenerateClip(int width, int height, int frames)
{
    return FilterFrames("testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) +
                            ":rate=25,noise=alls=6:allf=t,format=yuv444p",
                        frames);
}

std::vector<FramePtr> FilterFrames(const std::string& description, int frames)
{
    struct GraphDeleter {
        void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
    };
    std::unique_ptr<AVFilterGraph, GraphDeleter> graph(avfilter_graph_alloc());
    if (!graph)
        throw std::bad_alloc();
    const std::string full = description + ",buffersink@out";
    AVFilterInOut* inputs = nullptr;
    AVFilterInOut* outputs = nullptr;
    int r = avfilter_graph_parse2(graph.get(), full.c_str(), &inputs, &outputs);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (r >= 0)
        r = avfilter_graph_config(graph.get(), nullptr);
    if (r < 0)
        throw ToolError(description + ": " + AvError(r));
    AVFilterContext* sink = avfilter_graph_get_filter(graph.get(), "buffersink@out");
    std::vector<FramePtr> clip;
    while (static_cast<int>(clip.size()) < frames) {
        FramePtr f = NewFrame();
        r = av_buffersink_get_frame(sink, f.get());
        if (r == AVERROR_EOF && !clip.empty()) {
            // A still picture: repeat it.
            FramePtr again = NewFrame();
            if (av_frame_ref(again.get(), clip.back().get()) < 0)
                throw std::bad_alloc();
            clip.push_back(std::move(again));
            continue;
        }
        if (r < 0)
            throw ToolError(description + ": " + AvError(r));
        clip.push_back(std::move(f));
    }
    return clip;
}

} // namespace tarv
