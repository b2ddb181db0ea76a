// Plays a file through libvlc into memory and checks every picture VLC shows
// against raw frames:
//   tarv_vlc_play MODULE_DIR FILE CHROMA WIDTH HEIGHT EXPECTED.raw
// CHROMA is the module's own picture format, YUY2 or RV24, so that VLC
// converts nothing. EXPECTED.raw holds the frames as FFmpeg writes rawvideo:
// yuyv422 rows of whole pixel pairs, or rgb24 rows, top-down, unpadded. Only
// picture bytes are compared: at an odd YUY2 width the last pixel's V is not
// the codec's. VLC's warnings and errors go to stderr. Exit status 0 when VLC
// showed the expected frames, in order and none else, through the module in
// MODULE_DIR (the last frame may be missing, see Play), 1 otherwise; 2 for
// unusable arguments.
#include <vlc/vlc.h>

#include <algorithm>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Check {
    std::string moduleDir, chroma;
    unsigned width = 0, height = 0;
    size_t pictureBytes = 0, expectedRow = 0, pitch = 0;
    std::vector<uint8_t> expected;
    // VLC keeps several pictures in flight, a buffer each: one is taken when
    // VLC locks a picture and comes back when VLC unlocks it.
    struct Buffer {
        std::vector<uint8_t> bytes;
        bool inUse = false;
    };
    std::vector<std::unique_ptr<Buffer>> buffers;
    size_t frames = 0; // pictures shown so far

    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::string error;   // the first fault seen
    bool timing = false; // it is VLC's timing: a picture skipped or shown again

    void Fail(const std::string& what)
    {
        std::lock_guard lock(mutex);
        if (error.empty())
            error = what;
    }
    size_t ExpectedFrames() const { return expected.size() / (expectedRow * height); }
    bool Matches(const uint8_t* got, size_t frame) const
    {
        const uint8_t* want = expected.data() + frame * expectedRow * height;
        for (size_t y = 0; y < height; ++y)
            if (std::memcmp(got + y * pitch, want + y * expectedRow, pictureBytes) != 0)
                return false;
        return true;
    }
};

unsigned Setup(void** opaque, char* chroma, unsigned* width, unsigned* height, unsigned* pitches,
               unsigned* lines)
{
    auto& c = *static_cast<Check*>(*opaque);
    const std::string offered(chroma, 4);
    if (offered != c.chroma || *width != c.width || *height != c.height) {
        c.Fail("VLC offers " + offered + " " + std::to_string(*width) + "x" +
               std::to_string(*height) + " pictures, expected " + c.chroma + " " +
               std::to_string(c.width) + "x" + std::to_string(c.height));
        return 0;
    }
    pitches[0] = static_cast<unsigned>(c.pitch);
    lines[0] = c.height;
    return 1;
}

void* Lock(void* opaque, void** planes)
{
    auto& c = *static_cast<Check*>(opaque);
    std::lock_guard lock(c.mutex);
    auto free =
        std::find_if(c.buffers.begin(), c.buffers.end(), [](const auto& b) { return !b->inUse; });
    if (free == c.buffers.end()) {
        c.buffers.push_back(std::make_unique<Check::Buffer>());
        c.buffers.back()->bytes.resize(c.pitch * c.height);
        free = c.buffers.end() - 1;
    }
    (*free)->inUse = true;
    planes[0] = (*free)->bytes.data();
    return free->get();
}

void Unlock(void* opaque, void* picture, void* const*)
{
    std::lock_guard lock(static_cast<Check*>(opaque)->mutex);
    static_cast<Check::Buffer*>(picture)->inUse = false;
}

void Display(void* opaque, void* picture)
{
    auto& c = *static_cast<Check*>(opaque);
    const uint8_t* got = static_cast<Check::Buffer*>(picture)->bytes.data();
    std::lock_guard lock(c.mutex);
    // VLC shows the last picture again when nothing new is due for a while:
    // consecutive frames of the files differ, so an equal picture is that.
    if (c.frames > 0 && c.frames <= c.ExpectedFrames() && c.Matches(got, c.frames - 1))
        return;
    const size_t n = c.frames++;
    if (!c.error.empty())
        return;
    if (n >= c.ExpectedFrames()) {
        c.error = "VLC shows more than the " + std::to_string(c.ExpectedFrames()) + " frames";
        c.timing = true;
        return;
    }
    if (c.Matches(got, n))
        return;
    c.error = "picture " + std::to_string(n) + " shown is no expected frame";
    for (size_t k = c.ExpectedFrames(); k-- > 0;)
        if (c.Matches(got, k)) {
            c.error =
                "picture " + std::to_string(n) + " shown is expected frame " + std::to_string(k);
            c.timing = true;
        }
}

void Ended(const libvlc_event_t* event, void* opaque)
{
    auto& c = *static_cast<Check*>(opaque);
    std::lock_guard lock(c.mutex);
    if (event->type == libvlc_MediaPlayerEncounteredError && c.error.empty())
        c.error = "VLC could not play the file";
    c.done = true;
    c.ended.notify_one();
}

void Log(void*, int level, const libvlc_log_t* ctx, const char* fmt, va_list args)
{
    if (level < LIBVLC_WARNING)
        return;
    const char *module = nullptr, *file = nullptr;
    unsigned line = 0;
    libvlc_log_get_context(ctx, &module, &file, &line);
    std::fprintf(stderr, "vlc %s: ", module != nullptr ? module : "?");
    std::vfprintf(stderr, fmt, args);
    std::fputc('\n', stderr);
}

