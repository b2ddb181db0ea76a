#include "tools/input/recording.h"

#include <algorithm>

namespace tarv {

Recording OpenRecording(const std::vector<InputSpec>& inputs, const AudioChoice& choice,
                        std::optional<AVRational> rate, double duration)
{
    Recording r;
    for (size_t i = 0; i < inputs.size(); ++i)
        r.readers.push_back(std::make_unique<RecordingReader>(inputs[i], i == 0));
    r.rate = rate.value_or(r.readers[0]->FrameRate());
    int audioSeen = 0;
    for (size_t i = 0; i < r.readers.size(); ++i) {
        RecordingReader& reader = *r.readers[i];
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
        const StreamPlan& plan = r.plans.emplace_back(
            PlanStreams(reader.Path(), format, i == 0 ? reader.StreamIndex() : -1,
                        av_guess_format("avi", nullptr, nullptr), local, true));
        std::vector<int> carried;
        for (const AudioPlan& a : plan.audio)
            carried.push_back(a.stream);
        reader.Carry(carried);
        const AVRational time = i == 0 ? reader.Stream()->time_base : plan.timeBase;
        const Timing& t = r.timings.emplace_back(MakeTiming(r.rate, time, plan.origin, duration));
        if (t.end != AV_NOPTS_VALUE)
            reader.StopAt(t.end, t.timeBase);
    }
    if (choice.only > audioSeen) {
        const bool one = r.readers.size() == 1;
        throw ToolError(Where(one ? inputs[0].path : "the inputs", -1,
                              (one ? "has " : "have ") + std::to_string(audioSeen) +
                                  " audio streams, no stream " + std::to_string(choice.only) +
                                  " for --audio"));
    }
    return r;
}

} // namespace tarv
