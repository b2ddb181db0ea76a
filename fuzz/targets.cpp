#include "fuzz/targets.h"

#include "fuzz/harness.h"
#include "reference/range_coder.h"

#include <algorithm>
#include <cstring>

namespace tarv_fuzz {

namespace {

using tarv::CRangeCoder16;

constexpr uint32_t kMaxDecoderCapacity = 1u << 20;

} // namespace

int RangeDecoder(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> input(data, data + size);
    Reader reader(input);
    uint32_t capacity = reader.U8();
    capacity |= static_cast<uint32_t>(reader.U8()) << 8;
    capacity |= static_cast<uint32_t>(reader.U8()) << 16;
    capacity %= kMaxDecoderCapacity + 1;
    const uint8_t mode = reader.U8();
    const std::span<const uint8_t> payload = reader.Rest();

    // Mostly the codec's full alphabet, in one coder that every run reuses as
    // the codec reuses its table between frames; sometimes a table smaller
    // than the payload's N.
    static CRangeCoder16 full, fullReference;
    CRangeCoder16 small, smallReference;
    CRangeCoder16& coder = (mode & 0x80) != 0 ? small : full;
    CRangeCoder16& reference = (mode & 0x80) != 0 ? smallReference : fullReference;
    for (CRangeCoder16* c : {&coder, &reference}) {
        c->SetSymbolCount((mode & 0x80) != 0 ? (mode >> 2) & 0x1Fu : CRangeCoder16::kAlphabetSize);
        if (!c->AllocateTable())
            return 0;
    }
    const std::unique_ptr<uint16_t[]> output(new uint16_t[capacity]);
    const std::unique_ptr<uint16_t[]> expected(new uint16_t[capacity]);
    std::fill_n(output.get(), capacity, uint16_t{0xA5A5});
    std::fill_n(expected.get(), capacity, uint16_t{0xA5A5});
    uint32_t count = capacity, expectedCount = capacity;
    const auto length = static_cast<uint32_t>(payload.size());
    const int rc = coder.Decode(payload.data(), length, output.get(), count);
    if (rc) {
        Check(count % 2 == 0 && count / 2 <= capacity, "Decode reports more samples than fit");
        CheckInitialised(output.get(), count);
    }
    // The fast path and the plain halving search agree on everything.
    const int expectedRc =
        tarv::DecodeReference(reference, payload.data(), length, expected.get(), expectedCount);
    Check(rc == expectedRc, "Decode and DecodeReference return differently");
    Check(!rc || count == expectedCount, "Decode and DecodeReference count differently");
    Check(std::equal(output.get(), output.get() + capacity, expected.get()),
          "Decode and DecodeReference write different samples");
    // A caller may go on decoding symbols with whatever table Decode left;
    // both paths leave the same state.
    for (int i = 0; i < (mode & 3); ++i) {
        uint16_t sample = 0, expectedSample = 0;
        const int more = coder.DecodeSymbol(&sample);
        const int expectedMore = reference.DecodeSymbol(&expectedSample);
        Check(more == expectedMore && sample == expectedSample,
              "DecodeSymbol goes on differently after Decode and DecodeReference");
    }
    return 0;
}

int Decompress(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> input(data, data + size);
    Reader reader(input);
    // steps: bit 0 the library, bit 1 query with the output header, bit 2 no
    // begin, bit 3 no query. form: bit 0 top-down, bits 1-2 output width
    // change, bits 3-4 output format, bits 5-7 output depth (0: the library's).
    const uint8_t steps = reader.U8();
    const Driver& driver = DriverFor(steps & 1);
    const int32_t w = reader.U8() % 65;
    const int32_t h = reader.U8() % 65;
    const uint8_t form = reader.U8();
    const std::span<const uint8_t> payload = reader.Rest();

    BITMAPINFOHEADER in = CompressedHeader(driver, w, h);
    in.biSizeImage = static_cast<DWORD>(payload.size());

    static constexpr int32_t kWidthDelta[4] = {0, 1, -1, 0};
    static constexpr WORD kBits[8] = {0, 0, 8, 16, 24, 32, 15, 48};
    static constexpr DWORD kGarbage = MakeFourCC('X', 'Y', 'Z', '!');
    BITMAPINFOHEADER out = RawHeader(driver, w + kWidthDelta[(form >> 1) & 3], h);
    if ((form & 1) != 0)
        out.biHeight = -h;
    const unsigned compression = (form >> 3) & 3;
    out.biCompression = compression < 3 ? driver.Raw(compression) : kGarbage;
    if ((form >> 5) != 0)
        out.biBitCount = kBits[form >> 5];
    out.biSizeImage = static_cast<DWORD>(FrameBytes(out));

    const DWORD_PTR id = Open(driver);
    Check(id != 0, "the open is refused");
    BITMAPINFOHEADER queryIn = in, queryOut = out;
    if ((steps & 8) == 0)
        driver.proc(id, nullptr, ICM_DECOMPRESS_QUERY, P(&queryIn),
                    (steps & 2) != 0 ? P(&queryOut) : 0);
    BITMAPINFOHEADER beginIn = in, beginOut = out;
    if ((steps & 4) == 0)
        driver.proc(id, nullptr, ICM_DECOMPRESS_BEGIN, P(&beginIn), P(&beginOut));

    Block source(payload.size());
    std::copy(payload.begin(), payload.end(), source.data());
    Block target(static_cast<size_t>(FrameBytes(out)));
    BITMAPINFOHEADER frameIn = in, frameOut = out;
    ICDECOMPRESS icd =
        tarv_test::DecompressRecord(&frameIn, source.data(), &frameOut, target.data());
    if (driver.proc(id, nullptr, ICM_DECOMPRESS, P(&icd), 0) == ICERR_OK && h > 0) {
        const size_t row = target.size() / static_cast<size_t>(h);
        const size_t pixels = static_cast<size_t>(std::max(out.biWidth, 0)) * driver.PixelBytes();
        for (size_t y = 0; y < static_cast<size_t>(h); ++y)
            CheckInitialised(target.data() + y * row, std::min(pixels, row));
    }
    driver.proc(id, nullptr, ICM_DECOMPRESS_END, 0, 0);
    driver.proc(id, nullptr, DRV_CLOSE, 0, 0);
    return 0;
}

int Roundtrip(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> input(data, data + size);
    Reader reader(input);
    // form: bit 0 the library, bit 1 top-down output, bits 2-3 YUY2 input
    // depth, bits 4-5 input format, bit 6 the second-frame check.
    const uint8_t form = reader.U8();
    const Driver& driver = DriverFor(form & 1);
    const int32_t w = 1 + reader.U8() % 64;
    const int32_t h = 1 + reader.U8() % 64;
    const std::span<const uint8_t> pixels = reader.Rest();

    static constexpr WORD kYUY2Bits[4] = {16, 24, 32, 16};
    BITMAPINFOHEADER in = RawHeader(driver, w, h);
    in.biCompression = driver.Raw(form >> 4);
    if (driver.variant.bitCount == 16)
        in.biBitCount = kYUY2Bits[(form >> 2) & 3];
    in.biSizeImage = static_cast<DWORD>(FrameBytes(in));
    const bool topDown = (form & 2) != 0;

    Block frame(in.biSizeImage);
    const size_t given = std::min(pixels.size(), frame.size());
    std::copy_n(pixels.begin(), given, frame.data());
    std::fill(frame.data() + given, frame.data() + frame.size(), uint8_t{0});

    const DWORD_PTR id = Open(driver);
    Check(id != 0, "the open is refused");
    BITMAPINFOHEADER query = in;
    const LRESULT capacity = driver.proc(id, nullptr, ICM_COMPRESS_GET_SIZE, P(&query), 0);
    Check(capacity > 0, "ICM_COMPRESS_GET_SIZE refuses a valid frame");
    BITMAPINFOHEADER format{};
    Check(driver.proc(id, nullptr, ICM_COMPRESS_GET_FORMAT, P(&query), P(&format)) == ICERR_OK,
          "ICM_COMPRESS_GET_FORMAT refuses a valid frame");
    Check(format.biSizeImage == static_cast<DWORD>(capacity),
          "the proposed format's size is not the largest compressed frame");
    Check(driver.proc(id, nullptr, ICM_COMPRESS_QUERY, P(&query), P(&format)) == ICERR_OK &&
              driver.proc(id, nullptr, ICM_COMPRESS_BEGIN, P(&query), P(&format)) == ICERR_OK,
          "the compressor refuses its own proposal");
    const Encoded first = CompressOrFail(driver, id, in, frame, static_cast<size_t>(capacity));

    BITMAPINFOHEADER compressed = first.header, decoded{};
    Check(driver.proc(id, nullptr, ICM_DECOMPRESS_GET_FORMAT, P(&compressed), P(&decoded)) ==
              ICERR_OK,
          "ICM_DECOMPRESS_GET_FORMAT refuses a compressed frame");
    if (topDown)
        decoded.biHeight = -h;
    Check(driver.proc(id, nullptr, ICM_DECOMPRESS_QUERY, P(&compressed), P(&decoded)) == ICERR_OK &&
              driver.proc(id, nullptr, ICM_DECOMPRESS_BEGIN, P(&compressed), P(&decoded)) ==
                  ICERR_OK,
          "the decompressor refuses its own proposal");
    Block payload(first.payload.size());
    std::copy(first.payload.begin(), first.payload.end(), payload.data());
    Block picture(static_cast<size_t>(FrameBytes(decoded)));
    ICDECOMPRESS icd =
        tarv_test::DecompressRecord(&compressed, payload.data(), &decoded, picture.data());
    Check(driver.proc(id, nullptr, ICM_DECOMPRESS, P(&icd), 0) == ICERR_OK,
          "a compressed frame does not decompress");

    const size_t inRow = frame.size() / static_cast<size_t>(h);
    const size_t outRow = picture.size() / static_cast<size_t>(h);
    const size_t meaningful = static_cast<size_t>(w) * driver.PixelBytes();
    const bool flipped = topDown && driver.variant.bottomUp;
    for (size_t y = 0; y < static_cast<size_t>(h); ++y) {
        const size_t d = flipped ? static_cast<size_t>(h) - 1 - y : y;
        Check(std::memcmp(frame.data() + y * inRow, picture.data() + d * outRow, meaningful) == 0,
              "the decompressed frame differs from the original");
    }

    // Another frame through the same buffers must leave nothing behind. Two
    // more encodes: only when the input asks, since each costs a table pass.
    if ((form & 0x40) != 0) {
        Block other(frame.size());
        for (size_t i = 0; i < frame.size(); ++i)
            other.data()[i] = static_cast<uint8_t>(frame.data()[i] ^ (0x5A + i));
        CompressOrFail(driver, id, in, other, static_cast<size_t>(capacity));
        const Encoded again = CompressOrFail(driver, id, in, frame, static_cast<size_t>(capacity));
        Check(again.payload == first.payload, "the same frame compresses to different bytes");
    }

    driver.proc(id, nullptr, ICM_DECOMPRESS_END, 0, 0);
    driver.proc(id, nullptr, DRV_CLOSE, 0, 0);
    return 0;
}

std::span<const TargetEntry> AllTargets()
{
    static constexpr TargetEntry kTargets[] = {
        {"fuzz_range_decoder", RangeDecoder}, {"fuzz_decompress", Decompress},
        {"fuzz_messages", Messages},          {"fuzz_roundtrip", Roundtrip},
        {"fuzz_avi_header", AviHeader},       {"fuzz_picture", PicturePayload},
    };
    return kTargets;
}

} // namespace tarv_fuzz
