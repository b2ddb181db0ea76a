// The tool's own machinery: which conversions are exact, the packed frame
// layouts it hands the codec, frames kept in order across threads, frame
// timing at one rate, a capture's bounded queue, sample comparison, and
// outputs that appear only when complete.
#include "tools/input/capture.h"
#include "tools/output/output_file.h"
#include "tools/shared/audio.h"
#include "tools/shared/packing.h"
#include "tools/shared/timing.h"
#include "variants/picture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include <unistd.h>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace fs = std::filesystem;
using tarv::Variant;

namespace {

TEST(ConversionLoss, NamesEveryLossAndOnlyLosses)
{
    const struct {
        AVPixelFormat from;
        Variant to;
        int width;
        const char* expected; // a part of the message, or null when exact
    } cases[] = {
        {AV_PIX_FMT_YUYV422, Variant::Yuy2, 64, nullptr},
        {AV_PIX_FMT_YUV422P, Variant::Yuy2, 64, nullptr},
        {AV_PIX_FMT_YUVJ422P, Variant::Yuy2, 64, nullptr},
        {AV_PIX_FMT_UYVY422, Variant::Yuy2, 64, nullptr},
        {AV_PIX_FMT_BGR24, Variant::Rgb24, 63, nullptr},
        {AV_PIX_FMT_RGB24, Variant::Rgb24, 63, nullptr},
        {AV_PIX_FMT_GBRP, Variant::Rgb24, 63, nullptr},
        {AV_PIX_FMT_YUV420P, Variant::Yuy2, 64, "4:2:0 chroma"},
        {AV_PIX_FMT_YUV444P, Variant::Yuy2, 64, "4:4:4 chroma"},
        {AV_PIX_FMT_YUV422P10LE, Variant::Yuy2, 64, "10-bit"},
        {AV_PIX_FMT_YUV422P, Variant::Yuy2, 63, "odd width"},
        {AV_PIX_FMT_RGB24, Variant::Yuy2, 64, "RGB is converted to YUV"},
        {AV_PIX_FMT_YUV444P, Variant::Rgb24, 64, "YUV is converted to RGB"},
        {AV_PIX_FMT_GRAY8, Variant::Rgb24, 64, "grey"},
        {AV_PIX_FMT_RGBA, Variant::Rgb24, 64, "alpha"},
        {AV_PIX_FMT_GBRP16LE, Variant::Rgb24, 64, "16-bit"},
    };
    for (const auto& c : cases) {
        const std::string loss = tarv::ConversionLoss(c.from, c.to, c.width);
        SCOPED_TRACE(std::string(av_get_pix_fmt_name(c.from)) + " to " + tarv::Info(c.to).name);
        if (c.expected == nullptr)
            EXPECT_EQ(loss, "");
        else
            EXPECT_NE(loss.find(c.expected), std::string::npos) << loss;
    }
}

tarv::FramePtr RandomFrame(AVPixelFormat format, int width, int height, uint32_t seed)
{
    tarv::FramePtr f = tarv::NewFrame();
    f->format = format;
    f->width = width;
    f->height = height;
    EXPECT_EQ(av_frame_get_buffer(f.get(), 0), 0);
    std::mt19937 rng(seed);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    for (int p = 0; p < 4 && f->data[p] != nullptr; ++p) {
        const int rows = (p == 1 || p == 2) ? AV_CEIL_RSHIFT(height, d->log2_chroma_h) : height;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < f->linesize[p]; ++x)
                f->data[p][y * f->linesize[p] + x] = static_cast<uint8_t>(rng());
    }
    return f;
}

// The same picture seen bottom-up, as decoders of bottom-up files hand it
// over: the last row first, with a negative linesize.
tarv::FramePtr BottomUp(AVFrame* frame)
{
    tarv::FramePtr view = tarv::NewFrame();
    EXPECT_EQ(av_frame_ref(view.get(), frame), 0);
    view->data[0] += (frame->height - 1) * frame->linesize[0];
    view->linesize[0] = -frame->linesize[0];
    return view;
}

