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

// What the packets of one stream add up to: frame counts and sizes come
// from the packets themselves, and the time they span serves streams whose
// header gives no duration.
struct StreamTally {
    int64_t packets = 0, bytes = 0;
    int64_t first = AV_NOPTS_VALUE, end = AV_NOPTS_VALUE;
};

// Every packet of the file counted by stream; the packet the file ends
// inside, if it does, is not counted but named in `cutStream`. Streams may
// appear while the file is read (a transport stream through a pipe).
std::vector<StreamTally> Tally(AVFormatContext* format, const std::string& path, int& cutStream)
{
    std::vector<StreamTally> tallies(format->nb_streams);
    PacketPtr packet = NewPacket();
    for (;;) {
        const int r = av_read_frame(format, packet.get());
        if (r == AVERROR_EOF)
            break;
        if (r < 0)
            throw ToolError(Where(path, -1, "cannot read: " + AvError(r)));
        tallies.resize(format->nb_streams);
        StreamTally& t = tallies[static_cast<size_t>(packet->stream_index)];
        if ((packet->flags & AV_PKT_FLAG_CORRUPT) != 0) {
            cutStream = packet->stream_index;
            av_packet_unref(packet.get());
            continue;
        }
        ++t.packets;
        t.bytes += packet->size;
        if (const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            pts != AV_NOPTS_VALUE) {
            t.first = t.first == AV_NOPTS_VALUE ? pts : std::min(t.first, pts);
            t.end = t.end == AV_NOPTS_VALUE ? pts + packet->duration
                                            : std::max(t.end, pts + packet->duration);
        }
        av_packet_unref(packet.get());
    }
    tallies.resize(format->nb_streams);
    return tallies;
}

// "  stream N: ..." for one stream.
void PrintStream(unsigned i, const AVStream* s, const StreamTally& t)
{
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
    const int64_t duration = s->duration > 0             ? s->duration
                             : t.first != AV_NOPTS_VALUE ? t.end - t.first
                                                         : 0;
    if (duration > 0 && s->time_base.den > 0)
        std::printf(", %.3f s", static_cast<double>(duration) * av_q2d(s->time_base));
    std::printf(", %lld %s, %lld bytes", static_cast<long long>(t.packets),
                par->codec_type == AVMEDIA_TYPE_VIDEO ? "frames" : "packets",
                static_cast<long long>(t.bytes));
    const int64_t frameBytes = RawFrameBytes(par);
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && frameBytes > 0 && t.bytes > 0)
        std::printf(", raw %lld bytes, ratio %.3f", static_cast<long long>(frameBytes * t.packets),
                    static_cast<double>(frameBytes * t.packets) / static_cast<double>(t.bytes));
    std::printf("\n");
}

} // namespace

int RunInfo(const Options& options)
{
    const std::string& path = options.files[0];
    // A damaged AVI is read as its chunks hold it, whatever its index says.
    const AviInput input(FirstInput(options));
    AVFormatContext* raw = input.Format();
    int cutStream = -1;
    const std::vector<StreamTally> tallies = Tally(raw, path, cutStream);

    std::printf("%s: %s (%s)", path.c_str(), raw->iformat->name,
                raw->iformat->long_name ? raw->iformat->long_name : "");
    if (raw->duration > 0)
        std::printf(", %.3f s", static_cast<double>(raw->duration) / AV_TIME_BASE);
    std::printf(", %u stream%s\n", raw->nb_streams, raw->nb_streams == 1 ? "" : "s");
    for (unsigned i = 0; i < raw->nb_streams; ++i)
        PrintStream(i, raw->streams[i], tallies[i]);
    if (!input.Damage().empty())
        std::printf("  damaged: %s\n", input.Damage().c_str());
    if (cutStream >= 0) {
        const AVStream* s = raw->streams[cutStream];
        const bool video = s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        std::printf(
            "  cut short: the file ends inside %s %lld of stream %d", video ? "frame" : "packet",
            static_cast<long long>(tallies[static_cast<size_t>(cutStream)].packets), cutStream);
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
