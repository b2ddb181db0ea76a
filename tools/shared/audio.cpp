#include "tools/shared/audio.h"

#include "tools/commands/commands.h"
#include "tools/shared/progress.h"
#include "tools/shared/timing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

namespace tarv {
namespace {

// A start this much later than the recording's is placed; less is within
// what anyone hears as in sync.
constexpr double kLateSeconds = 0.040;

// The most bytes of one PCM packet written: longer ones, and long silences,
// go in pieces of this, far below the int an AVPacket's size is.
constexpr size_t kPcmPacketBytes = size_t{4} << 20;

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

// The speaker layout `encoder` codes `in` as, into `out`: `in` itself when the
// encoder takes it; for sound whose speakers are not named (AVI names none),
// the first layout the encoder lists for that many channels. False when the
// encoder has none that keeps the sound as it is.
bool EncoderLayout(const AVCodec* encoder, const AVChannelLayout& in, AVChannelLayout* out)
{
    const bool named = in.order != AV_CHANNEL_ORDER_UNSPEC;
    if (encoder->ch_layouts == nullptr) {
        if (named)
            return av_channel_layout_copy(out, &in) >= 0;
        av_channel_layout_default(out, in.nb_channels);
        return true;
    }
    for (const AVChannelLayout* l = encoder->ch_layouts; l->nb_channels != 0; ++l)
        if (named ? av_channel_layout_compare(l, &in) == 0 : l->nb_channels == in.nb_channels)
            return av_channel_layout_copy(out, l) >= 0;
    return false;
}

// The first lossless encoder whose codec `output` holds and that takes the
// samples of `stream` exactly, or null.
const AVCodec* LosslessEncoder(const std::string& file, const AVStream* stream,
                               const AVOutputFormat* output)
{
    const CodecPtr decoder = OpenDecoder(file, stream);
    const AVSampleFormat format = av_get_packed_sample_fmt(decoder->sample_fmt);
    const int bits = decoder->bits_per_raw_sample;
    // ALAC and FLAC keep 16 bits, or up to 24 in 32-bit samples; 8-bit
    // samples widen to 16 exactly.
    const bool fits = format == AV_SAMPLE_FMT_U8 || format == AV_SAMPLE_FMT_S16 ||
                      (format == AV_SAMPLE_FMT_S32 && bits > 0 && bits <= 24);
    if (!fits || decoder->ch_layout.nb_channels > 8 || decoder->sample_rate <= 0)
        return nullptr;
    AVChannelLayout layout{};
    for (const AVCodecID id : {AV_CODEC_ID_ALAC, AV_CODEC_ID_FLAC})
        if (const AVCodec* c = avcodec_find_encoder(id);
            c != nullptr && avformat_query_codec(output, id, FF_COMPLIANCE_NORMAL) == 1 &&
            EncoderLayout(c, decoder->ch_layout, &layout)) {
            av_channel_layout_uninit(&layout);
            return c;
        }
    return nullptr;
}

// One audio stream decoded and coded again by a lossless encoder.
class Recoder {
public:
    Recoder(const std::string& file, const AVStream* stream, AVCodecID codec)
        : m_file(file), m_decoder(OpenDecoder(file, stream)), m_frame(NewFrame()),
          m_chunk(NewFrame()), m_packet(NewPacket())
    {
        const AVCodec* encoder = avcodec_find_encoder(codec);
        const AVCodecContext* d = m_decoder.get();
        m_encoder.reset(encoder != nullptr ? avcodec_alloc_context3(encoder) : nullptr);
        if (!m_encoder)
            throw std::bad_alloc();
        // The encoder's own sample format for the decoder's sample size.
        const bool wide = av_get_bytes_per_sample(d->sample_fmt) > 2;
        for (const AVSampleFormat* f = encoder->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f)
            if ((av_get_bytes_per_sample(*f) > 2) == wide)
                m_encoder->sample_fmt = *f;
        m_encoder->sample_rate = d->sample_rate;
        m_encoder->time_base = AVRational{1, d->sample_rate};
        m_encoder->bits_per_raw_sample = wide ? d->bits_per_raw_sample : 16;
        int r = EncoderLayout(encoder, d->ch_layout, &m_encoder->ch_layout) ? 0 : AVERROR(EINVAL);
        if (r >= 0)
            r = avcodec_open2(m_encoder.get(), encoder, nullptr);
        if (r >= 0)
            r = swr_alloc_set_opts2(&m_swr, &m_encoder->ch_layout, m_encoder->sample_fmt,
                                    d->sample_rate, &m_encoder->ch_layout, d->sample_fmt,
                                    d->sample_rate, 0, nullptr);
        if (r >= 0)
            r = swr_init(m_swr);
        if (r < 0)
            throw ToolError(
                Where(file, -1, "cannot write " + std::string(encoder->name) + ": " + AvError(r)));
        m_fifo = av_audio_fifo_alloc(m_encoder->sample_fmt, d->ch_layout.nb_channels,
                                     std::max(m_encoder->frame_size, 1));
        if (m_fifo == nullptr)
            throw std::bad_alloc();
    }
    ~Recoder()
    {
        swr_free(&m_swr);
        av_audio_fifo_free(m_fifo);
    }
    Recoder(const Recoder&) = delete;
    Recoder& operator=(const Recoder&) = delete;

