// libFuzzer entry of fuzz_range_decoder; the body is tarv_fuzz::RangeDecoder (fuzz/targets.h).
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return tarv_fuzz::RangeDecoder(data, size);
}
