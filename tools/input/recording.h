// The inputs of a recording as encode reads them, and verify reads them
// again: the video's input first, then inputs of sound, each carrying the
// audio streams an AVI gets and running on its own clock from its start, as
// ffmpeg aligns inputs.
#pragma once

#include "tools/input/reader.h"
#include "tools/shared/audio.h"
#include "tools/shared/timing.h"

#include <memory>
#include <optional>
#include <vector>

namespace tarv {

struct Recording {
    std::vector<std::unique_ptr<RecordingReader>> readers;
    std::vector<StreamPlan> plans; // per input
    std::vector<Timing> timings;   // per input; the first one's is the video's
    AVRational rate;               // the output's frame rate
};

// Opens the inputs and plans their sound; `--audio N` (choice.only) counts
// the audio streams of all inputs in order. Each reader carries its planned
// streams and stops at its end. The plans' notes are for the caller to print.
Recording OpenRecording(const std::vector<InputSpec>& inputs, const AudioChoice& choice,
                        std::optional<AVRational> rate, double duration);

} // namespace tarv
