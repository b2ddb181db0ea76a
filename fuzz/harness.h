// What the fuzz targets share: the two codec libraries linked into one
// program, a reader over the fuzz input, exact-size heap blocks, and the byte
// layout of the message-sequence input (which the seeds write).
#pragma once

#include "platform/platform.h"
#include "tests/support/headers.h"
#include "variants/variant.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <span>
#include <vector>

// The drivers of libtarvr and libtarvy, compiled under prefixed names
// (fuzz/targets.cmake). ReleaseInstances is what unloading the library does.
extern "C" LRESULT WINAPI TarvFuzz_tarvr_DriverProc(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);
extern "C" LRESULT WINAPI TarvFuzz_tarvy_DriverProc(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);
void TarvFuzz_tarvr_ReleaseInstances() noexcept;
void TarvFuzz_tarvy_ReleaseInstances() noexcept;

namespace tarv_fuzz {

// One codec library and the variant it carries.
struct Driver {
    LRESULT(WINAPI* proc)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);
    void (*unload)();
    const tarv::VariantInfo& variant;

    DWORD Compressed() const { return variant.fourccValue; }
    // Its uncompressed formats by a fuzz choice of three: the proposed one
    // comes up again where the variant has only two.
    DWORD Raw(unsigned choice) const
    {
        return variant.rawFormats[choice % 3 % variant.rawFormats.size()];
    }
    // Meaningful bytes a pixel in a packed row.
    size_t PixelBytes() const { return variant.bitCount / 8u; }
};

// 0 is tarvr (RGB24), anything else tarvy (YUY2).
const Driver& DriverFor(unsigned variant);

// Opens an instance as the platform does, in the library as earlier runs left
// it loaded, and sets both codec objects to an empty frame, so every run
// starts from the same configuration. The driver id, or 0 when the open is
// refused. The caller closes it.
DWORD_PTR Open(const Driver& driver);
// The same after loading the library afresh (every instance dropped).
DWORD_PTR FreshOpen(const Driver& driver);

using tarv_test::P;

// Writes why to stderr and aborts: a fault of the codec that no sanitizer sees.
[[noreturn]] void Fail(const char* what);
inline void Check(bool ok, const char* what)
{
    if (!ok)
        Fail(what);
}

// Under MemorySanitizer, reports bytes the codec claims to have written but
// left uninitialised. Nothing elsewhere.
void CheckInitialised(const void* p, size_t n);

// Reads the fuzz input front to back; past its end every read gives 0.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    bool Empty() const { return m_pos >= m_bytes.size(); }
    uint8_t U8() { return m_pos < m_bytes.size() ? m_bytes[m_pos++] : 0; }
    uint32_t U32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(U8()) << (8 * i);
        return v;
    }
    std::span<const uint8_t> Rest()
    {
        const size_t at = m_pos < m_bytes.size() ? m_pos : m_bytes.size();
        m_pos = m_bytes.size();
        return m_bytes.subspan(at);
    }

private:
    std::span<const uint8_t> m_bytes;
    size_t m_pos = 0;
};

// A heap block of exactly `size` bytes (a valid pointer even for 0), so that
// any access past what a caller would have provided trips AddressSanitizer.
// Left uninitialised: a reader of it must first fill it, or the codec must.
class Block {
public:
    explicit Block(size_t size) : m_data(new uint8_t[size]), m_size(size) {}
    uint8_t* data() const { return m_data.get(); }
    size_t size() const { return m_size; }

private:
    std::unique_ptr<uint8_t[]> m_data;
    size_t m_size;
};

// Blocks the harness allocates for one call stay below this; a call that would
// need more is skipped.
inline constexpr int64_t kMaxBlockBytes = 8 << 20;

// Bytes of the packed frame a header describes, as a host sizes its buffer:
// rows of PackedRowBytes(width, bitCount), |height| of them; 0 when the width
// is negative.
int64_t FrameBytes(const BITMAPINFOHEADER& h);

// True when a header handed to a query or begin could make the codec set up a
// frame too large for a fuzz run: plane 0 between 1 MiB and the 2^31 bytes
// past which the codec must refuse it.
bool TooLargeToConfigure(const BITMAPINFOHEADER& h);

// The header a host would use for a frame of the driver's raw format (w x h,
// 24-bit RGB or 16-bit YUY2), or of its compressed format.
inline BITMAPINFOHEADER RawHeader(const Driver& driver, int32_t w, int32_t h)
{
    return tarv_test::RawHeader(driver.variant.variant, w, h);
}
inline BITMAPINFOHEADER CompressedHeader(const Driver& driver, int32_t w, int32_t h)
{
    return tarv_test::CompressedHeader(driver.variant.variant, w, h);
}

// A compressed frame and the header ICM_COMPRESS wrote for it.
struct Encoded {
    BITMAPINFOHEADER header{};
    std::vector<uint8_t> payload;
};

