#include "pulse_truth.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double UPSTROKE_S = 0.12;    // the steepest point lies this soon after the shape starts
constexpr double PEAK_SEARCH_S = 0.35;

// Index of the sample nearest time t on a grid starting at t0.
size_t Index(double t, double t0, size_t n)
{
    const double i = std::round((t - t0) / TRUTH_STEP_S);
    return static_cast<size_t>(std::clamp(i, 0.0, static_cast<double>(n - 1)));
}

double Vertex(const std::vector<double>& v, size_t k)
{
    if (k == 0 || k + 1 >= v.size())
        return 0;
    const double den = v[k - 1] - 2 * v[k] + v[k + 1];
    return den == 0 ? 0 : std::clamp((v[k - 1] - v[k + 1]) / (2 * den), -0.5, 0.5);
}

double Crossing(const std::vector<double>& v, size_t j, double level = 0)
{
    const double a = v[j - 1] - level, b = v[j] - level;
    return static_cast<double>(j - 1) + (a == b ? 0.5 : a / (a - b));
}

double At(const std::vector<double>& v, double pos)
{
    const size_t i = static_cast<size_t>(std::clamp(pos, 0.0, static_cast<double>(v.size() - 2)));
    return v[i] + (pos - static_cast<double>(i)) * (v[i + 1] - v[i]);
}

// The local maximum of v in (from, to) nearest `near`; 0 when there is none.
size_t NearestMaximum(const std::vector<double>& v, size_t from, size_t to, size_t near)
{
    size_t best = 0;
    for (size_t j = from + 1; j + 1 < to && j + 1 < v.size(); ++j)
        if (v[j] > v[j - 1] && v[j] >= v[j + 1]) {
            const auto dist = [&](size_t k) { return k > near ? k - near : near - k; };
            if (!best || dist(j) < dist(best))
                best = j;
        }
    return best;
}

} // namespace

double TrueFoot(const std::function<double(double)>& wave, double shapeStart, double onsetFraction, double* pLevel)
{
    const double from = shapeStart - 0.05;
    const size_t n = static_cast<size_t>((UPSTROKE_S + 0.05) / TRUTH_STEP_S);
    std::vector<double> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = wave(from + static_cast<double>(i) * TRUTH_STEP_S);
    const auto slope = [&](size_t i) { return (v[i + 1] - v[i - 1]) / (2 * TRUTH_STEP_S); };
    // The shape starts with a small step; its steepest point lies well after it.
    const size_t first = static_cast<size_t>(std::ceil(0.05 / TRUTH_STEP_S)) + 2;
    size_t steep = first;
    for (size_t i = first; i + 1 < n; ++i)
        if (slope(i) > slope(steep))
            steep = i;
    const double best = slope(steep);
    size_t onset = steep;
    while (onset > 1 && slope(onset) > onsetFraction * best)
        --onset;
    double level = v[steep];
    for (size_t i = onset; i < steep; ++i)
        level = std::min(level, v[i]);
    if (pLevel)
        *pLevel = level;
    return from + static_cast<double>(steep) * TRUTH_STEP_S - (v[steep] - level) / best;
}