// A frame already in the codec's format goes to the packed layout and back
// unchanged, RGB turned bottom-up on the way, padding cleared; input pictures
// stored bottom-up (negative linesize) too.
TEST(PackedFrames, NativeFramesRoundTripExactly)
{
    for (const Variant v : {Variant::Yuy2, Variant::Rgb24}) {
        for (const auto& [w, h] : {std::pair{1, 1}, {2, 3}, {6, 4}, {33, 17}}) {
            for (const bool bottomUp : {false, true}) {
                if (v == Variant::Yuy2 && w % 2 != 0 && w > 1)
                    continue; // odd YUY2 widths lose a V sample: checked below
                SCOPED_TRACE(std::string(tarv::Info(v).name) + " " + std::to_string(w) + "x" +
                             std::to_string(h) + (bottomUp ? " bottom-up" : ""));
                tarv::FramePtr in = RandomFrame(tarv::PackedPixelFormat(v), w, h, 3);
                if (bottomUp)
                    in = BottomUp(in.get());
                tarv::ToPacked to(v, w, h);
                std::vector<uint8_t> packed(tarv::FrameBytes(v, w, h), 0xAA);
                ASSERT_TRUE(to.Convert(in.get(), packed.data()));
                const size_t row = tarv::RowBytes(v, w), picture = tarv::PictureRowBytes(v, w);
                for (int y = 0; y < h; ++y) {
                    const int source = v == Variant::Rgb24 ? h - 1 - y : y;
                    const uint8_t* expected = in->data[0] + source * in->linesize[0];
                    const uint8_t* got = packed.data() + static_cast<size_t>(y) * row;
                    if (v == Variant::Yuy2 && w == 1) // the lone pixel's V is not kept
                        ASSERT_EQ(0, std::memcmp(expected, got, 2)) << "row " << y;
                    else
                        ASSERT_EQ(0, std::memcmp(expected, got, picture)) << "row " << y;
                    for (size_t i = picture; i < row; ++i)
                        ASSERT_EQ(got[i], 0) << "row " << y << " padding";
                }
                tarv::FramePtr out = RandomFrame(tarv::PackedPixelFormat(v), w, h, 4);
                tarv::PackedToPicture(v, w, h, packed.data(), out->data[0],
                                      static_cast<size_t>(out->linesize[0]), tarv::RgbOrder::Bgr);
                for (int y = 0; y < h; ++y)
                    ASSERT_EQ(0, std::memcmp(in->data[0] + y * in->linesize[0],
                                             out->data[0] + y * out->linesize[0], picture))
                        << "row " << y;
            }
        }
    }
}

// At an odd width too: the lone last pixel keeps its Y and U (swscale's own
// packing left it blank).
TEST(PackedFrames, PlanarYuv422IsOnlyRepacked)
{
    for (const int w : {8, 33, 1}) {
        SCOPED_TRACE("width " + std::to_string(w));
        const tarv::FramePtr in = RandomFrame(AV_PIX_FMT_YUV422P, w, 3, 11);
        tarv::ToPacked to(Variant::Yuy2, w, 3);
        std::vector<uint8_t> packed(tarv::FrameBytes(Variant::Yuy2, w, 3), 0xAA);
        ASSERT_TRUE(to.Convert(in.get(), packed.data()));
        const size_t row = tarv::RowBytes(Variant::Yuy2, w);
        for (int y = 0; y < 3; ++y) {
            const uint8_t* line = packed.data() + static_cast<size_t>(y) * row;
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = line + 2 * x;
                ASSERT_EQ(p[0], in->data[0][y * in->linesize[0] + x]) << "x=" << x;
                ASSERT_EQ(p[1], in->data[x % 2 == 0 ? 1 : 2][y * in->linesize[1] + x / 2])
                    << "x=" << x;
            }
            for (size_t i = tarv::PictureRowBytes(Variant::Yuy2, w); i < row; ++i)
                ASSERT_EQ(line[i], 0) << "row " << y << " padding";
        }
    }
}