    const AVCodecContext* Encoder() const { return m_encoder.get(); }
    // Decodes `packet` (null: the end) and hands on each packet coded, timed
    // in the encoder's time base.
    void Recode(const AVPacket* packet, const std::function<void(AVPacket*)>& out)
    {
        int r = avcodec_send_packet(m_decoder.get(), packet);
        if (r < 0 && r != AVERROR_EOF)
            throw ToolError(Where(m_file, -1, "damaged audio: " + AvError(r)));
        while ((r = avcodec_receive_frame(m_decoder.get(), m_frame.get())) >= 0) {
            if (m_frame->sample_rate != m_encoder->sample_rate ||
                m_frame->ch_layout.nb_channels != m_encoder->ch_layout.nb_channels ||
                m_frame->format != m_decoder->sample_fmt)
                throw ToolError(Where(m_file, -1, "the audio format changes within the stream"));
            if (m_next == AV_NOPTS_VALUE && m_frame->best_effort_timestamp != AV_NOPTS_VALUE)
                m_next = av_rescale_q(m_frame->best_effort_timestamp, m_decoder->pkt_timebase,
                                      m_encoder->time_base);
            Convert(m_frame.get());
            av_frame_unref(m_frame.get());
            Encode(false, out);
        }
        if (r != AVERROR(EAGAIN) && r != AVERROR_EOF)
            throw ToolError(Where(m_file, -1, "damaged audio: " + AvError(r)));
        if (packet == nullptr)
            Encode(true, out);
    }

private:
    void Convert(const AVFrame* frame)
    {
        const int samples = frame->nb_samples;
        if (av_audio_fifo_realloc(m_fifo, av_audio_fifo_size(m_fifo) + samples) < 0)
            throw std::bad_alloc();
        FramePtr converted = NewFrame();
        converted->format = m_encoder->sample_fmt;
        converted->nb_samples = samples;
        if (av_channel_layout_copy(&converted->ch_layout, &m_encoder->ch_layout) < 0 ||
            av_frame_get_buffer(converted.get(), 0) < 0)
            throw std::bad_alloc();
        const int got = swr_convert(m_swr, converted->extended_data, samples,
                                    const_cast<const uint8_t**>(frame->extended_data), samples);
        if (got != samples ||
            av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(converted->extended_data),
                                samples) != samples)
            throw ToolError(Where(m_file, -1, "cannot convert audio"));
    }
    // Whole frames of the encoder's size from the queue; at the end, the rest.
    void Encode(bool end, const std::function<void(AVPacket*)>& out)
    {
        const int size = m_encoder->frame_size > 0 ? m_encoder->frame_size : 4096;
        while (av_audio_fifo_size(m_fifo) >= size || (end && av_audio_fifo_size(m_fifo) > 0)) {
            av_frame_unref(m_chunk.get());
            m_chunk->format = m_encoder->sample_fmt;
            m_chunk->nb_samples = std::min(size, av_audio_fifo_size(m_fifo));
            m_chunk->sample_rate = m_encoder->sample_rate;
            if (av_channel_layout_copy(&m_chunk->ch_layout, &m_encoder->ch_layout) < 0 ||
                av_frame_get_buffer(m_chunk.get(), 0) < 0)
                throw std::bad_alloc();
            av_audio_fifo_read(m_fifo, reinterpret_cast<void**>(m_chunk->extended_data),
                               m_chunk->nb_samples);
            m_chunk->pts = m_next == AV_NOPTS_VALUE ? 0 : m_next;
            m_next = m_chunk->pts + m_chunk->nb_samples;
            Send(m_chunk.get(), out);
        }
        if (end)
            Send(nullptr, out);
    }
    void Send(const AVFrame* frame, const std::function<void(AVPacket*)>& out)
    {
        int r = avcodec_send_frame(m_encoder.get(), frame);
        while (r >= 0) {
            r = avcodec_receive_packet(m_encoder.get(), m_packet.get());
            if (r >= 0)
                out(m_packet.get());
        }
        if (r != AVERROR(EAGAIN) && r != AVERROR_EOF)
            throw ToolError(Where(m_file, -1, "cannot encode audio: " + AvError(r)));
    }

