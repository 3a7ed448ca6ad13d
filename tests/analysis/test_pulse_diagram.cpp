// The pulse diagram's fiducial finder on synthetic beats of the test's own shapes, against the
// points the definitions give on the noise-free wave densely sampled (pulse_truth.h): with a
// tidal wave that has a peak of its own and one that is only a shoulder, a notch with no
// minimum, noise, and the rules that reject a beat. Then the pressure-amplitude curve and its
// rule on scripted point sets.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "pressure_curve.h"
#include "pulse_diagram.h"
#include "pulse_truth.h"
#include "synthetic.h"

namespace {

using namespace analysis;

// One beat from its start: main wave, tidal and dicrotic waves, run-off.
struct Shape {
    double fall;                  // the main wave's fall, s
    double tidal, tidalAt, tidalWidth;
    double dicrotic, dicroticAt;
    double runoff;
    double operator()(double t) const
    {
        if (t < 0)
            return 0;
        const double main = t < 0.1 ? synth::Gauss(t, 0.1, 0.03) : synth::Gauss(t, 0.1, fall);
        const double rise = t > 0.12 ? 1.0 : 0.5 - 0.5 * std::cos(synth::PI * t / 0.12);
        return main + tidal * synth::Gauss(t, tidalAt, tidalWidth) + dicrotic * synth::Gauss(t, dicroticAt, 0.04)
             + runoff * rise * std::exp(-t / 0.4);
    }
};

constexpr double PERIOD = 0.9;
constexpr double COUNTS = 400;

struct Case {
    const char* name;
    Shape shape;
    double fs;
    double noise;       // half-width of even noise, counts
    double heightTol;   // of h / h1
    double timeTol;     // ms
    bool bTidalPeak, bNotchMinimum;
};

} // namespace

