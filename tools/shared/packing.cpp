#include "tools/shared/packing.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace tarv {
namespace {

// FFmpeg's full-range ("J") YUV formats hold the same samples as the plain
// ones; naming them plainly keeps swscale from rescaling the range.
AVPixelFormat PlainRange(AVPixelFormat f)
{
    switch (f) {
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        return AV_PIX_FMT_YUV411P;
    default:
        return f;
    }
}

void SetSourceRange(SwsContext* sws, bool full)
{
    int *inverse = nullptr, *table = nullptr;
    int sourceRange = 0, range = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(sws, &inverse, &sourceRange, &table, &range, &brightness,
                                 &contrast, &saturation) >= 0 &&
        sourceRange != int{full})
        sws_setColorspaceDetails(sws, inverse, full, table, range, brightness, contrast,
                                 saturation);
}

std::string ChromaName(const AVPixFmtDescriptor* d)
{
    const int w = d->log2_chroma_w, h = d->log2_chroma_h;
    if (w == 0 && h == 0)
        return "4:4:4";
    if (w == 1 && h == 0)
        return "4:2:2";
    if (w == 1 && h == 1)
        return "4:2:0";
    if (w == 2 && h == 0)
        return "4:1:1";
    return "subsampled";
}

int MaxDepth(const AVPixFmtDescriptor* d)
{
    int depth = 0;
    for (int i = 0; i < d->nb_components; ++i)
        depth = std::max(depth, d->comp[i].depth);
    return depth;
}

// Planar 4:2:2 rows into YUY2 rows, bytes rearranged only. At an odd width
// the lone last pixel keeps its Y and U; the row holds no V for it.
void PackPlanar422(const AVFrame* frame, uint8_t* packed, size_t row, int width, int height)
{
    const size_t bytes = PictureRowBytes(Variant::Yuy2, width);
    for (int y = 0; y < height; ++y) {
        const uint8_t* luma = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
        const uint8_t* u = frame->data[1] + static_cast<ptrdiff_t>(y) * frame->linesize[1];
        const uint8_t* v = frame->data[2] + static_cast<ptrdiff_t>(y) * frame->linesize[2];
        uint8_t* out = packed + static_cast<size_t>(y) * row;
        int x = 0;
        for (; x + 1 < width; x += 2) {
            *out++ = luma[x];
            *out++ = u[x / 2];
            *out++ = luma[x + 1];
            *out++ = v[x / 2];
        }
        if (x < width) {
            *out++ = luma[x];
            *out++ = u[x / 2];
        }
        std::memset(out, 0, row - bytes);
    }
}

} // namespace

std::string PixelFormatName(AVPixelFormat f)
{
    const char* name = av_get_pix_fmt_name(f);
    return name != nullptr ? name : "unknown";
}

std::string NotExact(const std::string& conversion, const std::vector<std::string>& losses)
{
    if (losses.empty())
        return {};
    std::string text = conversion + " is not exact: ";
    for (size_t i = 0; i < losses.size(); ++i)
        text += (i == 0 ? "" : "; ") + losses[i];
    return text;
}

AVPixelFormat PackedPixelFormat(Variant v)
{
    switch (Info(v).picture) {
    case PictureFormat::Yuyv422:
        return AV_PIX_FMT_YUYV422;
    case PictureFormat::Bgr24:
        return AV_PIX_FMT_BGR24;
    }
    return AV_PIX_FMT_NONE;
}

