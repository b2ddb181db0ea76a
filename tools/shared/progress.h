// One status line on a terminal for long jobs: frames done and total, frames
// per second, compression ratio and time left. Silent when stderr is not a
// terminal or when the user asked for quiet.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tarv {

class Progress {
public:
    // `total` is 0 when the frame count is unknown.
    Progress(bool quiet, std::string label, int64_t total);
    ~Progress();
    // `raw` and `coded` are the bytes of uncompressed and compressed frames so
    // far; `extra` ends the line.
    void Update(int64_t frames, int64_t raw, int64_t coded, const std::string& extra = {});
    // Whether a line is shown at all.
    bool Shown() const { return m_shown; }
    // Clears the line.
    void Finish();

private:
    bool m_shown;
    std::string m_label;
    int64_t m_total;
    std::chrono::steady_clock::time_point m_start, m_last;
    bool m_drawn = false;
};

// Seconds as m:ss or h:mm:ss.
std::string Clock(double seconds);

} // namespace tarv
