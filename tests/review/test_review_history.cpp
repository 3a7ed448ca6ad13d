// The review history against brute force: envelopes and ranges over any stretch, across the
// ring's wrap; missing samples, markers, the live feed's rate on a fake clock; the units' text
// forms and the settings file as sensor-decode reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>

#include "capture/capture_builder.h"
#include "capture_history.h"
#include "channel_units.h"
#include "history_feed.h"
#include "history_store.h"
#include "platform.h"

namespace {

using review::CHistoryStore;
using review::ColumnEnvelope;

// A random walk per channel, so that blocks have real minima and maxima.
std::vector<std::array<uint16_t, 8>> Walk(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::array<uint16_t, 8>> out(n);
    std::array<int, 8> v{};
    v.fill(30000);
    for (auto& s : out) {
        for (int c = 0; c < 8; ++c) {
            v[c] = std::clamp(v[c] + static_cast<int>(rng() % 201) - 100, 0, 65535);
            s[c] = static_cast<uint16_t>(v[c]);
        }
    }
    return out;
}

} // namespace

TEST(ReviewHistory, EnvelopesAndRangesMatchBruteForceAcrossTheWrap)
{
    CHistoryStore store(1);  // rounded up to one top-level block
    const uint64_t cap = store.Capacity();
    const auto data = Walk(cap + cap / 3 + 17, 4);
    for (const auto& s : data)
        store.Append(s.data());
    ASSERT_EQ(store.End(), data.size());
    ASSERT_EQ(store.Begin(), data.size() - cap);

    struct Row {
        double first, last;
        int columns;
    } rows[] = {
        {double(store.Begin()), double(store.End()), 997},       // everything, uneven columns
        {double(store.End()) - 12.5, double(store.End()) + 3, 40}, // fewer samples than columns, past the end
        {double(store.Begin()) - 100, double(store.Begin()) + 5000.3, 7},
        {double(cap) - 1000, double(cap) + 70000, 333},           // across the wrap
        {1e3, 2e3, 10},                                           // forgotten: nothing
    };
    std::vector<ColumnEnvelope> env;
    for (const Row& r : rows) {
        const int ch = static_cast<int>(&r - rows) % 8;
        store.Envelope(ch, r.first, r.last, r.columns, env);
        ASSERT_EQ(env.size(), size_t(r.columns));
        const double w = (r.last - r.first) / r.columns;
        for (int k = 0; k < r.columns; ++k) {
            ColumnEnvelope want;
            for (uint64_t i = store.Begin(); i < store.End(); ++i) {
                const double x = double(i);
                if (x < r.first + w * k || x >= r.first + w * (k + 1))
                    continue;
                const uint16_t v = data[i][static_cast<size_t>(ch)];
                if (!want.any)
                    want = {v, v, v, v, true};
                want.min = std::min(want.min, v);
                want.max = std::max(want.max, v);
                want.last = v;
            }
            const ColumnEnvelope& got = env[static_cast<size_t>(k)];
            ASSERT_EQ(got.any, want.any) << r.first << " column " << k;
            if (want.any) {
                ASSERT_EQ(got.min, want.min) << r.first << " column " << k;
                ASSERT_EQ(got.max, want.max) << r.first << " column " << k;
                ASSERT_EQ(got.first, want.first) << r.first << " column " << k;
                ASSERT_EQ(got.last, want.last) << r.first << " column " << k;
            }
        }
    }
    // Ranges of odd stretches, clamped to what is kept.
    std::mt19937 rng(11);
    for (int t = 0; t < 200; ++t) {
        const uint64_t a = store.Begin() - 50 + rng() % (cap + 100);
        const uint64_t b = a + rng() % 100000;
        const int ch = static_cast<int>(rng() % 8);
        uint16_t lo = 0xFFFF, hi = 0;
        for (uint64_t i = std::max(a, store.Begin()); i < std::min(b, store.End()); ++i) {
            lo = std::min(lo, data[i][static_cast<size_t>(ch)]);
            hi = std::max(hi, data[i][static_cast<size_t>(ch)]);
        }
        if (lo > hi)
            lo = hi = 0;
        EXPECT_EQ(store.Range(ch, a, b), std::make_pair(lo, hi)) << a << ".." << b;
    }
}

