// tarvy.dll and tarvr.dll driven the way Windows capture and editing programs
// drive them: through msvfw32 and avifil32 alone, with the DLLs beside this
// program. Usage: tarv_vfw_host OUTDIR, where OUTDIR (a Windows path) receives
// the AVI files that the FFmpeg check reads.
#include "tests/support/frames.h"
#include "tests/support/headers.h"

#include <windows.h>

#include <psapi.h>
#include <vfw.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Checks may fail on several threads at once; the context is set before they start.
std::atomic<int> g_failures{0};
std::string g_context;

bool Fail(int line, const char* what)
{
    ++g_failures;
    std::printf("FAILED line %d [%s]: %s\n", line, g_context.c_str(), what);
    std::fflush(stdout);
    return false;
}

#define CHECK(cond) ((cond) ? true : Fail(__LINE__, #cond))

// Names what the checks below are about, for the failure messages.
struct Context {
    explicit Context(const char* what, LONG w = 0, LONG h = 0)
    {
        char text[128];
        std::snprintf(text, sizeof text, "%s %ldx%ld", what, static_cast<long>(w),
                      static_cast<long>(h));
        g_context = w > 0 ? text : what;
    }
};

using tarv::Info;
using tarv::Variant;
using tarv_test::Bytes;
using tarv_test::Content;
using tarv_test::RawHeader;

// The DLL that carries the variant, beside this program.
std::string Dll(Variant v)
{
    return std::string(Info(v).library) + ".dll";
}

// Hosts hand these buffers over with no length: a codec that writes past what
// it announced lands in the guard.
constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

// Bytes of a packed frame in this format, rows either way up.
size_t FrameSize(const BITMAPINFOHEADER& h)
{
    return tarv::PackedFrameFormat(h.biWidth, h.biHeight, h.biCompression, h.biBitCount).sizeImage;
}

// Photo-like content that compresses, or noise that does not.
Bytes MakeFrame(Variant v, LONG w, LONG h, bool noise, uint32_t seed)
{
    return tarv_test::Frame(tarv_test::RawFormat(v, w, h), noise ? Content::Noise : Content::Photo,
                            seed);
}

// The pixels agree: row padding is no part of the picture. A top-down
// `decoded` lies upside down for a bottom-up variant.
bool SamePicture(Variant v, LONG w, LONG h, const Bytes& source, const uint8_t* decoded,
                 bool topDown = false)
{
    return tarv_test::PictureDifference(v, decoded, tarv_test::RawFormat(v, w, topDown ? -h : h),
                                        source.data(), tarv_test::RawFormat(v, w, h))
        .empty();
}

// A text field holds `text` and its terminator.
template <class Char> bool SameText(const WCHAR* field, const Char* text)
{
    for (size_t i = 0;; ++i) {
        if (field[i] != static_cast<WCHAR>(text[i]))
            return false;
        if (text[i] == 0)
            return true;
    }
}

bool GuardIntact(const Bytes& b, size_t size)
{
    return b.size() == size + kGuard &&
           std::all_of(b.begin() + static_cast<std::ptrdiff_t>(size), b.end(),
                       [](uint8_t x) { return x == kGuardByte; });
}

// A compressed frame and the header that describes it.
struct Encoded {
    BITMAPINFOHEADER header;
    Bytes data;
};

// One ICCompress between ICCompressBegin and ICCompressEnd, into a buffer of
// the size the codec proposed.
Encoded Compress(HIC hic, const BITMAPINFOHEADER& proposed, BITMAPINFOHEADER input,
                 const Bytes& frame, LONG index)
{
    Encoded e{proposed, Bytes(proposed.biSizeImage + kGuard, kGuardByte)};
    DWORD ckid = 0, flags = 0;
    const DWORD r = ICCompress(hic, ICCOMPRESS_KEYFRAME, &e.header, e.data.data(), &input,
                               const_cast<uint8_t*>(frame.data()), &ckid, &flags, index, 0,
                               static_cast<DWORD>(ICQUALITY_DEFAULT), nullptr, nullptr);
    if (!CHECK(r == ICERR_OK)) {
        e.data.clear();
        return e;
    }
    CHECK(GuardIntact(e.data, proposed.biSizeImage));
    CHECK(flags & AVIIF_KEYFRAME);
    CHECK(e.header.biCompression == proposed.biCompression);
    CHECK(e.header.biSizeImage > 0 && e.header.biSizeImage <= proposed.biSizeImage);
    e.data.resize(std::min<size_t>(e.header.biSizeImage, proposed.biSizeImage));
    return e;
}

