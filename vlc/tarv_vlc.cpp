// A VLC 3.0 video decoder for Tarv streams: TRVY and TRVR frames, as VLC's AVI
// demuxer hands them over, into YUY2 and 24-bit RGB pictures.
//
// VLC calls this module through C function pointers: nothing may throw out of
// them, so every call into the codec is guarded here.
#define MODULE_STRING "tarv"
// The module's copyright and licence, exported as VLC's own modules declare
// theirs (vlc_plugin.h); VLC defaults to no licence for modules built outside it.
#define VLC_MODULE_COPYRIGHT "Copyright 2026 The Tarv developers"
#define VLC_MODULE_LICENSE "Licensed under the terms of the BSD 2-Clause License."

#include "variants/frame_coder.h"
#include "vlc/picture.h"

// vlc_common.h comes first: the others build on it.
#include <vlc_common.h>

#include <vlc_codec.h>
#include <vlc_plugin.h>

#include <climits>
#include <exception>
#include <memory>
#include <new>
#include <optional>

namespace {

struct Stream {
    vlc_fourcc_t fourcc;
    tarv::Variant variant;
    vlc_fourcc_t chroma;
};

// YUY2 pictures as the codec gives them. VLC's usual 24-bit RGB, which its
// renderers and libvlc's memory output take without converting, holds R,G,B
// bytes: the codec's B,G,R pixels are turned round while they are copied.
constexpr Stream kStreams[] = {
    {VLC_FOURCC('T', 'R', 'V', 'Y'), tarv::Variant::Yuy2, VLC_CODEC_YUYV},
    {VLC_FOURCC('T', 'R', 'V', 'R'), tarv::Variant::Rgb24, VLC_CODEC_RGB24},
};
constexpr uint32_t kRedMask = 0xff0000, kGreenMask = 0x00ff00, kBlueMask = 0x0000ff;

std::optional<Stream> StreamOf(vlc_fourcc_t codec)
{
    for (const Stream& s : kStreams)
        if (s.fourcc == codec)
            return s;
    return std::nullopt;
}

} // namespace

struct decoder_sys_t {
    tarv::Variant variant;
    int width, height;
    std::unique_ptr<tarv::FrameDecoder> decoder;
    std::unique_ptr<uint8_t[]> frame; // the packed frame, before it goes into a picture
};

namespace {

// Copies the packed frame into the picture, top row first, honouring its pitch.
void CopyFrame(const decoder_sys_t& sys, picture_t* pic)
{
    tarv_vlc::CopyPicture(sys.variant, sys.width, sys.height, sys.frame.get(), pic->p[0].p_pixels,
                          static_cast<size_t>(pic->p[0].i_pitch));
}

// True when the block decoded into the packed frame; says why not otherwise.
bool DecodeBlock(decoder_t* dec, const block_t* block)
{
    try {
        if (dec->p_sys->decoder->Decode(block->p_buffer, block->i_buffer, dec->p_sys->frame.get()))
            return true;
        msg_Warn(dec, "damaged %4.4s frame of %zu bytes: dropped",
                 reinterpret_cast<const char*>(&dec->fmt_in.i_codec), block->i_buffer);
    } catch (const std::exception& e) {
        msg_Err(dec, "frame dropped: %s", e.what());
    }
    return false;
}

int Decode(decoder_t* dec, block_t* block)
{
    // A null block asks for pictures held back: there are none. An empty one
    // stands for the previous frame, which stays on screen.
    if (block == nullptr)
        return VLCDEC_SUCCESS;
    if (block->i_buffer != 0 && DecodeBlock(dec, block) && decoder_UpdateVideoFormat(dec) == 0) {
        if (picture_t* pic = decoder_NewPicture(dec)) {
            CopyFrame(*dec->p_sys, pic);
            pic->date = block->i_pts != VLC_TICK_INVALID ? block->i_pts : block->i_dts;
            pic->b_progressive = true;
            decoder_QueueVideo(dec, pic);
        }
    }
    block_Release(block);
    return VLCDEC_SUCCESS;
}

int Open(vlc_object_t* obj)
{
    auto* dec = reinterpret_cast<decoder_t*>(obj);
    if (dec->fmt_in.i_cat != VIDEO_ES)
        return VLC_EGENERIC;
    const std::optional<Stream> stream = StreamOf(dec->fmt_in.i_codec);
    if (!stream)
        return VLC_EGENERIC;

    const video_format_t& in = dec->fmt_in.video;
    if (in.i_width == 0 || in.i_height == 0 || in.i_width > INT_MAX || in.i_height > INT_MAX) {
        msg_Err(dec, "%4.4s stream of %ux%u pixels: no picture to decode",
                reinterpret_cast<const char*>(&dec->fmt_in.i_codec), in.i_width, in.i_height);
        return VLC_EGENERIC;
    }
    const int width = static_cast<int>(in.i_width), height = static_cast<int>(in.i_height);
    auto* sys = new (std::nothrow) decoder_sys_t{stream->variant, width, height, {}, {}};
    if (sys == nullptr)
        return VLC_ENOMEM;
    try {
        sys->decoder = std::make_unique<tarv::FrameDecoder>(stream->variant, width, height);
        sys->frame.reset(new uint8_t[tarv::FrameBytes(stream->variant, width, height)]);
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
    video_format_Setup(&out, stream->chroma, width, height, width, height,
                       sar ? static_cast<int>(in.i_sar_num) : 1,
                       sar ? static_cast<int>(in.i_sar_den) : 1);
    if (stream->chroma == VLC_CODEC_RGB24) {
        out.i_rmask = kRedMask;
        out.i_gmask = kGreenMask;
        out.i_bmask = kBlueMask;
    }
    out.i_frame_rate = in.i_frame_rate;
    out.i_frame_rate_base = in.i_frame_rate_base;
    dec->fmt_out.i_cat = VIDEO_ES;
    dec->fmt_out.i_codec = stream->chroma;
    dec->p_sys = sys;
    dec->pf_decode = Decode;
    return VLC_SUCCESS;
}

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
