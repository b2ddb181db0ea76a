// libFuzzer entry of fuzz_picture; the body is tarv_fuzz::PicturePayload (fuzz/targets.h).
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return tarv_fuzz::PicturePayload(data, size);
}
