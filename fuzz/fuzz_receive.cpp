// libFuzzer entry for the receive path; the checks live in receive_harness.cpp, shared with the
// random test that runs in every build.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "receive_harness.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The waveform store is a widget: a headless application carries it.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static std::unique_ptr<QApplication> s_app(new QApplication(*argc, *argv));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string strFailure = CheckReceiveInput(data, size);
    if (!strFailure.empty()) {
        std::fprintf(stderr, "receive check failed: %s\n", strFailure.c_str());
        std::abort();
    }
    return 0;
}
