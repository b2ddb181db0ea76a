// The tool's commands. Each returns the process exit status: 0 success, 1 a
// verification found a difference (or bench lost bit-exactness), 2 an error.
#pragma once

#include "tools/media.h"
#include "variants/frame_coder.h"

#include <optional>
#include <string>
#include <vector>

namespace tarv {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDiffers = 1;
inline constexpr int kExitError = 2;
inline constexpr int kExitUsage = 64;

struct Options {
    std::vector<std::string> files;
    std::optional<Variant> codec;
    int threads = 0; // 0: one per processor
    int frames = 0;  // bench: frames to use, 0 for the default
    bool quiet = false;
    bool overwrite = false; // replace an existing output
    OutputChoice output;
};

// Worker threads for `requested` (0 means one per processor).
int ThreadCount(int requested);

int RunEncode(const Options& options);
int RunDecode(const Options& options);
int RunInfo(const Options& options);
int RunVerify(const Options& options);
int RunBench(const Options& options);

// Prints "tarv: warning: text" on stderr.
void Warn(const std::string& text);

} // namespace tarv