TEST(PulseDiagram, PointsOfSyntheticBeatsAgreeWithTheDefinitions)
{
    const Shape separateTidal{0.04, 0.55, 0.24, 0.04, 0.25, 0.42, 0.2};
    const Shape shoulder{0.08, 0.3, 0.25, 0.06, 0.28, 0.45, 0.25};
    const Shape noNotchMinimum{0.06, 0.4, 0.22, 0.05, 0.1, 0.44, 1.8};
    const Case cases[] = {
        {"tidal peak", separateTidal, 500, 0, 0.01, 2, true, true},
        {"tidal shoulder", shoulder, 1000, 0, 0.01, 2, false, true},
        {"no notch minimum", noNotchMinimum, 500, 0, 0.01, 3, false, false},
        {"tidal peak, 250/s, noise", separateTidal, 250, 2, 0.03, 6, true, true},
        {"shoulder, 250/s, noise", shoulder, 250, 2, 0.03, 6, false, true},
        {"no notch minimum, 1219/s, noise", noNotchMinimum, 1219, 2, 0.03, 6, false, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const auto wave = [&](double t) {
            double v = 0;
            for (int j = -6; j <= 2; ++j)
                v += k.shape(t - j * PERIOD);
            return v;
        };
        TrueBeat truth;
        ASSERT_TRUE(MeasureTrueBeat(wave, 0, PERIOD, k.shape.tidalAt, k.shape.dicroticAt, 0.1, truth));
        ASSERT_EQ(truth.bTidalPeak, k.bTidalPeak);
        ASSERT_EQ(truth.bNotchMinimum, k.bNotchMinimum);
        // Sampled from half a second before the beat, on a baseline of 60 counts.
        const double from = -0.5;
        std::vector<double> x;
        for (size_t i = 0; from + static_cast<double>(i) / k.fs < PERIOD + 0.5; ++i)
            x.push_back(60 + COUNTS * wave(from + static_cast<double>(i) / k.fs) + synth::Extra(0, i, {0, 0, k.noise}));
        // The feet as a foot finder might give them, a few ms off; the beat places them again.
        MeasuredBeat b;
        ASSERT_EQ(MeasureBeat(x, k.fs, (truth.foot - 0.004 - from) * k.fs, (truth.foot + truth.t / 1000 + 0.003 - from) * k.fs, b),
                  BeatStatus::Valid);
        EXPECT_EQ(b.points.bTidalPeak, k.bTidalPeak);
        EXPECT_EQ(b.points.bNotchMinimum, k.bNotchMinimum);
        const double* v = b.values;
        EXPECT_NEAR(v[PF_H1] / COUNTS, truth.h1, k.heightTol * truth.h1);
        EXPECT_NEAR(v[PF_H3_H1], truth.h3 / truth.h1, k.heightTol);
        EXPECT_NEAR(v[PF_H4_H1], truth.h4 / truth.h1, k.heightTol);
        EXPECT_NEAR(v[PF_H5_H1], truth.h5 / truth.h1, k.heightTol);
        EXPECT_NEAR(v[PF_T], truth.t, k.timeTol);
        EXPECT_NEAR(v[PF_T1], truth.t1, k.timeTol);
        EXPECT_NEAR(v[PF_T4], truth.t4, k.timeTol);
        EXPECT_NEAR(v[PF_T5], truth.t5, k.timeTol + 2);
        EXPECT_NEAR(v[PF_W], truth.w, k.timeTol);
        if (k.bTidalPeak || k.noise == 0) {  // a shoulder's place is flat, and noise moves it more
            EXPECT_NEAR(v[PF_T3], truth.t3, 2 * k.timeTol);
        }
        for (int h = 2; h <= 5; ++h)
            EXPECT_NEAR(v[PF_C2 + h - 2], truth.c[h], 0.02) << "C" << h;
        // The areas split at the notch and add up to the whole.
        EXPECT_GT(v[PF_AS], v[PF_AD] * 0.5);
        EXPECT_NEAR(v[PF_T4_T5], v[PF_T4] / v[PF_T5], 1e-9);
        ASSERT_EQ(b.shape.size(), static_cast<size_t>(SHAPE_POINTS));
        EXPECT_NEAR(*std::max_element(b.shape.begin(), b.shape.end()), v[PF_H1], 0.02 * v[PF_H1]);
    }
}

TEST(PulseDiagram, MeterRejectsAndCountsBeats)
{
    // A steady train at 250/s through the meter, feet given at the shapes' known feet, with a
    // frame missing here and there, a longer gap, a weak foot and a dropped foot.
    const Shape shape{0.08, 0.3, 0.25, 0.06, 0.28, 0.45, 0.25};
    const double fs = 250;
    const auto wave = [&](double t) {
        double v = 0;
        for (int j = -6; j <= 20; ++j)
            v += shape(t - j * PERIOD);
        return v;
    };
    TrueBeat truth;
    ASSERT_TRUE(MeasureTrueBeat(wave, 0, PERIOD, shape.tidalAt, shape.dicroticAt, 0.1, truth));
    CBeatMeter meter(fs);
    const double offset = truth.foot;  // foot after the shape's start
    size_t nextFoot = 0;
    for (size_t i = 0; i < static_cast<size_t>(12 * PERIOD * fs); ++i) {
        const double t = static_cast<double>(i) / fs;
        const size_t beat = static_cast<size_t>(t / PERIOD);
        const double inBeat = t - static_cast<double>(beat) * PERIOD;
        bool bMissing = false;
        if (beat == 2)
            bMissing = i % 40 == 0;                      // single frames: bridged
        if (beat == 4)
            bMissing = inBeat > 0.30 && inBeat < 0.33;   // 30 ms: too long
        if (beat == 6)
            bMissing = i % 4 == 0;                       // a quarter of the beat: too many
        meter.Add(COUNTS * wave(t), 1000 + 100 * static_cast<double>(beat), bMissing);
        // A foot is known some 150 ms after it.
        const double footT = static_cast<double>(nextFoot) * PERIOD + offset;
        if (t >= footT + 0.15) {
            if (nextFoot != 9)  // missed: beat 8 runs on into beat 9
                meter.Foot(footT * fs, nextFoot != 7);  // beat 6 ends and beat 7 starts on a weak foot
            ++nextFoot;
        }
    }
    std::vector<MeasuredBeat>& found = meter.Found();
    // Two beats as one, across the missed foot, are no beat.
    const BeatStatus expected[] = {BeatStatus::Valid,   BeatStatus::Valid,    BeatStatus::Valid,
                                   BeatStatus::Valid,   BeatStatus::Missing,  BeatStatus::Valid,
                                   BeatStatus::Missing, BeatStatus::WeakFoot, BeatStatus::NoPoint};
    ASSERT_GE(found.size(), 9u);
    for (size_t k = 0; k < 9; ++k)
        EXPECT_EQ(found[k].status, expected[k]) << "beat " << k;
    EXPECT_NEAR(found[3].startPos / fs, 3 * PERIOD + offset, 0.002);
    EXPECT_NEAR(found[1].pressure, 1100 + 100 * offset / PERIOD, 2);  // averaged over the beat
    EXPECT_NEAR(found[2].values[PF_H4_H1], truth.h4 / truth.h1, 0.02);

    // A period outside 30..220 a minute is rejected as such.
    std::vector<double> x(3000, 60.0);
    MeasuredBeat b;
    EXPECT_EQ(MeasureBeat(x, fs, 10, 10 + 2.2 * fs, b), BeatStatus::Rate);
    EXPECT_EQ(MeasureBeat(x, fs, 10, 10 + 0.25 * fs, b), BeatStatus::Rate);
    EXPECT_EQ(MeasureBeat(x, fs, 10, 10 + PERIOD * fs, b), BeatStatus::NoPoint);  // flat: no wave
}

TEST(PulseDiagram, SummaryTakesTheLeadingBeatsAndAveragesThem)
{
    // Beats of one shape at two amplitudes: only those at least 80 % of the largest count.
    std::vector<MeasuredBeat> beats(12);
    for (size_t k = 0; k < beats.size(); ++k) {
        MeasuredBeat& b = beats[k];
        b.status = k == 11 ? BeatStatus::Missing : BeatStatus::Valid;
        const double h1 = k < 8 ? 300 + static_cast<double>(k) : 150;
        b.values[PF_H1] = h1;
        b.values[PF_T] = 800 + 10 * static_cast<double>(k);
        b.values[PF_H3_H1] = k < 8 ? 0.5 : 0.9;
        b.shape.assign(SHAPE_POINTS, 0.0f);
        for (int i = 0; i < SHAPE_POINTS; ++i)
            b.shape[static_cast<size_t>(i)] = static_cast<float>(h1 * std::sin(synth::PI * i / (SHAPE_POINTS - 1)));
    }
    std::vector<const MeasuredBeat*> pointers;
    for (const MeasuredBeat& b : beats)
        pointers.push_back(&b);
    const PulseDiagram d = SummariseBeats(pointers);
    EXPECT_EQ(d.beats, 11);
    EXPECT_EQ(d.rejected, 1);
    EXPECT_EQ(d.used, 8);
    EXPECT_DOUBLE_EQ(*d.median[PF_H3_H1], 0.5);
    EXPECT_DOUBLE_EQ(*d.median[PF_T], 835);
    EXPECT_DOUBLE_EQ(d.averaged.periodMs, 835);
    EXPECT_NEAR(d.averaged.heights[SHAPE_POINTS / 2], 303.5, 0.5);

    pointers.resize(2);  // too few beats: unknown, and no averaged beat
    const PulseDiagram few = SummariseBeats(pointers);
    EXPECT_FALSE(few.median[PF_H1]);
    EXPECT_EQ(few.averaged.periodMs, 0);
}

TEST(PressureCurve, RuleOnScriptedPoints)
{
    struct Case {
        const char* name;
        double low, high;
        double peakShare;            // where the bell peaks in the range; <0: rising, >1: falling
        int perBin;                  // points in each 16th of the range
        PulsePosition position;
        PeakEnd end;
    };
    const Case cases[] = {
        {"floating", 200, 3200, 0.27, 5, PulsePosition::Floating, PeakEnd::None},
        {"middle", 200, 3200, 0.5, 5, PulsePosition::Middle, PeakEnd::None},
        {"deep", 500, 2100, 0.75, 4, PulsePosition::Deep, PeakEnd::None},
        {"no sweep", 1000, 1150, 0.5, 5, PulsePosition::Unknown, PeakEnd::None},
        {"rising all the way", 200, 3200, -1, 5, PulsePosition::Deep, PeakEnd::High},
        {"falling all the way", 200, 3200, 2, 5, PulsePosition::Floating, PeakEnd::Low},
        {"peak too near an end", 200, 3200, 0.1, 5, PulsePosition::Unknown, PeakEnd::None},
        {"too few beats a bin", 200, 3200, 0.5, 2, PulsePosition::Unknown, PeakEnd::None},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<PressurePoint> points;
        const double span = k.high - k.low, width = span / PH_BINS;
        const double peak = k.low + k.peakShare * span;
        for (int bin = 0; bin < PH_BINS; ++bin)
            for (int i = 0; i < k.perBin; ++i) {
                const double p = k.low + (bin + (i + 0.5) / k.perBin) * width;
                const double h1 = k.peakShare < 0   ? 100 + 0.1 * (p - k.low)
                                : k.peakShare > 1   ? 400 - 0.1 * (p - k.low)
                                                    : 100 + 300 * std::exp(-0.5 * std::pow((p - peak) / (0.15 * span), 2));
                points.push_back({p, h1 + (i % 2 ? 3 : -3)});
            }
        const PressureCurve c = FitPressureCurve(points);
        EXPECT_EQ(c.position, k.position);
        EXPECT_EQ(c.peakEnd, k.end);
        EXPECT_NEAR(c.lowest, k.low + width / k.perBin / 2, 1e-6);
        ASSERT_EQ(c.bins.size(), static_cast<size_t>(PH_BINS));
        if (k.position == PulsePosition::Unknown) {
            EXPECT_FALSE(c.bestPressure);
            EXPECT_FALSE(c.depth);
        } else if (k.end == PeakEnd::None) {
            EXPECT_NEAR(*c.bestPressure, peak, 0.25 * width);
            EXPECT_NEAR(*c.depth, (*c.bestPressure - c.lowest) / (c.highest - c.lowest), 1e-9);
        } else {
            EXPECT_NEAR(*c.bestPressure, k.end == PeakEnd::High ? c.bins.back().Centre() : c.bins.front().Centre(), 1e-6);
        }
    }
    // A last bin of two outlying beats is left out, and no point at all gives no curve.
    std::vector<PressurePoint> points;
    for (int i = 0; i < 150; ++i)
        points.push_back({200 + 2800.0 * i / 149, 200.0 + i % 3});
    points.push_back({3150, 5000});
    points.push_back({3200, 5000});
    const PressureCurve c = FitPressureCurve(points);
    EXPECT_EQ(c.bins.back().beats, 2);
    EXPECT_FALSE(c.bins.back().medianH1);
    EXPECT_LT(*c.bestPressure, 3000);
    EXPECT_TRUE(FitPressureCurve({}).bins.empty());
    EXPECT_STREQ(PositionName(PulsePosition::Unknown), "unknown");
}
