#include "fuzz/harness.h"

#include "codec/format.h"
#include "variants/rgb24/rgb24.h"
#include "variants/yuy2/yuy2.h"

#include <cstdio>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(memory_sanitizer)
#include <sanitizer/msan_interface.h>
#define TARV_FUZZ_MSAN 1
#endif
#endif

namespace tarv_fuzz {

namespace {

const Driver kTarvr{TarvFuzz_tarvr_DriverProc, TarvFuzz_tarvr_ReleaseInstances, tarv::kRgb24};
const Driver kTarvy{TarvFuzz_tarvy_DriverProc, TarvFuzz_tarvy_ReleaseInstances, tarv::kYuy2};

} // namespace

const Driver& DriverFor(unsigned variant)
{
    return variant == 0 ? kTarvr : kTarvy;
}

DWORD_PTR Open(const Driver& driver)
{
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = kFourCC_vidc;
    open.fccHandler = driver.Compressed();
    driver.proc(0, nullptr, DRV_LOAD, 0, 0);
    driver.proc(0, nullptr, DRV_ENABLE, 0, 0);
    const auto id = static_cast<DWORD_PTR>(driver.proc(0, nullptr, DRV_OPEN, 0, P(&open)));
    if (id != 0) {
        BITMAPINFOHEADER raw = RawHeader(driver, 0, 0);
        BITMAPINFOHEADER compressed = CompressedHeader(driver, 0, 0);
        driver.proc(id, nullptr, ICM_COMPRESS_QUERY, P(&raw), 0);
        driver.proc(id, nullptr, ICM_DECOMPRESS_QUERY, P(&compressed), 0);
    }
    return id;
}

DWORD_PTR FreshOpen(const Driver& driver)
{
    driver.unload();
    return Open(driver);
}

void Fail(const char* what)
{
    std::fprintf(stderr, "tarv fuzz: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void CheckInitialised(const void* p, size_t n)
{
#if defined(TARV_FUZZ_MSAN)
    __msan_check_mem_is_initialized(p, n);
#else
    (void)p;
    (void)n;
#endif
}

int64_t FrameBytes(const BITMAPINFOHEADER& h)
{
    const int64_t rows = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
    const int64_t row = tarv::PackedRowBytes(h.biWidth, h.biBitCount);
    return row < 0 ? 0 : row * rows;
}

bool TooLargeToConfigure(const BITMAPINFOHEADER& h)
{
    const int64_t w = h.biWidth < 0 ? -static_cast<int64_t>(h.biWidth) : h.biWidth;
    const int64_t rows = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
    const int64_t plane = tarv::PlaneRowBytes(w) * rows;
    return plane > (1 << 20) && plane <= (int64_t{1} << 31);
}

Encoded CompressOrFail(const Driver& driver, DWORD_PTR id, const BITMAPINFOHEADER& in,
                       const Block& frame, size_t capacity)
{
    BITMAPINFOHEADER input = in, output{};
    Block buffer(capacity);
    DWORD ckid = 0, flags = 0;
    ICCOMPRESS icc =
        tarv_test::CompressRecord(&input, frame.data(), &output, buffer.data(), &ckid, &flags);
    Check(driver.proc(id, nullptr, ICM_COMPRESS, P(&icc), 0) == ICERR_OK,
          "a valid frame does not compress");
    Check(output.biSizeImage <= capacity, "the compressed size exceeds the output buffer");
    Check(output.biCompression == driver.Compressed() && ckid == driver.Compressed() &&
              flags == AVIIF_KEYFRAME,
          "the compressed frame is not tagged as the library's key frame");
    CheckInitialised(buffer.data(), output.biSizeImage);
    return Encoded{output, std::vector<uint8_t>(buffer.data(), buffer.data() + output.biSizeImage)};
}

} // namespace tarv_fuzz