TEST(ReviewHistory, MissingSamplesHoldTheLastValueAndMarkersFollowTheHistory)
{
    CHistoryStore store(1);
    const uint16_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    store.AppendMissing();  // nothing to hold yet: zeros
    store.Append(a);
    store.AppendMissing();
    EXPECT_TRUE(store.Missing(0));
    EXPECT_FALSE(store.Missing(1));
    EXPECT_TRUE(store.Missing(2));
    EXPECT_EQ(store.Value(6, 2), 7);
    EXPECT_EQ(store.Range(6, 0, 3), std::make_pair(uint16_t(0), uint16_t(7)));

    store.AddMarker(2, "b");
    store.AddMarker(1, "a");
    store.AddMarker(2, "c");  // same sample: after the one already there
    ASSERT_EQ(store.Markers().size(), 3u);
    EXPECT_EQ(store.Markers()[0].text, "a");
    EXPECT_EQ(store.Markers()[2].text, "c");
    // Markers go with the samples they mark.
    for (uint64_t i = store.End(); i < store.Capacity() + 2; ++i)
        store.Append(a);
    ASSERT_EQ(store.Markers().size(), 2u);
    EXPECT_EQ(store.Markers()[0].text, "b");
}

TEST(ReviewHistory, LiveFeedMeasuresTheRateOnItsClock)
{
    FakePlatform platform;
    ScopedPlatform scoped(platform);
    const uint8_t block[17] = {};
    struct Row {
        double scale;       // a replay's speed
        int burstMs, perBurst;
        double expected;    // frames a second on the scaled clock
    } rows[] = {
        {1, 20, 10, 500},   // 10 frames every 20 ms
        {4, 10, 20, 500},   // a replay at x4: 2000 a second on the line, 500 recorded
        {1, 1, 1, 1000},
    };
    for (const Row& r : rows) {
        CHistoryStore store(1);
        review::CHistoryFeed feed(store);
        feed.SetTimeScale(r.scale);
        for (int t = 0; t < 3000 / r.burstMs; ++t) {
            platform.Advance(static_cast<uint32_t>(r.burstMs));
            for (int i = 0; i < r.perBurst; ++i)
                feed.OnDataFrame(block, i % 7 != 3);
        }
        EXPECT_TRUE(store.RateMeasured());
        EXPECT_NEAR(store.SampleRate(), r.expected, r.expected * 0.01) << r.scale;
        EXPECT_EQ(store.End(), uint64_t(3000 / r.burstMs * r.perBurst));
        // A stop ends the run: the next frames start a new one and keep the last rate until
        // they have been measured for a second.
        feed.OnStopAck();
        platform.Advance(5000);
        feed.OnDataFrame(block, true);
        EXPECT_NEAR(store.SampleRate(), r.expected, r.expected * 0.01);
    }
}

