// tarv: turns video into Tarv AVI files and back, exactly, with FFmpeg's
// libraries for containers and pixel formats.
#include "tools/commands/commands.h"
#include "tools/output/output_file.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string_view>
#include <utility>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/parseutils.h>
}

namespace {

using namespace tarv;

struct Command {
    const char* name;
    int minFiles, maxFiles;
    int (*run)(const Options&);
    const char* help;
};

constexpr char kCommon[] =
    "  --quiet        no progress line and no summary (encode, decode, verify)\n"
    "  --threads N    worker threads (default: one per processor)\n"
    "  -h, --help     this text\n";

const Command kCommands[] = {
    {"encode", 2, 9, RunEncode,
     "usage: tarv encode [INPUT OPTIONS] IN [[INPUT OPTIONS] SOUND_IN...] OUT.avi\n"
     "                  [--codec yuy2|rgb24] [--rate R] [--duration T]\n"
     "                  [--audio N | --no-audio] [-y] [--threads N] [--quiet]\n"
     "\n"
     "Compresses every frame of IN, any recording or image sequence FFmpeg reads\n"
     "(img%04d.png for numbered images), into an AVI file of Tarv key frames, with\n"
     "IN's sound. yuy2 (TRVY) takes packed 4:2:2 frames, rgb24 (TRVR) 24-bit BGR;\n"
     "the default follows IN: rgb24 for RGB input, yuy2 otherwise. Frames already\n"
     "in the codec's format are taken as they are; any other conversion is\n"
     "announced when it is not exact (4:2:0 or 10-bit input, for example).\n"
     "\n"
     "Every audio stream goes in: copied when Video for Windows programs read its\n"
     "codec from AVI (PCM, MP3, AC-3, ...), otherwise decoded to PCM, exactly, and\n"
     "announced. Streams an AVI cannot hold (subtitles, data) are named as left\n"
     "out. AVI has one frame rate: frames of a variable-rate input are repeated\n"
     "or skipped to stay in time with the sound, and the counts are reported.\n"
     "\n"
     "IN may be - for standard input, or, with --input-format, a capture device\n"
     "or source: x11grab (:0.0), v4l2 (/dev/video0), lavfi (a filter graph).\n"
     "Each SOUND_IN adds its audio streams, each on its own clock from its start:\n"
     "a file, or a device such as pulse or alsa (default) with --input-format.\n"
     "A capture runs until Ctrl-C, q or --duration, and keeps its file. OUT.avi\n"
     "appears only when complete; it cannot be a pipe, and its name must end in\n"
     ".avi. Full-range input (yuvj422p, color_range pc) is announced: AVI keeps no\n"
     "range, so decode needs --full-range to tag it again.\n"
     "\n"
     "  --codec C      yuy2 or rgb24\n"
     "  --rate R       output frames a second (30, 30000/1001, ntsc; default IN's)\n"
     "  --duration T   stop after T seconds of IN (seconds, or [hh:]mm:ss)\n"
     "  --audio N      carry the Nth audio stream only (from 1, counting all inputs)\n"
     "  --no-audio     carry no sound\n"
     "input options, before the input they open:\n"
     "  --input-format F       read it with FFmpeg's input format or device F\n"
     "  --input-option K=V     an option of that input (repeatable), as ffmpeg's\n"
     "                         -K V before -i: framerate=30, video_size=1920x1080\n"
     "  -y, --overwrite  replace OUT.avi if it exists (never when it is IN)\n"},
    {"decode", 2, 2, RunDecode,
     "usage: tarv decode IN.avi OUT [--format F] [--vcodec C] [--pix-fmt P]\n"
     "                  [--full-range] [--audio N | --no-audio] [--keep-going] [-y]\n"
     "                  [--threads N] [--quiet]\n"
     "\n"
     "Decompresses the TRVY or TRVR stream of IN.avi, from this tool or from a\n"
     "Windows program, into any output FFmpeg writes. OUT's name picks the format:\n"
     "out.avi, out.nut or out.mkv hold raw video, out.y4m YUV4MPEG, and\n"
     "frame%04d.png numbered PNG images. Containers without raw video get a\n"
     "lossless encoder: out.mp4 and out.ts H.264 (x264 lossless), out.webm VP9\n"
     "(lossless). A lossy one (JPEG images, Theora) is announced. OUT appears\n"
     "only when complete. IN.avi may be - for standard input, and OUT - for\n"
     "standard output, with --format. Sound is copied into outputs that hold it\n"
     "(AVI, Matroska, NUT, MOV); for MP4 PCM is coded as ALAC, exactly; streams\n"
     "no output form keeps exactly (WebM, MPEG-TS, y4m, images) are named.\n"
     "\n"
     "  --format F     output format, as ffmpeg -f names it (nut, matroska, ...)\n"
     "  --vcodec C     video encoder, as ffmpeg -c:v names it (rawvideo, ffv1, png)\n"
     "  --pix-fmt P    pixel format for the encoder (default: the codec's own, or\n"
     "                 the closest one the encoder takes, announced if not exact)\n"
     "  --full-range   tag YUV output as full range (pc, 0-255): AVI keeps no\n"
     "                 range, so give it when encode said the input was full range\n"
     "  --audio N      carry the Nth audio stream only (from 1)\n"
     "  --no-audio     carry no sound\n"
     "  --keep-going   when IN.avi is cut short or has unreadable chunks, keep every\n"
     "                 frame and the sound it holds and name what is lost (exit 3)\n"
     "  -y, --overwrite  replace OUT if it exists (never when it is IN.avi)\n"},
    {"info", 1, 1, RunInfo,
     "usage: tarv info FILE\n"
     "\n"
     "Lists FILE's streams: codec, dimensions, frame rate or sound layout,\n"
     "duration, frames or packets and bytes, and for Tarv streams the compression\n"
     "ratio against the raw frames.\n"},
    {"verify", 2, 9, RunVerify,
     "usage: tarv verify [INPUT OPTIONS] ORIGINAL [[INPUT OPTIONS] SOUND_IN...]\n"
     "                  ENCODED.avi [--audio N | --no-audio] [--duration T]\n"
     "                  [--threads N] [--quiet]\n"
     "\n"
     "Decodes every frame of ENCODED.avi and compares it with ORIGINAL's frame\n"
     "after the conversion and timing tarv encode applies, and every audio stream\n"
     "encode carries sample for sample. Give it the inputs and the --audio,\n"
     "--no-audio and --duration that encode had. Reports the first difference.\n"
     "Exit status 0 when all agree, 1 when they differ.\n"},
    {"bench", 0, 1, RunBench,
     "usage: tarv bench [IN] [--codec yuy2|rgb24] [--frames N] [--threads N]\n"
     "\n"
     "Measures compression ratio and encode and decode speed of both codecs, with\n"
     "one thread and with N, on the first frames of IN or on a built-in 1080p clip\n"
     "made from FFmpeg's test sources. Checks that every frame decodes bit-exact.\n"
     "\n"
     "  --frames N     frames to use (default 30)\n"},
};

constexpr char kUsage[] =
    "usage: tarv COMMAND [ARGS] [OPTIONS]\n"
    "\n"
    "Tarv, a lossless video codec: Tarv AVI files from and to any video.\n"
    "\n"
    "  encode IN OUT.avi          compress video into a Tarv AVI file\n"
    "  decode IN.avi OUT          decompress a Tarv AVI file into any format\n"
    "  info FILE                  streams, sizes and compression ratio\n"
    "  verify ORIGINAL ENC.avi    check that ENC.avi decodes to ORIGINAL exactly\n"
    "  bench [IN]                 speed and ratio, on IN or a built-in clip\n"
    "\n"
    "tarv COMMAND --help describes a command; tarv --version prints the version.\n"
    "Exit status: 0 success, 1 frames differ, 2 error, 3 output kept from a damaged\n"
    "input (decode --keep-going), 64 bad command line.\n";

void PrintHelp(const Command& c)
{
    std::printf("%s\noptions:\n%s", c.help, kCommon);
}

int UsageError(const std::string& text)
{
    std::fprintf(stderr, "tarv: %s\n(tarv --help lists the commands)\n", text.c_str());
    return kExitUsage;
}

bool EndsWithAvi(const std::string& name)
{
    constexpr std::string_view kAvi = ".avi";
    if (name.size() <= kAvi.size())
        return false;
    for (size_t i = 0; i < kAvi.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - kAvi.size() + i])) !=
            kAvi[i])
            return false;
    return true;
}

