// libFuzzer entry of fuzz_roundtrip; the body is tarv_fuzz::Roundtrip (fuzz/targets.h).
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return tarv_fuzz::Roundtrip(data, size);
}
