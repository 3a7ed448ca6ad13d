// ToLocalTime on this platform: the local time of a zone set here, times that mktime takes back
// to the same instant (beyond 2038 too), and a refusal that leaves the caller's value alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>

#include "platform.h"

namespace {

// Sets the process's time zone for the scope (POSIX TZ syntax, which the Windows runtime reads too).
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz)
    {
        if (const char* old = std::getenv("TZ")) {
            m_old = old;
            m_bHadOld = true;
        }
        Set(tz);
    }
    ~ScopedTimeZone() { Set(m_bHadOld ? m_old.c_str() : nullptr); }

private:
    static void Set(const char* tz)
    {
#ifdef _WIN32
        _putenv_s("TZ", tz ? tz : "");
        _tzset();
#else
        if (tz)
            setenv("TZ", tz, 1);
        else
            unsetenv("TZ");
        tzset();
#endif
    }
    std::string m_old;
    bool m_bHadOld = false;
};

} // namespace

TEST(PlatformTime, LocalTimeOfTheZoneRoundTripsAndRefusesTheUnrepresentable)
{
    const ScopedTimeZone zone("EST5EDT");
    std::tm tm{};
    ASSERT_TRUE(ToLocalTime(1700000000, tm));  // 2023-11-14 22:13:20 UTC
    EXPECT_EQ(tm.tm_year + 1900, 2023);
    EXPECT_EQ(tm.tm_mday, 14);
    EXPECT_EQ(tm.tm_hour, 17);
    ASSERT_TRUE(ToLocalTime(1690000000, tm));  // 2023-07-22 04:26:40 UTC, daylight saving time
    EXPECT_EQ(tm.tm_hour, 0);
    EXPECT_GT(tm.tm_isdst, 0);

    for (const std::time_t t : {std::time_t(31536000), std::time_t(1000000000), std::time_t(4102444800)}) {
        ASSERT_TRUE(ToLocalTime(t, tm)) << t;
        EXPECT_EQ(std::mktime(&tm), t) << t;
    }

    std::tm kept{};
    kept.tm_year = 12345;
    EXPECT_FALSE(ToLocalTime(std::numeric_limits<std::time_t>::max(), kept));
    EXPECT_EQ(kept.tm_year, 12345);
}