// One ICDecompress into a buffer of the output format's size.
Bytes Decompress(HIC hic, const Encoded& e, BITMAPINFOHEADER output)
{
    const size_t size = FrameSize(output);
    Bytes picture(size + kGuard, kGuardByte);
    BITMAPINFOHEADER input = e.header;
    const DWORD r =
        ICDecompress(hic, 0, &input, const_cast<uint8_t*>(e.data.data()), &output, picture.data());
    CHECK(r == ICERR_OK);
    CHECK(GuardIntact(picture, size));
    return picture;
}

// Committed private memory, as Task Manager shows it. Windows reports it twice,
// as PrivateUsage and PagefileUsage; Wine fills in only the latter.
SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc),
                         sizeof pmc);
    return std::max(pmc.PrivateUsage, pmc.PagefileUsage);
}

// ---- Tests -------------------------------------------------------------------

// Hosts open a codec for one clip and close it after: each open configures a
// full HD frame, each last close unloads the DLL, and nothing may stay behind.
void TestRepeatedOpen(Variant v)
{
    Context c("repeated open", 1920, 1080);
    BITMAPINFOHEADER raw = RawHeader(v, 1920, 1080);
    const DWORD fcc = Info(v).fourccValue;
    SIZE_T baseline = 0, worst = 0;
    for (int i = 0; i <= 30; ++i) {
        const SIZE_T before = PrivateBytes();
        HIC hic = ICOpen(ICTYPE_VIDEO, fcc, ICMODE_COMPRESS);
        if (!CHECK(hic != nullptr))
            return;
        BITMAPINFOHEADER comp{};
        CHECK(ICCompressQuery(hic, &raw, nullptr) == ICERR_OK);
        CHECK(ICCompressGetFormat(hic, &raw, &comp) == ICERR_OK);
        CHECK(ICDecompressQuery(hic, &comp, nullptr) == ICERR_OK);
        // Proves the measure sees the codec's buffers at all.
        CHECK(PrivateBytes() > before + 2 * raw.biSizeImage);
        ICClose(hic);
        CHECK(GetModuleHandleA(Dll(v).c_str()) == nullptr);
        const SIZE_T closed = PrivateBytes();
        if (i == 0) // the first round loads what Wine keeps for good
            baseline = closed;
        else
            worst = std::max(worst, closed > baseline ? closed - baseline : 0);
    }
    std::printf("%s: private memory after 30 opens grew by at most %zu KB\n", Info(v).fourcc,
                static_cast<size_t>(worst / 1024));
    CHECK(worst < 12u << 20);
}

void TestInfoAndLocate(Variant v)
{
    Context c("info and locate");
    const DWORD fcc = Info(v).fourccValue;
    HIC hic = ICOpen(ICTYPE_VIDEO, fcc, ICMODE_QUERY);
    if (!CHECK(hic != nullptr))
        return;
    ICINFO info{};
    CHECK(ICGetInfo(hic, &info, sizeof info) == sizeof info);
    CHECK(info.fccType == ICTYPE_VIDEO && info.fccHandler == fcc);
    CHECK(SameText(info.szName, Info(v).fourcc));
    CHECK(SameText(info.szDescription, Info(v).description));
    ICClose(hic);

    // By handler for compression; by format alone for decompression, as a
    // player meets a stream it has no handler for.
    BITMAPINFOHEADER raw = RawHeader(v, 64, 48);
    hic = ICLocate(ICTYPE_VIDEO, Info(v).fourccValue, &raw, nullptr, ICMODE_COMPRESS);
    CHECK(hic != nullptr);
    BITMAPINFOHEADER comp{};
    if (hic != nullptr) {
        CHECK(ICCompressGetFormat(hic, &raw, &comp) == ICERR_OK);
        // Top-down input is refused up front rather than coded upside down.
        BITMAPINFOHEADER topDown = RawHeader(v, 64, -48);
        CHECK(ICCompressQuery(hic, &topDown, nullptr) != ICERR_OK);
        ICClose(hic);
    }
    hic = ICLocate(ICTYPE_VIDEO, 0, &comp, nullptr, ICMODE_DECOMPRESS);
    if (CHECK(hic != nullptr)) {
        ICINFO found{};
        ICGetInfo(hic, &found, sizeof found);
        CHECK(found.fccHandler == Info(v).fourccValue);
        ICClose(hic);
    }
}

