#pragma once
// The simulated pulse's true pulse diagram: one beat of the noise-free wave, sampled densely,
// measured by the definitions in docs/pulse-analysis.md. Which hump is the tidal wave and which
// the dicrotic one is known here from the model (where its components lie), so the truth does
// not depend on how the analysis tells them apart.
#include <functional>

struct TrueBeat {
    double foot = 0;          // s, where the tangent at the steepest upstroke meets the level below
    double t = 0;             // ms, foot to the next foot
    double t1 = 0, t3 = 0, t4 = 0, t5 = 0, w = 0;  // ms
    double h1 = 0, h3 = 0, h4 = 0, h5 = 0;         // in the wave's own units
    double c[11] = {};        // c[2..10]: harmonic amplitudes relative to the first
    bool bTidalPeak = false;
    bool bNotchMinimum = false;
};

constexpr double TRUTH_STEP_S = 0.0004;   // the dense sampling

// Where the tangent at the steepest point of the upstroke starting at shapeStart meets the level
// the upstroke rises from (where, going back, its slope is down to onsetFraction of the steepest).
// The level is where the tangent meets.
double TrueFoot(const std::function<double(double)>& wave, double shapeStart, double onsetFraction,
                double* pLevel = nullptr);

// Measures the beat whose shape starts at s0 (the next at s1); tidalAt and dicroticAt are the
// times of the tidal and dicrotic components' centres. False when a point is missing.
bool MeasureTrueBeat(const std::function<double(double)>& wave, double s0, double s1, double tidalAt,
                     double dicroticAt, double onsetFraction, TrueBeat& out);
