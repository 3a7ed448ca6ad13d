// Sums of Gaussian bumps give the shapes: a steep systolic peak, a tidal wave and a dicrotic wave
// for the pulse, P-QRS-T for the ECG.
#include "pulse_synth.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kBeat = 300;

double Bump(double t, double centre, double width)
{
    const double d = (t - centre) / width;
    return std::exp(-0.5 * d * d);
}

double PulseShape(double t)
{
    return Bump(t, 0.12, 0.045) + 0.45 * Bump(t, 0.27, 0.06) + 0.3 * Bump(t, 0.45, 0.05)
        + 0.15 * Bump(t, 0.6, 0.12);
}

double EcgShape(double t)
{
    return 0.12 * Bump(t, 0.05, 0.02) - 0.1 * Bump(t, 0.095, 0.006) + Bump(t, 0.11, 0.008)
        - 0.2 * Bump(t, 0.125, 0.007) + 0.25 * Bump(t, 0.33, 0.04);
}

double Phase(int n, int nOffset)
{
    const int m = ((n + nOffset) % kBeat + kBeat) % kBeat;
    return double(m) / kBeat;
}

} // namespace

void SynthPulseSample(int n, int out[5])
{
    const double breath = std::sin(2 * kPi * n / 1700.0);
    out[0] = int(180 + 720 * PulseShape(Phase(n, 0)) + 30 * breath);
    out[1] = int(150 + 560 * PulseShape(Phase(n, -8)) + 25 * breath);
    out[2] = int(220 + 820 * PulseShape(Phase(n, -15)) + 35 * breath);
    out[3] = int(420 + 600 * EcgShape(Phase(n, 20)));
    out[4] = int(260 + 120 * breath + 110 * PulseShape(Phase(n, -30)));
}