// The full negotiation a capture program goes through, then decoding as a
// player does, including a top-down output.
void TestRoundTrip(Variant v, LONG w, LONG h)
{
    Context c("round trip", w, h);
    HIC enc = ICOpen(ICTYPE_VIDEO, Info(v).fourccValue, ICMODE_COMPRESS);
    HIC dec = ICOpen(ICTYPE_VIDEO, Info(v).fourccValue, ICMODE_DECOMPRESS);
    if (!CHECK(enc != nullptr && dec != nullptr))
        return;
    BITMAPINFOHEADER raw = RawHeader(v, w, h);
    CHECK(ICCompressQuery(enc, &raw, nullptr) == ICERR_OK);
    CHECK(ICCompressGetFormatSize(enc, &raw) == sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER comp;
    std::memset(&comp, 0xCD, sizeof comp);
    CHECK(ICCompressGetFormat(enc, &raw, &comp) == ICERR_OK);
    CHECK(comp.biSize == sizeof comp && comp.biCompression == Info(v).fourccValue &&
          comp.biWidth == w && comp.biHeight == h);
    CHECK(comp.biSizeImage == ICCompressGetSize(enc, &raw, &comp));
    CHECK(ICCompressQuery(enc, &raw, &comp) == ICERR_OK);
    CHECK(ICCompressBegin(enc, &raw, &comp) == ICERR_OK);
    std::vector<Bytes> frames;
    std::vector<Encoded> encoded;
    for (uint32_t i = 0; i < 3; ++i) {
        frames.push_back(MakeFrame(v, w, h, i == 1, i));
        encoded.push_back(Compress(enc, comp, raw, frames.back(), static_cast<LONG>(i)));
    }
    CHECK(ICCompressEnd(enc) == ICERR_OK);

    // Hosts hand over records that still hold an earlier format.
    BITMAPINFOHEADER out;
    std::memset(&out, 0xCD, sizeof out);
    CHECK(ICDecompressGetFormatSize(dec, &comp) == sizeof(BITMAPINFOHEADER));
    CHECK(ICDecompressGetFormat(dec, &comp, &out) == ICERR_OK);
    const BITMAPINFOHEADER expected = RawHeader(v, w, h);
    CHECK(out.biSize == expected.biSize && out.biWidth == w && out.biHeight == h &&
          out.biPlanes == 1 && out.biBitCount == Info(v).bitCount &&
          out.biCompression == Info(v).rawFormats[0] && out.biSizeImage == expected.biSizeImage);
    out = expected;
    CHECK(ICDecompressQuery(dec, &comp, &out) == ICERR_OK);
    CHECK(ICDecompressBegin(dec, &comp, &out) == ICERR_OK);
    for (size_t i = 0; i < frames.size(); ++i)
        CHECK(SamePicture(v, w, h, frames[i], Decompress(dec, encoded[i], out).data()));
    CHECK(ICDecompressEnd(dec) == ICERR_OK);

    BITMAPINFOHEADER topDown = RawHeader(v, w, -h);
    CHECK(ICDecompressQuery(dec, &comp, &topDown) == ICERR_OK);
    CHECK(ICDecompressBegin(dec, &comp, &topDown) == ICERR_OK);
    CHECK(SamePicture(v, w, h, frames[1], Decompress(dec, encoded[1], topDown).data(), true));
    CHECK(ICDecompressEnd(dec) == ICERR_OK);
    ICClose(enc);
    ICClose(dec);
}

// ICSeqCompressFrame as capture programs use it: no query first, the output
// format left to the codec, and frames that do not compress among them.
void TestSequence(Variant v, LONG w, LONG h)
{
    Context c("ICSeqCompressFrame", w, h);
    COMPVARS cv{};
    cv.cbSize = sizeof cv;
    cv.dwFlags = ICMF_COMPVARS_VALID;
    cv.fccType = ICTYPE_VIDEO;
    cv.fccHandler = Info(v).fourccValue;
    cv.hic = ICOpen(ICTYPE_VIDEO, Info(v).fourccValue, ICMODE_COMPRESS);
    cv.lQ = ICQUALITY_DEFAULT;
    cv.lKey = 1;
    if (!CHECK(cv.hic != nullptr))
        return;
    BITMAPINFO in{};
    in.bmiHeader = RawHeader(v, w, h);
    if (!CHECK(ICSeqCompressFrameStart(&cv, &in))) {
        ICCompressorFree(&cv);
        return;
    }
    const BITMAPINFOHEADER comp = cv.lpbiOut->bmiHeader;
    CHECK(comp.biCompression == Info(v).fourccValue && comp.biWidth == w && comp.biHeight == h);
    std::vector<Bytes> frames;
    std::vector<Encoded> encoded;
    for (uint32_t i = 0; i < 5; ++i) {
        frames.push_back(MakeFrame(v, w, h, i % 2 == 1 || i == 4, i));
        // Wine sets `key` from its own request flags, not the codec's answer:
        // ICCompress's own flags are checked elsewhere.
        BOOL key = FALSE;
        LONG size = 0;
        const void* bits = ICSeqCompressFrame(&cv, 0, frames.back().data(), &key, &size);
        if (!CHECK(bits != nullptr && size > 0))
            break;
        Encoded e{comp, Bytes(static_cast<const uint8_t*>(bits),
                              static_cast<const uint8_t*>(bits) + size)};
        e.header.biSizeImage = static_cast<DWORD>(size);
        encoded.push_back(e);
    }
    ICSeqCompressFrameEnd(&cv);
    ICCompressorFree(&cv);

    HIC dec = ICOpen(ICTYPE_VIDEO, Info(v).fourccValue, ICMODE_DECOMPRESS);
    BITMAPINFOHEADER out = RawHeader(v, w, h);
    CHECK(ICDecompressBegin(dec, &comp, &out) == ICERR_OK);
    for (size_t i = 0; i < encoded.size(); ++i)
        CHECK(SamePicture(v, w, h, frames[i], Decompress(dec, encoded[i], out).data()));
    ICDecompressEnd(dec);
    ICClose(dec);
}

// ICImageDecompress, the one-call path for a single picture: the codec found
// by format, with the output format given or left to the codec.
void TestImageDecompress(Variant v, LONG w, LONG h)
{
    Context c("ICImageDecompress", w, h);
    const BITMAPINFOHEADER raw = RawHeader(v, w, h);
    const Bytes frame = MakeFrame(v, w, h, false, 7);
    HIC enc = ICOpen(ICTYPE_VIDEO, Info(v).fourccValue, ICMODE_COMPRESS);
    BITMAPINFO comp{};
    ICCompressGetFormat(enc, &raw, &comp.bmiHeader);
    CHECK(ICCompressBegin(enc, &raw, &comp.bmiHeader) == ICERR_OK);
    Encoded e = Compress(enc, comp.bmiHeader, raw, frame, 0);
    ICCompressEnd(enc);
    ICClose(enc);
    comp.bmiHeader = e.header;

    for (bool given : {true, false}) {
        BITMAPINFO out{};
        out.bmiHeader = raw;
        HANDLE dib = ICImageDecompress(nullptr, 0, &comp, e.data.data(), given ? &out : nullptr);
        if (!CHECK(dib != nullptr))
            continue;
        const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
        CHECK(header->biCompression == Info(v).rawFormats[0] &&
              header->biBitCount == Info(v).bitCount && header->biWidth == w &&
              header->biHeight == h);
        // No colour table at 16 and 24 bits: the pixels follow the header.
        CHECK(GlobalSize(dib) >= header->biSize + raw.biSizeImage);
        const auto* bits = reinterpret_cast<const uint8_t*>(header) + header->biSize;
        CHECK(SamePicture(v, w, h, frame, bits));
        GlobalUnlock(dib);
        GlobalFree(dib);
    }
}

// Two clips of different sizes open at once, as an editor's timeline keeps
// them: each HIC compresses and decompresses its own, frames interleaved.
void TestTwoSizesAtOnce(Variant v)
{
    Context c("two sizes at once");
    struct Clip {
        LONG w, h;
        HIC hic;
        BITMAPINFOHEADER raw, comp;
    };
    Clip clips[] = {{161, 91, nullptr, {}, {}}, {64, 48, nullptr, {}, {}}};
    for (Clip& clip : clips) {
        clip.hic = ICOpen(ICTYPE_VIDEO, Info(v).fourccValue, ICMODE_COMPRESS);
        clip.raw = RawHeader(v, clip.w, clip.h);
        CHECK(clip.hic != nullptr &&
              ICCompressGetFormat(clip.hic, &clip.raw, &clip.comp) == ICERR_OK);
        CHECK(ICCompressBegin(clip.hic, &clip.raw, &clip.comp) == ICERR_OK);
        CHECK(ICDecompressBegin(clip.hic, &clip.comp, &clip.raw) == ICERR_OK);
    }
    CHECK(clips[0].hic != clips[1].hic);
    for (uint32_t i = 0; i < 4; ++i)
        for (const Clip& clip : clips) {
            const Bytes frame = MakeFrame(v, clip.w, clip.h, i % 2 == 1, i);
            const Encoded e = Compress(clip.hic, clip.comp, clip.raw, frame, static_cast<LONG>(i));
            if (!e.data.empty())
                CHECK(SamePicture(v, clip.w, clip.h, frame,
                                  Decompress(clip.hic, e, clip.raw).data()));
        }
    for (Clip& clip : clips) {
        ICCompressEnd(clip.hic);
        ICDecompressEnd(clip.hic);
        ICClose(clip.hic);
    }
}

// A multi-threaded host: two threads, each with a HIC of its own, at once.
struct ThreadJob {
    const Variant* v;
    LONG w, h;
    int wrong;
};

DWORD WINAPI RoundTrips(void* arg)
{
    ThreadJob& job = *static_cast<ThreadJob*>(arg);
    Variant v = *job.v;
    HIC hic = ICOpen(ICTYPE_VIDEO, Info(v).fourccValue, ICMODE_COMPRESS);
    BITMAPINFOHEADER raw = RawHeader(v, job.w, job.h), comp{};
    if (hic == nullptr || ICCompressGetFormat(hic, &raw, &comp) != ICERR_OK ||
        ICCompressBegin(hic, &raw, &comp) != ICERR_OK ||
        ICDecompressBegin(hic, &comp, &raw) != ICERR_OK) {
        job.wrong = -1;
        return 0;
    }
    for (uint32_t i = 0; i < 40; ++i) {
        const Bytes frame =
            MakeFrame(v, job.w, job.h, i % 4 == 3, i + static_cast<uint32_t>(job.w));
        const Encoded e = Compress(hic, comp, raw, frame, static_cast<LONG>(i));
        if (e.data.empty() || !SamePicture(v, job.w, job.h, frame, Decompress(hic, e, raw).data()))
            ++job.wrong;
    }
    ICCompressEnd(hic);
    ICDecompressEnd(hic);
    ICClose(hic);
    return 0;
}

void TestThreads(Variant v)
{
    Context c("two threads");
    ThreadJob jobs[] = {{&v, 320, 240, 0}, {&v, 161, 91, 0}};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i)
        threads[i] = CreateThread(nullptr, 0, RoundTrips, &jobs[i], 0, nullptr);
    if (!CHECK(threads[0] != nullptr && threads[1] != nullptr))
        return;
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (int i = 0; i < 2; ++i) {
        CloseHandle(threads[i]);
        if (!CHECK(jobs[i].wrong == 0))
            std::printf("thread %d: %d wrong frames of 40 (-1: not configured)\n", i,
                        jobs[i].wrong);
    }
}