// One ICM_COMPRESS of `frame` into an output block of exactly `capacity`
// bytes, what ICM_COMPRESS_GET_SIZE answered; anything but a tagged key
// frame that fits is a failure.
Encoded CompressOrFail(const Driver& driver, DWORD_PTR id, const BITMAPINFOHEADER& in,
                       const Block& frame, size_t capacity);

// ---- The message-sequence input -------------------------------------------------
//
// byte 0: the library (DriverFor). Then operations until the input ends, at
// most kMaxOperations of them:
//   0x00-0xBF  call kMessages[op % size], then kParamBytes parameter bytes
//   0xC0-0xDF  call the message number in the next 4 bytes, then the parameters
//   0xE0-0xEF  set a field of header slot op & 3: field, then 4 value bytes
//   0xF0-0xF7  fill slot op & 3 with a host's header: kind, width, height
//   0xF8       unload the library (the driver id becomes 0)
//   others     nothing
namespace messages {

inline constexpr UINT kMessages[] = {
    DRV_LOAD,
    DRV_ENABLE,
    DRV_OPEN,
    DRV_CLOSE,
    DRV_DISABLE,
    DRV_FREE,
    DRV_CONFIGURE,
    DRV_QUERYCONFIGURE,
    DRV_INSTALL,
    DRV_REMOVE,
    ICM_COMPRESS_GET_FORMAT,
    ICM_COMPRESS_GET_SIZE,
    ICM_COMPRESS_QUERY,
    ICM_COMPRESS_BEGIN,
    ICM_COMPRESS,
    ICM_COMPRESS_END,
    ICM_DECOMPRESS_GET_FORMAT,
    ICM_DECOMPRESS_QUERY,
    ICM_DECOMPRESS_BEGIN,
    ICM_DECOMPRESS,
    ICM_DECOMPRESS_END,
    ICM_DECOMPRESS_SET_PALETTE,
    ICM_DECOMPRESS_GET_PALETTE,
    ICM_GETQUALITY,
    ICM_SETQUALITY,
    ICM_COMPRESS_FRAMES_INFO,
    ICM_GETSTATE,
    ICM_SETSTATE,
    ICM_GETINFO,
    ICM_CONFIGURE,
    ICM_ABOUT,
    ICM_GETDEFAULTQUALITY,
};
inline constexpr size_t kMessageCount = std::size(kMessages);

inline constexpr uint8_t kRawCall = 0xC0;
inline constexpr uint8_t kSetField = 0xE0;
inline constexpr uint8_t kTemplate = 0xF0;
inline constexpr uint8_t kUnload = 0xF8;
inline constexpr size_t kMaxOperations = 64;
inline constexpr unsigned kSlots = 4;

// The parameter bytes of a call. A record choice modulo 5 is a header slot
// (0-3) or a null pointer (4); for an output record, modulo 6, 5 takes the
// input record again.
struct Params {
    uint8_t first;   // lParam1's header slot, or whether the record is present
    uint8_t second;  // lParam2's header slot
    uint8_t in;      // ICCOMPRESS / ICDECOMPRESS: the input header
    uint8_t out;     // their output header
    uint8_t flags;   // kFlag* bits
    uint8_t a, b, c; // sizes, field values, pattern seeds
};
inline constexpr size_t kParamBytes = 8;
inline constexpr uint8_t kNull = 4;
inline constexpr uint8_t kAliasInput = 5;

inline constexpr uint8_t kFlagIdZero = 0x01;       // call with driver id 0
inline constexpr uint8_t kFlagNoInput = 0x02;      // lpInput null
inline constexpr uint8_t kFlagNoOutput = 0x04;     // lpOutput null
inline constexpr uint8_t kFlagNoCkid = 0x08;       // lpckid, lpdwFlags null
inline constexpr uint8_t kFlagLastFrame = 0x10;    // decompress the last compressed frame
inline constexpr uint8_t kFlagDamage = 0x20;       // ... with byte a (mod size) xor b
inline constexpr uint8_t kFlagRandomFields = 0x40; // ICOPEN / ICCOMPRESS numbers from a, b, c

// Header fields by index, for kSetField.
inline constexpr size_t kFieldCount = 11;
// Value kinds (the field byte's top two bits): the 4 bytes as they are; a
// small signed value (first byte, -64..63); an entry of kSpecialValues.
inline constexpr uint8_t kValueRaw = 0x00;
inline constexpr uint8_t kValueSmall = 0x40;
inline constexpr uint8_t kValueSpecial = 0x80;

// Kinds of kTemplate headers.
inline constexpr uint8_t kTemplateRaw = 0;
inline constexpr uint8_t kTemplateCompressed = 1;

// Index of a message in kMessages.
constexpr uint8_t MessageIndex(UINT message)
{
    for (size_t i = 0; i < kMessageCount; ++i) {
        if (kMessages[i] == message)
            return static_cast<uint8_t>(i);
    }
    return 0xFF;
}

} // namespace messages
} // namespace tarv_fuzz