    std::string m_file;
    CodecPtr m_decoder, m_encoder;
    FramePtr m_frame, m_chunk;
    PacketPtr m_packet;
    SwrContext* m_swr = nullptr;
    AVAudioFifo* m_fifo = nullptr;
    int64_t m_next = AV_NOPTS_VALUE; // the next sample's time
};

} // namespace

uint8_t SilenceByte(AVCodecID id)
{
    return id == AV_CODEC_ID_PCM_U8 ? 0x80 : 0;
}

int PcmSampleBytes(const AVCodecParameters* par)
{
    switch (par->codec_id) {
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S8:
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S16BE:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S24BE:
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_S32BE:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F32BE:
    case AV_CODEC_ID_PCM_F64LE:
    case AV_CODEC_ID_PCM_F64BE:
        return av_get_bits_per_sample(par->codec_id) / 8 * par->ch_layout.nb_channels;
    default:
        return 0;
    }
}

StreamPlan PlanStreams(const std::string& file, const AVFormatContext* input, int videoStream,
                       const AVOutputFormat* output, const AudioChoice& choice, bool decode)
{
    StreamPlan plan;
    const std::string container = output->name;
    // The streams asked for, and the recording's start among them.
    std::vector<const AVStream*> wanted;
    int audioSeen = 0;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* s = input->streams[i];
        if (static_cast<int>(i) == videoStream)
            continue;
        if (s->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
            plan.notes.push_back(file + ": " + StreamName(s) + " is not carried (" +
                                 (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
                                      ? "tarv carries one video stream"
                                      : "tarv carries video and sound only") +
                                 ")");
            continue;
        }
        ++audioSeen;
        if (!choice.none && (choice.only == 0 || choice.only == audioSeen))
            wanted.push_back(s);
    }
    if (choice.only > audioSeen)
        throw ToolError(Where(file, -1,
                              "has " + std::to_string(audioSeen) + " audio stream" +
                                  (audioSeen == 1 ? "" : "s") + ", no stream " +
                                  std::to_string(choice.only) + " for --audio"));
    // An input of sound alone starts with its earliest stream; one with
    // video only when the video's start is known.
    const AVStream* video = videoStream >= 0 ? input->streams[videoStream] : nullptr;
    plan.timeBase = video != nullptr ? video->time_base : AVRational{1, AV_TIME_BASE};
    if (video != nullptr)
        plan.origin = video->start_time;
    if (video == nullptr || plan.origin != AV_NOPTS_VALUE)
        for (const AVStream* s : wanted)
            if (s->start_time != AV_NOPTS_VALUE) {
                const int64_t start = av_rescale_q(s->start_time, s->time_base, plan.timeBase);
                plan.origin = plan.origin == AV_NOPTS_VALUE ? start : std::min(plan.origin, start);
            }

    for (const AVStream* s : wanted) {
        const AVCodecParameters* par = s->codecpar;
        const int index = s->index;
        auto drop = [&](const std::string& why) {
            plan.notes.push_back(file + ": " + StreamName(s) + " is not carried (" + why + ")");
        };
        if (output->audio_codec == AV_CODEC_ID_NONE) {
            drop(container + " holds no sound");
            continue;
        }
        const int query = avformat_query_codec(output, par->codec_id, FF_COMPLIANCE_NORMAL);
        // Raw PCM only where the container says it holds it (MPEG-TS would
        // make a data stream of it).
        const bool copies = container == "avi"
                                ? AviPlays(par->codec_id) && query == 1
                                : query == 1 || (query < 0 && PcmSampleBytes(par) == 0);
        // How late it starts, which only an AVI cannot say.
        double late = 0;
        if (container == "avi" && plan.origin != AV_NOPTS_VALUE && s->start_time != AV_NOPTS_VALUE)
            late = av_q2d(s->time_base) * static_cast<double>(s->start_time) -
                   av_q2d(plan.timeBase) * static_cast<double>(plan.origin);
        const bool placeable = PcmSampleBytes(par) > 0 || late < kLateSeconds;
        const bool decodable = decode && avcodec_find_decoder(par->codec_id) != nullptr;
        if (copies && (placeable || !decodable)) {
            plan.audio.push_back({index, AudioCoding::Copy});
            if (!placeable) {
                char text[64];
                std::snprintf(text, sizeof text, "%.3f s", late);
                plan.notes.push_back(file + ": " + StreamName(s) + " starts " + text +
                                     " late, but plays from the AVI's start");
            }
            continue;
        }
        if (!decode && avcodec_find_decoder(par->codec_id) != nullptr)
            if (const AVCodec* c = LosslessEncoder(file, s, output)) {
                plan.audio.push_back({index, AudioCoding::Recode, c->id});
                plan.notes.push_back(file + ": " + StreamName(s) + " is coded as " + c->name +
                                     ", exactly: " + container + " cannot hold " +
                                     avcodec_get_name(par->codec_id));
                continue;
            }
        if (!decodable) {
            drop(decode ? "no decoder for " + std::string(avcodec_get_name(par->codec_id))
                        : container + " holds no exact form of " + avcodec_get_name(par->codec_id) +
                              ": .mkv, .nut or .mov keep it");
            continue;
        }
        plan.audio.push_back({index, AudioCoding::Pcm});
        plan.notes.push_back(
            file + ": " + StreamName(s) + " is decoded to PCM, exactly: " +
            (copies ? "it starts late, and AVI places only PCM"
                    : "AVI players do not read " + std::string(avcodec_get_name(par->codec_id))));
    }
    return plan;
}

