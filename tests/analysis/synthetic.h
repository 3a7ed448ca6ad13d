#pragma once
// Synthetic ECG and pulse waves with known R waves and feet, for the detectors' tests. Shapes
// are the test's own (not the simulator's), so the detectors are not tuned to one generator.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace synth {

constexpr double PI = 3.14159265358979323846;

inline double Gauss(double t, double mean, double sigma)
{
    const double z = (t - mean) / sigma;
    return std::exp(-0.5 * z * z);
}

// One normal beat around its R wave at t = 0 (height 1), and a premature ventricular beat:
// wide, tall, no P wave, its peak at t = 0.
inline double NormalBeat(double t)
{
    if (t < -0.3 || t > 0.5)
        return 0;
    return 0.10 * Gauss(t, -0.16, 0.02) - 0.08 * Gauss(t, -0.025, 0.010) + Gauss(t, 0, 0.012)
         - 0.25 * Gauss(t, 0.028, 0.010) + 0.30 * Gauss(t, 0.25, 0.05);
}
inline double EctopicBeat(double t)
{
    if (t < -0.2 || t > 0.6)
        return 0;
    return 1.3 * Gauss(t, 0, 0.028) - 0.45 * Gauss(t, 0.09, 0.04) - 0.35 * Gauss(t, 0.32, 0.07);
}

// One pulse wave from its foot at t = 0: a straight upstroke for 80 ms (so the foot is exactly
// where the tangent at the steepest point meets the level before it), then a decay with a
// small dicrotic wave. Between about 130 and 160 beats a minute that wave runs into the next
// upstroke and moves its foot by several milliseconds, so tests keep clear of those rates.
inline double PulseBeat(double t)
{
    if (t < 0)
        return 0;
    if (t < 0.08)
        return t / 0.08;
    const double s = t - 0.08;
    return 0.65 * std::exp(-s / 0.25) + 0.35 * std::exp(-s / 0.6) + 0.12 * Gauss(s, 0.28, 0.04);
}

// Beat times from `start` at a steady rate, with a small even spread.
inline std::vector<double> BeatTimes(double bpm, double seconds, double start = 0.5, double spread = 0.01)
{
    std::vector<double> t;
    uint32_t seed = 12345;
    for (double x = start; x < seconds; ) {
        t.push_back(x);
        seed = seed * 1664525u + 1013904223u;
        x += 60 / bpm * (1 + spread * ((seed >> 8) / 8388608.0 - 1));
    }
    return t;
}

struct Extras {
    double wander = 0;  // amplitude of a 0.3 Hz baseline swing, relative to the beat
    double hum = 0;     // amplitude of 50 Hz mains hum
    double noise = 0;   // half-width of even white noise
};

inline double Extra(double t, size_t i, const Extras& e)
{
    // Noise from a fixed recurrence on the sample number, so runs repeat exactly.
    uint32_t h = static_cast<uint32_t>(i) * 2654435761u;
    h ^= h >> 15;
    h *= 2246822519u;
    h ^= h >> 13;
    const double u = (h & 0xFFFFFF) / 8388608.0 - 1;
    return e.wander * std::sin(2 * PI * 0.3 * t) + e.hum * std::sin(2 * PI * 50 * t) + e.noise * u;
}

// Samples of `beat` placed at `times` (ectopic beats at `ectopic`), plus the extras. Each beat
// is drawn over [-0.4 s, 5 s] around its time.
template <class Beat>
std::vector<double> Render(double fs, double seconds, const std::vector<double>& times, Beat beat,
                           const Extras& e = {}, const std::vector<double>& ectopic = {})
{
    std::vector<double> x(static_cast<size_t>(seconds * fs), 0.0);
    auto place = [&](double r, auto shape) {
        const long from = std::max(0L, static_cast<long>(std::ceil((r - 0.4) * fs)));
        const long to = std::min(static_cast<long>(x.size()), static_cast<long>((r + 5) * fs));
        for (long i = from; i < to; ++i)
            x[static_cast<size_t>(i)] += shape(static_cast<double>(i) / fs - r);
    };
    for (double r : times)
        place(r, beat);
    for (double r : ectopic)
        place(r, EctopicBeat);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] += Extra(static_cast<double>(i) / fs, i, e);
    return x;
}

} // namespace synth
