// Binds the shared driver to the rgb24 variant: this is what makes libtarvr.
#include "driver/library.h"
#include "variants/rgb24/rgb24.h"

const tarv::VariantInfo& ThisLibrary()
{
    return tarv::kRgb24;
}
