// tarv info: what a file holds, with the sizes and ratio of Tarv streams.
#include "tools/commands/commands.h"
#include "tools/input/avi_reader.h"

#include <algorithm>
#include <cstdio>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace tarv {
namespace {

std::string TagText(uint32_t tag)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>((tag >> (8 * i)) & 0xFF);
        text += (c >= 32 && c < 127) ? c : '?';
    }
    return text;
}

// Bytes of one uncompressed frame of a stream, or 0 when unknown.
int64_t RawFrameBytes(const AVCodecParameters* par)
{
    if (const auto v = VariantByFourCC(par->codec_tag);
        v && SizeSupported(*v, par->width, par->height))
        return static_cast<int64_t>(FrameBytes(*v, par->width, par->height));
    if (par->codec_type != AVMEDIA_TYPE_VIDEO || par->format < 0)
        return 0;
    const int size = av_image_get_buffer_size(static_cast<AVPixelFormat>(par->format), par->width,
                                              par->height, 1);
    return size > 0 ? size : 0;
}

} // namespace

int RunInfo(const Options& options)
{
    const std::string& path = options.files[0];
    // A damaged AVI is read as its chunks hold it, whatever its index says.
    const AviInput input(FirstInput(options));
    AVFormatContext* raw = input.Format();
    // The packet the file ends inside, if it does: not counted.
    int cutStream = -1;

    // Frame counts and sizes come from the packets themselves.
    std::vector<int64_t> packets(raw->nb_streams), bytes(raw->nb_streams);
    // And the time they span, for streams whose header gives no duration.
    std::vector<int64_t> first(raw->nb_streams, AV_NOPTS_VALUE),
        end(raw->nb_streams, AV_NOPTS_VALUE);
    PacketPtr packet = NewPacket();
    for (;;) {
        const int r = av_read_frame(raw, packet.get());
        if (r == AVERROR_EOF)
            break;
        if (r < 0)
            throw ToolError(Where(path, -1, "cannot read: " + AvError(r)));
        const auto i = static_cast<size_t>(packet->stream_index);
        if ((packet->flags & AV_PKT_FLAG_CORRUPT) != 0) {
            cutStream = packet->stream_index;
            av_packet_unref(packet.get());
            continue;
        }
        ++packets[i];
        bytes[i] += packet->size;
        if (const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            pts != AV_NOPTS_VALUE) {
            first[i] = first[i] == AV_NOPTS_VALUE ? pts : std::min(first[i], pts);
            end[i] = end[i] == AV_NOPTS_VALUE ? pts + packet->duration
                                              : std::max(end[i], pts + packet->duration);
        }
        av_packet_unref(packet.get());
    }

    std::printf("%s: %s (%s)", path.c_str(), raw->iformat->name,
                raw->iformat->long_name ? raw->iformat->long_name : "");
    if (raw->duration > 0)
        std::printf(", %.3f s", static_cast<double>(raw->duration) / AV_TIME_BASE);
    std::printf(", %u stream%s\n", raw->nb_streams, raw->nb_streams == 1 ? "" : "s");
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVStream* s = raw->streams[i];
        const AVCodecParameters* par = s->codecpar;
        const char* type = av_get_media_type_string(par->codec_type);
        std::printf("  stream %u: %s", i, type ? type : "data");
        const auto v = VariantByFourCC(par->codec_tag);
        if (v)
            std::printf(", %s (Tarv %s)", Info(*v).fourcc, Info(*v).name);
        else if (par->codec_id != AV_CODEC_ID_NONE)
            std::printf(", %s", avcodec_get_name(par->codec_id));
        else
            std::printf(", tag %s", TagText(par->codec_tag).c_str());
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            std::printf(", %dx%d", par->width, par->height);
            if (!v && par->format >= 0)
                std::printf(", %s", av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format)));
            const AVRational rate = s->avg_frame_rate.num > 0 ? s->avg_frame_rate : s->r_frame_rate;
            if (rate.num > 0 && rate.den > 0)
                std::printf(", %.3f fps", av_q2d(rate));
        }
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0) {
            // "mono", "stereo", "5.1(side)", or "6 channels" when the file
            // names no speakers.
            char layout[128];
            const int channels = par->ch_layout.nb_channels;
            if (par->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
                av_channel_layout_describe(&par->ch_layout, layout, sizeof layout) < 0)
                std::snprintf(layout, sizeof layout, "%d channel%s", channels,
                              channels == 1 ? "" : "s");
            std::printf(", %d Hz, %s", par->sample_rate, layout);
        }
        const int64_t duration = s->duration > 0              ? s->duration
                                 : first[i] != AV_NOPTS_VALUE ? end[i] - first[i]
                                                              : 0;
        if (duration > 0 && s->time_base.den > 0)
            std::printf(", %.3f s", static_cast<double>(duration) * av_q2d(s->time_base));
        std::printf(", %lld %s, %lld bytes", static_cast<long long>(packets[i]),
                    par->codec_type == AVMEDIA_TYPE_VIDEO ? "frames" : "packets",
                    static_cast<long long>(bytes[i]));
        const int64_t frameBytes = RawFrameBytes(par);
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && frameBytes > 0 && bytes[i] > 0)
            std::printf(
                ", raw %lld bytes, ratio %.3f", static_cast<long long>(frameBytes * packets[i]),
                static_cast<double>(frameBytes * packets[i]) / static_cast<double>(bytes[i]));
        std::printf("\n");
    }
    if (!input.Damage().empty())
        std::printf("  damaged: %s\n", input.Damage().c_str());
    if (cutStream >= 0) {
        const AVStream* s = raw->streams[cutStream];
        const bool video = s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        std::printf("  cut short: the file ends inside %s %lld of stream %d",
                    video ? "frame" : "packet",
                    static_cast<long long>(packets[static_cast<size_t>(cutStream)]), cutStream);
        if (video && s->nb_frames > 0)
            std::printf(" (its header announces %lld frames)",
                        static_cast<long long>(s->nb_frames));
        std::printf("\n");
    } else if (input.Cut()) {
        std::printf("  cut short: the file ends before the end its header declares\n");
    }
    return kExitOk;
}

} // namespace tarv
