// The tool's commands. Each returns the process exit status: 0 success, 1 a
// verification found a difference (or bench lost bit-exactness), 2 an error,
// 3 an output kept from a damaged input with --keep-going.
#pragma once

#include "tools/output/writer.h"
#include "tools/shared/audio.h"
#include "tools/shared/ffmpeg.h"
#include "variants/frame_coder.h"

#include <optional>
#include <string>
#include <vector>

namespace tarv {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDiffers = 1;
inline constexpr int kExitError = 2;
// --keep-going read a damaged or cut-short input: the output is kept, and
// what it lacks is named on stderr.
inline constexpr int kExitIncomplete = 3;
inline constexpr int kExitUsage = 64;

struct Options {
    std::vector<std::string> files;
    // How to open each file: a device or source format and its options, as
    // given before the file's name.
    std::vector<InputSpec> inputs;
    AudioChoice audio;
    std::optional<AVRational> rate; // encode: output frame rate
    double duration = 0;            // encode: seconds to keep, 0 for all
    std::optional<Variant> codec;
    int threads = 0; // 0: one per processor
    int frames = 0;  // bench: frames to use, 0 for the default
    bool quiet = false;
    bool overwrite = false; // replace an existing output
    bool keepGoing = false; // decode: keep what a damaged input holds
    OutputChoice output;
};

// Worker threads for `requested` (0 means one per processor).
int ThreadCount(int requested);
// The first file, opened as the options say.
inline const InputSpec& FirstInput(const Options& options)
{
    return options.inputs[0];
}

int RunEncode(const Options& options);
int RunDecode(const Options& options);
int RunInfo(const Options& options);
int RunVerify(const Options& options);
int RunBench(const Options& options);

// Prints "tarv: warning: text" on stderr.
void Warn(const std::string& text);
// Prints "tarv: text" on stderr.
void Note(const std::string& text);
// "WIDTHxHEIGHT".
std::string SizeText(int width, int height);

} // namespace tarv