TEST(PackedFrames, RefusesAFrameOfAnotherSize)
{
    const tarv::FramePtr in = RandomFrame(AV_PIX_FMT_BGR24, 8, 8, 1);
    tarv::ToPacked to(Variant::Rgb24, 8, 9);
    std::vector<uint8_t> packed(tarv::FrameBytes(Variant::Rgb24, 8, 9));
    EXPECT_FALSE(to.Convert(in.get(), packed.data()));
}

TEST(FrameSync, HoldsTheRateAgainstTheTimestamps)
{
    // Timestamps in milliseconds at 25 frames a second (40 ms a frame).
    struct Case {
        const char* name;
        int64_t origin;
        std::vector<int64_t> pts;
        int64_t end; // AV_NOPTS_VALUE: one period after the last
        std::vector<int64_t> copies;
        int64_t repeated, skipped;
    };
    const int64_t none = AV_NOPTS_VALUE;
    const Case cases[] = {
        {"constant rate", 0, {0, 40, 80, 120}, none, {1, 1, 1, 1}, 0, 0},
        {"jitter within a period", 0, {0, 39, 81, 121}, none, {1, 1, 1, 1}, 0, 0},
        {"a gap repeats", 0, {0, 40, 200, 240}, none, {1, 4, 1, 1}, 3, 0},
        {"two in one period skip one", 0, {0, 40, 50, 80}, none, {1, 0, 1, 1}, 0, 1},
        {"sound from 90 ms: two periods lead", 0, {90, 130}, none, {3, 1}, 2, 0},
        {"a start under half a period late stays", 0, {15, 55}, none, {1, 1}, 0, 0},
        {"the end stretches the last frame", 0, {0, 40}, 160, {1, 3}, 2, 0},
        {"no timestamps: one period each", none, {none, none, none}, none, {1, 1, 1}, 0, 0},
        // Past a minute a jump is not filled: the frames go straight on.
        {"a 59 s gap repeats", 0, {0, 40, 59040, 59080}, none, {1, 1475, 1, 1}, 1474, 0},
        {"a two-hour jump ahead", 0, {0, 40, 7200040, 7200080}, none, {1, 1, 1, 1}, 0, 0},
        {"a two-hour jump back", none, {7200000, 7200040, 40, 80}, none, {1, 1, 1, 1}, 0, 0},
        {"a first frame two hours late", 0, {7200000, 7200040}, none, {1, 1}, 0, 0},
        {"a last frame two hours long", 0, {0, 40}, 7200040, {1, 1}, 0, 0},
    };
    for (const Case& c : cases) {
        tarv::FrameSync sync(AVRational{25, 1}, AVRational{1, 1000}, c.origin);
        std::vector<int64_t> copies;
        for (size_t i = 0; i < c.pts.size(); ++i) {
            const int64_t n = sync.Next(c.pts[i]);
            if (i > 0)
                copies.push_back(n);
        }
        copies.push_back(sync.Finish(c.end));
        EXPECT_EQ(copies, c.copies) << c.name;
        EXPECT_EQ(sync.Repeated(), c.repeated) << c.name;
        EXPECT_EQ(sync.Skipped(), c.skipped) << c.name;
    }
}

TEST(FrameSync, StopsAtItsLimit)
{
    tarv::FrameSync sync(AVRational{25, 1}, AVRational{1, 1000}, 0);
    sync.Limit(3);
    EXPECT_EQ(sync.Next(0), 0);
    EXPECT_EQ(sync.Next(80), 2); // the first frame fills two periods
    EXPECT_FALSE(sync.Full());
    EXPECT_EQ(sync.Next(120), 1);
    EXPECT_TRUE(sync.Full());
    EXPECT_EQ(sync.Finish(AV_NOPTS_VALUE), 0);
    EXPECT_EQ(sync.Written(), 3);
    EXPECT_EQ(sync.Skipped(), 0); // frames past the limit are not "skipped"
}

