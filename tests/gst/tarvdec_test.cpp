// tarvdec in GStreamer pipelines: frames against what `tarv decode` gives
// (make_clips.sh), playbin picking it, seeks, and damaged input.
#include "gst/avi_header.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string kClips = TARV_GST_CLIPS;
using Frame = std::vector<uint8_t>;

class Environment : public ::testing::Environment {
public:
    void SetUp() override
    {
        gst_init(nullptr, nullptr);
        GError* error = nullptr;
        GstPlugin* plugin = gst_plugin_load_file(TARV_GST_PLUGIN, &error);
        ASSERT_NE(plugin, nullptr) << (error ? error->message : "");
        gst_object_unref(plugin);
        // An installed copy must not stand in for the one under test.
        GstElementFactory* factory = gst_element_factory_find("tarvdec");
        ASSERT_NE(factory, nullptr);
        GstPlugin* owner = gst_plugin_feature_get_plugin(GST_PLUGIN_FEATURE(factory));
        ASSERT_NE(owner, nullptr);
        EXPECT_STREQ(gst_plugin_get_filename(owner), TARV_GST_PLUGIN);
        EXPECT_STREQ(gst_plugin_get_license(owner), "BSD");
        EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory)), GST_RANK_PRIMARY);
        gst_object_unref(owner);
        gst_object_unref(factory);
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

void NeedClips()
{
    if (!std::ifstream(kClips + "/ready"))
        GTEST_SKIP() << "no clips: make_clips.sh did not run (it needs ffmpeg)";
}

// The frames of NAME.raw, each `bytes` long.
std::vector<Frame> Expected(const std::string& name, size_t bytes)
{
    std::ifstream in(kClips + "/" + name + ".raw", std::ios::binary);
    const Frame all{std::istreambuf_iterator<char>(in), {}};
    std::vector<Frame> frames;
    for (size_t at = 0; bytes > 0 && at + bytes <= all.size(); at += bytes)
        frames.emplace_back(all.begin() + static_cast<ptrdiff_t>(at),
                            all.begin() + static_cast<ptrdiff_t>(at + bytes));
    return frames;
}

// What a pipeline gave: frames with their rows unpadded, as FFmpeg's rawvideo
// packs them, and the messages it posted.
struct Result {
    std::vector<Frame> frames;
    std::vector<GstClockTime> times;
    std::string format, errors, warnings;
    std::vector<std::string> factories; // of every element playbin made
};

void Take(GstSample* sample, Result& r)
{
    GstVideoInfo info;
    ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample)));
    GstVideoFrame frame;
    ASSERT_TRUE(gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ));
    r.format = gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info));
    const auto width = static_cast<size_t>(GST_VIDEO_INFO_WIDTH(&info));
    const size_t row = GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_YUY2 ? 4 * ((width + 1) / 2)
                                                                             : 3 * width; // BGR
    const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const auto stride = static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
    Frame packed;
    for (size_t y = 0; y < static_cast<size_t>(GST_VIDEO_INFO_HEIGHT(&info)); ++y)
        packed.insert(packed.end(), data + y * stride, data + y * stride + row);
    r.frames.push_back(std::move(packed));
    r.times.push_back(GST_BUFFER_PTS(gst_sample_get_buffer(sample)));
    gst_video_frame_unmap(&frame);
}

// Takes the messages posted so far; true when one was an error.
bool Messages(GstBus* bus, Result& r)
{
    bool failed = false;
    while (GstMessage* m = gst_bus_pop(bus)) {
        const bool error = GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR;
        if (error || GST_MESSAGE_TYPE(m) == GST_MESSAGE_WARNING) {
            GError* e = nullptr;
            if (error)
                gst_message_parse_error(m, &e, nullptr);
            else
                gst_message_parse_warning(m, &e, nullptr);
            (error ? r.errors : r.warnings) += std::string(e->message) + "\n";
            g_error_free(e);
        }
        failed = failed || error;
        gst_message_unref(m);
    }
    return failed;
}

