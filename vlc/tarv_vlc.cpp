// A VLC 3.0 video decoder for Tarv streams: TRVY and TRVR frames, as VLC's AVI
// demuxer hands them over, into YUY2 and 24-bit RGB pictures.
//
// One thread cannot decode 1080p at 30 frames a second in time, so frames
// decode on worker threads, one per processor (variants/parallel_decoder.h),
// straight into pictures taken from VLC on its decoder thread, and go to VLC
// in their order with decoder_QueueVideo, which VLC 3 lets a decoder call for
// a block after the block's own call: a frame goes once the engine is full,
// or as soon as it is done, and a null block (a drain) hands back all. Where
// decoding is slower than the stream (1080p RGB on two processors), frames
// that could not be shown in time are skipped, so that the others are.
//
// VLC calls this module through C function pointers: nothing may throw out of
// them, so every call into the codec is guarded here.
#define MODULE_STRING "tarv"
// The module's copyright and licence, exported as VLC's own modules declare
// theirs (vlc_plugin.h); VLC defaults to no licence for modules built outside it.
#define VLC_MODULE_COPYRIGHT "Copyright 2026 The Tarv developers"
#define VLC_MODULE_LICENSE "Licensed under the terms of the BSD 2-Clause License."

#include "variants/parallel_decoder.h"
#include "variants/registry.h"

// vlc_common.h comes first: the others build on it.
#include <vlc_common.h>

#include <vlc_codec.h>
#include <vlc_plugin.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <exception>
#include <memory>
#include <new>
#include <optional>

namespace {

// What VLC is told a stream decodes into.
struct Output {
    vlc_fourcc_t chroma;
    tarv::FrameLayout layout;
};

// YUY2 pictures as the codec gives them. VLC's usual 24-bit RGB, which its
// renderers and libvlc's memory output take without converting, holds R,G,B
// bytes: the codec's B,G,R pixels are turned round while they are copied.
Output OutputOf(tarv::Variant v)
{
    switch (tarv::Info(v).picture) {
    case tarv::PictureFormat::Yuyv422:
        return {VLC_CODEC_YUYV, tarv::FrameLayout::Picture};
    case tarv::PictureFormat::Bgr24:
        return {VLC_CODEC_RGB24, tarv::FrameLayout::RgbPicture};
    }
    return {0, tarv::FrameLayout::Picture};
}

constexpr uint32_t kRedMask = 0xff0000, kGreenMask = 0x00ff00, kBlueMask = 0x0000ff;
constexpr int kMaxThreads = 16;

struct ReleaseBlock {
    void operator()(block_t* block) const { block_Release(block); }
};
struct ReleasePicture {
    void operator()(picture_t* picture) const { picture_Release(picture); }
};

// A frame in flight: the block that holds its payload and the picture it
// decodes into, both let go whatever becomes of the frame, and when it went in.
struct InFlight {
    std::unique_ptr<block_t, ReleaseBlock> block;
    std::unique_ptr<picture_t, ReleasePicture> picture;
    std::chrono::steady_clock::time_point submitted;
};
using Engine = tarv::ParallelDecoder<InFlight>;

} // namespace

struct decoder_sys_t {
    tarv::Variant variant;
    int width, height;
    std::unique_ptr<Engine> engine;
    bool skipLate;      // VLC's skip-frames: frames that would come too late may be skipped
    vlc_tick_t latency; // how long a frame takes from its block to VLC, slow ones kept longest
    bool started;       // a picture went to VLC since the start or the last seek
};

namespace {

const char* FourCC(const decoder_t* dec)
{
    return reinterpret_cast<const char*>(&dec->fmt_in.i_codec);
}

// The oldest frame in flight out of the engine: its picture to VLC when it
// decoded, dropped with a warning when it did not.
void QueueOldest(decoder_t* dec)
{
    Engine& engine = *dec->p_sys->engine;
    try {
        engine.Front();
    } catch (const std::exception& e) {
        msg_Err(dec, "frame dropped: %s", e.what());
    }
    Engine::Frame& oldest = engine.Front();
    InFlight frame = std::move(oldest.tag);
    const bool decoded = oldest.decoded;
    const auto finished = oldest.finished;
    engine.Pop();
    if (decoded) {
        // From the block to its picture, counted up to the end of decoding:
        // frames held longer while VLC is paused say nothing of the decoder.
        // Up at once, down slowly: a frame that was let through late cost
        // as much as one skipped, and shown nothing.
        vlc_tick_t& latency = dec->p_sys->latency;
        const auto took = static_cast<vlc_tick_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(finished - frame.submitted)
                .count());
        latency = took > latency ? took : latency + (took - latency) / 8;
        decoder_QueueVideo(dec, frame.picture.release());
    } else {
        msg_Warn(dec, "damaged %4.4s frame of %zu bytes: dropped", FourCC(dec),
                 frame.block->i_buffer);
    }
}

