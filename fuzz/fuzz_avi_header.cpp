// libFuzzer entry of fuzz_avi_header; the body is tarv_fuzz::AviHeader (fuzz/targets.h).
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return tarv_fuzz::AviHeader(data, size);
}