bool MeasureTrueBeat(const std::function<double(double)>& wave, double s0, double s1, double tidalAt,
                     double dicroticAt, double onsetFraction, TrueBeat& out)
{
    double y0 = 0, y1 = 0;
    const double f0 = TrueFoot(wave, s0, onsetFraction, &y0);
    const double f1 = TrueFoot(wave, s1, onsetFraction, &y1);
    const double period = f1 - f0;
    if (!(period > 0))
        return false;
    // The beat on a grid that ends on the next foot, heights above the line joining the feet
    // (each at the level its tangent meets).
    const size_t steps = static_cast<size_t>(std::round(period / TRUTH_STEP_S));
    const double dt = period / static_cast<double>(steps);
    std::vector<double> z(steps + 1), d1(steps + 1, 0.0), d2(steps + 1, 0.0);
    for (size_t i = 0; i <= steps; ++i)
        z[i] = wave(f0 + static_cast<double>(i) * dt) - (y0 + (y1 - y0) * static_cast<double>(i) / static_cast<double>(steps));
    for (size_t i = 1; i < steps; ++i) {
        d1[i] = (z[i + 1] - z[i - 1]) / (2 * dt);
        d2[i] = (z[i + 1] - 2 * z[i] + z[i - 1]) / (dt * dt);
    }
    const auto ms = [&](double pos) { return pos * dt * 1000; };

    size_t k1 = 1;
    const size_t peakTo = std::min(steps - 1, static_cast<size_t>(std::min(0.5 * period, PEAK_SEARCH_S) / dt));
    for (size_t i = 1; i <= peakTo; ++i)
        if (z[i] > z[k1])
            k1 = i;
    const double pos1 = static_cast<double>(k1) + Vertex(z, k1);
    const double h1 = At(z, pos1);

    // The tidal and dicrotic waves: the humps of the slope nearest their components' centres.
    const size_t near3 = Index(tidalAt, f0, steps + 1), nearD = Index(dicroticAt, f0, steps + 1);
    const size_t kD = NearestMaximum(d1, near3, steps, nearD);
    const size_t kT = NearestMaximum(d1, k1, kD ? kD : steps, near3);
    if (!kT || !kD || kD <= kT)
        return false;
    double pos3 = 0;
    if (d1[kT] > 0) {
        size_t j = kT + 1;
        while (j < kD && d1[j] > 0)
            ++j;
        if (j >= kD)
            return false;
        pos3 = Crossing(d1, j);
        out.bTidalPeak = true;
    } else {
        pos3 = static_cast<double>(kT) + Vertex(d1, kT);
    }
    double pos4 = 0, posD = 0;
    size_t jMin = 0;
    for (size_t j = static_cast<size_t>(std::ceil(pos3)) + 1; j <= kD && !jMin; ++j)
        if (d1[j - 1] <= 0 && d1[j] > 0)
            jMin = j;
    if (jMin) {
        pos4 = Crossing(d1, jMin);
        size_t j = kD + 1;
        while (j < steps && d1[j] > 0)
            ++j;
        if (j >= steps)
            return false;
        posD = Crossing(d1, j);
        out.bNotchMinimum = true;
    } else {
        size_t kB = static_cast<size_t>(std::ceil(pos3)) + 1;
        for (size_t j = kB; j < kD; ++j)
            if (d2[j] > d2[kB])
                kB = j;
        pos4 = posD = static_cast<double>(kB) + Vertex(d2, kB);
    }

    const double level = 2.0 / 3 * h1;
    size_t up = k1, down = k1;
    while (up > 0 && z[up] >= level)
        --up;
    while (down < steps && z[down] >= level)
        ++down;
    const double w0 = Crossing(z, up + 1, level), w1 = Crossing(z, down, level);

    out.foot = f0;
    out.t = period * 1000;
    out.t1 = ms(pos1);
    out.t3 = ms(pos3);
    out.t4 = ms(pos4);
    out.t5 = out.t - out.t4;
    out.w = ms(w1 - w0);
    out.h1 = h1;
    out.h3 = At(z, pos3);
    out.h4 = At(z, pos4);
    out.h5 = At(z, posD) - out.h4;

    std::complex<double> sums[11];
    for (int h = 1; h <= 10; ++h) {
        const std::complex<double> turn = std::polar(1.0, -2 * PI * h / static_cast<double>(steps));
        std::complex<double> phase = 1;
        for (size_t i = 0; i < steps; ++i, phase *= turn)
            sums[h] += z[i] * phase;
    }
    for (int h = 2; h <= 10; ++h)
        out.c[h] = std::abs(sums[h]) / std::abs(sums[1]);
    return true;
}
