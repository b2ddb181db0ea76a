#include "tools/input/reader.h"

#include "tools/output/output_file.h"
#include "variants/registry.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace tarv {

int RecordingReader::StopRequested(void* reader)
{
    return static_cast<RecordingReader*>(reader)->m_stop || Interrupted() ? 1 : 0;
}

RecordingReader::RecordingReader(const InputSpec& input, bool video) : m_path(input.path)
{
    m_format = OpenInput(input, &StopRequested, this);
    AVFormatContext* context = m_format.get();
    m_live = IsLive(context);
    if (!video) {
        m_videoDone = true;
        return;
    }
    const AVCodec* codec = nullptr;
    m_stream = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (m_stream == AVERROR_STREAM_NOT_FOUND)
        throw ToolError(Where(m_path, -1, "has no video stream"));
    if (m_stream < 0 || codec == nullptr) {
        for (unsigned i = 0; i < context->nb_streams; ++i)
            if (VariantByFourCC(context->streams[i]->codecpar->codec_tag))
                throw ToolError(Where(m_path, -1, "is already a Tarv file (use tarv decode)"));
        throw ToolError(Where(m_path, -1, "unsupported video format: no decoder for it"));
    }
    const AVStream* stream = context->streams[m_stream];
    m_decoder = OpenDecoder(m_path, stream);
    m_rate = StreamRate(stream);
    m_countHint = stream->nb_frames;
    if (m_countHint <= 0 && stream->duration > 0)
        m_countHint = av_rescale_q(stream->duration, stream->time_base, av_inv_q(m_rate));
    if (m_countHint <= 0 && context->duration > 0)
        m_countHint =
            av_rescale_q(context->duration, AVRational{1, AV_TIME_BASE}, av_inv_q(m_rate));
}

RecordingReader::~RecordingReader() = default;

bool RecordingReader::Receive(FrameOrPacket& item)
{
    av_frame_unref(item.frame.get());
    if (!m_decoder)
        return false;
    const int r = avcodec_receive_frame(m_decoder.get(), item.frame.get());
    if (r == 0) {
        item.kind = FrameOrPacket::Kind::Frame;
        item.frame->pts = item.frame->best_effort_timestamp;
        if (m_stopAt != AV_NOPTS_VALUE && item.frame->pts != AV_NOPTS_VALUE &&
            av_compare_ts(item.frame->pts, Stream()->time_base, m_stopAt, m_stopTime) >= 0) {
            m_videoDone = true;
            if (m_pending.empty())
                Stop();
            return false;
        }
        ++m_frames;
        return true;
    }
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
        return false;
    throw ToolError(Where(m_path, m_frames, "damaged frame: " + AvError(r)));
}

bool RecordingReader::PastStop(const AVPacket* packet)
{
    if (m_stopAt == AV_NOPTS_VALUE || packet->pts == AV_NOPTS_VALUE)
        return false;
    const AVRational tb = m_format->streams[packet->stream_index]->time_base;
    if (av_compare_ts(packet->pts, tb, m_stopAt, m_stopTime) < 0)
        return false;
    // The first packet past the end still goes out: sound placed by
    // position is filled with silence up to the end by it.
    const bool first = std::erase(m_pending, packet->stream_index) > 0;
    // Streams lag each other by a second or so in a file; one far past the
    // end means the others have stopped.
    const int64_t late = m_stopAt + av_rescale_q(2, AVRational{1, 1}, m_stopTime);
    if ((m_videoDone && m_pending.empty()) || av_compare_ts(packet->pts, tb, late, m_stopTime) >= 0)
        Stop();
    return !first;
}

bool RecordingReader::Next(FrameOrPacket& item)
{
    AVPacket* packet = item.packet.get();
    for (;;) {
        if (Receive(item))
            return true;
        if (m_draining)
            return false;
        av_packet_unref(packet);
        // Sources that never wait (lavfi) do not ask the stop callback, and
        // devices are read without blocking so that a stop is seen.
        const int r = StopRequested(this) ? AVERROR_EXIT : av_read_frame(m_format.get(), packet);
        if (r == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        if (r == AVERROR_EOF || (r == AVERROR_EXIT && StopRequested(this))) {
            m_draining = true;
            if (m_decoder)
                avcodec_send_packet(m_decoder.get(), nullptr);
            continue;
        }
        if (r < 0)
            throw ToolError(Where(m_path, m_frames, "cannot read: " + AvError(r)));
        if (m_stream >= 0 && packet->stream_index == m_stream) {
            if (m_videoDone)
                continue;
            const int s = avcodec_send_packet(m_decoder.get(), packet);
            av_packet_unref(packet);
            if (s < 0 && s != AVERROR(EAGAIN))
                throw ToolError(Where(m_path, m_frames, "damaged frame: " + AvError(s)));
        } else if (std::find(m_carried.begin(), m_carried.end(), packet->stream_index) !=
                       m_carried.end() &&
                   !PastStop(packet)) {
            item.kind = FrameOrPacket::Kind::Packet;
            return true;
        }
    }
}

} // namespace tarv
