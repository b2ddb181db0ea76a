#include "tools/audio.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libswresample/swresample.h>
}

namespace tarv {
namespace {

// The WAVE formats Video for Windows programs read back from an AVI.
bool AviPlays(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F64LE:
    case AV_CODEC_ID_PCM_ALAW:
    case AV_CODEC_ID_PCM_MULAW:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_EAC3:
    case AV_CODEC_ID_DTS:
    case AV_CODEC_ID_ADPCM_MS:
    case AV_CODEC_ID_ADPCM_IMA_WAV:
    case AV_CODEC_ID_GSM_MS:
    case AV_CODEC_ID_WMAV1:
    case AV_CODEC_ID_WMAV2:
        return true;
    default:
        return false;
    }
}

// The PCM codec that holds samples of `format` exactly, or none.
AVCodecID PcmFor(AVSampleFormat format, int bitsPerRawSample)
{
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
        return AV_CODEC_ID_PCM_U8;
    case AV_SAMPLE_FMT_S16:
        return AV_CODEC_ID_PCM_S16LE;
    case AV_SAMPLE_FMT_S32:
        return bitsPerRawSample > 0 && bitsPerRawSample <= 24 ? AV_CODEC_ID_PCM_S24LE
                                                              : AV_CODEC_ID_PCM_S32LE;
    case AV_SAMPLE_FMT_FLT:
        return AV_CODEC_ID_PCM_F32LE;
    case AV_SAMPLE_FMT_DBL:
        return AV_CODEC_ID_PCM_F64LE;
    default:
        return AV_CODEC_ID_NONE;
    }
}

std::string StreamName(const AVStream* s)
{
    const char* type = av_get_media_type_string(s->codecpar->codec_type);
    return "stream " + std::to_string(s->index) + " (" + avcodec_get_name(s->codecpar->codec_id) +
           " " + (type != nullptr ? type : "data") + ")";
}

} // namespace

StreamPlan PlanStreams(const std::string& file, const AVFormatContext* input, int videoStream,
                       const AVOutputFormat* output, const AudioChoice& choice, bool decode)
{
    StreamPlan plan;
    const std::string container = output->name;
    int audioSeen = 0;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* s = input->streams[i];
        const AVCodecParameters* par = s->codecpar;
        if (static_cast<int>(i) == videoStream)
            continue;
        auto drop = [&](const std::string& why) {
            plan.notes.push_back(file + ": " + StreamName(s) + " is not carried (" + why + ")");
        };
        if (par->codec_type != AVMEDIA_TYPE_AUDIO) {
            drop(par->codec_type == AVMEDIA_TYPE_VIDEO ? "tarv carries one video stream"
                                                       : "tarv carries video and sound only");
            continue;
        }
        ++audioSeen;
        if (choice.none || (choice.only != 0 && choice.only != audioSeen))
            continue;
        if (output->audio_codec == AV_CODEC_ID_NONE) {
            drop(container + " holds no sound");
            continue;
        }
        const int query = avformat_query_codec(output, par->codec_id, FF_COMPLIANCE_NORMAL);
        const bool copies = container == "avi" ? AviPlays(par->codec_id) && query == 1 : query != 0;
        if (copies) {
            plan.audio.push_back({static_cast<int>(i), AudioWay::Copy});
            continue;
        }
        if (!decode) {
            drop(container + " cannot hold " + avcodec_get_name(par->codec_id));
            continue;
        }
        const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
        if (decoder == nullptr) {
            drop("no decoder for " + std::string(avcodec_get_name(par->codec_id)));
            continue;
        }
        plan.audio.push_back({static_cast<int>(i), AudioWay::Pcm});
        plan.notes.push_back(file + ": " + StreamName(s) + " is decoded to PCM, exactly: " +
                             container + " players do not read " + avcodec_get_name(par->codec_id));
    }
    if (choice.only > audioSeen)
        throw ToolError(Where(file, -1,
                              "has " + std::to_string(audioSeen) + " audio stream" +
                                  (audioSeen == 1 ? "" : "s") + ", no stream " +
                                  std::to_string(choice.only) + " for --audio"));
    return plan;
}

