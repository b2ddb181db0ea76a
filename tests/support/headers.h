// Frame descriptions as tests write them: the codec's FrameFormat for core
// tests, and the platform's 40-byte header for whatever speaks DriverProc.
#pragma once

#include "codec/format.h"
#include "driver/records.h"
#include "platform/platform.h"
#include "variants/registry.h"

#include <cstdint>
#include <ostream>

// Formats print field by field in failure messages.
namespace tarv {

inline void PrintTo(const FrameFormat& f, std::ostream* os)
{
    *os << "{compression 0x" << std::hex << f.compression << std::dec << ", " << f.width << "x"
        << f.height << ", bits " << f.bitCount << ", image " << f.sizeImage << "}";
}

} // namespace tarv

namespace tarv_test {

// A pointer as a message parameter.
template <typename T> LPARAM P(T* p)
{
    return reinterpret_cast<LPARAM>(p);
}

// A packed frame in the variant's proposed raw format and depth.
inline tarv::FrameFormat RawFormat(tarv::Variant v, int32_t width, int32_t height)
{
    const tarv::VariantInfo& info = tarv::Info(v);
    return tarv::PackedFrameFormat(width, height, info.rawFormats[0], info.bitCount);
}

// The compressed frame of that size and depth. sizeImage is the raw frame's:
// the payload's bytes go there once there is a payload.
inline tarv::FrameFormat CompressedFormat(tarv::Variant v, int32_t width, int32_t height)
{
    tarv::FrameFormat f = RawFormat(v, width, height);
    f.compression = tarv::Info(v).fourccValue;
    return f;
}

// The header of a format: 40 bytes, one plane, nothing else set.
inline BITMAPINFOHEADER Header(const tarv::FrameFormat& f)
{
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = f.width;
    h.biHeight = f.height;
    h.biPlanes = 1;
    h.biBitCount = f.bitCount;
    h.biCompression = f.compression;
    h.biSizeImage = f.sizeImage;
    return h;
}

inline BITMAPINFOHEADER RawHeader(tarv::Variant v, int32_t width, int32_t height)
{
    return Header(RawFormat(v, width, height));
}

inline BITMAPINFOHEADER CompressedHeader(tarv::Variant v, int32_t width, int32_t height)
{
    return Header(CompressedFormat(v, width, height));
}

// The records of one frame each way, as hosts fill them.
inline ICCOMPRESS CompressRecord(BITMAPINFOHEADER* input, const void* pixels,
                                 BITMAPINFOHEADER* output, void* buffer, DWORD* ckid, DWORD* flags)
{
    ICCOMPRESS icc{};
    icc.lpbiInput = input;
    icc.lpInput = const_cast<void*>(pixels);
    icc.lpbiOutput = output;
    icc.lpOutput = buffer;
    icc.lpckid = ckid;
    icc.lpdwFlags = flags;
    return icc;
}

inline ICDECOMPRESS DecompressRecord(BITMAPINFOHEADER* input, const void* payload,
                                     BITMAPINFOHEADER* output, void* pixels, DWORD flags = 0)
{
    ICDECOMPRESS icd{};
    icd.dwFlags = flags;
    icd.lpbiInput = input;
    icd.lpInput = const_cast<void*>(payload);
    icd.lpbiOutput = output;
    icd.lpOutput = pixels;
    return icd;
}

} // namespace tarv_test