// A source far faster than its consumer, which takes nothing until the source
// has ended: the queue never holds more than its bound, and every frame is
// either delivered or counted as dropped.
TEST(QueuedSource, AFullQueueDropsAndCountsAndStaysBounded)
{
    tarv::RecordingReader reader(
        tarv::InputSpec{"testsrc=size=64x48:rate=1000:duration=1", "lavfi", {}});
    ASSERT_TRUE(reader.Live());
    const size_t frameBytes = 64 * 48 * 3;
    const size_t bound = 10 * frameBytes + frameBytes / 2;
    tarv::QueuedSource source({&reader}, bound);
    source.WaitForEnd();
    tarv::FrameOrPacket item;
    int64_t delivered = 0, lastPts = -1;
    while (source.Next(item)) {
        ASSERT_EQ(item.kind, tarv::FrameOrPacket::Kind::Frame);
        EXPECT_GT(item.frame->pts, lastPts);
        lastPts = item.frame->pts;
        ++delivered;
    }
    const auto counts = source.GetCounts();
    EXPECT_EQ(counts.frames, 1000);
    EXPECT_GE(delivered, 1);
    EXPECT_LE(counts.peakBytes, bound);
    EXPECT_EQ(counts.droppedFrames, counts.frames - delivered);
    EXPECT_GT(counts.droppedFrames, 900);
}

// Samples at 1 kHz, as times in milliseconds.
TEST(SoundPlacer, FillsGapsUpToAMinuteAndGoesOnPastLongerJumps)
{
    struct Packet {
        int64_t pts, samples;
        int64_t silence, keep, position, jump; // what is placed
    };
    struct Case {
        const char* name;
        int64_t end, cut; // AV_NOPTS_VALUE: none
        std::vector<Packet> packets;
    };
    const int64_t none = AV_NOPTS_VALUE;
    const Case cases[] = {
        {"late start and a gap filled, jitter not",
         none,
         none,
         {{500, 100, 500, 100, 500, 0},
          {610, 100, 0, 100, 600, 0},
          {1700, 100, 1000, 100, 1700, 0}}},
        {"a 60 s gap is filled",
         none,
         none,
         {{0, 100, 0, 100, 0, 0}, {60100, 100, 60000, 100, 60100, 0}}},
        {"a three-hour jump ahead is not",
         none,
         none,
         {{0, 100, 0, 100, 0, 0},
          {10800100, 100, 0, 100, 100, 10800000},
          {10800300, 100, 100, 100, 300, 0}}},
        {"a start two hours late and a jump back are not",
         none,
         none,
         {{7200000, 100, 0, 100, 0, 7200000},
          {100, 100, 0, 100, 100, -7200000},
          {300, 100, 100, 100, 300, 0}}},
        {"the end cuts, and a video's earlier end more",
         400,
         250,
         {{0, 100, 0, 100, 0, 0}, {200, 100, 100, 50, 200, 0}, {300, 100, 0, 0, 250, 0}}},
    };
    for (const Case& c : cases) {
        tarv::SoundPlacer placer(1000, AVRational{1, 1000}, 0, c.end, AVRational{1, 1000});
        if (c.cut != none)
            placer.CutAt(c.cut, AVRational{1, 1000});
        for (const Packet& p : c.packets) {
            const auto got = placer.Place(p.pts, p.samples);
            EXPECT_EQ((std::vector<int64_t>{got.silence, got.keep, got.position, got.jump}),
                      (std::vector<int64_t>{p.silence, p.keep, p.position, p.jump}))
                << c.name << ", the packet at " << p.pts;
        }
    }
}

