// The codec wrapper: one open instance of the driver, with its own encoder and
// decoder, and the replies that describe the library, negotiate formats and
// carry frames between the platform's records and the codec.
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
    // The query messages (and the begins, which hosts send unqueried): configure
    // the encoder or the decoder for the input header.
    LRESULT CompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output);
    LRESULT DecompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output);
    // One frame each way; the encoder's also tags the compressed frame.
    LRESULT Compress(const ICCOMPRESS* icc);
    LRESULT Decompress(const ICDECOMPRESS* icd);
    // End of a compression stream: the encoder gives back its memory.
    LRESULT CompressEnd();
    LRESULT CompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output) const;
    LRESULT CompressGetSize(const BITMAPINFOHEADER* input) const;
    LRESULT DecompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output) const;

    std::unique_ptr<tarv::CDecoder> m_decoder;
    std::unique_ptr<tarv::CEncoder> m_encoder;
};

// A new wrapper for an open, or null when the open is refused (not a video codec
// open) or memory runs out; reports through open->dwError when given a record.
CCodecWrapper* CreateWrapper(ICOPEN* open);

// Fills the library's ICINFO: 568, or ICERR_ERROR (nothing written) when the
// record is smaller.
LRESULT GetInfo(ICINFO* info, DWORD size);
