// Windows records and constants that the codec and the driver speak in.
// On Windows they come from the system headers. Elsewhere they are defined
// here with the same layouts, from fixed-width types, so the same code builds
// natively for tests, tools and benchmarks.
#pragma once

#include <cstdint>

#if defined(_WIN32)

#include <windows.h>

#include <vfw.h>

#else

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = uint32_t;
using BOOL = int32_t;
using LPVOID = void*;
using LPDWORD = DWORD*;
using DWORD_PTR = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
using LPBITMAPINFOHEADER = BITMAPINFOHEADER*;

struct ICCOMPRESS {
    DWORD dwFlags;
    LPBITMAPINFOHEADER lpbiOutput;
    LPVOID lpOutput;
    LPBITMAPINFOHEADER lpbiInput;
    LPVOID lpInput;
    LPDWORD lpckid;
    LPDWORD lpdwFlags;
    LONG lFrameNum;
    DWORD dwFrameSize;
    DWORD dwQuality;
    LPBITMAPINFOHEADER lpbiPrev;
    LPVOID lpPrev;
};

struct ICDECOMPRESS {
    DWORD dwFlags;
    LPBITMAPINFOHEADER lpbiInput;
    LPVOID lpInput;
    LPBITMAPINFOHEADER lpbiOutput;
    LPVOID lpOutput;
    DWORD ckid;
};

#define WINAPI

using WCHAR = char16_t; // UTF-16 code units, as on Windows; never wchar_t
using HDRVR = struct HDRVR__*;

struct ICINFO {
    DWORD dwSize;
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwVersion;
    DWORD dwVersionICM;
    WCHAR szName[16];
    WCHAR szDescription[128];
    WCHAR szDriver[128];
};

struct ICOPEN {
    DWORD dwSize;
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwVersion;
    DWORD dwFlags;
    LRESULT dwError;
    LPVOID pV1Reserved;
    LPVOID pV2Reserved;
    DWORD dnDevNode;
};

// Driver messages.
constexpr UINT DRV_LOAD = 0x0001;
constexpr UINT DRV_ENABLE = 0x0002;
constexpr UINT DRV_OPEN = 0x0003;
constexpr UINT DRV_CLOSE = 0x0004;
constexpr UINT DRV_DISABLE = 0x0005;
constexpr UINT DRV_FREE = 0x0006;
constexpr UINT DRV_CONFIGURE = 0x0007;
constexpr UINT DRV_QUERYCONFIGURE = 0x0008;
constexpr UINT DRV_INSTALL = 0x0009;
constexpr UINT DRV_REMOVE = 0x000A;
constexpr UINT DRV_USER = 0x4000;

// Compression-manager messages.
constexpr UINT ICM_USER = DRV_USER;
constexpr UINT ICM_COMPRESS_GET_FORMAT = ICM_USER + 4;
constexpr UINT ICM_COMPRESS_GET_SIZE = ICM_USER + 5;
constexpr UINT ICM_COMPRESS_QUERY = ICM_USER + 6;
constexpr UINT ICM_COMPRESS_BEGIN = ICM_USER + 7;
constexpr UINT ICM_COMPRESS = ICM_USER + 8;
constexpr UINT ICM_COMPRESS_END = ICM_USER + 9;
constexpr UINT ICM_DECOMPRESS_GET_FORMAT = ICM_USER + 10;
constexpr UINT ICM_DECOMPRESS_QUERY = ICM_USER + 11;
constexpr UINT ICM_DECOMPRESS_BEGIN = ICM_USER + 12;
constexpr UINT ICM_DECOMPRESS = ICM_USER + 13;
constexpr UINT ICM_DECOMPRESS_END = ICM_USER + 14;
constexpr UINT ICM_DECOMPRESS_SET_PALETTE = ICM_USER + 29;
constexpr UINT ICM_DECOMPRESS_GET_PALETTE = ICM_USER + 30;
constexpr UINT ICM_GETQUALITY = ICM_USER + 31;
constexpr UINT ICM_SETQUALITY = ICM_USER + 32;
constexpr UINT ICM_COMPRESS_FRAMES_INFO = ICM_USER + 70;
constexpr UINT ICM_RESERVED_LOW = DRV_USER + 0x1000;
constexpr UINT ICM_GETSTATE = ICM_RESERVED_LOW + 0;
constexpr UINT ICM_SETSTATE = ICM_RESERVED_LOW + 1;
constexpr UINT ICM_GETINFO = ICM_RESERVED_LOW + 2;
constexpr UINT ICM_CONFIGURE = ICM_RESERVED_LOW + 10;
constexpr UINT ICM_ABOUT = ICM_RESERVED_LOW + 11;
constexpr UINT ICM_GETDEFAULTQUALITY = ICM_RESERVED_LOW + 30;

constexpr DWORD ICVERSION = 0x0104;

// Stand-in for winmm's default driver procedure: nothing to delegate to here.
inline LRESULT DefDriverProc(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM)
{
    return 0;
}

constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_MEMORY = -3;
constexpr LRESULT ICERR_ERROR = -100;

constexpr DWORD AVIIF_KEYFRAME = 0x10;
constexpr DWORD BI_RGB = 0;

#endif

static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is the 40-byte Windows record");
static_assert(sizeof(ICCOMPRESS) == (sizeof(void*) == 8 ? 88 : 48),
              "ICCOMPRESS has the Windows layout");
static_assert(sizeof(ICINFO) == 568, "ICINFO is the 568-byte Windows record");
static_assert(sizeof(ICOPEN) == (sizeof(void*) == 8 ? 56 : 36), "ICOPEN has the Windows layout");
static_assert(sizeof(ICDECOMPRESS) == (sizeof(void*) == 8 ? 48 : 24),
              "ICDECOMPRESS has the Windows layout");

// A FourCC: four ASCII characters, the first in the lowest byte.
constexpr DWORD MakeFourCC(char a, char b, char c, char d)
{
    return static_cast<DWORD>(static_cast<uint8_t>(a)) |
           static_cast<DWORD>(static_cast<uint8_t>(b)) << 8 |
           static_cast<DWORD>(static_cast<uint8_t>(c)) << 16 |
           static_cast<DWORD>(static_cast<uint8_t>(d)) << 24;
}

// The platform's uncompressed-format codes that the variants accept besides BI_RGB.
inline constexpr DWORD kFourCC_DIB = MakeFourCC('D', 'I', 'B', ' ');
// fccType of video codecs.
inline constexpr DWORD kFourCC_vidc = MakeFourCC('v', 'i', 'd', 'c');
