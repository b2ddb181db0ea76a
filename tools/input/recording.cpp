#include "tools/input/recording.h"

#include <algorithm>

namespace tarv {

Recording OpenRecording(const std::vector<InputSpec>& inputs, const AudioChoice& choice,
                        std::optional<AVRational> rate, double duration)
{
    Recording r;
    for (size_t i = 0; i < inputs.size(); ++i)
        r.inputs.emplace_back().reader = std::make_unique<RecordingReader>(inputs[i], i == 0);
    r.rate = rate.value_or(r.Video().FrameRate());
    r.width = r.Video().Width();
    r.height = r.Video().Height();
    int audioSeen = 0;
    for (size_t i = 0; i < r.inputs.size(); ++i) {
        Input& input = r.inputs[i];
        RecordingReader& reader = *input.reader;
        const AVFormatContext* format = reader.Format();
        const int count = static_cast<int>(std::count_if(
            format->streams, format->streams + format->nb_streams,
            [](const AVStream* s) { return s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO; }));
        AudioChoice local = choice;
        if (choice.only != 0 && (choice.only <= audioSeen || choice.only > audioSeen + count))
            local = AudioChoice{true, 0};
        else if (choice.only != 0)
            local.only -= audioSeen;
        audioSeen += count;
        input.plan = PlanStreams(reader.Path(), format, i == 0 ? reader.StreamIndex() : -1,
                                 av_guess_format("avi", nullptr, nullptr), local, true);
        std::vector<int> carried;
        for (const AudioPlan& a : input.plan.audio)
            carried.push_back(a.stream);
        reader.Carry(carried);
        const AVRational time = i == 0 ? reader.Stream()->time_base : input.plan.timeBase;
        const Timing& t = input.timing = MakeTiming(r.rate, time, input.plan.origin, duration);
        if (t.end != AV_NOPTS_VALUE)
            reader.StopAt(t.end, t.timeBase);
    }
    if (choice.only > audioSeen) {
        const bool one = r.inputs.size() == 1;
        throw ToolError(Where(one ? inputs[0].path : "the inputs", -1,
                              (one ? "has " : "have ") + std::to_string(audioSeen) +
                                  " audio streams, no stream " + std::to_string(choice.only) +
                                  " for --audio"));
    }
    return r;
}

FramePacer::FramePacer(const Recording& recording, Source& source, Events& events)
    : m_source(source), m_events(events), m_path(recording.Video().Path()),
      m_width(recording.width), m_height(recording.height),
      m_sync(recording.rate, recording.inputs[0].timing.timeBase, recording.inputs[0].plan.origin)
{
    m_sync.Limit(recording.inputs[0].timing.frames);
}

int64_t FramePacer::Next(AVFrame* frame)
{
    while (!m_ended) {
        int64_t copies = 0;
        const bool read = m_source.Next(m_read);
        m_events.Read();
        if (!read) {
            m_ended = true;
            copies = m_sync.Finish(frame);
            m_events.Ended();
        } else if (m_read.kind == FrameOrPacket::Kind::Packet) {
            m_events.Sound(m_read.input, m_read.packet.get());
            continue;
        } else if (m_read.frame->width != m_width || m_read.frame->height != m_height) {
            throw ToolError(Where(m_path, m_sync.FramesIn(),
                                  m_events.SizeChange(m_width, m_height, *m_read.frame)));
        } else {
            copies = m_sync.Next(m_read.frame.get(), frame);
        }
        if (m_sync.Jump() != 0)
            m_events.Jumped(m_sync.Jump(), m_sync.FramesIn() - 1);
        if (copies > 0)
            return copies;
    }
    return 0;
}

} // namespace tarv
