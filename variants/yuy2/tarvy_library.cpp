// Binds the shared driver to the YUY2 variant: this is what makes libtarvy.
#include "driver/library.h"
#include "entropy/allocation.h"
#include "variants/yuy2/yuy2.h"

const LibraryIdentity& ThisLibrary()
{
    static constexpr LibraryIdentity kIdentity{kTarvYUY2FourCC, kTarvYUY2Description, kFourCC_YUY2,
                                               16};
    return kIdentity;
}

CEncoder* NewLibraryEncoder() noexcept
{
    return NewObject<CEncoderTarvYUV16>();
}
CDecoder* NewLibraryDecoder() noexcept
{
    return NewObject<CDecoderTarvYUV16>();
}