// ---- SoundPlacer --------------------------------------------------------------

SoundPlacer::SoundPlacer(int rate, AVRational streamTime, int64_t origin, int64_t end,
                         AVRational timeBase)
    : m_rate(rate), m_streamTime(streamTime),
      m_origin(origin == AV_NOPTS_VALUE ? 0 : av_rescale_q(origin, timeBase, AVRational{1, rate})),
      m_end(end == AV_NOPTS_VALUE ? AV_NOPTS_VALUE
                                  : av_rescale_q(end, timeBase, AVRational{1, rate}) - m_origin)
{
}

SoundPlacer::Placed SoundPlacer::Place(int64_t pts, int64_t samples)
{
    int64_t silence = 0, jump = 0;
    if (pts != AV_NOPTS_VALUE) {
        // A gap is filled once it reaches 20 ms, which no one hears as out of
        // sync; shorter ones are mostly timestamp rounding.
        int64_t gap = av_rescale_q(pts, m_streamTime, AVRational{1, m_rate}) - m_origin - m_next;
        const int64_t longest = int64_t{kLongestGapSeconds} * m_rate;
        if (gap > longest || gap < -longest) {
            // Placed from here on as if the stream had gone straight on.
            m_origin += gap;
            jump = gap;
            gap = 0;
        }
        if (gap >= m_rate / 50)
            silence = gap;
    }
    if (m_end != AV_NOPTS_VALUE)
        silence = std::clamp<int64_t>(m_end - m_next, 0, silence);
    const int64_t position = m_next + silence;
    int64_t keep = samples;
    if (m_end != AV_NOPTS_VALUE)
        keep = std::clamp<int64_t>(m_end - position, 0, samples);
    m_next = position + keep;
    return {silence, keep, position, jump};
}

void SoundPlacer::CutAt(int64_t end, AVRational timeBase)
{
    const int64_t at = av_rescale_q(end, timeBase, AVRational{1, m_rate});
    m_end = m_end == AV_NOPTS_VALUE ? at : std::min(m_end, at);
}

// ---- PcmDecoder -------------------------------------------------------------

PcmDecoder::PcmDecoder(const std::string& file, const AVStream* stream)
    : m_file(file), m_decoder(OpenDecoder(file, stream)), m_frame(NewFrame()), m_packed(NewFrame())
{
    if (m_decoder->sample_fmt == AV_SAMPLE_FMT_NONE || m_decoder->sample_rate <= 0 ||
        m_decoder->ch_layout.nb_channels <= 0)
        throw ToolError(Where(file, -1, StreamName(stream) + ": unknown sample format"));
    m_channels = m_decoder->ch_layout.nb_channels;
}