std::string AviPath(const std::string& dir, const std::string& name)
{
    return dir + "\\" + name + ".avi";
}

// Writes a video stream of `frames`, already in `format`, to a new AVI file.
bool WriteAvi(const std::string& path, DWORD handler, const BITMAPINFOHEADER& format,
              const std::vector<Bytes>& frames)
{
    DeleteFileA(path.c_str());
    PAVIFILE file = nullptr;
    if (!CHECK(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr) == AVIERR_OK))
        return false;
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = handler;
    info.dwScale = 1;
    info.dwRate = 25;
    for (const Bytes& f : frames)
        info.dwSuggestedBufferSize =
            std::max<DWORD>(info.dwSuggestedBufferSize, static_cast<DWORD>(f.size()));
    SetRect(&info.rcFrame, 0, 0, format.biWidth, format.biHeight);
    PAVISTREAM stream = nullptr;
    bool ok = CHECK(AVIFileCreateStreamA(file, &stream, &info) == AVIERR_OK);
    BITMAPINFOHEADER header = format;
    ok = ok && CHECK(AVIStreamSetFormat(stream, 0, &header, sizeof header) == AVIERR_OK);
    for (size_t i = 0; ok && i < frames.size(); ++i) {
        LONG samples = 0, bytes = 0;
        ok = CHECK(AVIStreamWrite(stream, static_cast<LONG>(i), 1,
                                  const_cast<uint8_t*>(frames[i].data()),
                                  static_cast<LONG>(frames[i].size()), AVIIF_KEYFRAME, &samples,
                                  &bytes) == AVIERR_OK &&
                   samples == 1);
    }
    if (stream != nullptr)
        AVIStreamRelease(stream);
    AVIFileRelease(file);
    return ok;
}

