#pragma once
// The one seam for time and diagnostics: the millisecond tick, the blocking sleep and the
// debugger output. Production code calls Platform(); tests install a FakePlatform.
#include <cstdint>
#include <ctime>
#include <string>

class IPlatform {
public:
    virtual ~IPlatform() = default;
    // 32-bit millisecond tick; wraps after about 49.7 days, so compare by unsigned difference.
    virtual uint32_t GetTickCount() = 0;
    virtual void Sleep(uint32_t ms) = 0;
    virtual void OutputDebugStringA(const char* text) = 0;
    // Monotonic microseconds for time stamps finer than the tick (recording, analysis); only
    // differences count.
    virtual uint64_t GetMicroseconds() = 0;
};

// The platform in force; the real one unless a test installed another.
IPlatform& Platform();
// Installs p (nullptr restores the real platform). Returns the previous one.
IPlatform* SetPlatform(IPlatform* p);

// Where the real platform's debug output goes instead of the debugger or standard error: the
// application installs a sink that hands it to its logging (nullptr restores the default).
// Returns the previous sink.
using DebugSink = void (*)(const char* text);
DebugSink SetDebugSink(DebugSink sink);

// The calendar time t broken down in the local time zone, on every platform (std::localtime
// shares one buffer between threads). False, with out untouched, when t cannot be converted.
bool ToLocalTime(std::time_t t, std::tm& out);

// Elapsed milliseconds from `then` to `now`, correct across the tick's wrap-around.
inline uint32_t TickDiff(uint32_t now, uint32_t then) { return now - then; }

// A platform for tests and tools: the tick moves only when told to (Sleep advances it too),
// and the debugger output is collected.
class FakePlatform : public IPlatform {
public:
    uint32_t m_dwTick = 0;
    std::string m_strDebug;
    uint32_t m_dwSlept = 0;
    uint64_t m_qwMicroExtra = 0;  // added to the tick's microseconds by GetMicroseconds

    uint32_t GetTickCount() override { return m_dwTick; }
    void Sleep(uint32_t ms) override { m_dwTick += ms; m_dwSlept += ms; }
    void OutputDebugStringA(const char* text) override { m_strDebug += text; }
    // The tick in microseconds plus a sub-millisecond part the test may set.
    uint64_t GetMicroseconds() override { return uint64_t(m_dwTick) * 1000 + m_qwMicroExtra; }
    void Advance(uint32_t ms) { m_dwTick += ms; }
};

// Installs a platform for the lifetime of the scope.
class ScopedPlatform {
public:
    explicit ScopedPlatform(IPlatform& p) : m_pPrev(SetPlatform(&p)) {}
    ~ScopedPlatform() { SetPlatform(m_pPrev); }
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;
private:
    IPlatform* m_pPrev;
};