PcmDecoder::~PcmDecoder()
{
    swr_free(&m_swr);
}

AVSampleFormat PcmDecoder::Format() const
{
    return av_get_packed_sample_fmt(m_decoder->sample_fmt);
}

int PcmDecoder::SampleBytes() const
{
    return av_get_bytes_per_sample(Format()) * m_decoder->ch_layout.nb_channels;
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
            m_frame->sample_rate != m_decoder->sample_rate ||
            m_frame->ch_layout.nb_channels != m_channels)
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
    AudioCoding coding;
    int output = -1;
    std::unique_ptr<PcmDecoder> decoder; // Pcm: the input's decoder
    std::unique_ptr<Recoder> recoder;    // Recode
    CodecPtr encoder;                    // Pcm: the PCM encoder
    PacketPtr packet = NewPacket();
    std::optional<SoundPlacer> placer; // PCM out: where its samples go
    int sampleBytes = 0;               // PCM out: bytes of one sample of all channels
    std::vector<uint8_t> pending;      // PCM out: samples not yet written
    int64_t pendingAt = 0;             // and where they start
    uint8_t silence = 0;
    int rate = 0;
};

AudioTracks::AudioTracks(const std::string& file, const AVFormatContext* input,
                         const StreamPlan& plan)
    : m_file(file)
{
    for (const AudioPlan& p : plan.audio) {
        auto t = std::make_unique<Track>();
        t->input = input->streams[p.stream];
        t->coding = p.coding;
        t->rate = t->input->codecpar->sample_rate;
        if (p.coding == AudioCoding::Copy) {
            t->sampleBytes = t->rate > 0 ? PcmSampleBytes(t->input->codecpar) : 0;
            t->silence = SilenceByte(t->input->codecpar->codec_id);
        } else if (p.coding == AudioCoding::Recode) {
            t->recoder = std::make_unique<Recoder>(file, t->input, p.codec);
        } else {
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
            t->encoder->sample_rate = t->rate = d->sample_rate;
            t->encoder->time_base = AVRational{1, d->sample_rate};
            int r = av_channel_layout_copy(&t->encoder->ch_layout, &d->ch_layout);
            if (r >= 0)
                r = avcodec_open2(t->encoder.get(), codec, nullptr);
            if (r < 0)
                throw ToolError(Where(
                    file, -1, "cannot write " + std::string(codec->name) + ": " + AvError(r)));
            t->sampleBytes = av_get_bits_per_sample(id) / 8 * d->ch_layout.nb_channels;
            t->silence = SilenceByte(id);
        }
        m_tracks.push_back(std::move(t));
    }
}

AudioTracks::~AudioTracks() = default;
AudioTracks::AudioTracks(AudioTracks&&) noexcept = default;
AudioTracks& AudioTracks::operator=(AudioTracks&&) noexcept = default;

