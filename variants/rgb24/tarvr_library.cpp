// Binds the shared driver to the RGB24 variant: this is what makes libtarvr.
#include "driver/library.h"
#include "entropy/allocation.h"
#include "variants/rgb24/rgb24.h"

const LibraryIdentity& ThisLibrary()
{
    static constexpr LibraryIdentity kIdentity{kTarvRGB24FourCC, kTarvRGB24Description, BI_RGB, 24};
    return kIdentity;
}

CEncoder* NewLibraryEncoder() noexcept
{
    return NewObject<CEncoderTarvRGB24>();
}
CDecoder* NewLibraryDecoder() noexcept
{
    return NewObject<CDecoderTarvRGB24>();
}
