// libFuzzer entry of fuzz_gst_payload; the body is tarv_fuzz::GstPayload (fuzz/targets.h).
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return tarv_fuzz::GstPayload(data, size);
}
