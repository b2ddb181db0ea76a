// Binds the shared driver to the yuy2 variant: this is what makes libtarvy.
#include "driver/library.h"
#include "variants/yuy2/yuy2.h"

const tarv::VariantInfo& ThisLibrary()
{
    return tarv::kYuy2;
}
