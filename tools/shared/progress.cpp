#include "tools/shared/progress.h"

#include <cstdio>
#include <unistd.h>

namespace tarv {

std::string Clock(double seconds)
{
    const auto s = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

Progress::Progress(bool quiet, std::string label, int64_t total)
    : m_shown(!quiet && isatty(STDERR_FILENO) != 0), m_label(std::move(label)), m_total(total),
      m_start(std::chrono::steady_clock::now()), m_last(m_start)
{
}

Progress::~Progress()
{
    Finish();
}

void Progress::Update(int64_t frames, int64_t raw, int64_t coded, const std::string& extra)
{
    if (!m_shown)
        return;
    const auto now = std::chrono::steady_clock::now();
    // A few redraws a second are enough to read and cost nothing.
    if (m_drawn && now - m_last < std::chrono::milliseconds(200))
        return;
    m_last = now;
    const double elapsed = std::chrono::duration<double>(now - m_start).count();
    const double fps = elapsed > 0 ? static_cast<double>(frames) / elapsed : 0;
    // Built with snprintf: GCC 12 warns falsely on chains of string +.
    char line[256];
    int n = std::snprintf(line, sizeof line, "%s: frame %lld", m_label.c_str(),
                          static_cast<long long>(frames));
    auto append = [&](const char* format, auto... values) {
        if (n >= 0 && static_cast<size_t>(n) < sizeof line)
            n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), format, values...);
    };
    if (m_total > 0)
        append("/%lld", static_cast<long long>(m_total));
    append("  %.1f fps", fps);
    if (coded > 0)
        append("  ratio %.2f", static_cast<double>(raw) / static_cast<double>(coded));
    if (m_total > frames && fps > 0)
        append("  ETA %s", Clock(static_cast<double>(m_total - frames) / fps).c_str());
    if (!extra.empty())
        append("  %s", extra.c_str());
    std::fprintf(stderr, "\r%s\033[K", line);
    std::fflush(stderr);
    m_drawn = true;
}

void Progress::Finish()
{
    if (m_drawn) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        m_drawn = false;
    }
}

} // namespace tarv
