// The players' own code under the fuzzer: the AVI reader of the GStreamer
// element, and the path by which the element, the VLC module and the tool
// turn a payload into a picture.
#include "fuzz/harness.h"
#include "fuzz/targets.h"
#include "gst/avi_header.h"
#include "variants/parallel_decoder.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace tarv_fuzz {

namespace {

// The picture a payload layout asks for: byte 0 bit 0 the variant (0 RGB24,
// 1 YUY2), bits 1-3 bytes added to the shortest row pitch, bit 4 the pixel
// order (0 the codec's, as tarvdec and the tool have it; 1 R,G,B, as the VLC
// module has it); bytes 1 and 2 the width and height less one, modulo 64;
// then the payload.
struct PictureInput {
    tarv::Variant variant;
    tarv::FrameLayout layout;
    int width, height;
    size_t extra;
    std::span<const uint8_t> payload;
};

PictureInput ReadPictureInput(Reader& reader)
{
    const uint8_t form = reader.U8();
    PictureInput in{};
    in.variant = DriverFor(form & 1).variant.variant;
    in.extra = (form >> 1) & 7u;
    in.layout = (form & 0x10) != 0 ? tarv::FrameLayout::RgbPicture : tarv::FrameLayout::Picture;
    in.width = 1 + reader.U8() % 64;
    in.height = 1 + reader.U8() % 64;
    in.payload = reader.Rest();
    return in;
}

} // namespace

int AviHeader(const uint8_t* data, size_t size)
{
    const Block file(size);
    std::copy_n(data, size, file.data());
    const auto read = [&](uint64_t offset, uint8_t* to, size_t bytes) -> size_t {
        Check(offset < file.size(), "the AVI reader asks for bytes past the file's end");
        const size_t n = std::min<uint64_t>(bytes, file.size() - offset);
        std::memcpy(to, file.data() + offset, n);
        return n;
    };
    const uint32_t fourccs[] = {DriverFor(0).Compressed(), DriverFor(1).Compressed()};
    const std::optional<unsigned> streams[] = {std::nullopt, 0, 1, 2};
    for (const uint32_t fourcc : fourccs)
        for (const auto stream : streams) {
            const auto video = tarv_gst::AviVideoStream(file.data(), file.size(), fourcc, stream);
            Check(!video || (video->rate == 0) == (video->scale == 0),
                  "the AVI reader gives half a frame rate");
            const tarv_gst::AviChunks chunks = tarv_gst::AviStreamChunks(
                read, file.size(), video ? video->stream : stream.value_or(0));
            Check(chunks.coded <= chunks.count && chunks.count <= file.size() / 8,
                  "the AVI reader counts chunks the file cannot hold");
        }
    return 0;
}

int PicturePayload(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> input(data, data + size);
    Reader reader(input);
    const PictureInput in = ReadPictureInput(reader);
    const Block payload(in.payload.size());
    std::copy(in.payload.begin(), in.payload.end(), payload.data());

    // Rows of at least the picture's bytes: YUY2 at the packed row's pitch
    // decodes in place, and a row too short for a whole last pixel pair gets
    // none. One thread: the decoding players and the tool do with each frame.
    const size_t least = tarv::PictureRowBytes(in.variant, in.width);
    const size_t stride = least + in.extra;
    const size_t meaningful =
        std::max(least, std::min(stride, tarv::TopDownRowBytes(in.variant, in.width)));
    const auto rows = static_cast<size_t>(in.height);
    tarv::ParallelDecoder<int> decoder(in.variant, in.width, in.height, 1, in.layout);
    const auto decode = [&](const Block& picture) {
        auto& frame = decoder.Back();
        frame.payload = payload.data();
        frame.size = payload.size();
        frame.pixels = picture.data();
        frame.stride = stride;
        decoder.Submit();
        const bool decoded = decoder.Front().decoded;
        decoder.Pop();
        return decoded;
    };
    const Block picture(stride * rows);
    if (!decode(picture))
        return 0;
    for (size_t y = 0; y < rows; ++y)
        CheckInitialised(picture.data() + y * stride, meaningful);

    // The same decoder gives the same picture again: nothing of the frame
    // before leaks into the next.
    const Block again(stride * rows);
    Check(decode(again), "a payload decodes once and not twice");
    for (size_t y = 0; y < rows; ++y)
        Check(std::memcmp(picture.data() + y * stride, again.data() + y * stride, meaningful) == 0,
              "a payload decodes to two pictures");
    return 0;
}

} // namespace tarv_fuzz