// Reads the stream back as an editor does, frame by frame and through
// AVIStreamGetFrame, and compares every frame with its source.
void CheckAvi(Variant v, const std::string& path, LONG w, LONG h, const std::vector<Bytes>& frames)
{
    PAVISTREAM stream = nullptr;
    if (!CHECK(AVIStreamOpenFromFileA(&stream, path.c_str(), streamtypeVIDEO, 0, OF_READ,
                                      nullptr) == AVIERR_OK))
        return;
    AVISTREAMINFOA info{};
    AVIStreamInfoA(stream, &info, sizeof info);
    CHECK(info.fccHandler == Info(v).fourccValue);
    CHECK(AVIStreamLength(stream) == static_cast<LONG>(frames.size()));
    BITMAPINFOHEADER comp{};
    LONG formatSize = sizeof comp;
    CHECK(AVIStreamReadFormat(stream, 0, &comp, &formatSize) == AVIERR_OK);
    CHECK(comp.biCompression == Info(v).fourccValue && comp.biWidth == w && comp.biHeight == h);

    HIC dec = ICOpen(ICTYPE_VIDEO, Info(v).fourccValue, ICMODE_DECOMPRESS);
    BITMAPINFOHEADER out = RawHeader(v, w, h);
    CHECK(ICDecompressBegin(dec, &comp, &out) == ICERR_OK);
    for (LONG i = 0; i < AVIStreamLength(stream) && i < static_cast<LONG>(frames.size()); ++i) {
        LONG bytes = 0, samples = 0;
        AVIStreamRead(stream, i, 1, nullptr, 0, &bytes, nullptr);
        Encoded e{comp, Bytes(static_cast<size_t>(bytes))};
        CHECK(AVIStreamRead(stream, i, 1, e.data.data(), bytes, &bytes, &samples) == AVIERR_OK &&
              samples == 1);
        CHECK(AVIStreamIsKeyFrame(stream, i));
        e.header.biSizeImage = static_cast<DWORD>(bytes);
        CHECK(SamePicture(v, w, h, frames[static_cast<size_t>(i)], Decompress(dec, e, out).data()));
    }
    ICDecompressEnd(dec);
    ICClose(dec);

    // With the format asked for, and with none (avifil32 picks one). The
    // last frame first, then from the start: a seek, then playback.
    for (bool given : {true, false}) {
        BITMAPINFOHEADER wanted = RawHeader(v, w, h);
        PGETFRAME getFrame = AVIStreamGetFrameOpen(stream, given ? &wanted : nullptr);
        if (!CHECK(getFrame != nullptr))
            continue;
        const LONG n = static_cast<LONG>(frames.size());
        for (LONG k = -1; k < n; ++k) {
            const LONG i = k < 0 ? n - 1 : k;
            const auto* header =
                static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(getFrame, i));
            if (!CHECK(header != nullptr))
                break;
            CHECK(header->biCompression == Info(v).rawFormats[0] &&
                  header->biBitCount == Info(v).bitCount && header->biWidth == w &&
                  header->biHeight == h);
            const auto* bits = reinterpret_cast<const uint8_t*>(header) + header->biSize +
                               header->biClrUsed * sizeof(RGBQUAD);
            CHECK(SamePicture(v, w, h, frames[static_cast<size_t>(i)], bits));
        }
        AVIStreamGetFrameClose(getFrame);
    }
    AVIStreamRelease(stream);
}