// A long gap in PCM is written as silence in packets of at most 4 MiB, never
// gathered whole: 50 s of 48 kHz stereo is 9.6 MB. NUT keeps packets as
// they are written.
TEST(AudioTracks, WritesALongSilenceInPieces)
{
    const tarv::FormatPtr input =
        tarv::OpenInput(tarv::InputSpec{"aevalsrc=0|0:s=48000,aformat=s16", "lavfi", {}});
    const AVStream* stream = input->streams[0];
    ASSERT_EQ(stream->codecpar->codec_id, AV_CODEC_ID_PCM_S16LE);
    tarv::StreamPlan plan;
    plan.audio.push_back({0, tarv::AudioCoding::Copy});
    tarv::AudioTracks tracks("in", input.get(), plan);
    tracks.SetTiming(0, AV_NOPTS_VALUE, stream->time_base);
    const std::string path =
        (fs::temp_directory_path() / ("tarv_silence_" + std::to_string(getpid()) + ".nut"))
            .string();
    tarv::FormatPtr output = tarv::NewOutput(path, path, av_guess_format("nut", nullptr, nullptr));
    tracks.AddTo(output.get());
    tarv::StartOutput(output.get(), path, path);
    const int64_t samples = 480, gap = 50 * 48000;
    for (const int64_t at : {int64_t{0}, samples + gap}) {
        tarv::PacketPtr p = tarv::NewPacket();
        ASSERT_EQ(av_new_packet(p.get(), static_cast<int>(samples * 4)), 0);
        std::memset(p->data, 1, static_cast<size_t>(p->size));
        p->pts = p->dts = av_rescale_q(at, AVRational{1, 48000}, stream->time_base);
        tracks.Write(output.get(), path, p.get());
    }
    tracks.Finish(output.get(), path);
    tarv::FinishOutput(output.get(), path);

    const tarv::FormatPtr back = tarv::OpenInput(tarv::InputSpec{path, {}, {}});
    tarv::PacketPtr p = tarv::NewPacket();
    int64_t bytes = 0;
    int largest = 0;
    while (av_read_frame(back.get(), p.get()) >= 0) {
        bytes += p->size;
        largest = std::max(largest, p->size);
        av_packet_unref(p.get());
    }
    fs::remove(path);
    EXPECT_EQ(bytes, (2 * samples + gap) * 4);
    EXPECT_LE(largest, 4 << 20);
}

