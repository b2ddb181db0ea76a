#include "tests/support/codec_calls.h"

#include <algorithm>
#include <memory>

namespace tarv_test {

Compressed Compress(tarv::CEncoder& encoder, tarv::Variant v, const tarv::FrameFormat& input,
                    const Bytes& pixels)
{
    Compressed c;
    Bytes out(encoder.GetMaxCompressedSize(input.width, input.height));
    uint32_t length = static_cast<uint32_t>(out.size());
    c.status = encoder.Compress(input, pixels.data(), out.data(), length);
    if (c.status == tarv::Status::Ok) {
        c.format = input;
        c.format.compression = tarv::Info(v).fourccValue;
        c.format.sizeImage = length;
        c.payload.assign(out.data(), out.data() + length);
    }
    return c;
}

Compressed CompressFresh(tarv::Variant v, const tarv::FrameFormat& input, const Bytes& pixels)
{
    const std::unique_ptr<tarv::CEncoder> encoder(tarv::Info(v).newEncoder());
    Compressed c;
    c.status = encoder->Prepare(&input, nullptr);
    return c.status == tarv::Status::Ok ? Compress(*encoder, v, input, pixels) : c;
}

tarv::Status Decompress(tarv::CDecoder& decoder, const tarv::FrameFormat& compressed,
                        const Bytes& payload, const tarv::FrameFormat& output, Bytes& pixels)
{
    const size_t size = std::min<size_t>(payload.size(), compressed.sizeImage);
    const std::unique_ptr<uint8_t[]> exact(size != 0 ? new uint8_t[size] : nullptr);
    std::copy_n(payload.begin(), size, exact.get());
    return decoder.Decompress(compressed, exact.get(), output, pixels.data());
}

} // namespace tarv_test
