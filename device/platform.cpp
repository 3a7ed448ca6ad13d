#include "platform.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<DebugSink> g_debugSink{nullptr};

class RealPlatform : public IPlatform {
public:
    uint32_t GetTickCount() override
    {
#ifdef _WIN32
        return ::GetTickCount();
#else
        using namespace std::chrono;
        return static_cast<uint32_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
#endif
    }
    void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    uint64_t GetMicroseconds() override
    {
        using namespace std::chrono;
        return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void OutputDebugStringA(const char* text) override
    {
        if (const DebugSink sink = g_debugSink.load()) {
            sink(text);
            return;
        }
#ifdef _WIN32
        ::OutputDebugStringA(text);
#else
        std::fputs(text, stderr);
        std::fflush(stderr);
#endif
    }
};

RealPlatform g_real;
IPlatform* g_current = &g_real;

} // namespace

IPlatform& Platform() { return *g_current; }

bool ToLocalTime(std::time_t t, std::tm& out)
{
    std::tm tm{};
#ifdef _WIN32
    if (::localtime_s(&tm, &t) != 0)
        return false;
#else
    if (!::localtime_r(&t, &tm))
        return false;
#endif
    out = tm;
    return true;
}

IPlatform* SetPlatform(IPlatform* p)
{
    IPlatform* prev = (g_current == &g_real) ? nullptr : g_current;
    g_current = p ? p : &g_real;
    return prev;
}

DebugSink SetDebugSink(DebugSink sink) { return g_debugSink.exchange(sink); }
