// The codec wrapper: one open instance of the driver, with its own encoder and
// decoder, and the replies that describe the library and negotiate formats.
#pragma once

#include "codec/codec.h"
#include "platform/platform.h"

#include <memory>

class CCodecWrapper {
public:
    CCodecWrapper() = default;
    CCodecWrapper(const CCodecWrapper&) = delete;
    CCodecWrapper& operator=(const CCodecWrapper&) = delete;
    virtual ~CCodecWrapper();

    // Creates whichever object is missing: 1 when both exist, else 0 with neither.
    int CreateCodecs();
    // End of a compression stream: the encoder gives back its memory.
    LRESULT CompressEnd();
    LRESULT CompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output) const;
    LRESULT CompressGetSize(const BITMAPINFOHEADER* input) const;
    LRESULT DecompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output) const;

    std::unique_ptr<CDecoder> m_decoder;
    std::unique_ptr<CEncoder> m_encoder;
};

// A new wrapper for an open, or null when the open is refused (not a video codec
// open) or memory runs out; reports through open->dwError when given a record.
CCodecWrapper* CreateWrapper(ICOPEN* open);

// Fills the library's ICINFO: 568, or ICERR_ERROR (nothing written) when the
// record is smaller.
LRESULT GetInfo(ICINFO* info, DWORD size);