// ---- PcmDecoder -------------------------------------------------------------

PcmDecoder::PcmDecoder(const std::string& file, const AVStream* stream)
    : m_file(file), m_decoder(OpenDecoder(file, stream)), m_frame(NewFrame()), m_packed(NewFrame())
{
    if (m_decoder->sample_fmt == AV_SAMPLE_FMT_NONE || m_decoder->sample_rate <= 0 ||
        m_decoder->ch_layout.nb_channels <= 0)
        throw ToolError(Where(file, -1, StreamName(stream) + ": unknown sample format"));
}

PcmDecoder::~PcmDecoder()
{
    swr_free(&m_swr);
}

AVSampleFormat PcmDecoder::Format() const
{
    return av_get_packed_sample_fmt(m_decoder->sample_fmt);
}

void PcmDecoder::Decode(const AVPacket* packet, const std::function<void(AVFrame*)>& out)
{
    int r = avcodec_send_packet(m_decoder.get(), packet);
    if (r < 0 && r != AVERROR_EOF)
        throw ToolError(Where(m_file, -1, "damaged audio: " + AvError(r)));
    for (;;) {
        r = avcodec_receive_frame(m_decoder.get(), m_frame.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return;
        if (r < 0)
            throw ToolError(Where(m_file, -1, "damaged audio: " + AvError(r)));
        const auto format = static_cast<AVSampleFormat>(m_frame->format);
        if (av_get_packed_sample_fmt(format) != Format() ||
            m_frame->sample_rate != m_decoder->sample_rate)
            throw ToolError(Where(m_file, -1, "the audio format changes within the stream"));
        AVFrame* frame = m_frame.get();
        frame->pts = frame->best_effort_timestamp;
        if (av_sample_fmt_is_planar(format)) {
            // Interleaving only: same rate, layout and sample type.
            if (m_swr == nullptr) {
                r = swr_alloc_set_opts2(&m_swr, &frame->ch_layout, Format(), frame->sample_rate,
                                        &frame->ch_layout, format, frame->sample_rate, 0, nullptr);
                if (r >= 0)
                    r = swr_init(m_swr);
                if (r < 0)
                    throw ToolError(Where(m_file, -1, "cannot interleave audio: " + AvError(r)));
            }
            av_frame_unref(m_packed.get());
            m_packed->format = Format();
            m_packed->sample_rate = frame->sample_rate;
            if (av_channel_layout_copy(&m_packed->ch_layout, &frame->ch_layout) < 0)
                throw std::bad_alloc();
            r = swr_convert_frame(m_swr, m_packed.get(), frame);
            if (r < 0)
                throw ToolError(Where(m_file, -1, "cannot interleave audio: " + AvError(r)));
            m_packed->pts = frame->pts;
            frame = m_packed.get();
        }
        out(frame);
        av_frame_unref(m_frame.get());
    }
}

// ---- AudioTracks ------------------------------------------------------------

struct AudioTracks::Track {
    const AVStream* input;
    AudioWay way;
    int output = -1;
    std::unique_ptr<PcmDecoder> decoder; // Pcm: the input's decoder
    CodecPtr encoder;                    // Pcm: the PCM encoder
    PacketPtr packet = NewPacket();
    int64_t next = AV_NOPTS_VALUE; // Pcm: the next sample's time, 1/rate
};

AudioTracks::AudioTracks(const std::string& file, const AVFormatContext* input,
                         const StreamPlan& plan)
    : m_file(file)
{
    for (const AudioPlan& p : plan.audio) {
        auto t = std::make_unique<Track>();
        t->input = input->streams[p.stream];
        t->way = p.way;
        if (p.way == AudioWay::Pcm) {
            t->decoder = std::make_unique<PcmDecoder>(file, t->input);
            const AVCodecContext* d = t->decoder->Decoder();
            const AVCodecID id = PcmFor(d->sample_fmt, d->bits_per_raw_sample);
            const AVCodec* codec = avcodec_find_encoder(id);
            if (codec == nullptr)
                throw ToolError(Where(file, -1,
                                      StreamName(t->input) + ": no PCM format holds " +
                                          av_get_sample_fmt_name(d->sample_fmt) + " samples"));
            t->encoder.reset(avcodec_alloc_context3(codec));
            if (!t->encoder)
                throw std::bad_alloc();
            t->encoder->sample_fmt = t->decoder->Format();
            t->encoder->sample_rate = d->sample_rate;
            t->encoder->time_base = AVRational{1, d->sample_rate};
            int r = av_channel_layout_copy(&t->encoder->ch_layout, &d->ch_layout);
            if (r >= 0)
                r = avcodec_open2(t->encoder.get(), codec, nullptr);
            if (r < 0)
                throw ToolError(Where(
                    file, -1, "cannot write " + std::string(codec->name) + ": " + AvError(r)));
        }
        m_tracks.push_back(std::move(t));
    }
}

AudioTracks::~AudioTracks() = default;
AudioTracks::AudioTracks(AudioTracks&&) noexcept = default;
AudioTracks& AudioTracks::operator=(AudioTracks&&) noexcept = default;

bool AudioTracks::Carries(int stream) const
{
    return std::any_of(m_tracks.begin(), m_tracks.end(),
                       [&](const auto& t) { return t->input->index == stream; });
}

std::vector<int> AudioTracks::Streams() const
{
    std::vector<int> streams;
    for (const auto& t : m_tracks)
        streams.push_back(t->input->index);
    return streams;
}

void AudioTracks::AddTo(AVFormatContext* output)
{
    for (auto& t : m_tracks) {
        AVStream* s = avformat_new_stream(output, nullptr);
        if (s == nullptr)
            throw std::bad_alloc();
        const int r = t->way == AudioWay::Copy
                          ? avcodec_parameters_copy(s->codecpar, t->input->codecpar)
                          : avcodec_parameters_from_context(s->codecpar, t->encoder.get());
        if (r < 0)
            throw std::bad_alloc();
        // The new container chooses its own tag for the codec.
        s->codecpar->codec_tag = 0;
        s->time_base = t->way == AudioWay::Copy ? t->input->time_base : t->encoder->time_base;
        av_dict_copy(&s->metadata, t->input->metadata, 0);
        s->disposition = t->input->disposition;
        t->output = s->index;
    }
}

void AudioTracks::SetTiming(int64_t origin, int64_t end, AVRational timeBase)
{
    m_origin = origin;
    m_end = end;
    m_timeBase = timeBase;
}

void AudioTracks::Send(AVFormatContext* output, const std::string& name, Track& t, AVPacket* packet,
                       AVRational timeBase)
{
    packet->stream_index = t.output;
    packet->pos = -1;
    WritePacket(output, name, packet, timeBase);
}

void AudioTracks::Write(AVFormatContext* output, const std::string& name, AVPacket* packet)
{
    auto it = std::find_if(m_tracks.begin(), m_tracks.end(),
                           [&](const auto& t) { return t->input->index == packet->stream_index; });
    if (it == m_tracks.end()) {
        av_packet_unref(packet);
        return;
    }
    Track& t = **it;
    const AVRational tb = t.input->time_base;
    const int64_t shift = av_rescale_q(m_origin, m_timeBase, tb);
    if (m_end != AV_NOPTS_VALUE && packet->pts != AV_NOPTS_VALUE &&
        packet->pts >= av_rescale_q(m_end, m_timeBase, tb)) {
        av_packet_unref(packet);
        return;
    }
    if (t.way == AudioWay::Copy) {
        // PCM is cut at the end sample; compressed packets only whole.
        const AVCodecParameters* par = t.input->codecpar;
        const int64_t sampleBytes =
            int64_t{av_get_bits_per_sample(par->codec_id)} / 8 * par->ch_layout.nb_channels;
        if (m_end != AV_NOPTS_VALUE && packet->pts != AV_NOPTS_VALUE && sampleBytes > 0 &&
            par->sample_rate > 0) {
            const int64_t keep = av_rescale_q(av_rescale_q(m_end, m_timeBase, tb) - packet->pts, tb,
                                              AVRational{1, par->sample_rate}) *
                                 sampleBytes;
            if (keep < packet->size)
                packet->size = static_cast<int>(keep);
        }
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts -= shift;
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts -= shift;
        Send(output, name, t, packet, tb);
        return;
    }
    t.decoder->Decode(packet, [&](AVFrame* frame) { EncodePcm(output, name, t, frame); });
    av_packet_unref(packet);
}

void AudioTracks::EncodePcm(AVFormatContext* output, const std::string& name, Track& t,
                            AVFrame* frame)
{
    if (frame != nullptr) {
        // Samples follow each other without gaps; the first one's time
        // places the stream.
        if (t.next == AV_NOPTS_VALUE)
            t.next = frame->pts == AV_NOPTS_VALUE
                         ? 0
                         : av_rescale_q(frame->pts, t.input->time_base, t.encoder->time_base) -
                               av_rescale_q(m_origin, m_timeBase, t.encoder->time_base);
        if (m_end != AV_NOPTS_VALUE) {
            const int64_t end =
                av_rescale_q(m_end - m_origin, m_timeBase, t.encoder->time_base) - t.next;
            if (end <= 0)
                return;
            if (end < frame->nb_samples)
                frame->nb_samples = static_cast<int>(end);
        }
        frame->pts = t.next;
        t.next += frame->nb_samples;
    }
    int r = avcodec_send_frame(t.encoder.get(), frame);
    while (r >= 0) {
        r = avcodec_receive_packet(t.encoder.get(), t.packet.get());
        if (r >= 0)
            Send(output, name, t, t.packet.get(), t.encoder->time_base);
    }
    if (r != AVERROR(EAGAIN) && r != AVERROR_EOF)
        throw ToolError(Where(name, -1, "cannot encode audio: " + AvError(r)));
}

void AudioTracks::Finish(AVFormatContext* output, const std::string& name)
{
    for (auto& t : m_tracks) {
        if (t->way != AudioWay::Pcm)
            continue;
        Track& track = *t;
        track.decoder->Decode(nullptr,
                              [&](AVFrame* frame) { EncodePcm(output, name, track, frame); });
        EncodePcm(output, name, track, nullptr);
    }
}

// ---- SampleComparer ---------------------------------------------------------

void SampleComparer::Add(int side, const uint8_t* data, size_t bytes)
{
    if (!m_difference.empty())
        return;
    m_pending[side].insert(m_pending[side].end(), data, data + bytes);
    Compare();
}

void SampleComparer::Compare()
{
    const size_t frame = static_cast<size_t>(m_channels * m_bytes);
    const size_t common = std::min(m_pending[0].size(), m_pending[1].size()) / frame * frame;
    const auto end = m_pending[0].begin() + static_cast<std::ptrdiff_t>(common);
    const auto [a, b] = std::mismatch(m_pending[0].begin(), end, m_pending[1].begin());
    if (a != end) {
        const auto at = static_cast<size_t>(a - m_pending[0].begin());
        const int64_t sample = m_agreed + static_cast<int64_t>(at / frame);
        char text[160];
        if (m_rate == 0)
            std::snprintf(text, sizeof text, "byte %lld of the copied packets differs",
                          static_cast<long long>(sample));
        else
            std::snprintf(text, sizeof text, "sample %lld (%.3f s), channel %d, differs",
                          static_cast<long long>(sample), static_cast<double>(sample) / m_rate,
                          static_cast<int>(at % frame) / m_bytes + 1);
        m_difference = text;
        return;
    }
    m_agreed += static_cast<int64_t>(common / frame);
    for (auto& p : m_pending)
        p.erase(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(common));
}

void SampleComparer::Finish()
{
    if (!m_difference.empty() || (m_pending[0].empty() && m_pending[1].empty()))
        return;
    const size_t frame = static_cast<size_t>(m_channels * m_bytes);
    const int side = m_pending[0].empty() ? 0 : 1;
    const char* unit = m_rate == 0 ? " bytes" : " samples";
    m_difference = std::string(side == 0 ? "the original" : "the encoded stream") + " ends after " +
                   std::to_string(m_agreed) + unit + ", the other goes on for " +
                   std::to_string(m_pending[1 - side].size() / frame) + " more";
}

} // namespace tarv