// The module files of ours in this process: the one under test must be the
// only one, so that no installed copy stands in for it.
std::vector<std::string> LoadedModules()
{
    std::ifstream maps("/proc/self/maps");
    std::vector<std::string> paths;
    for (std::string line; std::getline(maps, line);) {
        const size_t slash = line.find('/');
        if (slash == std::string::npos || !line.ends_with("/libtarv_plugin.so"))
            continue;
        std::string path = line.substr(slash);
        if (paths.empty() || paths.back() != path)
            paths.push_back(path);
    }
    return paths;
}

// One run of the file through VLC: the fault seen, or "".
std::string Play(Check& c, const char* file)
{
    c.frames = 0;
    c.done = c.timing = false;
    c.error.clear();
    // Nothing from the user's settings, no window, no audio, and every frame
    // shown even when late. Only our decoder may decode.
    const char* const options[] = {"--ignore-config",
                                   "--no-audio",
                                   "--aout=adummy",
                                   "--no-xlib",
                                   "--no-osd",
                                   "--no-spu",
                                   "--no-video-title-show",
                                   "--no-drop-late-frames",
                                   "--no-skip-frames",
                                   "--codec=tarv,none",
                                   "--no-lua"};
    libvlc_instance_t* vlc = libvlc_new(std::size(options), options);
    if (vlc == nullptr)
        return "libvlc_new failed";
    libvlc_log_set(vlc, Log, nullptr);
    libvlc_media_t* media = libvlc_media_new_path(vlc, file);
    libvlc_media_player_t* player = libvlc_media_player_new_from_media(media);
    libvlc_media_release(media);
    libvlc_video_set_callbacks(player, Lock, Unlock, Display, &c);
    libvlc_video_set_format_callbacks(player, Setup, nullptr);
    libvlc_event_manager_t* events = libvlc_media_player_event_manager(player);
    libvlc_event_attach(events, libvlc_MediaPlayerEndReached, Ended, &c);
    libvlc_event_attach(events, libvlc_MediaPlayerEncounteredError, Ended, &c);

    // VLC skips a picture when the next is due before it got to show it:
    // slower than real time, a busy machine seldom makes it skip.
    libvlc_media_player_set_rate(player, 0.5f);
    libvlc_media_player_play(player);
    {
        std::unique_lock lock(c.mutex);
        if (!c.ended.wait_for(lock, std::chrono::seconds(60), [&] { return c.done; }))
            c.error = "VLC did not reach the end of the file";
    }
    const std::vector<std::string> modules = LoadedModules();
    libvlc_media_player_stop(player);
    libvlc_media_player_release(player);
    libvlc_release(vlc);

    // VLC drops the last picture when the file ends while it waits for its
    // time: the last frame is checked only when it is shown.
    if (c.error.empty() && c.frames + 1 < c.ExpectedFrames()) {
        c.error = "VLC shows " + std::to_string(c.frames) + " frames, expected " +
                  std::to_string(c.ExpectedFrames() - 1) + " or " +
                  std::to_string(c.ExpectedFrames());
        c.timing = true;
    }
    const std::string ours =
        (std::filesystem::weakly_canonical(c.moduleDir) / "libtarv_plugin.so").string();
    if (c.error.empty() && (modules.size() != 1 || modules[0] != ours)) {
        c.error = "expected VLC to load " + ours + " alone, it loaded:";
        for (const std::string& m : modules)
            c.error += " " + m;
    }
    return c.error;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: tarv_vlc_play MODULE_DIR FILE CHROMA WIDTH HEIGHT "
                             "EXPECTED.raw\n");
        return 2;
    }
    Check c;
    c.moduleDir = argv[1];
    c.chroma = argv[3];
    c.width = static_cast<unsigned>(std::stoul(argv[4]));
    c.height = static_cast<unsigned>(std::stoul(argv[5]));
    const bool yuy2 = c.chroma == "YUY2";
    c.pictureBytes = c.width * (yuy2 ? 2u : 3u);
    c.expectedRow = yuy2 ? (c.width + 1) / 2 * 4 : c.pictureBytes;
    // Room for a whole YUY2 pixel pair at the end of each row.
    c.pitch = (c.pictureBytes + 2 + 31) / 32 * 32;
    std::ifstream in(argv[6], std::ios::binary);
    c.expected.assign(std::istreambuf_iterator<char>(in), {});
    if (c.expected.empty() || c.expected.size() % (c.expectedRow * c.height) != 0) {
        std::fprintf(stderr, "%s holds no whole %ux%u frames\n", argv[6], c.width, c.height);
        return 2;
    }
    for (size_t k = 1; k < c.ExpectedFrames(); ++k) {
        std::vector<uint8_t> frame(c.pitch * c.height);
        for (size_t y = 0; y < c.height; ++y)
            std::memcpy(&frame[y * c.pitch], &c.expected[(k * c.height + y) * c.expectedRow],
                        c.pictureBytes);
        if (c.Matches(frame.data(), k - 1)) {
            std::fprintf(stderr,
                         "%s: frames %zu and %zu are the same: a picture shown again "
                         "could not be told from the next\n",
                         argv[6], k - 1, k);
            return 2;
        }
    }

    // A fault of timing is VLC's, and seldom comes twice: the file is played
    // again. A wrong picture or a missing frame of the module's comes every time.
    for (int attempt = 1;; ++attempt) {
        const std::string error = Play(c, argv[2]);
        if (error.empty())
            return 0;
        std::fprintf(stderr, "%s: %s\n", argv[2], error.c_str());
        if (!c.timing || attempt == 3)
            return 1;
        std::fprintf(stderr, "%s: playing it again\n", argv[2]);
    }
}
