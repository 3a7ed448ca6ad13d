// Rates and transit times from frames with arrival times: right on clean signals, "unknown"
// for a flat line, noise, and rates outside 30..220 a minute, unknown again once the data has
// stopped for the window's length; lost and unusable frames keep their place in time.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "signal_analysis.h"
#include "synthetic.h"

namespace {

using analysis::CSignalAnalysis;
using analysis::SignalFigures;

constexpr double PTT_S[3] = {0.12, 0.16, 0.21};

struct Signals {
    std::vector<double> ecg;
    std::vector<double> pulse[3];
};

// ECG and three pulse waves at bpm, each pulse foot PTT_S[c] after its R wave.
Signals Beats(double fs, double seconds, double bpm)
{
    Signals s;
    const auto r = synth::BeatTimes(bpm, seconds);
    s.ecg = synth::Render(fs, seconds, r, synth::NormalBeat, {0.2, 0.02, 0.01});
    for (int c = 0; c < 3; ++c) {
        auto feet = r;
        for (double& t : feet)
            t += PTT_S[c];
        s.pulse[c] = synth::Render(fs, seconds, feet, synth::PulseBeat, {0, 0, 0.003});
    }
    return s;
}

// Frames arrive in bursts every 5 ms from t0Us, as a serial line delivers them. skip(i) says
// what becomes of frame i: 0 delivered, 1 lost on the line (its bytes passed over), 2 failed check.
uint64_t Feed(CSignalAnalysis& a, double fs, const Signals& s, uint64_t t0Us = 0,
              const std::function<int(size_t)>& fate = nullptr)
{
    uint64_t t = t0Us;
    size_t i = 0;
    while (i < s.ecg.size()) {
        t += 5000;
        const size_t due = std::min(s.ecg.size(), static_cast<size_t>(static_cast<double>(t - t0Us) / 1e6 * fs));
        for (; i < due; ++i) {
            const int what = fate ? fate(i) : 0;
            if (what == 3) {
                continue;  // gone without a trace
            } else if (what == 1) {
                a.NoteLostBytes(21);
            } else if (what == 2) {
                a.AddUnusableFrame(t);
            } else {
                const int p[3] = {static_cast<int>(2000 + 400 * s.pulse[0][i]), static_cast<int>(2000 + 400 * s.pulse[1][i]),
                                  static_cast<int>(2000 + 400 * s.pulse[2][i])};
                a.AddFrame(t, static_cast<int>(1000 + 300 * s.ecg[i]), p);
            }
        }
    }
    return t;
}

bool AllUnknown(const SignalFigures& f)
{
    bool any = f.heartRate.has_value();
    for (int c = 0; c < 3; ++c)
        any = any || f.pulseRate[c] || f.pttMs[c];
    return !any;
}

void ExpectRight(const SignalFigures& f, double bpm, double tolBpm = 1.0, double tolMs = 3.0)
{
    ASSERT_TRUE(f.heartRate);
    EXPECT_NEAR(*f.heartRate, bpm, tolBpm);
    for (int c = 0; c < 3; ++c) {
        ASSERT_TRUE(f.pulseRate[c]) << c;
        ASSERT_TRUE(f.pttMs[c]) << c;
        EXPECT_NEAR(*f.pulseRate[c], bpm, tolBpm) << c;
        EXPECT_NEAR(*f.pttMs[c], 1000 * PTT_S[c], tolMs) << c;
    }
}

} // namespace

