// libFuzzer entry of fuzz_decompress; the body is tarv_fuzz::Decompress (fuzz/targets.h).
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return tarv_fuzz::Decompress(data, size);
}