void AudioTracks::AddTo(AVFormatContext* output)
{
    for (auto& t : m_tracks) {
        AVStream* s = avformat_new_stream(output, nullptr);
        if (s == nullptr)
            throw std::bad_alloc();
        const int r = t->coding == AudioCoding::Copy
                          ? avcodec_parameters_copy(s->codecpar, t->input->codecpar)
                          : avcodec_parameters_from_context(
                                s->codecpar, t->recoder ? t->recoder->Encoder() : t->encoder.get());
        if (r < 0)
            throw std::bad_alloc();
        // The new container chooses its own tag for the codec.
        s->codecpar->codec_tag = 0;
        if (t->sampleBytes > 0) {
            // Devices leave these unset; AVI counts PCM time by them.
            s->codecpar->block_align = t->sampleBytes;
            s->codecpar->bit_rate = int64_t{8} * t->sampleBytes * t->rate;
        }
        s->time_base =
            t->sampleBytes > 0 || t->recoder ? AVRational{1, t->rate} : t->input->time_base;
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
    for (auto& t : m_tracks)
        if (t->sampleBytes > 0)
            t->placer.emplace(t->rate, t->input->time_base, origin, end, timeBase);
}

void AudioTracks::Send(AVFormatContext* output, const std::string& name, Track& t, AVPacket* packet,
                       AVRational timeBase)
{
    packet->stream_index = t.output;
    packet->pos = -1;
    WritePacket(output, name, packet, timeBase);
}

void AudioTracks::CutAt(int64_t end, AVRational timeBase)
{
    const int64_t at = m_origin + av_rescale_q(end, timeBase, m_timeBase);
    m_end = m_end == AV_NOPTS_VALUE ? at : std::min(m_end, at);
    for (auto& t : m_tracks)
        if (t->placer)
            t->placer->CutAt(end, timeBase);
}

SoundPlacer::Placed AudioTracks::Place(Track& t, int64_t pts, int64_t samples)
{
    const auto placed = t.placer->Place(pts, samples);
    if (placed.jump != 0) {
        char at[32];
        std::snprintf(at, sizeof at, "%.3f s", static_cast<double>(placed.position) / t.rate);
        const double seconds = static_cast<double>(placed.jump) / t.rate;
        Warn(m_file + ": " + StreamName(t.input) + ": its timestamps jump " +
             Clock(std::abs(seconds)) + (seconds > 0 ? " ahead" : " back") + " at " + at +
             (seconds > 0 ? ", a gap not filled with silence (gaps up to " +
                                Clock(kLongestGapSeconds) + " are)"
                          : ", and the sound goes on from there"));
    }
    return placed;
}

void AudioTracks::WritePcm(AVFormatContext* output, const std::string& name, Track& t,
                           int64_t position, const uint8_t* data, int64_t samples)
{
    const auto sampleBytes = static_cast<size_t>(t.sampleBytes);
    // Silence goes in pieces: a long gap never needs memory of its length.
    const auto piece = static_cast<int64_t>(std::max<size_t>(1, kPcmPacketBytes / sampleBytes));
    while (samples > 0) {
        if (!t.pending.empty() &&
            t.pendingAt + static_cast<int64_t>(t.pending.size() / sampleBytes) != position)
            Flush(output, name, t);
        if (t.pending.empty())
            t.pendingAt = position;
        const int64_t n = data != nullptr ? samples : std::min(samples, piece);
        const size_t bytes = static_cast<size_t>(n) * sampleBytes;
        if (data != nullptr)
            t.pending.insert(t.pending.end(), data, data + bytes);
        else
            t.pending.insert(t.pending.end(), bytes, t.silence);
        position += n;
        samples -= n;
        // Devices hand over a few samples at a time; AVI chunks of 10 ms or
        // more keep its index small. Packets of files are longer and stay as
        // they are, up to kPcmPacketBytes.
        if (t.pending.size() / sampleBytes >= static_cast<size_t>(t.rate / 100))
            Flush(output, name, t);
    }
}

void AudioTracks::Flush(AVFormatContext* output, const std::string& name, Track& t)
{
    if (t.pending.empty())
        return;
    const auto sampleBytes = static_cast<size_t>(t.sampleBytes);
    // Whole samples, and never more than a packet's int size can say.
    const size_t most = std::max(sampleBytes, kPcmPacketBytes / sampleBytes * sampleBytes);
    AVPacket* p = t.packet.get();
    for (size_t done = 0; done < t.pending.size();) {
        const size_t bytes = std::min(most, t.pending.size() - done);
        av_packet_unref(p);
        if (av_new_packet(p, static_cast<int>(bytes)) < 0)
            throw std::bad_alloc();
        std::memcpy(p->data, t.pending.data() + done, bytes);
        p->pts = p->dts = t.pendingAt + static_cast<int64_t>(done / sampleBytes);
        p->duration = static_cast<int64_t>(bytes / sampleBytes);
        p->flags = AV_PKT_FLAG_KEY;
        done += bytes;
        Send(output, name, t, p, AVRational{1, t.rate});
    }
    t.pending.clear();
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
    if (t.recoder) {
        t.recoder->Recode(packet, [&](AVPacket* p) {
            Send(output, name, t, p, AVRational{1, t.rate});
        });
        av_packet_unref(packet);
        return;
    }
    if (t.coding == AudioCoding::Copy && t.placer) {
        const auto placed = Place(t, packet->pts, packet->size / t.sampleBytes);
        WritePcm(output, name, t, placed.position - placed.silence, nullptr, placed.silence);
        WritePcm(output, name, t, placed.position, packet->data, placed.keep);
        av_packet_unref(packet);
        return;
    }
    if (t.coding == AudioCoding::Copy) {
        // Compressed packets are kept whole, up to the end.
        if (m_end != AV_NOPTS_VALUE && packet->pts != AV_NOPTS_VALUE &&
            packet->pts >= av_rescale_q(m_end, m_timeBase, tb)) {
            av_packet_unref(packet);
            return;
        }
        const int64_t shift = av_rescale_q(m_origin, m_timeBase, tb);
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts -= shift;
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts -= shift;
        Send(output, name, t, packet, tb);
        return;
    }
    Decode(output, name, t, packet);
    av_packet_unref(packet);
}

void AudioTracks::Decode(AVFormatContext* output, const std::string& name, Track& t,
                         const AVPacket* packet)
{
    t.decoder->Decode(packet, [&](AVFrame* frame) {
        const auto placed = Place(t, frame->pts, frame->nb_samples);
        WritePcm(output, name, t, placed.position - placed.silence, nullptr, placed.silence);
        if (placed.keep == 0)
            return;
        frame->nb_samples = static_cast<int>(placed.keep);
        frame->pts = placed.position;
        Encode(output, name, t, frame);
    });
}

void AudioTracks::Encode(AVFormatContext* output, const std::string& name, Track& t, AVFrame* frame)
{
    int r = avcodec_send_frame(t.encoder.get(), frame);
    while (r >= 0) {
        r = avcodec_receive_packet(t.encoder.get(), t.packet.get());
        if (r >= 0)
            WritePcm(output, name, t, t.packet->pts, t.packet->data,
                     t.packet->size / t.sampleBytes);
    }
    if (r != AVERROR(EAGAIN) && r != AVERROR_EOF)
        throw ToolError(Where(name, -1, "cannot encode audio: " + AvError(r)));
}

void AudioTracks::Finish(AVFormatContext* output, const std::string& name)
{
    for (auto& t : m_tracks) {
        if (t->recoder)
            t->recoder->Recode(nullptr, [&](AVPacket* p) {
                Send(output, name, *t, p, AVRational{1, t->rate});
            });
        if (t->coding != AudioCoding::Pcm)
            continue;
        Decode(output, name, *t, nullptr);
        Encode(output, name, *t, nullptr);
    }
    for (auto& t : m_tracks)
        Flush(output, name, *t);
}

// ---- SampleComparer ---------------------------------------------------------

void SampleComparer::Add(int side, const uint8_t* data, size_t bytes)
{
    if (!m_difference.empty())
        return;
    m_pending[side].insert(m_pending[side].end(), data, data + bytes);
    Compare();
}

void SampleComparer::AddSilence(int side, size_t bytes, uint8_t value)
{
    // In pieces, so that a long silence is compared as it comes rather than
    // held whole.
    constexpr size_t kPiece = size_t{1} << 20;
    while (bytes > 0 && m_difference.empty()) {
        const size_t piece = std::min(bytes, kPiece);
        m_pending[side].insert(m_pending[side].end(), piece, value);
        bytes -= piece;
        Compare();
    }
}

void SampleComparer::Compare()
{
    const size_t frame = static_cast<size_t>(m_channels * m_bytes);
    const size_t common = std::min(Pending(0), Pending(1)) / frame * frame;
    const auto begin = m_pending[0].begin() + static_cast<std::ptrdiff_t>(m_done[0]);
    const auto end = begin + static_cast<std::ptrdiff_t>(common);
    const auto [a, b] =
        std::mismatch(begin, end, m_pending[1].begin() + static_cast<std::ptrdiff_t>(m_done[1]));
    if (a != end) {
        const auto at = static_cast<size_t>(a - begin);
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
    for (int side = 0; side < 2; ++side) {
        std::vector<uint8_t>& p = m_pending[side];
        m_done[side] += common;
        if (m_done[side] > p.size() / 2) {
            p.erase(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(m_done[side]));
            m_done[side] = 0;
        }
    }
}

void SampleComparer::Finish()
{
    if (!m_difference.empty() || (Pending(0) == 0 && Pending(1) == 0))
        return;
    const size_t frame = static_cast<size_t>(m_channels * m_bytes);
    const int side = Pending(0) == 0 ? 0 : 1;
    const char* unit = m_rate == 0 ? " bytes" : " samples";
    m_difference = std::string(side == 0 ? "the original" : "the encoded stream") + " ends after " +
                   std::to_string(m_agreed) + unit + ", the other goes on for " +
                   std::to_string(Pending(1 - side) / frame) + " more";
}

} // namespace tarv
