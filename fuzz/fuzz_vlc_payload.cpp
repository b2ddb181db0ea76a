// libFuzzer entry of fuzz_vlc_payload; the body is tarv_fuzz::VlcPayload (fuzz/targets.h).
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return tarv_fuzz::VlcPayload(data, size);
}
