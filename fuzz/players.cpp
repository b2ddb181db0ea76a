// The players' own code under the fuzzer: the AVI reader of the GStreamer
// element, and the paths by which the element and the VLC module turn a
// payload into a picture.
#include "fuzz/harness.h"
#include "fuzz/targets.h"
#include "gst/avi_header.h"
#include "gst/picture.h"
#include "vlc/picture.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace tarv_fuzz {

namespace {

// The picture a payload layout asks for: byte 0 bit 0 the variant (0 RGB24,
// 1 YUY2), bits 1-3 bytes added to the shortest row pitch; bytes 1 and 2 the
// width and height less one, modulo 64; then the payload.
struct PictureInput {
    tarv::Variant variant;
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

int GstPayload(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> input(data, data + size);
    Reader reader(input);
    const PictureInput in = ReadPictureInput(reader);
    const Block payload(in.payload.size());
    std::copy(in.payload.begin(), in.payload.end(), payload.data());

    // As tarvdec's workers have it: a scratch frame, and a picture whose rows
    // hold at least OutputRowBytes(); YUY2 at that pitch decodes in place.
    const size_t stride = tarv_gst::OutputRowBytes(in.variant, in.width) + in.extra;
    const auto rows = static_cast<size_t>(in.height);
    tarv::FrameDecoder decoder(in.variant, in.width, in.height);
    const Block scratch(tarv::FrameBytes(in.variant, in.width, in.height));
    const Block picture(stride * rows);
    if (!tarv_gst::DecodePicture(decoder, in.variant, in.width, in.height, payload.data(),
                                 payload.size(), scratch.data(), picture.data(), stride))
        return 0;
    const size_t meaningful = tarv_gst::OutputRowBytes(in.variant, in.width);
    for (size_t y = 0; y < rows; ++y)
        CheckInitialised(picture.data() + y * stride, meaningful);

    // The same decoder gives the same picture again: nothing of the frame
    // before leaks into the next.
    const Block again(stride * rows);
    Check(tarv_gst::DecodePicture(decoder, in.variant, in.width, in.height, payload.data(),
                                  payload.size(), scratch.data(), again.data(), stride),
          "a payload decodes once and not twice");
    for (size_t y = 0; y < rows; ++y)
        Check(std::memcmp(picture.data() + y * stride, again.data() + y * stride, meaningful) == 0,
              "a payload decodes to two pictures");
    return 0;
}

int VlcPayload(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> input(data, data + size);
    Reader reader(input);
    const PictureInput in = ReadPictureInput(reader);
    // The module shows nothing new for an empty block.
    if (in.payload.empty())
        return 0;
    const Block payload(in.payload.size());
    std::copy(in.payload.begin(), in.payload.end(), payload.data());

    // As the module has it: the packed frame first, then a picture from VLC
    // whose rows are at least the picture's bytes.
    tarv::FrameDecoder decoder(in.variant, in.width, in.height);
    const Block frame(tarv::FrameBytes(in.variant, in.width, in.height));
    if (!decoder.Decode(payload.data(), payload.size(), frame.data()))
        return 0;
    const size_t bytes = tarv::PictureRowBytes(in.variant, in.width);
    const size_t pitch = bytes + in.extra;
    const auto rows = static_cast<size_t>(in.height);
    const Block picture(pitch * rows);
    tarv_vlc::CopyPicture(in.variant, in.width, in.height, frame.data(), picture.data(), pitch);
    for (size_t y = 0; y < rows; ++y)
        CheckInitialised(picture.data() + y * pitch, bytes);
    return 0;
}

} // namespace tarv_fuzz