// Frames go to VLC as soon as they are done, or when `all`, every one. The
// first after the start or a seek goes as soon as it is decoded: it has the
// least time to spare, and were it to come with the next, VLC would show the
// next alone.
void QueueDone(decoder_t* dec, bool all)
{
    decoder_sys_t& sys = *dec->p_sys;
    Engine& engine = *sys.engine;
    while (!engine.Empty() && (all || !sys.started || engine.FrontDone())) {
        QueueOldest(dec);
        sys.started = true;
    }
}

// True when the block's picture could not reach the screen in time. Such a
// frame is not decoded at all, as VLC's own decoders do: when decoding is
// slower than the stream, the frames after it then come in time, rather than
// every frame from there on coming late.
bool TooLate(decoder_t* dec, vlc_tick_t date)
{
    const decoder_sys_t& sys = *dec->p_sys;
    if (!sys.skipLate || !dec->b_frame_drop_allowed || date == VLC_TICK_INVALID)
        return false;
    const vlc_tick_t shown = decoder_GetDisplayDate(dec, date);
    // A quarter more: how long a frame takes varies from frame to frame.
    return shown != VLC_TICK_INVALID && shown < mdate() + sys.latency + sys.latency / 4;
}

// The block to a worker, with a picture of VLC's to decode into.
void Submit(decoder_t* dec, std::unique_ptr<block_t, ReleaseBlock> block)
{
    // An empty block stands for the previous frame, which stays on screen.
    if (block->i_buffer == 0)
        return;
    // VLC's AVI demuxer dates video blocks by their decoding time alone.
    const vlc_tick_t date = block->i_pts != VLC_TICK_INVALID ? block->i_pts : block->i_dts;
    if (TooLate(dec, date)) {
        msg_Dbg(dec, "frame skipped: it cannot be shown in time");
        // Skipped frames measure nothing: the estimate eases, so that one
        // taken in a slow stretch comes down and frames decode again.
        dec->p_sys->latency -= dec->p_sys->latency / 32;
        return;
    }
    const decoder_sys_t& sys = *dec->p_sys;
    Engine& engine = *sys.engine;
    if (engine.Full())
        QueueOldest(dec);
    if (decoder_UpdateVideoFormat(dec) != 0)
        return;
    std::unique_ptr<picture_t, ReleasePicture> picture(decoder_NewPicture(dec));
    if (!picture)
        return;
    const plane_t& plane = picture->p[0];
    if (plane.i_pitch < 0 || plane.i_lines < sys.height ||
        static_cast<size_t>(plane.i_pitch) < tarv::PictureRowBytes(sys.variant, sys.width)) {
        msg_Err(dec, "VLC's picture of %d rows of %d bytes cannot hold a %dx%d frame",
                plane.i_lines, plane.i_pitch, sys.width, sys.height);
        return;
    }
    picture->date = date;
    picture->b_progressive = true;
    Engine::Frame& frame = engine.Back();
    frame.payload = block->p_buffer;
    frame.size = block->i_buffer;
    frame.pixels = plane.p_pixels;
    frame.stride = static_cast<size_t>(plane.i_pitch);
    frame.tag = {std::move(block), std::move(picture), std::chrono::steady_clock::now()};
    engine.Submit();
}

int Decode(decoder_t* dec, block_t* block)
{
    std::unique_ptr<block_t, ReleaseBlock> owned(block);
    try {
        // A null block asks for every picture held back.
        if (owned)
            Submit(dec, std::move(owned));
        QueueDone(dec, block == nullptr);
    } catch (const std::exception& e) {
        msg_Err(dec, "%s", e.what());
    }
    return VLCDEC_SUCCESS;
}

