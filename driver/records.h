// The platform's records turned into the codec's plain types and back.
#pragma once

#include "codec/format.h"
#include "platform/platform.h"

#include <cstring>

// The codec's results are the driver's result codes.
static_assert(static_cast<LRESULT>(tarv::Status::Ok) == ICERR_OK &&
              static_cast<LRESULT>(tarv::Status::BadFormat) == ICERR_BADFORMAT &&
              static_cast<LRESULT>(tarv::Status::Memory) == ICERR_MEMORY &&
              static_cast<LRESULT>(tarv::Status::Error) == ICERR_ERROR);

inline LRESULT Reply(tarv::Status status)
{
    return static_cast<LRESULT>(status);
}

inline tarv::FrameFormat FormatOf(const BITMAPINFOHEADER& h)
{
    return tarv::FrameFormat{h.biCompression, h.biWidth, h.biHeight, h.biBitCount, h.biSizeImage};
}

// A header as the codec reads it, for the length of one call; none stays none.
class HeaderFormat {
public:
    explicit HeaderFormat(const BITMAPINFOHEADER* h)
        : m_format(h != nullptr ? FormatOf(*h) : tarv::FrameFormat{}), m_present(h != nullptr)
    {
    }
    HeaderFormat(const HeaderFormat&) = delete;
    HeaderFormat& operator=(const HeaderFormat&) = delete;

    const tarv::FrameFormat* get() const { return m_present ? &m_format : nullptr; }

private:
    tarv::FrameFormat m_format;
    bool m_present;
};
