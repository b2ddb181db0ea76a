// The tool's frames are the drivers' frames: the same packed picture, coded by
// the tool's FrameEncoder and by the codec library through DriverProc, gives
// the same bytes, and the tool's FrameDecoder reads them back exactly.
//
// Built once per library: TARV_LIBRARY names it, TARV_VARIANT its variant.
#include "codec/codec.h"
#include "tests/driver_host.h"
#include "tools/frame_coder.h"

#include <random>

namespace {

using driver_host::Bytes;
using driver_host::Encoded;
using driver_host::P;

constexpr tarv::Variant kVariant = tarv::Variant::TARV_VARIANT;

class ToolMatchesDriverProc : public driver_host::DriverHost {
protected:
    ToolMatchesDriverProc() : DriverHost(tarv::Info(kVariant).fourccValue) {}
};

BITMAPINFOHEADER RawFormat(int width, int height)
{
    return PackedFrameHeader(
        width, height, kVariant == tarv::Variant::Yuy2 ? MakeFourCC('Y', 'U', 'Y', '2') : BI_RGB,
        static_cast<WORD>(tarv::Info(kVariant).bitsPerPixel));
}

// Noise, a smooth ramp, or one flat value: the coder's different regimes.
Bytes Picture(int width, int height, int kind, uint32_t seed)
{
    Bytes b(tarv::FrameBytes(kVariant, width, height));
    std::mt19937 rng(seed);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<uint8_t>(kind == 0 ? rng() : kind == 1 ? (i * 7 / 5) : 77);
    return b;
}

TEST_F(ToolMatchesDriverProc, SameBytesAndExactPicturesAtEverySize)
{
    OpenDriver();
    const struct {
        int width, height;
    } sizes[] = {{1, 1}, {2, 2}, {3, 5}, {33, 17}, {160, 90}, {321, 241}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
        BITMAPINFOHEADER raw = RawFormat(size.width, size.height);
        BITMAPINFOHEADER compressed{};
        ASSERT_EQ(Send(ICM_COMPRESS_GET_FORMAT, P(&raw), P(&compressed)), ICERR_OK);
        ASSERT_EQ(Send(ICM_COMPRESS_BEGIN, P(&raw), P(&compressed)), ICERR_OK);
        const LRESULT capacity = Send(ICM_COMPRESS_GET_SIZE, P(&raw), P(&compressed));
        tarv::FrameEncoder encoder(kVariant, size.width, size.height);
        tarv::FrameDecoder decoder(kVariant, size.width, size.height);
        const size_t row = tarv::RowBytes(kVariant, size.width);
        const size_t picture = tarv::PictureRowBytes(kVariant, size.width);
        for (int kind = 0; kind < 3; ++kind) {
            const Bytes frame =
                Picture(size.width, size.height, kind, 5u + static_cast<uint32_t>(kind));
            Encoded driver;
            ASSERT_EQ(Compress(raw, frame, capacity, &driver), ICERR_OK);
            std::vector<uint8_t> tool;
            ASSERT_TRUE(encoder.Encode(frame.data(), tool));
            EXPECT_EQ(tool, driver.payload) << "picture kind " << kind;

            Bytes decoded(frame.size(), 0xEE);
            ASSERT_TRUE(decoder.Decode(tool.data(), tool.size(), decoded.data()));
            for (int y = 0; y < size.height; ++y) {
                const size_t at = static_cast<size_t>(y) * row;
                // Picture bytes come back; padding is cleared.
                ASSERT_TRUE(std::equal(frame.begin() + static_cast<long>(at),
                                       frame.begin() + static_cast<long>(at + picture),
                                       decoded.begin() + static_cast<long>(at)))
                    << "row " << y << ", picture kind " << kind;
                for (size_t i = picture; i < row; ++i)
                    ASSERT_EQ(decoded[at + i], 0) << "row " << y;
            }
        }
        ASSERT_EQ(Send(ICM_COMPRESS_END), ICERR_OK);
    }
}

TEST(ToolDecoder, RefusesDamagedPayloads)
{
    tarv::FrameEncoder encoder(kVariant, 40, 30);
    tarv::FrameDecoder decoder(kVariant, 40, 30);
    Bytes frame(tarv::FrameBytes(kVariant, 40, 30));
    std::mt19937 rng(9);
    for (auto& b : frame)
        b = static_cast<uint8_t>(rng() & 0x3F);
    std::vector<uint8_t> payload;
    ASSERT_TRUE(encoder.Encode(frame.data(), payload));
    Bytes out(frame.size());
    // Empty, cut short, and a record count far beyond the payload.
    EXPECT_FALSE(decoder.Decode(payload.data(), 0, out.data()));
    EXPECT_FALSE(decoder.Decode(payload.data(), payload.size() / 2, out.data()));
    std::vector<uint8_t> damaged = payload;
    std::fill_n(damaged.begin(), 4, 0xFF);
    EXPECT_FALSE(decoder.Decode(damaged.data(), damaged.size(), out.data()));
    // And the decoder still works afterwards.
    EXPECT_TRUE(decoder.Decode(payload.data(), payload.size(), out.data()));
}

} // namespace