TEST(SignalFigures, RightForBeatsUnknownForFlatNoiseAndRatesOutOfRange)
{
    const double fs = 500;
    const double seconds = 24;
    {
        CSignalAnalysis a;
        const uint64_t end = Feed(a, fs, Beats(fs, seconds, 60));
        ExpectRight(a.Figures(end), 60);
        EXPECT_NEAR(a.SampleRate(), fs, 0.5);
    }
    Signals flat;
    flat.ecg.assign(static_cast<size_t>(seconds * fs), 0.0);
    for (auto& p : flat.pulse)
        p = flat.ecg;
    Signals noise = flat;
    for (size_t i = 0; i < noise.ecg.size(); ++i) {
        noise.ecg[i] = synth::Extra(0, i, {0, 0, 0.3});
        for (int c = 0; c < 3; ++c)
            noise.pulse[c][i] = synth::Extra(0, i * 7 + c + 1, {0, 0, 0.3});
    }
    const struct {
        const char* name;
        Signals s;
    } unknown[] = {
        {"flat", flat},
        {"noise", noise},
        {"25 a minute", Beats(fs, seconds, 25)},
        {"250 a minute", Beats(fs, seconds, 250)},
    };
    for (const auto& u : unknown) {
        CSignalAnalysis a;
        const uint64_t end = Feed(a, fs, u.s);
        EXPECT_TRUE(AllUnknown(a.Figures(end))) << u.name;
    }
}

TEST(SignalFigures, UnknownOnceTheDataStoppedAndRightAgainAfterAPause)
{
    const double fs = 250;
    CSignalAnalysis a;
    uint64_t end = Feed(a, fs, Beats(fs, 15, 90));
    ExpectRight(a.Figures(end), 90);
    // The window still holds a few beats 7 s on, but none 10.5 s on.
    EXPECT_TRUE(a.Figures(end + 7000000).heartRate);
    EXPECT_TRUE(AllUnknown(a.Figures(end + 10500000)));

    // The sensor streams again after 20 s: a new run with its own clock, and no interval
    // measured across the pause.
    end = Feed(a, fs, Beats(fs, 12, 120), end + 20000000);
    ExpectRight(a.Figures(end), 120);
    EXPECT_NEAR(a.SampleRate(), fs, 0.5);
}

TEST(SignalFigures, LostAndUnusableFramesKeepTheirPlaceInTime)
{
    const double fs = 1219;
    const Signals s = Beats(fs, 20, 120);
    // Every 25th frame lost on the line, every 40th with a failed check.
    const auto fate = [](size_t i) { return i % 25 == 7 ? 1 : (i % 40 == 3 ? 2 : 0); };
    CSignalAnalysis a;
    const uint64_t end = Feed(a, fs, s, 0, fate);
    EXPECT_NEAR(static_cast<double>(a.LostSlots()), s.ecg.size() / 25.0, 2);
    EXPECT_NEAR(a.SampleRate(), fs, 0.005 * fs);
    ExpectRight(a.Figures(end), 120);

    // Unnoticed losses would run the clock 4 % slow.
    CSignalAnalysis blind;
    Feed(blind, fs, s, 0, [&](size_t i) { return fate(i) == 1 ? 3 : fate(i); });
    EXPECT_LT(blind.SampleRate(), 0.97 * fs);
}

// What comes between two frames, and the slots it takes: garbage none, each destroyed frame one,
// and bytes dropped by the receive ring their whole frames, counted with what was passed over
// after them (the rest of the frames the drop cut).
TEST(SignalFigures, SlotsForWhatCameBetweenTwoFrames)
{
    const struct {
        const char* name;
        uint64_t skipped, destroyed, dropped, skippedAfter, destroyedAfter, slots;
    } cases[] = {
        {"garbage", 30, 0, 0, 0, 0, 0},
        {"a destroyed frame", 21, 1, 0, 0, 0, 1},
        {"two destroyed frames in garbage", 50, 2, 0, 0, 0, 2},
        {"a byte dropped, the rest of its frame passed over", 0, 0, 1, 20, 0, 1},
        {"five frames dropped", 0, 0, 105, 0, 0, 5},
        {"a destroyed frame, then a drop with one in what followed it", 21, 1, 9, 33, 1, 3},
    };
    for (const auto& c : cases) {
        CSignalAnalysis a;
        const int p[3] = {0, 0, 0};
        a.AddFrame(1000, 0, p);
        a.NoteSkippedBytes(c.skipped);
        a.NoteDestroyedFrames(c.destroyed);
        a.NoteLostBytes(c.dropped);
        a.NoteSkippedBytes(c.skippedAfter);
        a.NoteDestroyedFrames(c.destroyedAfter);
        a.AddFrame(2000, 0, p);
        EXPECT_EQ(a.LostSlots(), c.slots) << c.name;
    }
}
