// libFuzzer entry of fuzz_messages; the body is tarv_fuzz::Messages (fuzz/targets.h).
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return tarv_fuzz::Messages(data, size);
}
