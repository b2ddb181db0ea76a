// The library's one export. Each message is answered here, routed to the codec
// wrapper, or handed to the platform's default driver procedure.
#include "driver/instances.h"
#include "driver/wrapper.h"
#include "platform/platform.h"

namespace {

constexpr LRESULT kDefaultQuality = 10000; // top of the platform's 0..10000 scale

template <typename T> T* Record(LPARAM p)
{
    return reinterpret_cast<T*>(p);
}

// Every open is an instance of its own, so that streams of different sizes and
// different threads never share an encoder or a decoder.
LRESULT Open(LPARAM lParam2)
{
    ICOPEN* open = Record<ICOPEN>(lParam2);
    CCodecWrapper* wrapper = CreateWrapper(open);
    if (wrapper == nullptr)
        return 0;
    const DWORD_PTR id = g_instances.Add(wrapper);
    if (id == 0) {
        // As many instances as the table holds are open: a refusal like any
        // other shortage of memory.
        delete wrapper;
        if (open != nullptr)
            open->dwError = ICERR_MEMORY;
        return 0;
    }
    return static_cast<LRESULT>(id);
}

LRESULT Dialog(const CCodecWrapper* wrapper, LPARAM lParam1)
{
    if (wrapper == nullptr)
        return ICERR_ERROR;
    return lParam1 == -1 ? ICERR_UNSUPPORTED : ICERR_ERROR;
}

// Messages that need an instance; `w` is null when the identifier is none of
// this library's live instances, and the reply is then the one for no instance.
LRESULT DispatchToInstance(CCodecWrapper* w, UINT message, LPARAM lParam1, LPARAM lParam2)
{
    auto header = [](LPARAM p) { return Record<BITMAPINFOHEADER>(p); };
    const bool enc = w != nullptr && w->m_encoder;
    const bool dec = w != nullptr && w->m_decoder;

    switch (message) {
    case ICM_COMPRESS_GET_FORMAT:
        return w == nullptr ? ICERR_ERROR : w->CompressGetFormat(header(lParam1), header(lParam2));
    case ICM_COMPRESS_GET_SIZE:
        return w == nullptr ? ICERR_ERROR : w->CompressGetSize(header(lParam1));
    case ICM_COMPRESS_QUERY:
        return enc ? w->CompressQuery(header(lParam1), header(lParam2)) : ICERR_ERROR;
    case ICM_COMPRESS_BEGIN:
        // Hosts begin streams without querying first, so a begin configures like a query.
        return enc && lParam1 != 0 ? w->CompressQuery(header(lParam1), header(lParam2)) : ICERR_OK;
    case ICM_COMPRESS:
        return enc ? w->Compress(Record<ICCOMPRESS>(lParam1)) : ICERR_ERROR;
    case ICM_COMPRESS_END:
        return w == nullptr ? ICERR_ERROR : w->CompressEnd();

    case ICM_DECOMPRESS_GET_FORMAT:
        return dec ? w->DecompressGetFormat(header(lParam1), header(lParam2)) : ICERR_ERROR;
    case ICM_DECOMPRESS_QUERY:
        return dec ? w->DecompressQuery(header(lParam1), header(lParam2)) : ICERR_ERROR;
    case ICM_DECOMPRESS_BEGIN:
        return dec && lParam1 != 0 ? w->DecompressQuery(header(lParam1), header(lParam2))
                                   : ICERR_OK;
    case ICM_DECOMPRESS:
        return dec ? w->Decompress(Record<ICDECOMPRESS>(lParam1)) : ICERR_ERROR;
    case ICM_DECOMPRESS_END:
        return w == nullptr ? ICERR_ERROR : ICERR_OK;

    case ICM_GETINFO:
        if (w == nullptr)
            return ICERR_ERROR;
        if (lParam1 == 0)
            return sizeof(ICINFO);
        return GetInfo(Record<ICINFO>(lParam1), static_cast<DWORD>(lParam2));
    case ICM_CONFIGURE:
    case ICM_ABOUT:
        return Dialog(w, lParam1);
    default:
        return ICERR_UNSUPPORTED;
    }
}

// The messages that need no instance are answered without looking at the
// identifier at all: hosts send some of them with whatever it happens to hold.
LRESULT Dispatch(DWORD_PTR id, HDRVR driver, UINT message, LPARAM lParam1, LPARAM lParam2)
{
    switch (message) {
    case DRV_LOAD:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_FREE:
    case DRV_INSTALL:
    case DRV_REMOVE:
        return 1;
    case DRV_OPEN:
        return Open(lParam2);
    case DRV_CLOSE:
        delete g_instances.Remove(id);
        return 1;
    case DRV_CONFIGURE:
        return g_instances.Find(id) == nullptr ? 0 : ICERR_ERROR;
    case DRV_QUERYCONFIGURE:
        return 0;

    case ICM_DECOMPRESS_SET_PALETTE:
    case ICM_DECOMPRESS_GET_PALETTE:
    case ICM_COMPRESS_FRAMES_INFO:
    case ICM_GETSTATE:
    case ICM_SETSTATE:
        return ICERR_OK;
    case ICM_GETDEFAULTQUALITY:
        if (lParam1 == 0)
            return ICERR_ERROR;
        *Record<DWORD>(lParam1) = kDefaultQuality;
        return ICERR_OK;
    default:
        if (message < DRV_USER)
            return DefDriverProc(id, driver, message, lParam1, lParam2);
        return DispatchToInstance(g_instances.Find(id), message, lParam1, lParam2);
    }
}

} // namespace

#if defined(_WIN32)
#define TARV_EXPORT // the .def file exports it
#else
#define TARV_EXPORT __attribute__((visibility("default")))
#endif

extern "C" TARV_EXPORT LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT message,
                                                 LPARAM lParam1, LPARAM lParam2)
{
    // Callers are C programs: nothing may unwind into them.
    try {
        return Dispatch(id, driver, message, lParam1, lParam2);
    } catch (...) {
        return message == DRV_OPEN ? 0 : ICERR_ERROR;
    }
}

#if defined(_WIN32)

// Windows unloads a driver when its last instance closes; the next open loads
// it afresh. Free any instance a host left open then, but not at process exit
// (reserved set), when the heap may already be gone.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        ReleaseInstances();
    return TRUE;
}

#else

__attribute__((destructor)) static void ReleaseAtUnload()
{
    ReleaseInstances();
}

#endif
