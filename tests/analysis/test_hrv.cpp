// Heart-rate variability on interval series with known figures: a constant series has none, a
// sine-modulated one has the power of its sines (A^2 / 2) in their bands, alternating intervals
// give their difference; too short a series leaves the figures unknown; ectopic and missed
// beats, doubtful R waves and a new data run leave their intervals and neighbours out.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>

#include "hrv.h"

namespace {

using analysis::BeatTime;

constexpr double PI = 3.14159265358979323846;

// R waves over `seconds`, each interval given by rr(k, start time) in milliseconds.
std::vector<BeatTime> Beats(double seconds, const std::function<double(int, double)>& rr)
{
    std::vector<BeatTime> beats{{1.0, 1, true}};
    for (int k = 0; beats.back().tS < seconds + 1; ++k)
        beats.push_back({beats.back().tS + rr(k, beats.back().tS) / 1000, 1, true});
    return beats;
}

std::function<double(int, double)> Sines(double meanMs, double lfMs, double hfMs)
{
    return [=](int, double t) { return meanMs + lfMs * std::sin(2 * PI * 0.1 * t) + hfMs * std::sin(2 * PI * 0.25 * t + 1); };
}

// What a figure must be: not checked, unknown, or a value within a tolerance.
struct Want {
    enum Kind { Skip, Unknown, Value } kind = Skip;
    double v = 0;
    double tol = 0;
};
const Want SKIP{};
const Want UNKNOWN{Want::Unknown};
Want Near(double v, double tol) { return Want{Want::Value, v, tol}; }

void Check(const char* what, const std::optional<double>& got, const Want& want, const char* name)
{
    if (want.kind == Want::Unknown) {
        EXPECT_FALSE(got) << name << ' ' << what << " = " << got.value_or(0);
    } else if (want.kind == Want::Value) {
        ASSERT_TRUE(got) << name << ' ' << what;
        EXPECT_NEAR(*got, want.v, want.tol) << name << ' ' << what;
    }
}

} // namespace

TEST(Hrv, KnownSeries)
{
    // RMSSD of a sine of amplitude A at f sampled every T: sqrt(2) A sin(pi f T) (both summed).
    const double rmssdBoth = std::sqrt(2 * 40 * 40 * std::pow(std::sin(PI * 0.1 * 0.8), 2) +
                                       2 * 30 * 30 * std::pow(std::sin(PI * 0.25 * 0.8), 2));
    struct Case {
        const char* name;
        double seconds;
        std::function<double(int, double)> rr;
        Want sdnn, rmssd, pnn50, lf, hf, lfHf;
    } cases[] = {
        {"constant", 300, Sines(800, 0, 0), Near(0, 1e-9), Near(0, 1e-9), Near(0, 0), Near(0, 1e-6), Near(0, 1e-6), UNKNOWN},
        {"LF sine", 300, Sines(800, 40, 0), Near(40 / std::sqrt(2), 1), SKIP, Near(0, 0), Near(800, 16), Near(0, 1), SKIP},
        {"HF sine", 300, Sines(800, 0, 30), Near(30 / std::sqrt(2), 1), SKIP, SKIP, Near(0, 1), Near(450, 14), SKIP},
        {"both", 300, Sines(800, 40, 30), Near(std::sqrt(1250.0), 1.5), Near(rmssdBoth, rmssdBoth * 0.05), SKIP,
         Near(800, 16), Near(450, 14), Near(800.0 / 450, 0.06)},
        {"alternating", 120, [](int k, double) { return k % 2 ? 900.0 : 800.0; }, Near(50, 0.3), Near(100, 1e-6),
         Near(100, 0), SKIP, SKIP, SKIP},
        {"90 s: no band powers", 90, Sines(800, 40, 30), Near(std::sqrt(1250.0), 4), Near(rmssdBoth, 2), SKIP, UNKNOWN,
         UNKNOWN, UNKNOWN},
        {"50 s: nothing", 50, Sines(800, 40, 30), UNKNOWN, UNKNOWN, UNKNOWN, UNKNOWN, UNKNOWN, UNKNOWN},
    };
    for (const Case& c : cases) {
        const analysis::HrvFigures f = analysis::HrvOf(analysis::NnIntervals(Beats(c.seconds, c.rr)));
        EXPECT_NEAR(f.nnTotalS, c.seconds, 2) << c.name;  // nothing rejected
        Check("SDNN", f.sdnnMs, c.sdnn, c.name);
        Check("RMSSD", f.rmssdMs, c.rmssd, c.name);
        Check("pNN50", f.pnn50Pct, c.pnn50, c.name);
        Check("LF", f.lfMs2, c.lf, c.name);
        Check("HF", f.hfMs2, c.hf, c.name);
        Check("LF/HF", f.lfHf, c.lfHf, c.name);
    }
}

TEST(Hrv, RejectedBeatsAndTheirNeighbours)
{
    // 400 beats at 800 ms; each case spoils the series around beat 200.
    struct Case {
        const char* name;
        std::function<void(std::vector<BeatTime>&)> spoil;
        size_t nLeftOut;  // of the 399 intervals
    } cases[] = {
        {"clean", [](auto&) {}, 0},
        // 480 ms early, then the compensatory pause: both, and one interval each side.
        {"ectopic beat", [](auto& b) { b[200].tS -= 0.32; }, 4},
        // A missed R wave makes one interval of 1600 ms: it and its two neighbours.
        {"missed beat", [](auto& b) { b.erase(b.begin() + 200); }, 4},
        {"doubtful R wave", [](auto& b) { b[200].valid = false; }, 2},
        {"new data run", [](auto& b) { for (size_t i = 200; i < b.size(); ++i) b[i].run = 2; }, 1},
        {"pause beyond 30 a minute", [](auto& b) { for (size_t i = 200; i < b.size(); ++i) b[i].tS += 2; }, 3},
    };
    for (const Case& c : cases) {
        std::vector<BeatTime> beats;
        for (int i = 0; i < 400; ++i)
            beats.push_back({i * 0.8, 1, true});
        c.spoil(beats);
        const auto nn = analysis::NnIntervals(beats);
        EXPECT_EQ(nn.size(), 399 - c.nLeftOut) << c.name;
        size_t nBreaks = 0;
        for (size_t i = 1; i < nn.size(); ++i) {
            EXPECT_NEAR(nn[i].ms, 800, 1e-6) << c.name << " interval " << i;
            nBreaks += nn[i].bFollows ? 0 : 1;
        }
        EXPECT_EQ(nBreaks, c.nLeftOut ? 1u : 0u) << c.name;
        const analysis::HrvFigures f = analysis::HrvOf(nn);
        EXPECT_NEAR(f.sdnnMs.value_or(-1), 0, 1e-9) << c.name;
        EXPECT_NEAR(f.rmssdMs.value_or(-1), 0, 1e-9) << c.name;
    }
}
