#include "tools/output/avi_writer.h"

#include "variants/registry.h"

namespace tarv {

TarvAviWriter::TarvAviWriter(const std::string& path, const std::string& name, Variant v, int width,
                             int height, AVRational rate, std::vector<AudioTracks*> audio)
    : m_name(name), m_audio(std::move(audio)), m_packet(NewPacket()), m_rate(rate)
{
    m_format = NewOutput(name, path, av_guess_format("avi", nullptr, nullptr));
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
    for (AudioTracks* tracks : m_audio)
        tracks->AddTo(m_format.get());
    StartOutput(m_format.get(), name, path);
}

TarvAviWriter::~TarvAviWriter() = default;

void TarvAviWriter::Write(const std::vector<uint8_t>& payload)
{
    AVPacket* p = m_packet.get();
    av_packet_unref(p);
    // Not reference-counted: the muxer copies what it keeps for interleaving.
    p->data = const_cast<uint8_t*>(payload.data());
    p->size = static_cast<int>(payload.size());
    p->stream_index = 0;
    p->pts = p->dts = m_frames;
    p->duration = 1;
    p->flags = AV_PKT_FLAG_KEY;
    WritePacket(m_format.get(), m_name, p, av_inv_q(m_rate));
    ++m_frames;
    m_bytes += static_cast<int64_t>(payload.size());
}

void TarvAviWriter::Finish()
{
    for (AudioTracks* tracks : m_audio)
        tracks->Finish(m_format.get(), m_name);
    FinishOutput(m_format.get(), m_name);
}

} // namespace tarv
