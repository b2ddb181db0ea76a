#include "driver/wrapper.h"

#include "driver/library.h"
#include "driver/records.h"
#include "entropy/allocation.h"

#include <cstring>

namespace {

constexpr LRESULT kHeaderBytes = sizeof(BITMAPINFOHEADER);
constexpr DWORD kInfoBytes = sizeof(ICINFO);
constexpr DWORD kDriverVersion = 0x10101000;

// Proposals are 40-byte headers whatever the input's biSize says: 40 is the
// size the library reported for the record it fills.
void CopyHeader(BITMAPINFOHEADER* output, const BITMAPINFOHEADER* input)
{
    std::memmove(output, input, sizeof(BITMAPINFOHEADER));
    output->biSize = sizeof(BITMAPINFOHEADER);
}

template <size_t N> void CopyText(WCHAR (&field)[N], const char16_t* text, size_t units)
{
    for (size_t i = 0; i < units && i < N; ++i)
        field[i] = static_cast<WCHAR>(text[i]);
}

size_t TextUnits(const char16_t* text)
{
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n + 1; // with the terminator
}

} // namespace

CCodecWrapper::~CCodecWrapper()
{
    m_decoder.reset();
    m_encoder.reset();
}

int CCodecWrapper::CreateCodecs()
{
    if (!m_encoder)
        m_encoder.reset(ThisLibrary().newEncoder());
    if (!m_decoder)
        m_decoder.reset(ThisLibrary().newDecoder());
    if (m_encoder && m_decoder)
        return 1;
    m_decoder.reset();
    m_encoder.reset();
    return 0;
}

LRESULT CCodecWrapper::CompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output)
{
    if (!m_encoder)
        return ICERR_ERROR;
    return Reply(m_encoder->Prepare(HeaderFormat(input).get(), HeaderFormat(output).get()));
}

LRESULT CCodecWrapper::DecompressQuery(const BITMAPINFOHEADER* input,
                                       const BITMAPINFOHEADER* output)
{
    if (!m_decoder)
        return ICERR_ERROR;
    return Reply(m_decoder->Prepare(HeaderFormat(input).get(), HeaderFormat(output).get()));
}

LRESULT CCodecWrapper::Compress(const ICCOMPRESS* icc)
{
    if (!m_encoder)
        return ICERR_ERROR;
    if (icc == nullptr || icc->lpbiInput == nullptr || icc->lpbiOutput == nullptr)
        return ICERR_BADFORMAT;
    // Hosts give a buffer of the proposed size, which the encoder never exceeds.
    uint32_t length = UINT32_MAX;
    const tarv::Status status =
        m_encoder->Compress(FormatOf(*icc->lpbiInput), static_cast<const uint8_t*>(icc->lpInput),
                            static_cast<uint8_t*>(icc->lpOutput), length);
    if (status != tarv::Status::Ok)
        return Reply(status);
    const DWORD fourcc = ThisLibrary().fourccValue;
    // The two headers may be one record.
    std::memmove(icc->lpbiOutput, icc->lpbiInput, sizeof(BITMAPINFOHEADER));
    icc->lpbiOutput->biCompression = fourcc;
    icc->lpbiOutput->biSizeImage = length;
    if (icc->lpckid != nullptr)
        *icc->lpckid = fourcc;
    if (icc->lpdwFlags != nullptr)
        *icc->lpdwFlags = AVIIF_KEYFRAME;
    return ICERR_OK;
}

LRESULT CCodecWrapper::Decompress(const ICDECOMPRESS* icd)
{
    if (!m_decoder)
        return ICERR_ERROR;
    if (icd == nullptr || icd->lpbiInput == nullptr || icd->lpbiOutput == nullptr)
        return ICERR_BADFORMAT;
    return Reply(
        m_decoder->Decompress(FormatOf(*icd->lpbiInput), static_cast<const uint8_t*>(icd->lpInput),
                              FormatOf(*icd->lpbiOutput), static_cast<uint8_t*>(icd->lpOutput)));
}

