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
#include <string>
#include <vector>

namespace tarv {

// One input of a recording and the sound it carries.
struct Input {
    std::unique_ptr<RecordingReader> reader;
    StreamPlan plan;
    Timing timing{}; // the first input's is the video's
    // encode: the tracks its sound is written through
    std::optional<AudioTracks> audio;
    // verify: read to its end
    bool soundEnded = false;
};

struct Recording {
    std::vector<Input> inputs;
    AVRational rate; // the output's frame rate
    // The video's frame size as opened: its reader's own may follow a change
    // on a reading thread.
    int width = 0, height = 0;

    RecordingReader& Video() const { return *inputs[0].reader; }
};

// Opens the inputs and plans their sound; `--audio N` (choice.only) counts
// the audio streams of all inputs in order. Each reader carries its planned
// streams and stops at its end. The plans' notes are for the caller to print.
Recording OpenRecording(const std::vector<InputSpec>& inputs, const AudioChoice& choice,
                        std::optional<AVRational> rate, double duration);

// The recording's video at the output's one frame rate, read on until a
// frame is due: a variable rate held by repeating and skipping frames as
// FrameSync does, the packets of sound met on the way handed on. Encode
// writes what it gives, and verify compares against what it gives, so the
// two cannot drift apart.
class FramePacer {
public:
    // What a command does with what is read besides the frames.
    class Events {
    public:
        virtual ~Events() = default;
        // A packet of a carried stream of input `input`; it may be taken.
        virtual void Sound(size_t input, AVPacket* packet) = 0;
        // The error for a frame of another size than the video's, `width`
        // by `height`.
        virtual std::string SizeChange(int width, int height, const AVFrame& frame) const = 0;
        // The video's timestamps jumped `seconds` at input frame `frame`,
        // further than FrameSync fills.
        virtual void Jumped(double /*seconds*/, int64_t /*frame*/) {}
        // Something was read, or the end, and is about to be used: where a
        // command that stops at an interrupt checks for one.
        virtual void Read() {}
        // The source has ended; its last frame is about to be given out.
        virtual void Ended() {}
    };

    // Reads `source`, which delivers the recording's inputs (the video's
    // reader alone, or a QueuedSource of all of them).
    FramePacer(const Recording& recording, Source& source, Events& events);

    // The next frame due into `frame`, and how many output frames it fills;
    // 0 at the end.
    int64_t Next(AVFrame* frame);
    const FrameSync& Sync() const { return m_sync; }

private:
    Source& m_source;
    Events& m_events;
    const std::string m_path;
    const int m_width, m_height;
    FrameSync m_sync;
    FrameOrPacket m_read;
    bool m_ended = false;
};

} // namespace tarv
