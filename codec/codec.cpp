#include "codec/codec.h"

#include "entropy/allocation.h"

#include <algorithm>
#include <cstring>

// ---- SampleBuffer ------------------------------------------------------------

uint16_t* SampleBuffer::Allocate(int64_t n)
{
    if (data != nullptr)
        return data;
    if (n < 0 || 2 * n > UINT32_MAX || n > INT32_MAX)
        return nullptr;
    // Zeroed, so no heap content reaches a compressed frame through the row tails
    // and the same frame always compresses to the same bytes.
    data = NewArray<uint16_t>(static_cast<size_t>(n), true);
    if (data != nullptr)
        count = static_cast<int32_t>(n);
    return data;
}

void SampleBuffer::Free()
{
    delete[] data;
    data = nullptr;
}

// ---- Geometry ------------------------------------------------------------------

bool ComputePlanes(int64_t width, int64_t height, PlaneInfo planes[3])
{
    if (width < 0 || height < 0)
        return false;
    const int64_t dims[3][2] = {
        {width, height}, {HalfUp(width), height}, {HalfUp(width), HalfUp(height)}};
    PlaneInfo out[3];
    for (int i = 0; i < 3; ++i) {
        const int64_t stride = RowBytes(dims[i][0]);
        const int64_t size = stride * dims[i][1];
        if (stride > kMaxFrameQuantity || size > kMaxFrameQuantity)
            return false;
        out[i] = PlaneInfo{static_cast<int32_t>(dims[i][0]), static_cast<int32_t>(dims[i][1]),
                           static_cast<int32_t>(stride), static_cast<uint32_t>(size)};
    }
    std::copy(out, out + 3, planes);
    return true;
}

// ---- CCodec ------------------------------------------------------------------

CCodec::CCodec()
{
    m_coder.SetSymbolCount(CRangeCoder16::kAlphabetSize);
}

CCodec::~CCodec()
{
    Reset();
    m_coder.FreeTable();
}

bool CCodec::FrameFits(int64_t width, int64_t height) const
{
    PlaneInfo planes[3];
    if (!ComputePlanes(width, height, planes))
        return false;
    const int64_t samples =
        BufferSampleCount(planes[0].size / 2, planes[1].size / 2, planes[2].size / 2);
    return samples >= 0 && 2 * samples + CRangeCoder16::kMaxTableBytes <= kMaxFrameQuantity;
}

int CCodec::Setup(const BITMAPINFOHEADER* header)
{
    if (header == nullptr)
        return 0;
    if (header->biWidth == m_format.biWidth && header->biHeight == m_format.biHeight &&
        m_samples.data != nullptr && m_scratch.data != nullptr)
        return 1;

    Reset();
    std::memcpy(&m_format, header, sizeof(m_format));
    if (!ComputePlanes(m_format.biWidth, m_format.biHeight, m_plane)) {
        Reset();
        return 0;
    }
    const int64_t n =
        BufferSampleCount(m_plane[0].size / 2, m_plane[1].size / 2, m_plane[2].size / 2);
    if (m_samples.Allocate(n) == nullptr || m_scratch.Allocate(n) == nullptr) {
        Reset();
        return 0;
    }
    return 1;
}

void CCodec::Reset()
{
    m_samples.Free();
    m_scratch.Free();
    std::fill(m_plane, m_plane + 3, PlaneInfo{});
    m_format = BITMAPINFOHEADER{};
}

LRESULT CCodec::Prepare(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output)
{
    if (input == nullptr)
        return ICERR_ERROR;
    if (!CheckFormat(input, output))
        return ICERR_BADFORMAT;
    if (!m_coder.HasTable() && !m_coder.AllocateTable()) {
        Reset();
        return ICERR_MEMORY;
    }
    return Setup(input) ? ICERR_OK : ICERR_MEMORY;
}

// ---- CEncoder ----------------------------------------------------------------

void CEncoder::EndStream()
{
    Reset();
    m_coder.FreeTable();
}

LRESULT CEncoder::CompressFrame(const ICCOMPRESS* icc, DWORD fourcc)
{
    if (icc == nullptr || icc->lpbiInput == nullptr || icc->lpInput == nullptr ||
        icc->lpbiOutput == nullptr || icc->lpOutput == nullptr)
        return ICERR_BADFORMAT;
    const BITMAPINFOHEADER* in = icc->lpbiInput;
    if (in->biSizeImage == 0 || !CheckFormat(in, nullptr))
        return ICERR_BADFORMAT;
    if (in->biWidth != m_format.biWidth || in->biHeight != m_format.biHeight)
        return ICERR_BADFORMAT;

    if (!SplitPlanes(m_samples.data, static_cast<const uint8_t*>(icc->lpInput), in))
        return ICERR_ERROR;
    if (!Predict(m_samples.data, m_scratch.data))
        return ICERR_ERROR;
    uint32_t length = GetMaxCompressedSize(in->biWidth, in->biHeight);
    if (!m_coder.Encode(static_cast<uint8_t*>(icc->lpOutput), length, m_samples.data,
                        static_cast<uint32_t>(m_samples.count)))
        return ICERR_ERROR;

    // The two headers may be one record.
    std::memmove(icc->lpbiOutput, in, sizeof(BITMAPINFOHEADER));
    icc->lpbiOutput->biCompression = fourcc;
    icc->lpbiOutput->biSizeImage = length;
    if (icc->lpckid != nullptr)
        *icc->lpckid = fourcc;
    if (icc->lpdwFlags != nullptr)
        *icc->lpdwFlags = AVIIF_KEYFRAME;
    return ICERR_OK;
}

// ---- CDecoderTarv ------------------------------------------------------------

LRESULT CDecoderTarv::Decompress(const ICDECOMPRESS* icd)
{
    if (icd == nullptr || icd->lpbiInput == nullptr || icd->lpInput == nullptr ||
        icd->lpbiOutput == nullptr || icd->lpOutput == nullptr)
        return ICERR_BADFORMAT;
    const BITMAPINFOHEADER* in = icd->lpbiInput;
    const BITMAPINFOHEADER* out = icd->lpbiOutput;
    if (in->biSizeImage == 0 || !CheckFormat(in, out))
        return ICERR_BADFORMAT;
    const int64_t height = m_format.biHeight;
    if (out->biWidth != m_format.biWidth || (out->biHeight != height && out->biHeight != -height))
        return ICERR_BADFORMAT;

    uint32_t count = static_cast<uint32_t>(m_samples.count);
    if (!m_coder.Decode(static_cast<const uint8_t*>(icd->lpInput), in->biSizeImage, m_samples.data,
                        count))
        return ICERR_ERROR;
    // A payload that stops short of the buffer (cut-short bytes, a small total)
    // would leave samples from an earlier frame in the picture: refuse it.
    if (count != 2 * static_cast<uint32_t>(m_samples.count))
        return ICERR_ERROR;
    if (!Unpredict(m_samples.data, m_scratch.data))
        return ICERR_ERROR;
    return MergePlanes(static_cast<uint8_t*>(icd->lpOutput), m_samples.data, out) ? ICERR_OK
                                                                                  : ICERR_ERROR;
}