LRESULT CCodecWrapper::CompressEnd()
{
    if (!m_encoder)
        return ICERR_ERROR;
    m_encoder->EndStream();
    return ICERR_OK;
}

LRESULT CCodecWrapper::CompressGetFormat(const BITMAPINFOHEADER* input,
                                         BITMAPINFOHEADER* output) const
{
    if (!m_encoder)
        return ICERR_ERROR;
    if (output == nullptr)
        return kHeaderBytes;
    if (input == nullptr)
        return ICERR_ERROR;
    if (!m_encoder->CheckFormat(HeaderFormat(input).get(), nullptr))
        return ICERR_BADFORMAT;
    const uint32_t maxSize = m_encoder->GetMaxCompressedSize(input->biWidth, input->biHeight);
    CopyHeader(output, input);
    output->biCompression = ThisLibrary().fourccValue;
    // Hosts size their output buffers from this proposal, and a frame that does
    // not compress takes up to the largest compressed size.
    output->biSizeImage = maxSize;
    return ICERR_OK;
}

LRESULT CCodecWrapper::CompressGetSize(const BITMAPINFOHEADER* input) const
{
    if (!m_encoder)
        return 0;
    if (input == nullptr)
        return ICERR_ERROR;
    if (!m_encoder->CheckFormat(HeaderFormat(input).get(), nullptr))
        return ICERR_BADFORMAT;
    return static_cast<LRESULT>(m_encoder->GetMaxCompressedSize(input->biWidth, input->biHeight));
}

LRESULT CCodecWrapper::DecompressGetFormat(const BITMAPINFOHEADER* input,
                                           BITMAPINFOHEADER* output) const
{
    if (!m_decoder)
        return ICERR_ERROR;
    if (output == nullptr)
        return kHeaderBytes;
    if (input == nullptr)
        return ICERR_ERROR;
    // The output record is where the proposal goes, not a format to judge:
    // hosts hand over blank records here.
    if (!m_decoder->CheckFormat(HeaderFormat(input).get(), nullptr))
        return ICERR_BADFORMAT;
    const tarv::VariantInfo& library = ThisLibrary();
    const uint32_t size = m_decoder->GetDecompressedSize(input->biWidth, input->biHeight);
    CopyHeader(output, input);
    output->biCompression = library.rawFormats[0];
    // The variant's own depth, so the decoder accepts its own proposal and the
    // row length agrees with biSizeImage.
    output->biBitCount = library.bitCount;
    output->biSizeImage = size;
    return ICERR_OK;
}

CCodecWrapper* CreateWrapper(ICOPEN* open)
{
    if (open != nullptr && open->fccType != kFourCC_vidc)
        return nullptr;
    CCodecWrapper* wrapper = tarv::NewObject<CCodecWrapper>();
    if (wrapper == nullptr || !wrapper->CreateCodecs()) {
        delete wrapper;
        if (open != nullptr)
            open->dwError = ICERR_MEMORY;
        return nullptr;
    }
    if (open != nullptr)
        open->dwError = ICERR_OK;
    return wrapper;
}

LRESULT GetInfo(ICINFO* info, DWORD size)
{
    if (size < kInfoBytes)
        return ICERR_ERROR;
    const tarv::VariantInfo& library = ThisLibrary();
    info->dwSize = kInfoBytes;
    info->fccType = kFourCC_vidc;
    info->fccHandler = library.fourccValue;
    info->dwFlags = 0;
    info->dwVersion = kDriverVersion;
    info->dwVersionICM = ICVERSION;
    const char16_t name[5] = {static_cast<char16_t>(library.fourccValue & 0xFF),
                              static_cast<char16_t>((library.fourccValue >> 8) & 0xFF),
                              static_cast<char16_t>((library.fourccValue >> 16) & 0xFF),
                              static_cast<char16_t>(library.fourccValue >> 24), 0};
    CopyText(info->szName, name, 5);
    CopyText(info->szDescription, library.description, TextUnits(library.description));
    return kInfoBytes;
}
