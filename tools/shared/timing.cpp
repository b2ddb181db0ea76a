#include "tools/shared/timing.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

namespace tarv {

Timing MakeTiming(AVRational rate, AVRational timeBase, int64_t origin, double duration)
{
    Timing t{rate, timeBase, origin == AV_NOPTS_VALUE ? 0 : origin, AV_NOPTS_VALUE,
             std::numeric_limits<int64_t>::max()};
    if (duration > 0) {
        t.frames = std::max<int64_t>(1, std::llround(duration * av_q2d(rate)));
        t.end = t.origin + std::llround(duration / av_q2d(timeBase));
    }
    return t;
}

FrameSync::FrameSync(AVRational rate, AVRational timeBase, int64_t origin)
    : m_rate(rate), m_timeBase(timeBase), m_origin(origin)
{
}

int64_t FrameSync::Period(int64_t pts) const
{
    // Rounded to the nearest period, so timestamps a little off the grid
    // (milliseconds at 29.97 fps) land where they belong.
    return m_lead +
           av_rescale_q_rnd(pts - m_first, m_timeBase, av_inv_q(m_rate),
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

int64_t FrameSync::Longest() const
{
    return av_rescale_q(kLongestGapSeconds, AVRational{1, 1}, av_inv_q(m_rate));
}

int64_t FrameSync::Bounded(int64_t period)
{
    if (!m_holding)
        return period;
    // Periods the held frame would fill beyond its own.
    const int64_t gap = period - (m_period + 1);
    if (gap <= Longest() && gap >= -Longest())
        return period;
    // Counted from here on as if the stream had gone straight on.
    m_lead -= gap;
    m_jump = static_cast<double>(gap) / av_q2d(m_rate);
    return m_period + 1;
}

int64_t FrameSync::Take(int64_t until)
{
    const int64_t copies = std::max<int64_t>(0, std::min(until, m_limit) - m_written);
    if (copies == 0 && !Full())
        ++m_skipped;
    m_repeated += std::max<int64_t>(0, copies - 1);
    m_written += copies;
    return copies;
}

int64_t FrameSync::Next(int64_t pts)
{
    m_jump = 0;
    if (!m_started && pts != AV_NOPTS_VALUE) {
        m_started = true;
        m_first = pts;
        if (m_origin != AV_NOPTS_VALUE && pts > m_origin)
            m_lead =
                av_rescale_q_rnd(pts - m_origin, m_timeBase, av_inv_q(m_rate), AV_ROUND_NEAR_INF);
        if (m_lead > Longest()) {
            m_jump = static_cast<double>(m_lead) / av_q2d(m_rate);
            m_lead = 0;
        }
    }
    const int64_t period =
        pts == AV_NOPTS_VALUE ? (m_holding ? m_period + 1 : m_written) : Bounded(Period(pts));
    const int64_t copies = m_holding ? Take(period) : 0;
    m_holding = true;
    m_period = period;
    return copies;
}

int64_t FrameSync::Next(AVFrame* frame, AVFrame* previous)
{
    const int64_t copies = Next(frame->pts);
    av_frame_unref(previous);
    av_frame_move_ref(previous, m_held.get());
    av_frame_move_ref(m_held.get(), frame);
    m_givenIndex = m_framesIn - 1;
    ++m_framesIn;
    return copies;
}

int64_t FrameSync::Finish(AVFrame* last)
{
    av_frame_unref(last);
    if (m_held->buf[0] == nullptr)
        return 0;
    const AVFrame* f = m_held.get();
    const int64_t end =
        f->pts != AV_NOPTS_VALUE && f->pkt_duration > 0 ? f->pts + f->pkt_duration : AV_NOPTS_VALUE;
    av_frame_move_ref(last, m_held.get());
    m_givenIndex = m_framesIn - 1;
    return Finish(end);
}

int64_t FrameSync::Finish(int64_t end)
{
    m_jump = 0;
    if (!m_holding)
        return 0;
    const int64_t until =
        end == AV_NOPTS_VALUE ? m_period + 1 : std::max(Bounded(Period(end)), m_period + 1);
    m_holding = false;
    return Take(until);
}

} // namespace tarv
