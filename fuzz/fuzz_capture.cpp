// libFuzzer entry for the capture reader; the checks live in capture_harness.cpp, shared with
// the random test that runs in every build.
#include <cstdio>
#include <cstdlib>

#include "capture_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string strFailure = CheckCaptureInput(data, size);
    if (!strFailure.empty()) {
        std::fprintf(stderr, "capture check failed: %s\n", strFailure.c_str());
        std::abort();
    }
    return 0;
}
