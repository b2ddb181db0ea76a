// A codec library driven the way a host drives it: the shared library is loaded
// at run time and spoken to through its one export, DriverProc, with the
// platform's messages and records. Nothing of the codec is linked into the test.
//
// The including test names the library under test with TARV_LIBRARY (its path).
#pragma once

#include "platform/platform.h"

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
#include <vector>

#ifndef TARV_LIBRARY
#error "TARV_LIBRARY must name the codec library under test"
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

namespace driver_host {

using Bytes = std::vector<uint8_t>;
using DriverProcFn = LRESULT (*)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);

template <typename T> LPARAM P(T* p)
{
    return reinterpret_cast<LPARAM>(p);
}

inline BITMAPINFOHEADER Filled(uint8_t byte)
{
    BITMAPINFOHEADER h;
    std::memset(&h, byte, sizeof h);
    return h;
}

// True while the library is mapped into the process.
inline bool Resident()
{
    void* h = dlopen(TARV_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    if (h != nullptr)
        dlclose(h);
    return h != nullptr;
}

// One load of the library. It keeps its wrapper in a global, so each load is a
// fresh driver, and closing the only handle unloads it.
class Library {
public:
    Library() : m_handle(dlopen(TARV_LIBRARY, RTLD_NOW | RTLD_LOCAL))
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
    ICCOMPRESS icc{};
    icc.lpbiInput = &input;
    icc.lpInput = source.data();
    icc.lpbiOutput = &header;
    icc.lpOutput = buffer.data();
    icc.lpckid = &ckid;
    icc.lpdwFlags = &flags;
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
                          const BITMAPINFOHEADER& out, Bytes& pixels)
{
    BITMAPINFOHEADER input = frame.header, output = out;
    Bytes payload = frame.payload;
    ICDECOMPRESS icd{};
    icd.lpbiInput = &input;
    icd.lpInput = payload.data();
    icd.lpbiOutput = &output;
    icd.lpOutput = pixels.data();
    return lib.Send(id, ICM_DECOMPRESS, P(&icd));
}

// A loaded library and one open of it. `fourcc` is the compressed format the
// library writes.
class DriverHost : public testing::Test {
protected:
    explicit DriverHost(DWORD compressed) : fourcc(compressed) {}

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
        return driver_host::Compress(lib, id, fourcc, in, pixels, capacity, out);
    }
    LRESULT Decompress(const Encoded& frame, const BITMAPINFOHEADER& out, Bytes& pixels) const
    {
        return driver_host::Decompress(lib, id, frame, out, pixels);
    }

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

} // namespace driver_host