// A capture program's recording: compress with ICCompress, store with
// AVIStreamWrite, then read it all back.
void TestAviFile(Variant v, const std::string& dir, LONG w, LONG h)
{
    Context c("AVI file", w, h);
    const BITMAPINFOHEADER raw = RawHeader(v, w, h);
    HIC enc = ICOpen(ICTYPE_VIDEO, Info(v).fourccValue, ICMODE_COMPRESS);
    BITMAPINFOHEADER comp{};
    CHECK(ICCompressGetFormat(enc, &raw, &comp) == ICERR_OK);
    CHECK(ICCompressBegin(enc, &raw, &comp) == ICERR_OK);
    std::vector<Bytes> frames, payloads;
    for (uint32_t i = 0; i < 6; ++i) {
        frames.push_back(MakeFrame(v, w, h, i % 3 == 2, i));
        payloads.push_back(Compress(enc, comp, raw, frames.back(), static_cast<LONG>(i)).data);
    }
    ICCompressEnd(enc);
    ICClose(enc);
    const std::string path = AviPath(dir, Info(v).library);
    if (WriteAvi(path, Info(v).fourccValue, comp, payloads))
        CheckAvi(v, path, w, h, frames);
}

// AVISave compressing a stream it reads from an uncompressed AVI file, as an
// editor's "save as" does.
void TestAviSave(Variant v, const std::string& dir, LONG w, LONG h)
{
    Context c("AVISave", w, h);
    std::vector<Bytes> frames;
    for (uint32_t i = 0; i < 5; ++i)
        frames.push_back(MakeFrame(v, w, h, i == 3, 20 + i));
    const std::string source = AviPath(dir, std::string(Info(v).library) + "_source");
    if (!WriteAvi(source, 0, RawHeader(v, w, h), frames))
        return;
    PAVISTREAM stream = nullptr;
    if (!CHECK(AVIStreamOpenFromFileA(&stream, source.c_str(), streamtypeVIDEO, 0, OF_READ,
                                      nullptr) == AVIERR_OK))
        return;
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = Info(v).fourccValue;
    options.dwQuality = static_cast<DWORD>(ICQUALITY_DEFAULT);
    options.dwKeyFrameEvery = 1;
    options.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    AVICOMPRESSOPTIONS* list[] = {&options};
    const std::string path = AviPath(dir, std::string(Info(v).library) + "_avisave");
    DeleteFileA(path.c_str());
    const HRESULT hr = AVISaveVA(path.c_str(), nullptr, nullptr, 1, &stream, list);
    AVIStreamRelease(stream);
    DeleteFileA(source.c_str());
    if (CHECK(hr == AVIERR_OK))
        CheckAvi(v, path, w, h, frames);
}

} // namespace

