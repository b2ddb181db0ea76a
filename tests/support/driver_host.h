// A codec library driven the way a host drives it: the shared library is loaded
// at run time and spoken to through its one export, DriverProc, with the
// platform's messages and records.
//
// The including test gets each library's path from CMake, by its name in the
// variant table: TARV_LIBRARY_tarvy and TARV_LIBRARY_tarvr.
#pragma once

#include "platform/platform.h"
#include "tests/support/bytes.h"
#include "tests/support/headers.h"
#include "variants/registry.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <malloc.h>
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
extern "C" size_t __sanitizer_get_current_allocated_bytes(); // the sanitizer runtime's
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string_view>
#include <utility>

#if !defined(TARV_LIBRARY_tarvy) || !defined(TARV_LIBRARY_tarvr)
#error "TARV_LIBRARY_tarvy and TARV_LIBRARY_tarvr must name the codec libraries under test"
#endif

// Headers compare byte by byte and print field by field.
inline bool operator==(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline void PrintTo(const BITMAPINFOHEADER& h, std::ostream* os)
{
    *os << "{size " << h.biSize << ", " << h.biWidth << "x" << h.biHeight << ", planes "
        << h.biPlanes << ", bits " << h.biBitCount << ", compression 0x" << std::hex
        << h.biCompression << std::dec << ", image " << h.biSizeImage << ", ppm "
        << h.biXPelsPerMeter << "/" << h.biYPelsPerMeter << ", colours " << h.biClrUsed << "/"
        << h.biClrImportant << "}";
}

namespace tarv_test {

using DriverProcFn = LRESULT (*)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);

// The codec library that carries a variant.
inline const char* LibraryPath(tarv::Variant v)
{
    constexpr std::pair<std::string_view, const char*> kPaths[] = {{"tarvy", TARV_LIBRARY_tarvy},
                                                                   {"tarvr", TARV_LIBRARY_tarvr}};
    for (const auto& [name, path] : kPaths)
        if (name == tarv::Info(v).library)
            return path;
    return "(no library carries this variant)";
}

inline BITMAPINFOHEADER Filled(uint8_t byte)
{
    BITMAPINFOHEADER h;
    std::memset(&h, byte, sizeof h);
    return h;
}

// True while the library is mapped into the process.
inline bool Resident(const char* path)
{
    void* h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (h != nullptr)
        dlclose(h);
    return h != nullptr;
}

// One load of the library. It keeps its wrapper in a global, so each load is a
// fresh driver, and closing the only handle unloads it.
class Library {
public:
    explicit Library(const char* path) : m_handle(dlopen(path, RTLD_NOW | RTLD_LOCAL))
    {
        if (m_handle != nullptr)
            m_proc = reinterpret_cast<DriverProcFn>(dlsym(m_handle, "DriverProc"));
    }
    ~Library()
    {
        if (m_handle != nullptr)
            dlclose(m_handle);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool Loaded() const { return m_proc != nullptr; }
    LRESULT Send(DWORD_PTR id, UINT message, LPARAM p1 = 0, LPARAM p2 = 0) const
    {
        return m_proc(id, nullptr, message, p1, p2);
    }
    // An open as the platform makes it, with a video-codec record.
    DWORD_PTR Open(DWORD handler = 0) const
    {
        ICOPEN open{};
        open.dwSize = sizeof open;
        open.fccType = kFourCC_vidc;
        open.fccHandler = handler;
        return static_cast<DWORD_PTR>(Send(0, DRV_OPEN, 0, P(&open)));
    }

private:
    void* m_handle;
    DriverProcFn m_proc = nullptr;
};

struct Encoded {
    BITMAPINFOHEADER header{};
    Bytes payload;
};

// One ICM_COMPRESS to instance `id` into a heap block of exactly `capacity`
// bytes, so that a write past the size the host was told trips the sanitizer.
// `fourcc` is the compressed format the library writes.
inline LRESULT Compress(const Library& lib, DWORD_PTR id, DWORD fourcc, const BITMAPINFOHEADER& in,
                        const Bytes& pixels, LRESULT capacity, Encoded* out = nullptr)
{
    BITMAPINFOHEADER input = in, header = Filled(0xCD);
    Bytes source = pixels, buffer(static_cast<size_t>(capacity));
    DWORD ckid = 0, flags = 0;
    const ICCOMPRESS icc =
        CompressRecord(&input, source.data(), &header, buffer.data(), &ckid, &flags);
    const LRESULT rc = lib.Send(id, ICM_COMPRESS, P(&icc));
    if (rc == ICERR_OK) {
        EXPECT_EQ(ckid, fourcc);
        EXPECT_EQ(flags, AVIIF_KEYFRAME);
        EXPECT_LE(header.biSizeImage, buffer.size());
        buffer.resize(std::min<size_t>(buffer.size(), header.biSizeImage));
        if (out != nullptr)
            *out = Encoded{header, buffer};
    }
    return rc;
}

// One ICM_DECOMPRESS to instance `id`; the payload sits in a block of exactly its size.
inline LRESULT Decompress(const Library& lib, DWORD_PTR id, const Encoded& frame,
                          const BITMAPINFOHEADER& out, Bytes& pixels, DWORD flags = 0)
{
    BITMAPINFOHEADER input = frame.header, output = out;
    Bytes payload = frame.payload;
    const ICDECOMPRESS icd =
        DecompressRecord(&input, payload.data(), &output, pixels.data(), flags);
    return lib.Send(id, ICM_DECOMPRESS, P(&icd));
}

// The library of a variant, loaded, and one open of it.
class DriverHost : public testing::Test {
protected:
    explicit DriverHost(tarv::Variant v)
        : variant(v), info(tarv::Info(v)), fourcc(info.fourccValue), lib(LibraryPath(v))
    {
    }

    void SetUp() override { ASSERT_TRUE(lib.Loaded()) << dlerror(); }
    void OpenDriver()
    {
        id = lib.Open(fourcc);
        ASSERT_NE(id, 0u);
    }
    LRESULT Send(UINT message, LPARAM p1 = 0, LPARAM p2 = 0) const
    {
        return lib.Send(id, message, p1, p2);
    }
    LRESULT Compress(const BITMAPINFOHEADER& in, const Bytes& pixels, LRESULT capacity,
                     Encoded* out = nullptr) const
    {
        return tarv_test::Compress(lib, id, fourcc, in, pixels, capacity, out);
    }
    LRESULT Decompress(const Encoded& frame, const BITMAPINFOHEADER& out, Bytes& pixels,
                       DWORD flags = 0) const
    {
        return tarv_test::Decompress(lib, id, frame, out, pixels, flags);
    }

    const tarv::Variant variant;
    const tarv::VariantInfo& info;
    const DWORD fourcc;
    Library lib;
    DWORD_PTR id = 0;
};

// Bytes the process has allocated and not freed. The sanitizers count a block
// as freed when it enters quarantine; glibc counts heap and mapped blocks apart.
inline size_t HeapInUse()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
#endif
}

} // namespace tarv_test