// Runs a pipeline whose appsink is named "out" (or playbin with an appsink),
// from `seekFrame` (of 25 a second) when it is not 0, to its end or its
// first error.
Result RunPipeline(GstElement* pipeline, GstElement* sink, int seekFrame = 0)
{
    Result r;
    GstBus* bus = gst_element_get_bus(pipeline);
    if (seekFrame > 0) {
        gst_element_set_state(pipeline, GST_STATE_PAUSED);
        EXPECT_EQ(gst_element_get_state(pipeline, nullptr, nullptr, GST_CLOCK_TIME_NONE),
                  GST_STATE_CHANGE_SUCCESS);
        EXPECT_TRUE(gst_element_seek_simple(
            pipeline, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
            seekFrame * GST_SECOND / 25));
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    auto* appsink = GST_APP_SINK(sink);
    for (;;) {
        if (GstSample* sample = gst_app_sink_try_pull_sample(appsink, 20 * GST_MSECOND)) {
            Take(sample, r);
            gst_sample_unref(sample);
        } else if (gst_app_sink_is_eos(appsink) || Messages(bus, r)) {
            break;
        }
    }
    // Going to NULL flushes the bus: read it first.
    Messages(bus, r);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    return r;
}

Result Launch(const std::string& description, int seekFrame = 0)
{
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    EXPECT_EQ(error, nullptr) << description << ": " << (error ? error->message : "");
    if (error)
        g_error_free(error);
    if (!pipeline)
        return {};
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    Result r = RunPipeline(pipeline, sink, seekFrame);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return r;
}

std::string AviPipeline(const std::string& file, int threads, const std::string& options = "")
{
    return "filesrc location=" + kClips + "/" + file +
           " ! avidemux ! tarvdec threads=" + std::to_string(threads) + " " + options +
           " ! appsink name=out sync=false";
}

size_t FrameBytes(const std::string& format, size_t width, size_t height)
{
    return (format == "YUY2" ? 4 * ((width + 1) / 2) : 3 * width) * height;
}

// The first `count` payloads of a clip, as avidemux hands them on.
std::vector<Frame> Payloads(const std::string& file, size_t count)
{
    std::vector<Frame> payloads;
    GstElement* demux = gst_parse_launch(
        ("filesrc location=" + kClips + "/" + file + " ! avidemux ! appsink name=out sync=false")
            .c_str(),
        nullptr);
    if (demux == nullptr)
        return payloads;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(demux), "out");
    gst_element_set_state(demux, GST_STATE_PLAYING);
    while (payloads.size() < count) {
        GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
        if (sample == nullptr)
            break;
        GstMapInfo map;
        gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ);
        payloads.emplace_back(map.data, map.data + map.size);
        gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
        gst_sample_unref(sample);
    }
    gst_element_set_state(demux, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(demux);
    return payloads;
}

// ---- Exact frames -----------------------------------------------------------

struct ClipCase {
    const char* name;
    const char* format;
    size_t width, height, frames;
    const char* source; // pipeline up to tarvdec
};

std::ostream& operator<<(std::ostream& os, const ClipCase& c)
{
    return os << c.name;
}

class Exact : public ::testing::TestWithParam<std::tuple<ClipCase, int>> {};

