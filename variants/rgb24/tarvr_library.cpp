// Binds the shared driver to the RGB24 variant: this is what makes libtarvr.
#include "driver/library.h"
#include "variants/rgb24/rgb24.h"

#include <new>

const LibraryIdentity& ThisLibrary()
{
    static constexpr LibraryIdentity kIdentity{kTarvRGB24FourCC, kTarvRGB24Description, BI_RGB, 24};
    return kIdentity;
}

CEncoder* NewLibraryEncoder() noexcept
{
    return new (std::nothrow) CEncoderTarvRGB24;
}
CDecoder* NewLibraryDecoder() noexcept
{
    return new (std::nothrow) CDecoderTarvRGB24;
}
