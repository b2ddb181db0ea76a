// Timestamped frames onto the one constant frame rate of an AVI file.
//
// Each frame stands for the output frame periods from its timestamp to the
// next frame's, so over a gap it is written again (an exact copy) and when
// several frames fall into one period only the last is written. The video
// thereby keeps its time against the sound, as ffmpeg's -vsync cfr does. A
// constant-rate input at the output rate comes through frame for frame.
#pragma once

#include "tools/shared/ffmpeg.h"

#include <cstdint>
#include <limits>

extern "C" {
#include <libavutil/rational.h>
}

namespace tarv {

// A jump in a stream's timestamps longer than this (a computer that slept
// through a capture, a damaged file) is not filled with repeated frames or
// silence: the stream goes on from where it was, and the jump is reported.
// Shorter gaps are filled, which keeps the stream in time.
constexpr int kLongestGapSeconds = 60;

// An output's clock, in the video's time base: where it starts, where it
// ends (AV_NOPTS_VALUE: with the input) and how many frames it may hold.
struct Timing {
    AVRational rate;
    AVRational timeBase;
    int64_t origin; // 0 when the input does not say
    int64_t end;
    int64_t frames;
};
// `duration` in seconds, 0 for all of the input.
Timing MakeTiming(AVRational rate, AVRational timeBase, int64_t origin, double duration);

class FrameSync {
public:
    // `timeBase` is the timestamps'. `origin` is when the recording starts
    // (AV_NOPTS_VALUE: with the first frame); the first frame is repeated
    // over the periods before it.
    FrameSync(AVRational rate, AVRational timeBase, int64_t origin);

    // At most `frames` output frames; Full() once they are all there.
    void Limit(int64_t frames) { m_limit = frames; }
    bool Full() const { return m_written >= m_limit; }

    // A frame with timestamp `pts` (AV_NOPTS_VALUE: one period after the
    // frame before it) arrives: how many times the frame before it is written.
    int64_t Next(int64_t pts);
    // The stream ends at `end` (AV_NOPTS_VALUE: one period after the last
    // frame): how many times the last frame is written.
    int64_t Finish(int64_t end);
    // Seconds the timestamps jumped, at the last Next() or Finish(), beyond
    // kLongestGapSeconds ahead (negative: back) and so not filled; else 0. A
    // first frame that late is written at the start.
    double Jump() const { return m_jump; }

    // The same for frames: `frame` is taken and held; the frame before it is
    // handed back in `previous` (emptied when there is none). At the end the
    // held frame comes back in `last`, its end its timestamp plus duration.
    int64_t Next(AVFrame* frame, AVFrame* previous);
    int64_t Finish(AVFrame* last);
    // The input index of the frame last handed back, and frames taken.
    int64_t GivenIndex() const { return m_givenIndex; }
    int64_t FramesIn() const { return m_framesIn; }

    int64_t Written() const { return m_written; }
    // Extra copies written, and frames not written at all.
    int64_t Repeated() const { return m_repeated; }
    int64_t Skipped() const { return m_skipped; }

private:
    int64_t Period(int64_t pts) const;
    // Periods of kLongestGapSeconds.
    int64_t Longest() const;
    // `period` of the frame after the held one, re-aligned after a jump.
    int64_t Bounded(int64_t period);
    int64_t Take(int64_t until);

    AVRational m_rate, m_timeBase;
    int64_t m_origin;
    // Periods are counted from the first frame, which falls on the grid, so a
    // constant-rate input never moves; `m_lead` periods come before it.
    int64_t m_first = 0, m_lead = 0;
    bool m_started = false;
    int64_t m_limit = std::numeric_limits<int64_t>::max();
    bool m_holding = false;
    int64_t m_period = 0; // the held frame's period
    int64_t m_written = 0, m_repeated = 0, m_skipped = 0;
    double m_jump = 0;
    FramePtr m_held = NewFrame();
    int64_t m_framesIn = 0, m_givenIndex = 0;
};

} // namespace tarv
