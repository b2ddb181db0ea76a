// What the commands share: threads, messages, the first input.
#include "tools/commands/commands.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace tarv {

int ThreadCount(int requested)
{
    if (requested > 0)
        return requested;
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void Warn(const std::string& text)
{
    std::fprintf(stderr, "tarv: warning: %s\n", text.c_str());
}

void Note(const std::string& text)
{
    std::fprintf(stderr, "tarv: %s\n", text.c_str());
}

std::string SizeText(int width, int height)
{
    return std::to_string(width) + "x" + std::to_string(height);
}

} // namespace tarv