TEST(ReviewHistory, CaptureReadsEveryDataFrameWithItsNumber)
{
    // Frames in three reads and a bad one between; garbage and a command around them.
    CaptureBuilder b;
    Bytes reads[3];
    uint16_t w[8];
    for (int k = 0; k < 30; ++k) {
        FrameWords(k, w);
        const Bytes f = DataFrame(w, k != 11);
        reads[k / 10].insert(reads[k / 10].end(), f.begin(), f.end());
    }
    b.Sent(0, Command(proto::CODE_START, proto::ADDR_SENSOR)).Recv(1000, {0x55}).Recv(20000, reads[0]);
    b.Recv(40000, reads[1]).Recv(60000, reads[2]);
    const std::string path = ::testing::TempDir() + "review-history.vcap";
    {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.Get().data()), std::streamsize(b.Size()));
    }
    review::CaptureHistory h;
    std::string error;
    ASSERT_TRUE(review::LoadCaptureHistory(path, h, &error)) << error;
    EXPECT_EQ(h.qwFrames, 30u);
    EXPECT_EQ(h.header.path, "/dev/ttyUSB0");
    EXPECT_NEAR(h.pStore->SampleRate(), 500, 1);  // 10 frames every 20 ms
    for (int k = 0; k < 30; ++k) {
        FrameWords(k == 11 ? 10 : k, w);  // the bad frame holds the one before
        EXPECT_EQ(h.pStore->Missing(uint64_t(k)), k == 11);
        for (int c = 0; c < 8; ++c)
            EXPECT_EQ(h.pStore->Value(c, uint64_t(k)), w[review::CHANNEL_WORDS[c]]) << k << "," << c;
    }
    // Cut inside the last record: read up to it, and said so. Not a capture: refused.
    Bytes cut = b.Get();
    cut.resize(cut.size() - 5);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(cut.data()), std::streamsize(cut.size()));
    ASSERT_TRUE(review::LoadCaptureHistory(path, h, &error)) << error;
    EXPECT_TRUE(h.bTruncated);
    EXPECT_EQ(h.qwFrames, 20u);
    std::ofstream(path, std::ios::binary) << "not a capture at all";
    EXPECT_FALSE(review::LoadCaptureHistory(path, h, &error));
    EXPECT_NE(error.find("not a capture"), std::string::npos) << error;
    std::remove(path.c_str());
}

TEST(PressureUnits, TextFormsAndTheSettingsFile)
{
    struct Row {
        const char* text;
        bool ok;
        const char* formatted;  // of the result, when ok
    } rows[] = {
        {"1=mmHg:12.5,2=kPa:0.25,3=g:3", true, "1=mmHg:12.5,2=kPa:0.25,3=g:3"},
        {"2=cmH2O:+1e2", true, "1=counts:1,2=cmH2O:100,3=counts:1"},
        {" 3 = g : 2 ,", true, "1=counts:1,2=counts:1,3=g:2"},
        {"", true, "1=counts:1,2=counts:1,3=counts:1"},
        {"4=g:1", false, nullptr},
        {"1=mm Hg:1", false, nullptr},
        {"1=abcdefghi:1", false, nullptr},
        {"1=g:0", false, nullptr},
        {"1=g:1e7", false, nullptr},
        {"1=g:12,5", false, nullptr},
        {"1=g", false, nullptr},
        {"1=g:1,,2=g:1", false, nullptr},
    };
    for (const Row& r : rows) {
        units::PressureUnits u;
        std::string problem;
        EXPECT_EQ(units::ParseUnits(r.text, u, &problem), r.ok) << r.text;
        if (r.ok)
            EXPECT_EQ(units::FormatUnits(u), r.formatted) << r.text;
        else
            EXPECT_FALSE(problem.empty()) << r.text;
    }
    EXPECT_EQ(units::FormatValue(1234), "1234");
    EXPECT_EQ(units::FormatValue(1234 / 3.0), "411.333333");
    EXPECT_EQ(units::FormatValue(65535 / 0.001), "65535000");

    // The file as QSettings writes it; other groups and keys pass by.
    const std::string path = ::testing::TempDir() + "units.conf";
    std::ofstream(path) << "[PortMap]\nunit1=x y\n\n[units]\nunit1=mmHg\nscale1=12.5\nunit3=\"g\"\nscale3=3\nother=1\n";
    units::PressureUnits u;
    std::string problem;
    ASSERT_TRUE(units::ReadUnitsFromSettingsFile(path, u, &problem)) << problem;
    EXPECT_EQ(units::FormatUnits(u), "1=mmHg:12.5,2=counts:1,3=g:3");
    std::ofstream(path) << "[units]\nscale2=-4\n";
    EXPECT_FALSE(units::ReadUnitsFromSettingsFile(path, u, &problem));
    EXPECT_NE(problem.find("scale2=-4"), std::string::npos) << problem;
    std::remove(path.c_str());
    EXPECT_FALSE(units::ReadUnitsFromSettingsFile(path, u, &problem));
}