bool ParseCount(const char* text, int& out)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 1024)
        return false;
    out = static_cast<int>(value);
    return true;
}

int Main(int argc, char** argv)
{
    if (argc < 2)
        return UsageError("no command given");
    const std::string_view name = argv[1];
    if (name == "--version") {
        std::printf("tarv %s\n", TARV_VERSION);
        return kExitOk;
    }
    if (name == "-h" || name == "--help" || name == "help") {
        if (argc > 2)
            for (const Command& c : kCommands)
                if (c.name == std::string_view(argv[2])) {
                    PrintHelp(c);
                    return kExitOk;
                }
        std::printf("%s", kUsage);
        return kExitOk;
    }
    const Command* command = nullptr;
    for (const Command& c : kCommands)
        if (c.name == name)
            command = &c;
    if (command == nullptr)
        return UsageError("unknown command '" + std::string(name) + "'");

    Options options;
    InputSpec next; // the input options given so far for the next file
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "-h" || arg == "--help") {
            PrintHelp(*command);
            return kExitOk;
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if ((arg == "-y" || arg == "--overwrite") &&
                   (name == "encode" || name == "decode")) {
            options.overwrite = true;
        } else if (arg == "--keep-going" && name == "decode") {
            options.keepGoing = true;
        } else if (arg == "--threads") {
            const char* v = value();
            if (v == nullptr || !ParseCount(v, options.threads))
                return UsageError("--threads takes a number from 1 to 1024");
        } else if (arg == "--frames" && name == "bench") {
            const char* v = value();
            if (v == nullptr || !ParseCount(v, options.frames))
                return UsageError("--frames takes a number from 1 to 1024");
        } else if (arg == "--codec" && (name == "encode" || name == "bench")) {
            const char* v = value();
            options.codec = v ? VariantByName(v) : std::nullopt;
            if (!options.codec)
                return UsageError("--codec takes yuy2 or rgb24");
        } else if ((arg == "--format" || arg == "--vcodec" || arg == "--pix-fmt") &&
                   name == "decode") {
            const char* v = value();
            if (v == nullptr)
                return UsageError(std::string(arg) + " needs a value");
            (arg == "--format"   ? options.output.format
             : arg == "--vcodec" ? options.output.codec
                                 : options.output.pixelFormat) = v;
        } else if (arg == "--full-range" && name == "decode") {
            options.output.fullRange = true;
        } else if (arg == "--no-audio" && name != "info" && name != "bench") {
            options.audio.none = true;
        } else if (arg == "--audio" && name != "info" && name != "bench") {
            const char* v = value();
            if (v == nullptr || !ParseCount(v, options.audio.only))
                return UsageError("--audio takes a stream number from 1");
        } else if (arg == "--rate" && name == "encode") {
            const char* v = value();
            AVRational rate{};
            if (v == nullptr || av_parse_video_rate(&rate, v) < 0 || rate.num <= 0 || rate.den <= 0)
                return UsageError("--rate takes frames a second: 25, 30000/1001 or ntsc");
            options.rate = rate;
        } else if (arg == "--duration" && (name == "encode" || name == "verify")) {
            const char* v = value();
            int64_t microseconds = 0;
            if (v == nullptr || av_parse_time(&microseconds, v, 1) < 0 || microseconds <= 0)
                return UsageError("--duration takes a time: seconds or [hh:]mm:ss");
            options.duration = static_cast<double>(microseconds) / 1e6;
        } else if (arg == "--input-format" && (name == "encode" || name == "verify")) {
            const char* v = value();
            if (v == nullptr)
                return UsageError("--input-format needs a value");
            next.format = v;
        } else if (arg == "--input-option" && (name == "encode" || name == "verify")) {
            const char* v = value();
            const char* equals = v ? std::strchr(v, '=') : nullptr;
            if (equals == nullptr || equals == v)
                return UsageError("--input-option takes KEY=VALUE");
            next.options.emplace_back(std::string(v, equals), equals + 1);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option '" + std::string(arg) + "' for " + std::string(name));
        } else {
            options.files.emplace_back(arg);
            next.path = arg;
            options.inputs.push_back(std::exchange(next, InputSpec{}));
        }
    }
    // --input-format and --input-option belong to the input named after them.
    if (!next.format.empty() || !next.options.empty() ||
        ((name == "encode" || name == "verify") && options.inputs.size() > 1 &&
         (!options.inputs.back().format.empty() || !options.inputs.back().options.empty())))
        return UsageError("--input-format and --input-option go before the input they open");
    const int files = static_cast<int>(options.files.size());
    if (files < command->minFiles || files > command->maxFiles)
        return UsageError("wrong number of files for " + std::string(name) + " (tarv " +
                          std::string(name) + " --help)");

    if (name == "encode" && options.files.back() == kStandardStream)
        return UsageError("an AVI cannot be written to a pipe (its index needs seeking): "
                          "give OUT.avi a file name");
    // The last name is what encode writes: one not ending in .avi is a slip
    // (a file named for another format, or a missing OUT after a sound input).
    if (name == "encode" && !EndsWithAvi(options.files.back()))
        return UsageError("encode writes an AVI file: OUT must end in .avi, and '" +
                          options.files.back() + "' does not");
    if (name == "decode" && options.files[1] == kStandardStream && options.output.format.empty())
        return UsageError("decoding to standard output (-) needs --format");
    if (options.audio.none && options.audio.only != 0)
        return UsageError("--audio and --no-audio exclude each other");
    for (const InputSpec& input : options.inputs)
        if (!input.options.empty() && input.format.empty())
            return UsageError("--input-option needs --input-format");

    av_log_set_level(AV_LOG_ERROR);
    CatchInterrupts();
    return command->run(options);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Main(argc, argv);
    } catch (const tarv::ToolError& e) {
        std::fprintf(stderr, "tarv: %s\n", e.what());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "tarv: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarv: %s\n", e.what());
    }
    return tarv::kExitError;
}