// An endless source of sound far faster than real time beside 1 s of video:
// once the video has begun, no sound comes more than kSoundLead ahead of the
// video delivered before it, until the video has ended.
TEST(QueuedSource, KeepsSoundInStepWithTheVideo)
{
    tarv::RecordingReader video(
        tarv::InputSpec{"testsrc=size=64x48:rate=25:duration=1,realtime", "lavfi", {}});
    tarv::RecordingReader sound(tarv::InputSpec{"sine", "lavfi", {}}, false);
    sound.Carry({0});
    tarv::QueuedSource source({&video, &sound}, size_t{64} << 20, {0, 0});
    const AVRational us{1, AV_TIME_BASE};
    tarv::FrameOrPacket item;
    int64_t videoAt = AV_NOPTS_VALUE;
    std::vector<std::pair<int64_t, int64_t>> sounds; // each packet's time, and the video's
    while (source.Next(item)) {
        if (item.kind == tarv::FrameOrPacket::Kind::Frame)
            videoAt = av_rescale_q(item.frame->pts, video.Stream()->time_base, us);
        else if (videoAt != AV_NOPTS_VALUE)
            sounds.emplace_back(
                av_rescale_q(item.packet->pts, sound.Format()->streams[0]->time_base, us), videoAt);
    }
    EXPECT_EQ(videoAt, 960'000);
    ASSERT_FALSE(sounds.empty());
    for (const auto& [at, seen] : sounds) {
        if (seen != videoAt) {
            ASSERT_LE(at, seen + tarv::QueuedSource::kSoundLead) << "with the video at " << seen;
        }
    }
}

// A sound device (real time) whose clock jumps hours ahead is not held back until the
// video gets there: it goes on in step from where it was.
TEST(QueuedSource, AJumpOfTheSoundClockDoesNotHoldItBack)
{
    tarv::RecordingReader video(
        tarv::InputSpec{"testsrc=size=64x48:rate=25:duration=1,realtime", "lavfi", {}});
    tarv::RecordingReader sound(
        tarv::InputSpec{"sine,arealtime,asetpts=PTS+gte(T\\,0.5)*10800/TB", "lavfi", {}}, false);
    sound.Carry({0});
    tarv::QueuedSource source({&video, &sound}, size_t{64} << 20, {0, 0});
    const AVRational us{1, AV_TIME_BASE};
    tarv::FrameOrPacket item;
    int64_t videoAt = AV_NOPTS_VALUE, jumpedBeforeTheVideoEnds = 0;
    while (source.Next(item)) {
        if (item.kind == tarv::FrameOrPacket::Kind::Frame)
            videoAt = av_rescale_q(item.frame->pts, video.Stream()->time_base, us);
        else if (videoAt != AV_NOPTS_VALUE && videoAt < 960'000 &&
                 av_rescale_q(item.packet->pts, sound.Format()->streams[0]->time_base, us) >
                     3'600'000'000)
            ++jumpedBeforeTheVideoEnds;
    }
    EXPECT_EQ(videoAt, 960'000);
    EXPECT_GT(jumpedBeforeTheVideoEnds, 0);
}

TEST(SampleComparer, NamesTheFirstDifferenceOrTheShorterStream)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> a, b; // each added in pieces of 3 and 5 bytes
        int channels, bytes, rate;
        std::string difference;
    };
    const std::vector<uint8_t> ramp = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    std::vector<uint8_t> changed = ramp;
    changed[9] = 99;
    const Case cases[] = {
        {"equal", ramp, ramp, 2, 2, 4, ""},
        {"stereo 16-bit", ramp, changed, 2, 2, 4, "sample 2 (0.500 s), channel 1, differs"},
        {"bytes", ramp, changed, 1, 1, 0, "byte 9 of the copied packets differs"},
        {"shorter",
         ramp,
         {0, 1, 2, 3},
         2,
         2,
         4,
         "the encoded stream ends after 1 samples, the other goes on for 2 more"},
    };
    for (const Case& c : cases) {
        tarv::SampleComparer comparer(c.channels, c.bytes, c.rate);
        for (size_t i = 0; i < std::max(c.a.size(), c.b.size()); i += 3) {
            if (i < c.a.size())
                comparer.Add(0, c.a.data() + i, std::min<size_t>(3, c.a.size() - i));
            for (size_t j = i / 3 * 5; j < std::min(c.b.size(), i / 3 * 5 + 5); j += 5)
                comparer.Add(1, c.b.data() + j, std::min<size_t>(5, c.b.size() - j));
        }
        comparer.Finish();
        EXPECT_EQ(comparer.Difference(), c.difference) << c.name;
    }
}

// One side far ahead, the other fed a sample at a time, as a device's sound
// is against a file's: each byte is compared once (the old way, moving the
// whole of the longer side each time, took hours here), and a difference in
// the last sample is still found.
TEST(SampleComparer, KeepsUpWhenOneSideRunsFarAhead)
{
    std::vector<uint8_t> run(size_t{4} << 20);
    for (size_t i = 0; i < run.size(); ++i)
        run[i] = static_cast<uint8_t>(i * 7);
    tarv::SampleComparer comparer(2, 2, 48000);
    comparer.Add(1, run.data(), run.size());
    run.back() ^= 1;
    for (size_t i = 0; i < run.size(); i += 4)
        comparer.Add(0, run.data() + i, 4);
    comparer.Finish();
    EXPECT_EQ(comparer.Difference(), "sample 1048575 (21.845 s), channel 2, differs");
}

class OutputFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("tarv_output_test_" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::set<std::string> Names() const
    {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.insert(e.path().filename().string());
        return names;
    }
    static void Put(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }
    static std::string Get(const fs::path& p)
    {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    fs::path dir;
};

TEST_F(OutputFileTest, AppearsOnlyOnCommitAndReplacesTheOldFile)
{
    const fs::path name = dir / "out.avi";
    Put(name, "old");
    {
        tarv::OutputFile out(name.string(), {}, true);
        EXPECT_EQ(fs::path(out.WritePath()).parent_path(), dir); // same disk: rename is atomic
        EXPECT_EQ(fs::path(out.WritePath()).filename().string()[0], '.');
        Put(out.WritePath(), "new");
        EXPECT_EQ(Get(name), "old");
        out.Commit();
    }
    EXPECT_EQ(Get(name), "new");
    EXPECT_EQ(Names(), (std::set<std::string>{"out.avi"}));
}

TEST_F(OutputFileTest, AnAbandonedOutputLeavesNothingAndKeepsTheOldFile)
{
    const fs::path name = dir / "out.avi";
    Put(name, "old");
    {
        tarv::OutputFile out(name.string(), {}, true);
        Put(out.WritePath(), "half");
    }
    EXPECT_EQ(Get(name), "old");
    EXPECT_EQ(Names(), (std::set<std::string>{"out.avi"}));
}

TEST_F(OutputFileTest, ImageSequencesMoveAllTogether)
{
    const std::string pattern = (dir / "f%03d.png").string();
    {
        tarv::OutputFile out(pattern, {}, true);
        const fs::path folder = fs::path(out.WritePath()).parent_path();
        EXPECT_EQ(folder.parent_path(), dir);
        Put(folder / "f001.png", "1");
        Put(folder / "f002.png", "2");
        EXPECT_EQ(Names().size(), 1u); // only the hidden folder so far
        out.Commit();
    }
    EXPECT_EQ(Names(), (std::set<std::string>{"f001.png", "f002.png"}));
    {
        tarv::OutputFile out(pattern, {}, true);
        Put(fs::path(out.WritePath()).parent_path() / "f001.png", "x");
    }
    EXPECT_EQ(Get(dir / "f001.png"), "1");
    EXPECT_EQ(Names(), (std::set<std::string>{"f001.png", "f002.png"}));
}

// A second Ctrl-C ends the program at once: the temporary file, or folder of
// images, of an unfinished output goes with it.
TEST_F(OutputFileTest, ASecondInterruptLeavesNothing)
{
    for (const char* name : {"out.nut", "f%03d.png"}) {
        SCOPED_TRACE(name);
        const std::string path = (dir / name).string();
        EXPECT_EXIT(
            {
                tarv::CatchInterrupts();
                tarv::OutputFile out(path, {}, false);
                if (fs::path(path).filename() == "f%03d.png") {
                    const fs::path folder = fs::path(out.WritePath()).parent_path();
                    Put(folder / "f001.png", "1");
                    Put(folder / "f002.png", "2");
                } else {
                    Put(out.WritePath(), "half");
                }
                std::raise(SIGINT);
                std::raise(SIGINT);
            },
            testing::ExitedWithCode(128 + SIGINT), "");
        EXPECT_EQ(Names(), std::set<std::string>{});
    }
}

TEST_F(OutputFileTest, AMissingFolderIsAnErrorNamingTheFile)
{
    const std::string name = (dir / "nowhere" / "out.avi").string();
    try {
        tarv::OutputFile out(name, {}, true);
        FAIL() << "no error";
    } catch (const tarv::ToolError& e) {
        EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
}

// An existing output is replaced only when asked; an input never is, by any name.
TEST_F(OutputFileTest, ExistingOutputsNeedOverwriteAndInputsAreNeverOutputs)
{
    const fs::path input = dir / "in.avi", other = dir / "other.nut";
    Put(input, "input");
    Put(other, "other");
    Put(dir / "f001.png", "1");
    fs::create_symlink(input, dir / "link.avi");
    fs::create_hard_link(input, dir / "hard.avi");
    const struct {
        fs::path name;
        bool overwrite;
        const char* error; // null: accepted
    } cases[] = {
        {other, false, "use -y (--overwrite)"},
        {other, true, nullptr},
        {dir / "f%03d.png", false, "use -y (--overwrite)"},
        {input, true, "is the input"},
        {dir / "link.avi", true, "is the input"},
        {dir / "hard.avi", true, "is the input"},
        {dir / "new.nut", false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.string());
        try {
            tarv::OutputFile out(c.name.string(), {input.string()}, c.overwrite);
            EXPECT_EQ(c.error, nullptr) << "accepted";
        } catch (const tarv::ToolError& e) {
            ASSERT_NE(c.error, nullptr) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(Get(input), "input");
    EXPECT_EQ(Get(other), "other");
}

} // namespace
