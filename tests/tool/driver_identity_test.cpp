// The tool's frames are the drivers' frames: the same packed picture, coded by
// the whole-frame interface and by the codec library through DriverProc, gives
// the same bytes, and FrameDecoder reads them back exactly, padding cleared.
#include "tests/support/driver_host.h"
#include "tests/support/expect.h"
#include "tests/support/frames.h"
#include "variants/frame_coder.h"

namespace {

using tarv_test::Bytes;
using tarv_test::Content;
using tarv_test::P;

class ToolMatchesDriverProc : public tarv_test::DriverHost,
                              public testing::WithParamInterface<tarv::Variant> {
protected:
    ToolMatchesDriverProc() : DriverHost(GetParam()) {}
};

TEST_P(ToolMatchesDriverProc, SameBytesAndExactPicturesAtEverySize)
{
    OpenDriver();
    const struct {
        int width, height;
    } sizes[] = {{1, 1}, {2, 2}, {3, 5}, {33, 17}, {160, 90}, {321, 241}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
        const tarv::FrameFormat format = tarv_test::RawFormat(variant, size.width, size.height);
        BITMAPINFOHEADER raw = tarv_test::Header(format);
        BITMAPINFOHEADER compressed{};
        ASSERT_EQ(Send(ICM_COMPRESS_GET_FORMAT, P(&raw), P(&compressed)), ICERR_OK);
        ASSERT_EQ(Send(ICM_COMPRESS_BEGIN, P(&raw), P(&compressed)), ICERR_OK);
        const LRESULT capacity = Send(ICM_COMPRESS_GET_SIZE, P(&raw), P(&compressed));
        tarv::FrameEncoder encoder(variant, size.width, size.height);
        tarv::FrameDecoder decoder(variant, size.width, size.height);
        for (const Content content : {Content::Noise, Content::Ramp, Content::Flat}) {
            const Bytes frame = tarv_test::Frame(format, content, 5);
            tarv_test::Encoded driver;
            ASSERT_EQ(Compress(raw, frame, capacity, &driver), ICERR_OK);
            std::vector<uint8_t> tool;
            ASSERT_TRUE(encoder.Encode(frame.data(), tool));
            EXPECT_EQ(tool, driver.payload) << "content " << static_cast<int>(content);

            Bytes decoded(frame.size(), 0xEE);
            ASSERT_TRUE(decoder.Decode(tool.data(), tool.size(), decoded.data()));
            EXPECT_EQ(tarv_test::PictureDifference(variant, decoded.data(), format, frame.data(),
                                                   format, 0),
                      "")
                << "content " << static_cast<int>(content);
        }
        ASSERT_EQ(Send(ICM_COMPRESS_END), ICERR_OK);
    }
}

TEST_P(ToolMatchesDriverProc, DecoderRefusesDamagedPayloads)
{
    const tarv::FrameFormat format = tarv_test::RawFormat(variant, 40, 30);
    tarv::FrameEncoder encoder(variant, 40, 30);
    tarv::FrameDecoder decoder(variant, 40, 30);
    const Bytes frame = tarv_test::Frame(format, Content::Photo, 9);
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

INSTANTIATE_TEST_SUITE_P(Variants, ToolMatchesDriverProc, testing::ValuesIn(tarv::AllVariants()),
                         tarv_test::VariantName);

} // namespace