// Everything, for both codecs, in one process: under emulation each start of
// a 32-bit Wine process costs the better part of a minute.
int main(int argc, char** argv)
{
    if (argc != 2) {
        std::printf("usage: tarv_vfw_host OUTDIR\n");
        return 2;
    }
    std::string dir = argv[1];
    std::replace(dir.begin(), dir.end(), '/', '\\');
    CreateDirectoryA(dir.c_str(), nullptr);
    for (const Variant v : tarv::AllVariants()) {
        const int before = g_failures.load();
        // What a codec's installer does: the driver goes into the registry by FourCC.
        const std::string dll = Dll(v);
        if (!CHECK(ICInstall(ICTYPE_VIDEO, Info(v).fourccValue,
                             reinterpret_cast<LPARAM>(dll.c_str()), nullptr, ICINSTALL_DRIVER)))
            continue;
        // First, while nothing else holds the driver open.
        TestRepeatedOpen(v);
        TestInfoAndLocate(v);
        const LONG sizes[][2] = {{1, 1},   {2, 1},    {1, 3},     {3, 2},       {7, 5},
                                 {33, 17}, {161, 91}, {640, 480}, {1919, 1079}, {1920, 1080}};
        for (const auto& s : sizes)
            TestRoundTrip(v, s[0], s[1]);
        for (const auto& s : {std::pair{1, 1}, std::pair{31, 7}, std::pair{1920, 1080}})
            TestSequence(v, s.first, s.second);
        TestImageDecompress(v, 97, 65);
        TestTwoSizesAtOnce(v);
        TestThreads(v);

        AVIFileInit();
        TestAviFile(v, dir, 161, 91);
        if (Info(v).rawFormats[0] ==
            tarv::kFormatRGB) // avifil32 compresses only from BI_RGB frames
            TestAviSave(v, dir, 97, 65);
        AVIFileExit();
        std::printf("%s: %s (%d failed checks)\n", Info(v).fourcc,
                    g_failures == before ? "passed" : "FAILED", g_failures - before);
    }
    return g_failures == 0 ? 0 : 1;
}