// A seek: the frames in flight belong to before it, and go unseen.
void Flush(decoder_t* dec)
{
    Engine& engine = *dec->p_sys->engine;
    try {
        while (!engine.Empty()) {
            try {
                engine.Front();
            } catch (const std::exception&) {
                // Dropped anyway.
            }
            engine.Front().tag = {};
            engine.Pop();
        }
    } catch (const std::exception& e) {
        msg_Err(dec, "%s", e.what());
    }
    // Time spent before the seek says nothing of the frames after it.
    dec->p_sys->latency = 0;
    dec->p_sys->started = false;
}

int Open(vlc_object_t* obj)
{
    auto* dec = reinterpret_cast<decoder_t*>(obj);
    if (dec->fmt_in.i_cat != VIDEO_ES)
        return VLC_EGENERIC;
    // VLC's FourCCs are the AVI's, byte for byte.
    const std::optional<tarv::Variant> variant = tarv::VariantByFourCC(dec->fmt_in.i_codec);
    if (!variant)
        return VLC_EGENERIC;
    const Output output = OutputOf(*variant);

    const video_format_t& in = dec->fmt_in.video;
    if (in.i_width == 0 || in.i_height == 0 || in.i_width > INT_MAX || in.i_height > INT_MAX) {
        msg_Err(dec, "%4.4s stream of %ux%u pixels: no picture to decode", FourCC(dec), in.i_width,
                in.i_height);
        return VLC_EGENERIC;
    }
    const int width = static_cast<int>(in.i_width), height = static_cast<int>(in.i_height);
    const int threads = std::clamp(static_cast<int>(vlc_GetCPUCount()), 1, kMaxThreads);
    auto* sys = new (std::nothrow)
        decoder_sys_t{*variant, width, height, {}, var_InheritBool(dec, "skip-frames"), 0, false};
    if (sys == nullptr)
        return VLC_ENOMEM;
    try {
        sys->engine = std::make_unique<Engine>(*variant, width, height, threads, output.layout);
    } catch (const std::bad_alloc&) {
        delete sys;
        return VLC_ENOMEM;
    } catch (const std::exception& e) {
        msg_Err(dec, "%s", e.what());
        delete sys;
        return VLC_EGENERIC;
    }

    video_format_t& out = dec->fmt_out.video;
    const bool sar = in.i_sar_num != 0 && in.i_sar_den != 0 && in.i_sar_num <= INT_MAX &&
                     in.i_sar_den <= INT_MAX;
    video_format_Setup(&out, output.chroma, width, height, width, height,
                       sar ? static_cast<int>(in.i_sar_num) : 1,
                       sar ? static_cast<int>(in.i_sar_den) : 1);
    if (output.chroma == VLC_CODEC_RGB24) {
        out.i_rmask = kRedMask;
        out.i_gmask = kGreenMask;
        out.i_bmask = kBlueMask;
    }
    out.i_frame_rate = in.i_frame_rate;
    out.i_frame_rate_base = in.i_frame_rate_base;
    dec->fmt_out.i_cat = VIDEO_ES;
    dec->fmt_out.i_codec = output.chroma;
    // VLC's picture pool must hold the pictures in flight besides its own.
    dec->i_extra_picture_buffers = 2 * threads;
    dec->p_sys = sys;
    dec->pf_decode = Decode;
    dec->pf_flush = Flush;
    msg_Dbg(dec, "%4.4s %dx%d on %d threads", FourCC(dec), width, height, threads);
    return VLC_SUCCESS;
}

// The frames still in flight are waited for and let go with the engine.
void Close(vlc_object_t* obj)
{
    delete reinterpret_cast<decoder_t*>(obj)->p_sys;
}

} // namespace

// clang-format off
vlc_module_begin()
    set_shortname("Tarv")
    set_description("Tarv lossless video decoder (TRVY, TRVR)")
    set_category(CAT_INPUT)
    set_subcategory(SUBCAT_INPUT_VCODEC)
    set_capability("video decoder", 50)
    set_callbacks(Open, Close)
vlc_module_end()
    // clang-format on
