// Binds the shared driver to the YUY2 variant: this is what makes libtarvy.
#include "driver/library.h"
#include "variants/yuy2/yuy2.h"

#include <new>

const LibraryIdentity& ThisLibrary()
{
    static constexpr LibraryIdentity kIdentity{kTarvYUY2FourCC, kTarvYUY2Description, kFourCC_YUY2,
                                               16};
    return kIdentity;
}

CEncoder* NewLibraryEncoder() noexcept
{
    return new (std::nothrow) CEncoderTarvYUV16;
}
CDecoder* NewLibraryDecoder() noexcept
{
    return new (std::nothrow) CDecoderTarvYUV16;
}
