#include "tools/shared/ffmpeg.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/opt.h>
}

namespace tarv {

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

FormatPtr OpenInput(const InputSpec& input, int (*stop)(void*), void* opaque)
{
    const std::string& path = input.path;
    const AVInputFormat* format = nullptr;
    if (!input.format.empty()) {
        avdevice_register_all();
        format = av_find_input_format(input.format.c_str());
        if (format == nullptr)
            throw ToolError(Where(path, -1, "unknown input format " + input.format));
    }
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : input.options)
        av_dict_set(&options, key.c_str(), value.c_str(), 0);
    AVFormatContext* context = avformat_alloc_context();
    if (context == nullptr)
        throw std::bad_alloc();
    context->interrupt_callback = {stop, opaque};
    // A device that has nothing yet says so rather than wait, so that a stop
    // is seen; the reader tries again.
    if (format != nullptr && format->priv_class != nullptr &&
        AV_IS_INPUT_DEVICE(format->priv_class->category))
        context->flags |= AVFMT_FLAG_NONBLOCK;
    const std::string url = path == kStandardStream ? "pipe:0" : path;
    int r = avformat_open_input(&context, url.c_str(), format, &options);
    std::string unused;
    for (const AVDictionaryEntry* e = nullptr;
         (e = av_dict_get(options, "", e, AV_DICT_IGNORE_SUFFIX)) != nullptr;)
        unused += (unused.empty() ? "" : ", ") + std::string(e->key);
    av_dict_free(&options);
    if (r < 0)
        throw ToolError(Where(path, -1, "cannot read: " + AvError(r)));
    FormatPtr opened(context);
    if (!unused.empty())
        throw ToolError(Where(
            path, -1, std::string(context->iformat->name) + " has no option named " + unused));
    r = avformat_find_stream_info(context, nullptr);
    if (r < 0)
        throw ToolError(Where(path, -1, "cannot read: " + AvError(r)));
    return opened;
}

bool IsLive(const AVFormatContext* input)
{
    const AVClass* c = input->iformat->priv_class;
    return c != nullptr && AV_IS_INPUT_DEVICE(c->category);
}

CodecPtr OpenDecoder(const std::string& file, const AVStream* stream)
{
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr)
        throw ToolError(
            Where(file, -1,
                  "no decoder for " + std::string(avcodec_get_name(stream->codecpar->codec_id))));
    CodecPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder)
        throw std::bad_alloc();
    int r = avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (r >= 0) {
        decoder->pkt_timebase = stream->time_base;
        if (codec->type == AVMEDIA_TYPE_VIDEO)
            decoder->thread_count = 0;
        r = avcodec_open2(decoder.get(), codec, nullptr);
    }
    if (r < 0)
        throw ToolError(
            Where(file, -1, "cannot decode " + std::string(codec->name) + ": " + AvError(r)));
    return decoder;
}

AVRational StreamRate(const AVStream* stream, AVRational fallback)
{
    for (const AVRational rate : {stream->avg_frame_rate, stream->r_frame_rate})
        if (rate.num > 0 && rate.den > 0)
            return rate;
    return fallback;
}

FormatPtr NewOutput(const std::string& name, const std::string& path, const AVOutputFormat* format)
{
    AVFormatContext* context = nullptr;
    const int r = avformat_alloc_output_context2(&context, format, nullptr, path.c_str());
    if (r < 0 || context == nullptr)
        throw ToolError(Where(name, -1, "cannot write: " + AvError(r)));
    return FormatPtr(context);
}

void StartOutput(AVFormatContext* output, const std::string& name, const std::string& path,
                 AVDictionary** options)
{
    int r = 0;
    if (!(output->oformat->flags & AVFMT_NOFILE))
        r = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (r >= 0)
        r = avformat_write_header(output, options);
    if (r < 0)
        throw ToolError(Where(name, -1, "cannot write: " + AvError(r)));
}

void FinishOutput(AVFormatContext* output, const std::string& name)
{
    int r = av_write_trailer(output);
    if (r >= 0 && !(output->oformat->flags & AVFMT_NOFILE))
        r = avio_closep(&output->pb);
    if (r < 0)
        throw ToolError(Where(name, -1, "cannot write: " + AvError(r)));
}

void WritePacket(AVFormatContext* output, const std::string& name, AVPacket* packet,
                 AVRational timeBase)
{
    av_packet_rescale_ts(packet, timeBase, output->streams[packet->stream_index]->time_base);
    const int r = av_interleaved_write_frame(output, packet);
    if (r < 0)
        throw ToolError(Where(name, -1, "cannot write: " + AvError(r)));
}

} // namespace tarv