TEST_P(Exact, FramesAreTarvDecodes)
{
    NeedClips();
    const auto& [clip, threads] = GetParam();
    const std::string source = std::string("filesrc location=") + kClips + "/" + clip.source +
                               " ! tarvdec threads=" + std::to_string(threads) +
                               " ! appsink name=out sync=false";
    const Result r = Launch(source);
    EXPECT_EQ(r.errors + r.warnings, "");
    EXPECT_EQ(r.format, clip.format);
    const auto expected = Expected(clip.name, FrameBytes(clip.format, clip.width, clip.height));
    ASSERT_EQ(expected.size(), clip.frames);
    ASSERT_EQ(r.frames.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(r.frames[i] == expected[i]) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Clips, Exact,
    ::testing::Combine(
        ::testing::Values(ClipCase{"rgb", "BGR", 321, 241, 5, "rgb.avi ! avidemux"},
                          ClipCase{"yuy2", "YUY2", 64, 48, 6, "yuy2.avi ! avidemux"},
                          ClipCase{"yuy2_odd", "YUY2", 33, 17, 4, "yuy2_odd.avi ! avidemux"},
                          ClipCase{"win_tarvy", "YUY2", 161, 91, 6, "win_tarvy.avi ! avidemux"},
                          ClipCase{"win_tarvr", "BGR", 97, 65, 5, "win_tarvr.avi ! avidemux"},
                          // Matroska gives no size: the caps bring it.
                          ClipCase{"rgb", "BGR", 321, 241, 5,
                                   "rgb.mkv ! matroskademux ! "
                                   "capsfilter caps=video/x-unknown,width=321,height=241"}),
        ::testing::Values(1, 3)),
    [](const auto& test) {
        std::string name = std::get<0>(test.param).source;
        name = name.substr(0, name.find(' '));
        for (char& c : name)
            c = g_ascii_isalnum(c) ? c : '_';
        return name + "_threads" + std::to_string(std::get<1>(test.param));
    });

// ---- playbin ----------------------------------------------------------------

TEST(Playbin, PicksTarvdecByItself)
{
    NeedClips();
    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    ASSERT_NE(playbin, nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    const std::string uri = "file://" + kClips + "/rgb.avi";
    g_object_set(playbin, "uri", uri.c_str(), "video-sink", sink, nullptr);
    std::vector<std::string> factories;
    g_signal_connect(playbin, "deep-element-added",
                     G_CALLBACK(+[](GstBin*, GstBin*, GstElement* e, gpointer data) {
                         if (GstElementFactory* f = gst_element_get_factory(e))
                             static_cast<std::vector<std::string>*>(data)->push_back(
                                 GST_OBJECT_NAME(f));
                     }),
                     &factories);
    const Result r = RunPipeline(playbin, sink);
    gst_object_unref(playbin);
    EXPECT_EQ(r.errors, "");
    EXPECT_NE(std::find(factories.begin(), factories.end(), "tarvdec"), factories.end());
    EXPECT_EQ(r.format, "BGR");
    EXPECT_TRUE(r.frames == Expected("rgb", FrameBytes("BGR", 321, 241)));
}

// ---- Seeking ----------------------------------------------------------------

// A seek to frame N gives frames N onwards, exactly, whatever was in flight.
TEST(Seek, GivesTheFrameSoughtExactly)
{
    NeedClips();
    const auto expected = Expected("yuy2", FrameBytes("YUY2", 64, 48));
    ASSERT_EQ(expected.size(), 6u);
    for (int threads : {1, 3})
        for (int frame : {1, 3, 5}) {
            SCOPED_TRACE("frame " + std::to_string(frame) + ", " + std::to_string(threads) +
                         " threads");
            const Result r = Launch(AviPipeline("yuy2.avi", threads), frame);
            EXPECT_EQ(r.errors, "");
            ASSERT_EQ(r.frames.size(), expected.size() - static_cast<size_t>(frame));
            EXPECT_EQ(r.times[0], static_cast<GstClockTime>(frame) * GST_SECOND / 25);
            for (size_t i = 0; i < r.frames.size(); ++i)
                EXPECT_TRUE(r.frames[i] == expected[static_cast<size_t>(frame) + i])
                    << "frame " << frame + static_cast<int>(i);
        }
}

// ---- Latency ----------------------------------------------------------------

// The latency tarvdec reports is the frames it holds before the first comes
// out, counted by feeding them one at a time on this thread; an empty payload
// (a drop frame) after the first counts as one.
TEST(Latency, ReportedIsTheFramesHeld)
{
    NeedClips();
    const std::vector<Frame> payloads = Payloads("rgb.avi", 1);
    ASSERT_EQ(payloads.size(), 1u);
    const std::string caps = "video/x-avi-unknown,fourcc=(int)" +
                             std::to_string(GST_MAKE_FOURCC('T', 'R', 'V', 'R')) +
                             ",width=321,height=241,framerate=25/1";
    for (int threads : {1, 2, 3, 4})
        for (bool drop : {false, true}) {
            SCOPED_TRACE(std::to_string(threads) + " threads" + (drop ? ", a drop frame" : ""));
            GstElement* dec = gst_element_factory_make("tarvdec", nullptr);
            ASSERT_NE(dec, nullptr);
            g_object_set(dec, "threads", threads, nullptr);
            GstHarness* h = gst_harness_new_with_element(dec, "sink", "src");
            gst_object_unref(dec);
            gst_harness_set_src_caps_str(h, caps.c_str());
            guint64 fed = 0;
            while (gst_harness_buffers_received(h) == 0 && fed < 16) {
                GstBuffer* buffer = drop && fed == 1 ? gst_buffer_new()
                                                     : gst_buffer_new_memdup(payloads[0].data(),
                                                                             payloads[0].size());
                GST_BUFFER_PTS(buffer) = fed * GST_SECOND / 25;
                GST_BUFFER_DURATION(buffer) = GST_SECOND / 25;
                ASSERT_EQ(gst_harness_push(h, buffer), GST_FLOW_OK);
                ++fed;
            }
            ASSERT_EQ(gst_harness_buffers_received(h), 1u);
            EXPECT_EQ(gst_harness_query_latency(h), (fed - 1) * GST_SECOND / 25);
            gst_harness_teardown(h);
        }
}

// ---- Damaged input ----------------------------------------------------------

struct DamageCase {
    const char* file;
    const char* options;
    const char* error;          // text of the error message, or "" for none
    const char* warning;        // text of the warning message, or ""
    std::vector<size_t> frames; // of rgb.raw that come out
};

TEST(Damage, EndsWithAMessageAndKeepsTheGoodFrames)
{
    NeedClips();
    const auto expected = Expected("rgb", FrameBytes("BGR", 321, 241));
    const DamageCase cases[] = {
        // By default a damaged frame is dropped with a warning.
        {"damaged.avi", "", "", "Frame 2 (0:00:00.080000000) is damaged", {0, 1, 3, 4}},
        {"damaged.avi", "max-errors=0", "Frame 2 (0:00:00.080000000) is damaged", "", {0, 1}},
        {"truncated.avi", "", "ends after 2 of the 5 frames", "", {0, 1}},
    };
    for (const DamageCase& c : cases)
        for (int threads : {1, 3}) {
            SCOPED_TRACE(std::string(c.file) + " " + c.options + ", " + std::to_string(threads) +
                         " threads");
            const Result r = Launch(AviPipeline(c.file, threads, c.options));
            EXPECT_EQ(r.errors.empty(), *c.error == '\0') << r.errors;
            EXPECT_NE(r.errors.find(c.error), std::string::npos) << r.errors;
            EXPECT_EQ(r.warnings.empty(), *c.warning == '\0') << r.warnings;
            EXPECT_NE(r.warnings.find(c.warning), std::string::npos) << r.warnings;
            ASSERT_EQ(r.frames.size(), c.frames.size());
            for (size_t i = 0; i < c.frames.size(); ++i)
                EXPECT_TRUE(r.frames[i] == expected[c.frames[i]]) << "frame " << c.frames[i];
        }
}

uint32_t Le32(const Frame& b, size_t at)
{
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

void PutLe32(Frame& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// win_tarvr.avi (a Windows program's file: frame chunks in movi, then idx1)
// with the frame chunks in `empty` emptied, as capture programs write drop
// frames, sizes and index and all; then cut `into` bytes into chunk `cutAt`,
// when that is one of its 5. Written as NAME in the clips' folder.
void DropFramesClip(const std::string& name, const std::vector<size_t>& empty, size_t cutAt,
                    size_t into)
{
    std::ifstream in(kClips + "/win_tarvr.avi", std::ios::binary);
    const Frame avi{std::istreambuf_iterator<char>(in), {}};
    const auto span = [&](size_t from, size_t to) {
        return Frame(avi.begin() + static_cast<ptrdiff_t>(from),
                     avi.begin() + static_cast<ptrdiff_t>(to));
    };
    const auto append = [](Frame& to, const Frame& bytes) {
        to.insert(to.end(), bytes.begin(), bytes.end());
    };
    Frame out = span(0, 12);
    std::vector<size_t> offsets, sizes, starts;
    const size_t end = 8 + Le32(avi, 4);
    for (size_t at = 12; at + 8 <= end;) {
        const uint32_t id = Le32(avi, at), size = Le32(avi, at + 4);
        const size_t next = at + 8 + size + size % 2;
        if (id == GST_MAKE_FOURCC('L', 'I', 'S', 'T') &&
            Le32(avi, at + 8) == GST_MAKE_FOURCC('m', 'o', 'v', 'i')) {
            const size_t list = out.size();
            append(out, span(at, at + 12));
            for (size_t c = at + 12; c < next;) {
                const uint32_t bytes = Le32(avi, c + 4);
                const bool drop = std::count(empty.begin(), empty.end(), offsets.size()) != 0;
                starts.push_back(out.size());
                offsets.push_back(out.size() - list - 8); // from the list's type
                sizes.push_back(drop ? 0 : bytes);
                append(out, span(c, c + 8));
                if (drop)
                    PutLe32(out, out.size() - 4, 0);
                else
                    append(out, span(c + 8, c + 8 + bytes + bytes % 2));
                c += 8 + bytes + bytes % 2;
            }
            PutLe32(out, list + 4, static_cast<uint32_t>(out.size() - list - 8));
        } else {
            const size_t index = out.size();
            append(out, span(at, next));
            for (size_t e = 0; id == GST_MAKE_FOURCC('i', 'd', 'x', '1') && e < offsets.size();
                 ++e) {
                PutLe32(out, index + 8 + 16 * e + 8, static_cast<uint32_t>(offsets[e]));
                PutLe32(out, index + 8 + 16 * e + 12, static_cast<uint32_t>(sizes[e]));
            }
        }
        at = next;
    }
    ASSERT_EQ(starts.size(), 5u);
    PutLe32(out, 4, static_cast<uint32_t>(out.size() - 8));
    if (cutAt < starts.size())
        out.resize(starts[cutAt] + into);
    std::ofstream(kClips + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
}

// Empty chunks are drop frames, which avidemux skips: the picture before
// stays up, and when they end the file it still ends whole.
TEST(Damage, DropFramesAreNone)
{
    NeedClips();
    const auto expected = Expected("win_tarvr", FrameBytes("BGR", 97, 65));
    ASSERT_EQ(expected.size(), 5u);
    constexpr size_t kWhole = 5;
    const struct {
        std::vector<size_t> empty;
        size_t cutAt, into;
        const char* error;
        std::vector<size_t> frames; // of win_tarvr.raw that come out
    } cases[] = {
        {{3, 4}, kWhole, 0, "", {0, 1, 2}},
        {{1, 3, 4}, kWhole, 0, "", {0, 2}},
        {{3, 4}, 2, 100, "ends after 2 of the 5 frames", {0, 1}},
        {{3, 4}, 4, 0, "ends after 3 of the 5 frames", {0, 1, 2}}, // a drop frame lost
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "drop" + std::to_string(n++) + ".avi";
        DropFramesClip(name, c.empty, c.cutAt, c.into);
        for (int threads : {1, 3}) {
            SCOPED_TRACE(name + ", " + std::to_string(threads) + " threads");
            const Result r = Launch(AviPipeline(name, threads));
            EXPECT_EQ(r.errors.empty(), *c.error == '\0') << r.errors;
            EXPECT_NE(r.errors.find(c.error), std::string::npos) << r.errors;
            EXPECT_EQ(r.warnings, "");
            ASSERT_EQ(r.frames.size(), c.frames.size());
            for (size_t i = 0; i < c.frames.size(); ++i)
                EXPECT_TRUE(r.frames[i] == expected[c.frames[i]]) << "frame " << c.frames[i];
        }
    }
}

// Streams from elsewhere than an AVI file: the size comes from the caps or
// nowhere; payloads are whatever the source pushes.
TEST(Damage, PayloadsFromAnySource)
{
    NeedClips();
    const std::vector<Frame> payloads = Payloads("rgb.avi", 2);
    ASSERT_EQ(payloads.size(), 2u);
    const auto expected = Expected("rgb", FrameBytes("BGR", 321, 241));
    const std::string trvr = "video/x-avi-unknown,fourcc=(int)" +
                             std::to_string(GST_MAKE_FOURCC('T', 'R', 'V', 'R')) +
                             ",framerate=25/1";
    const std::vector<uint8_t> good0 = payloads[0], good1 = payloads[1], empty, one = {7},
                               half(good1.begin(),
                                    good1.begin() + static_cast<ptrdiff_t>(good1.size() / 2));
    struct Case {
        std::string caps;
        std::vector<std::vector<uint8_t>> pushed;
        const char* error;
        std::vector<size_t> frames; // of rgb.raw that come out
        size_t damaged;             // warnings
    } cases[] = {
        // An empty payload keeps the picture before, as avidemux does with an
        // empty chunk; garbage is dropped.
        {trvr + ",width=321,height=241", {good0, empty, one, half, good1}, "", {0, 1}, 2},
        {trvr, {good0}, "frame size is not known", {}, 0},
        {trvr + ",width=100000,height=100000",
         {good0},
         "cannot decode frames of 100000x100000",
         {},
         0},
        {trvr + ",width=320,height=241", {good0}, "", {}, 1}, // the wrong size
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caps);
        const std::string description = "appsrc name=in caps=\"" + c.caps +
                                        "\" format=time ! tarvdec threads=2 ! "
                                        "appsink name=out sync=false";
        GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
        ASSERT_NE(pipeline, nullptr);
        GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "in");
        GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
        GstClockTime time = 0;
        for (const auto& p : c.pushed) {
            GstBuffer* buffer =
                p.empty() ? gst_buffer_new() : gst_buffer_new_memdup(p.data(), p.size());
            GST_BUFFER_PTS(buffer) = time;
            GST_BUFFER_DURATION(buffer) = GST_SECOND / 25;
            time += GST_SECOND / 25;
            gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
        }
        gst_app_src_end_of_stream(GST_APP_SRC(src));
        const Result r = RunPipeline(pipeline, sink);
        EXPECT_NE(r.errors.find(c.error), std::string::npos) << r.errors;
        EXPECT_EQ(r.errors.empty(), *c.error == '\0') << r.errors;
        size_t warnings = 0;
        for (size_t at = 0; (at = r.warnings.find("is damaged", at)) != std::string::npos; ++at)
            ++warnings;
        EXPECT_EQ(warnings, c.damaged) << r.warnings;
        ASSERT_EQ(r.frames.size(), c.frames.size());
        for (size_t i = 0; i < c.frames.size(); ++i)
            EXPECT_TRUE(r.frames[i] == expected[c.frames[i]]) << "frame " << c.frames[i];
        gst_object_unref(src);
        gst_object_unref(sink);
        gst_object_unref(pipeline);
    }
}

// ---- The AVI header ---------------------------------------------------------

// Cut anywhere, a header gives the stream's size or nothing, and nothing is
// read past the bytes given (AddressSanitizer watches the copies).
TEST(AviHeader, EveryCutGivesTheSizeOrNothing)
{
    NeedClips();
    std::ifstream in(kClips + "/win_tarvr.avi", std::ios::binary);
    std::vector<uint8_t> start(8192);
    in.read(reinterpret_cast<char*>(start.data()), static_cast<std::streamsize>(start.size()));
    const uint32_t trvr = GST_MAKE_FOURCC('T', 'R', 'V', 'R');
    const auto whole = tarv_gst::AviVideoStream(start.data(), start.size(), trvr, std::nullopt);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->width, 97);
    EXPECT_EQ(whole->height, 65);
    EXPECT_EQ(whole->frames, 5u);
    EXPECT_EQ(whole->rate / whole->scale, 25u);
    EXPECT_FALSE(tarv_gst::AviVideoStream(start.data(), start.size(),
                                          GST_MAKE_FOURCC('T', 'R', 'V', 'Y'), std::nullopt));
    size_t found = 0;
    for (size_t size = 0; size < start.size(); ++size) {
        const std::vector<uint8_t> cut(start.begin(), start.begin() + static_cast<ptrdiff_t>(size));
        const auto video = tarv_gst::AviVideoStream(cut.data(), cut.size(), trvr, 0);
        if (video) {
            EXPECT_EQ(video->width, 97) << size;
            EXPECT_EQ(video->height, 65) << size;
            ++found;
        }
    }
    EXPECT_GT(found, 0u);
}

} // namespace
