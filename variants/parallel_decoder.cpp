#include "variants/parallel_decoder.h"

namespace tarv {

WorkerDecoders::WorkerDecoders(Variant v, int width, int height, int workers, FrameLayout layout)
    : m_variant(v), m_width(width), m_height(height), m_layout(layout),
      m_workers(static_cast<size_t>(workers))
{
    for (Worker& w : m_workers)
        w.decoder = std::make_unique<FrameDecoder>(v, width, height);
}

WorkerDecoders::~WorkerDecoders() = default;

bool WorkerDecoders::Decode(int worker, const uint8_t* payload, size_t size, uint8_t* pixels,
                            size_t stride)
{
    Worker& w = m_workers[static_cast<size_t>(worker)];
    if (m_layout == FrameLayout::Packed)
        return w.decoder->Decode(payload, size, pixels);
    // A picture whose rows lie as the packed frame's takes the frame as it is.
    const bool direct = !Info(m_variant).bottomUp && stride == RowBytes(m_variant, m_width);
    if (!direct && w.scratch.empty())
        w.scratch.resize(FrameBytes(m_variant, m_width, m_height));
    uint8_t* packed = direct ? pixels : w.scratch.data();
    if (!w.decoder->Decode(payload, size, packed))
        return false;
    PackedToPicture(m_variant, m_width, m_height, packed, pixels, stride,
                    m_layout == FrameLayout::RgbPicture ? RgbOrder::Rgb : RgbOrder::Bgr);
    return true;
}

} // namespace tarv