std::string ConversionLoss(AVPixelFormat from, Variant to, int width)
{
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(from);
    if (d == nullptr)
        return "unknown pixel format";
    std::vector<std::string> loss;
    const bool rgb = (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0;
    const bool grey = !rgb && d->nb_components <= 2;
    if (PackedPixelFormat(to) == AV_PIX_FMT_YUYV422) {
        if (rgb)
            loss.push_back("RGB is converted to YUV");
        else if (grey)
            loss.push_back("grey is converted to YUV");
        else if (d->log2_chroma_w != 1 || d->log2_chroma_h != 0)
            loss.push_back(ChromaName(d) + " chroma is resampled to 4:2:2");
        if (width % 2 != 0)
            loss.push_back("at an odd width the last column's V sample is not kept");
    } else if (!rgb) {
        loss.push_back(grey ? "grey is converted to RGB" : "YUV is converted to RGB");
    }
    if (MaxDepth(d) > 8)
        loss.push_back(std::to_string(MaxDepth(d)) + "-bit samples are reduced to 8 bits");
    if (d->flags & AV_PIX_FMT_FLAG_ALPHA)
        loss.push_back("the alpha channel is dropped");
    return NotExact(PixelFormatName(from) + " to " + PixelFormatName(PackedPixelFormat(to)), loss);
}

std::string RangeNote(AVPixelFormat from, AVColorRange range, Variant to)
{
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(from);
    if (PackedPixelFormat(to) != AV_PIX_FMT_YUYV422 || d == nullptr ||
        (d->flags & AV_PIX_FMT_FLAG_RGB) || (PlainRange(from) == from && range != AVCOL_RANGE_JPEG))
        return {};
    return "full-range YUV (" + PixelFormatName(from) + (range == AVCOL_RANGE_JPEG ? ", pc" : "") +
           "): the samples are kept, but AVI has no field for the range, so players take the "
           "file as limited range; tarv decode --full-range tags the output full range again";
}

ToPacked::ToPacked(Variant v, int width, int height)
    : m_variant(v), m_width(width), m_height(height), m_top(NewFrame())
{
    // swscale writes whole vectors past the end of a row, so it converts into
    // FFmpeg's padded frame buffer, never straight into the packed frame.
    m_top->format = PackedPixelFormat(v);
    m_top->width = width;
    m_top->height = height;
    if (av_frame_get_buffer(m_top.get(), 0) < 0)
        throw std::bad_alloc();
}

ToPacked::~ToPacked()
{
    sws_freeContext(m_sws);
}

bool ToPacked::Convert(const AVFrame* frame, uint8_t* packed)
{
    if (frame->width != m_width || frame->height != m_height)
        return false;
    const auto source = PlainRange(static_cast<AVPixelFormat>(frame->format));
    const AVPixelFormat target = PackedPixelFormat(m_variant);
    // Not swscale's packing of planar 4:2:2: at an odd width it leaves the last
    // pixel blank.
    if (target == AV_PIX_FMT_YUYV422 && source == AV_PIX_FMT_YUV422P) {
        PackPlanar422(frame, packed, RowBytes(m_variant, m_width), m_width, m_height);
        return true;
    }
    const AVFrame* picture = frame;
    if (source != target) {
        m_sws = sws_getCachedContext(m_sws, m_width, m_height, source, m_width, m_height, target,
                                     kScaleFlags, nullptr, nullptr, nullptr);
        // The plain name keeps full-range samples as they are in YUV, but into
        // RGB swscale must know the range, or black and white come out wrong.
        if (m_sws != nullptr && target == AV_PIX_FMT_BGR24)
            SetSourceRange(m_sws,
                           source != frame->format || frame->color_range == AVCOL_RANGE_JPEG);
        if (m_sws == nullptr || sws_scale(m_sws, frame->data, frame->linesize, 0, m_height,
                                          m_top->data, m_top->linesize) != m_height)
            return false;
        picture = m_top.get();
    }
    // Rows into place: RGB bottom-up, the picture's top row last.
    const size_t row = RowBytes(m_variant, m_width);
    const size_t bytes = PictureRowBytes(m_variant, m_width);
    const auto height = static_cast<size_t>(m_height);
    for (size_t y = 0; y < height; ++y) {
        uint8_t* out = packed + (Info(m_variant).bottomUp ? height - 1 - y : y) * row;
        // Signed: a bottom-up picture has a negative linesize.
        std::memcpy(out, picture->data[0] + static_cast<ptrdiff_t>(y) * picture->linesize[0],
                    bytes);
        std::memset(out + bytes, 0, row - bytes);
    }
    return true;
}

} // namespace tarv
