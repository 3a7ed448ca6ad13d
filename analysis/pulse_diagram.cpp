#include "pulse_diagram.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "pulse_foot.h"

namespace analysis {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double PEAK_SEARCH_S = 0.35;       // the main peak lies no later than this after the foot ...
constexpr double PEAK_SEARCH_SHARE = 0.5;    // ... and within this share of the period
constexpr double ONSET_SEARCH_SHARE = 0.25;  // the next upstroke starts within this last share
// A wave after the main one counts when its slope stands out by this share of the upstroke's
// mean slope (h1 / t1): noise on the smoothed slope stays well below it.
constexpr double WAVE_PROMINENCE_SHARE = 0.02;
constexpr double WIDTH_LEVEL = 2.0 / 3;      // w: the main wave's width at its upper third
constexpr double VERTEX_FIT_S = 0.010;       // flat extrema are placed by a parabola over +-this
constexpr double SECOND_UPSTROKE_SHARE = 0.6;  // of the upstroke's steepest slope
constexpr double DICROTIC_SHARE = 0.2;         // of the most prominent wave's prominence
// The tidal and the dicrotic wave rise before this long after the foot: a fixed time and a
// share of the period, so that the limit follows systole from slow to fast heart rates.
constexpr double WAVES_BY_S = 0.35;
constexpr double WAVES_BY_SHARE = 0.25;
// A foot is placed again on the smoothed wave: its upstroke's steepest point is looked for from
// a little before the foot found to this long after it, and the level it rises from no further
// back than FOOT_LEVEL_S.
constexpr double FOOT_SEARCH_BEFORE_S = 0.03;
constexpr double UPSTROKE_S = 0.08;
constexpr double FOOT_LEVEL_S = 0.08;
// A wave's slope must also stand this many noise deviations of the smoothed slope clear.
constexpr double WAVE_NOISE_DEVIATIONS = 3;
constexpr double RING_S = 5.0;               // a beat and the foot finder's lag fit in this
constexpr double LEADING_QUANTILE = 0.9;     // "the largest h1", robust to one artefact

const PulseFigureInfo FIGURES[PF_COUNT] = {
    {"t_ms", 1},  {"t1_ms", 1}, {"t3_ms", 1}, {"t4_ms", 1}, {"t5_ms", 1},  {"w_ms", 1},
    {"h1", 1},    {"h3", 1},    {"h4", 1},    {"h5", 1},
    {"as", 2},    {"ad", 2},
    {"h3_h1", 3}, {"h4_h1", 3}, {"h5_h1", 3}, {"w_t", 3},   {"t1_t", 3}, {"t4_t5", 3},
    {"c2", 3},    {"c3", 3},    {"c4", 3},    {"c5", 3},    {"c6", 3},   {"c7", 3},
    {"c8", 3},    {"c9", 3},    {"c10", 3},
};

// Half-width in samples of a window of `seconds`, at least `least`.
int HalfWidth(double seconds, double fs, int least)
{
    return std::max(least, static_cast<int>(std::lround(seconds * fs / 2)));
}

// v at a fractional index, on straight lines between the samples.
double At(const std::vector<double>& v, double pos)
{
    if (v.empty())
        return 0;
    if (pos <= 0)
        return v.front();
    const size_t i = static_cast<size_t>(pos);
    if (i + 1 >= v.size())
        return v.back();
    const double f = pos - static_cast<double>(i);
    return v[i] + f * (v[i + 1] - v[i]);
}

// Where a parabola through v[k - 1], v[k], v[k + 1] has its vertex, as an offset from k.
double VertexOffset(const std::vector<double>& v, size_t k)
{
    if (k == 0 || k + 1 >= v.size())
        return 0;
    const double den = v[k - 1] - 2 * v[k] + v[k + 1];
    if (den == 0)
        return 0;
    return std::clamp((v[k - 1] - v[k + 1]) / (2 * den), -0.5, 0.5);
}

// Where a flat extremum of v near k lies, from a parabola fitted over `m` samples each side.
double FlatVertex(const std::vector<double>& v, size_t k, int m)
{
    m = std::min(m, static_cast<int>(std::min(k, v.size() - 1 - k)));
    if (m < 1)
        return static_cast<double>(k);
    const long centre = static_cast<long>(k);
    return static_cast<double>(k) + PeakOffset([&](int u) { return v[static_cast<size_t>(centre + u)]; }, m);
}

// The intersecting-tangent foot near position g of the smoothed wave y (slope s, per second):
// the tangent at the steepest point of the upstroke, back to the level the upstroke rises from
// (the lowest point since its slope was last below a tenth of the steepest).
bool TangentFoot(const std::vector<double>& y, const std::vector<double>& s, double g, double fs, double& foot,
                 double& level)
{
    const long last = static_cast<long>(y.size()) - 2;
    const long from = std::clamp(static_cast<long>(std::lround(g - FOOT_SEARCH_BEFORE_S * fs)), 1L, last);
    const long to = std::clamp(static_cast<long>(std::lround(g + UPSTROKE_S * fs)), from, last);
    long steep = from;
    for (long j = from; j <= to; ++j)
        if (s[static_cast<size_t>(j)] > s[static_cast<size_t>(steep)])
            steep = j;
    const double best = s[static_cast<size_t>(steep)];
    if (!(best > 0))
        return false;
    const long lowest = std::max(0L, static_cast<long>(std::floor(g - FOOT_LEVEL_S * fs)));
    long onset = steep;
    while (onset > lowest && s[static_cast<size_t>(onset)] > FootParams().dOnsetFraction * best)
        --onset;
    level = y[static_cast<size_t>(steep)];
    for (long j = onset; j < steep; ++j)
        level = std::min(level, y[static_cast<size_t>(j)]);
    foot = static_cast<double>(steep) - (y[static_cast<size_t>(steep)] - level) / (best / fs);
    return true;
}

// Where v crosses zero between samples j - 1 and j.
double ZeroCrossing(const std::vector<double>& v, size_t j)
{
    const double a = v[j - 1], b = v[j];
    return static_cast<double>(j - 1) + (a == b ? 0.5 : a / (a - b));
}

// The area under v (one unit per sample) from position p to q.
double Area(const std::vector<double>& v, double p, double q)
{
    if (q <= p)
        return 0;
    double sum = 0;
    double from = p;
    while (from < q) {
        const double to = std::min(q, std::floor(from) + 1);
        sum += (At(v, from) + At(v, to)) / 2 * (to - from);
        from = to;
    }
    return sum;
}

// The weights applied to x around index i, x held at its ends beyond them.
double Apply(const std::vector<double>& w, const std::vector<double>& x, long i)
{
    const long half = static_cast<long>(w.size() / 2);
    const long last = static_cast<long>(x.size()) - 1;
    double sum = 0;
    for (long k = -half; k <= half; ++k)
        sum += w[static_cast<size_t>(k + half)] * x[static_cast<size_t>(std::clamp(i + k, 0L, last))];
    return sum;
}

// Local maxima of v between `from` and `to` (exclusive) whose topographic prominence (height
// above the higher of the lowest points separating them from higher maxima) reaches `least`,
// as (prominence, index), the most prominent first.
std::vector<std::pair<double, size_t>> ProminentMaxima(const std::vector<double>& v, size_t from, size_t to, double least)
{
    std::vector<size_t> peaks;
    for (size_t j = from + 1; j + 1 < to && j + 1 < v.size(); ++j)
        if (v[j] > v[j - 1] && v[j] >= v[j + 1])
            peaks.push_back(j);
    std::vector<std::pair<double, size_t>> kept;  // prominence, index
    for (size_t j : peaks) {
        double left = v[j];
        for (size_t k = j; k > from; --k) {
            if (v[k - 1] > v[j])
                break;
            left = std::min(left, v[k - 1]);
        }
        double right = v[j];
        for (size_t k = j + 1; k < to && k < v.size(); ++k) {
            if (v[k] > v[j])
                break;
            right = std::min(right, v[k]);
        }
        const double prominence = v[j] - std::max(left, right);
        if (prominence >= least)
            kept.emplace_back(prominence, j);
    }
    std::stable_sort(kept.begin(), kept.end(), [](const auto& x, const auto& y) { return x.first > y.first; });
    return kept;
}

} // namespace

const PulseFigureInfo& FigureInfo(int figure)
{
    return FIGURES[std::clamp(figure, 0, PF_COUNT - 1)];
}

const char* StatusName(BeatStatus status)
{
    switch (status) {
    case BeatStatus::Valid: return "ok";
    case BeatStatus::Rate: return "rate";
    case BeatStatus::NoPoint: return "point";
    case BeatStatus::Missing: return "missing";
    case BeatStatus::WeakFoot: return "foot";
    }
    return "point";
}

BeatStatus MeasureBeat(const std::vector<double>& x, double fs, double f0, double f1, MeasuredBeat& out,
                       const DiagramParams& params)
{
    out.startPos = f0;
    out.status = BeatStatus::NoPoint;
    std::fill(std::begin(out.values), std::end(out.values), 0.0);
    out.points = BeatPoints();
    out.shape.clear();
    if (!(f1 > f0) || 60 / ((f1 - f0) / fs) < BEAT_MIN_BPM || 60 / ((f1 - f0) / fs) > BEAT_MAX_BPM)
        return out.status = BeatStatus::Rate;
    if (x.size() < 5 || f0 < 0 || f1 > static_cast<double>(x.size() - 1))
        return out.status;

    // The wave, its slope and its bend, smoothed over lengths fixed in seconds.
    const std::vector<double> wSmooth = SavitzkyGolayWeights(HalfWidth(params.dSmoothS, fs, 2), 3, 0);
    const std::vector<double> wSlope = SavitzkyGolayWeights(HalfWidth(params.dSlopeS, fs, 2), 3, 1);
    const std::vector<double> wBend = SavitzkyGolayWeights(HalfWidth(params.dBendS, fs, 2), 2, 2);
    // From a little before the first foot (for its level) to the steepest point after the second.
    const long a = std::max(0L, static_cast<long>(std::floor(f0 - FOOT_LEVEL_S * fs)));
    const long b = std::min(static_cast<long>(std::ceil(f1 + UPSTROKE_S * fs)), static_cast<long>(x.size()) - 1);
    const size_t n = static_cast<size_t>(b - a + 1);
    std::vector<double> z(n), slope(n), bend(n), residual(n);
    for (size_t j = 0; j < n; ++j) {
        const long i = a + static_cast<long>(j);
        z[j] = Apply(wSmooth, x, i);
        slope[j] = Apply(wSlope, x, i) * fs;
        bend[j] = Apply(wBend, x, i) * fs * fs;
        residual[j] = std::fabs(x[static_cast<size_t>(i)] - z[j]);
    }
    // Each foot placed again by its tangent on the smoothed wave, whose slope is steeper and
    // truer than the one the foot finder works with; heights are measured above the straight
    // line joining the feet at the levels their tangents meet, not at the wave's value there.
    double g0 = 0, g1 = 0, y0 = 0, y1 = 0;
    if (!TangentFoot(z, slope, f0 - static_cast<double>(a), fs, g0, y0)
        || !TangentFoot(z, slope, f1 - static_cast<double>(a), fs, g1, y1))
        return out.status;
    f0 = static_cast<double>(a) + g0;
    f1 = static_cast<double>(a) + g1;
    out.startPos = f0;
    const double periodS = (f1 - f0) / fs;
    if (!(periodS > 0) || 60 / periodS < BEAT_MIN_BPM || 60 / periodS > BEAT_MAX_BPM)
        return out.status = BeatStatus::Rate;
    const double baseSlope = (y1 - y0) / (g1 - g0);
    for (size_t j = 0; j < n; ++j) {
        z[j] -= y0 + baseSlope * (static_cast<double>(j) - g0);
        slope[j] -= baseSlope * fs;
    }
    // The noise on the smoothed slope, from the wave's scatter about its smoothing.
    double sumSq = 0;
    for (double w : wSlope)
        sumSq += w * w;
    // The residual keeps sqrt(1 - w0) of the noise, w0 the smoothing's centre weight.
    const double noiseSd = MedianOf(residual) / 0.6745 / std::sqrt(std::max(0.1, 1 - wSmooth[wSmooth.size() / 2]));
    const double slopeNoise = noiseSd * std::sqrt(sumSq) * fs;
    const auto ms = [&](double pos) { return (pos - g0) / fs * 1000; };

    // The main peak: the highest point of the early part of the beat.
    const size_t peakFrom = static_cast<size_t>(std::ceil(g0));
    const size_t peakTo = std::min(n - 2, static_cast<size_t>(g0 + std::min(PEAK_SEARCH_SHARE * periodS, PEAK_SEARCH_S) * fs));
    if (peakTo <= peakFrom + 1)
        return out.status;
    size_t k1 = peakFrom;
    for (size_t j = peakFrom; j <= peakTo; ++j)
        if (z[j] > z[k1])
            k1 = j;
    if (k1 == peakFrom || k1 == peakTo)
        return out.status;
    const int fit = std::max(1, static_cast<int>(std::lround(VERTEX_FIT_S * fs)));
    const double pos1 = static_cast<double>(k1) + VertexOffset(z, k1);
    const double h1 = std::max(z[k1], At(z, pos1));
    if (!(h1 > 0))
        return out.status;

    // The next upstroke's onset ends the search for the later waves.
    size_t end = static_cast<size_t>(std::floor(g1));
    for (size_t j = end; j > k1 && static_cast<double>(j) >= g1 - ONSET_SEARCH_SHARE * periodS * fs; --j)
        if (z[j] < z[end])
            end = j;

    // A rise as steep as an upstroke is the next beat, its foot missed: no beat of its own.
    double steepest = 0, later = 0;
    for (size_t j = peakFrom; j <= k1; ++j)
        steepest = std::max(steepest, slope[j]);
    for (size_t j = k1; j < end; ++j)
        later = std::max(later, slope[j]);
    if (later > SECOND_UPSTROKE_SHARE * steepest)
        return out.status;

    // The waves after the main one show as humps of the slope. The dicrotic wave's rise from
    // the notch stands out most, and the tidal wave is the hump that stands out most before it;
    // where nothing stands out before the most prominent hump and it rises to a peak, that is
    // a tidal wave with a peak of its own, and the dicrotic wave the hump after it that stands
    // out as waves do (a good share of it), not as the ripples of the run-off.
    const double upstroke = h1 / std::max(pos1 - g0, 1.0) * fs;
    const double least = std::max(WAVE_PROMINENCE_SHARE * upstroke, WAVE_NOISE_DEVIATIONS * slopeNoise);
    // They lie within systole and just after it: the run-off's ripples beyond are no waves.
    const size_t wavesEnd = std::min(end, static_cast<size_t>(g0 + (WAVES_BY_S + WAVES_BY_SHARE * periodS) * fs));
    const auto waves = ProminentMaxima(slope, k1, wavesEnd, least);
    if (waves.size() < 2)
        return out.status;
    size_t kD = waves[0].second, kT = 0;
    for (const auto& w : waves)
        if (w.second < kD) {
            kT = w.second;
            break;
        }
    if (!kT) {
        if (!(slope[waves[0].second] > 0))
            return out.status;
        kT = waves[0].second;
        kD = 0;
        for (const auto& w : waves)
            if (w.second > kT && w.first >= DICROTIC_SHARE * waves[0].first) {
                kD = w.second;
                break;
            }
        if (!kD)
            return out.status;
    }

    // Tidal wave: its own peak where its slope rises above zero, else the shoulder, where the
    // falling slope is least steep.
    BeatPoints& pts = out.points;
    double pos3 = 0;
    if (slope[kT] > 0) {
        size_t j = kT + 1;
        while (j < kD && slope[j] > 0)
            ++j;
        if (j >= kD)
            return out.status;
        pos3 = ZeroCrossing(slope, j);
        pts.bTidalPeak = true;
    } else {
        pos3 = FlatVertex(slope, kT, fit);
    }

    // Dicrotic notch: the minimum before the dicrotic wave, else its sharpest upward bend.
    double pos4 = 0, posD = 0;
    size_t jMin = 0;
    for (size_t j = static_cast<size_t>(std::ceil(pos3)) + 1; j <= kD && !jMin; ++j)
        if (slope[j - 1] <= 0 && slope[j] > 0)
            jMin = j;
    if (jMin) {
        pos4 = ZeroCrossing(slope, jMin);
        size_t j = kD + 1;
        while (j < end && slope[j] > 0)
            ++j;
        if (j >= end)
            return out.status;
        posD = ZeroCrossing(slope, j);
        pts.bNotchMinimum = true;
    } else {
        size_t kB = static_cast<size_t>(std::ceil(pos3));
        for (size_t j = kB; j < kD; ++j)
            if (bend[j] > bend[kB])
                kB = j;
        if (kB <= static_cast<size_t>(std::ceil(pos3)))
            return out.status;
        pos4 = FlatVertex(bend, kB, fit);
        posD = pos4;
    }

    // Width of the main wave where it crosses two thirds of its height.
    const double level = WIDTH_LEVEL * h1;
    double w0 = -1, w1 = -1;
    for (size_t j = k1; j > peakFrom; --j)
        if (z[j - 1] < level) {
            w0 = static_cast<double>(j - 1) + (level - z[j - 1]) / (z[j] - z[j - 1]);
            break;
        }
    for (size_t j = k1 + 1; j < end; ++j)
        if (z[j] < level) {
            w1 = static_cast<double>(j - 1) + (z[j - 1] - level) / (z[j - 1] - z[j]);
            break;
        }
    if (w0 < 0 || w1 < 0)
        return out.status;

    pts.t1 = ms(pos1);
    pts.h1 = h1;
    pts.t3 = ms(pos3);
    pts.h3 = At(z, pos3);
    pts.t4 = ms(pos4);
    pts.h4 = At(z, pos4);
    pts.tD = ms(posD);
    pts.hD = At(z, posD);
    pts.w0 = ms(w0);
    pts.w1 = ms(w1);

    double* v = out.values;
    v[PF_T] = periodS * 1000;
    v[PF_T1] = pts.t1;
    v[PF_T3] = pts.t3;
    v[PF_T4] = pts.t4;
    v[PF_T5] = v[PF_T] - pts.t4;
    v[PF_W] = pts.w1 - pts.w0;
    v[PF_H1] = h1;
    v[PF_H3] = pts.h3;
    v[PF_H4] = pts.h4;
    v[PF_H5] = pts.hD - pts.h4;
    v[PF_AS] = Area(z, g0, pos4) / fs;
    v[PF_AD] = Area(z, pos4, g1) / fs;
    v[PF_H3_H1] = v[PF_H3] / h1;
    v[PF_H4_H1] = v[PF_H4] / h1;
    v[PF_H5_H1] = v[PF_H5] / h1;
    v[PF_W_T] = v[PF_W] / v[PF_T];
    v[PF_T1_T] = v[PF_T1] / v[PF_T];
    v[PF_T4_T5] = v[PF_T5] > 0 ? v[PF_T4] / v[PF_T5] : 0;

    // Harmonics of the beat at its own period, from the samples themselves above the baseline:
    // their amplitudes relative to the first, which no gain changes.
    std::complex<double> sums[HARMONICS + 1];
    const long first = static_cast<long>(std::ceil(f0));
    const long last = static_cast<long>(std::ceil(f1)) - 1;
    const double span = f1 - f0;
    std::complex<double> turn[HARMONICS + 1], phase[HARMONICS + 1];
    for (int h = 1; h <= HARMONICS; ++h) {
        turn[h] = std::polar(1.0, -2 * PI * h / span);
        phase[h] = std::polar(1.0, -2 * PI * h * (static_cast<double>(first) - f0) / span);
    }
    for (long i = first; i <= last && i < static_cast<long>(x.size()); ++i) {
        const double above = x[static_cast<size_t>(i)] - (y0 + baseSlope * (static_cast<double>(i) - f0));
        for (int h = 1; h <= HARMONICS; ++h) {
            sums[h] += above * phase[h];
            phase[h] *= turn[h];
        }
    }
    const double a1 = std::abs(sums[1]);
    if (!(a1 > 0))
        return out.status;
    for (int h = 2; h <= HARMONICS; ++h)
        v[PF_C2 + h - 2] = std::abs(sums[h]) / a1;

    out.shape.resize(SHAPE_POINTS);
    for (int k = 0; k < SHAPE_POINTS; ++k)
        out.shape[static_cast<size_t>(k)] = static_cast<float>(At(z, g0 + (g1 - g0) * k / (SHAPE_POINTS - 1)));
    return out.status = BeatStatus::Valid;
}

CBeatMeter::CBeatMeter(double fs, const DiagramParams& params)
    : m_p(params), m_dFs(fs > 0 ? fs : 1), m_ring(static_cast<size_t>(RING_S * m_dFs) + 1)
{
}

void CBeatMeter::Add(double x, double pressure, bool bMissing)
{
    m_ring[static_cast<size_t>(m_nFed) % m_ring.size()] = Slot{x, pressure, bMissing};
    ++m_nFed;
}

void CBeatMeter::Foot(double pos, bool bValid)
{
    if (m_bHaveFoot && pos > m_dLastFoot) {
        const double f0 = m_dLastFoot, f1 = pos;
        MeasuredBeat beat;
        beat.startPos = f0;
        const long long oldest = std::max<long long>(0, m_nFed - static_cast<long long>(m_ring.size()));
        const long long from = std::max(oldest, static_cast<long long>(std::floor(f0)));
        const long long to = std::min(m_nFed - 1, static_cast<long long>(std::ceil(f1)));
        double sum = 0;
        long long count = 0, missing = 0, run = 0, longest = 0;
        for (long long k = from; k <= to; ++k) {
            run = At(k).bMissing ? run + 1 : 0;
            longest = std::max(longest, run);
            missing += At(k).bMissing ? 1 : 0;
            if (k >= f0 && k < f1) {
                sum += At(k).pressure;
                ++count;
            }
        }
        beat.pressure = count ? sum / static_cast<double>(count) : 0;
        const double periodS = (f1 - f0) / m_dFs;
        const bool bMissing = static_cast<double>(longest) / m_dFs > MAX_MISSING_RUN_S
                           || static_cast<double>(missing) > MAX_MISSING_SHARE * static_cast<double>(to - from + 1);
        if (bMissing || from > std::floor(f0)) {
            beat.status = BeatStatus::Missing;
        } else if (!m_bLastValid || !bValid) {
            beat.status = BeatStatus::WeakFoot;
        } else if (60 / periodS < BEAT_MIN_BPM || 60 / periodS > BEAT_MAX_BPM) {
            beat.status = BeatStatus::Rate;
        } else {
            // The beat with room for the smoothing on both sides.
            const long long margin = static_cast<long long>(std::ceil((std::max({m_p.dSmoothS, m_p.dSlopeS, m_p.dBendS}) + std::max(FOOT_LEVEL_S, UPSTROKE_S)) * m_dFs)) + 2;
            const long long a = std::max(oldest, from - margin);
            const long long b = std::min(m_nFed - 1, to + margin);
            m_scratch.clear();
            for (long long k = a; k <= b; ++k)
                m_scratch.push_back(At(k).x);
            MeasureBeat(m_scratch, m_dFs, f0 - static_cast<double>(a), f1 - static_cast<double>(a), beat, m_p);
            beat.startPos += static_cast<double>(a);
        }
        m_found.push_back(std::move(beat));
    }
    m_bHaveFoot = true;
    m_dLastFoot = pos;
    m_bLastValid = bValid;
}

PulseDiagram SummariseBeats(const std::vector<const MeasuredBeat*>& beats, const DiagramParams& params)
{
    PulseDiagram d;
    std::vector<double> h1s;
    for (const MeasuredBeat* pBeat : beats) {
        if (pBeat->Valid()) {
            ++d.beats;
            h1s.push_back(pBeat->values[PF_H1]);
        } else {
            ++d.rejected;
        }
    }
    if (h1s.empty())
        return d;
    d.leadingH1 = LEADING_SHARE * QuantileOf(h1s, LEADING_QUANTILE);
    std::vector<const MeasuredBeat*> used;
    for (const MeasuredBeat* pBeat : beats)
        if (pBeat->Valid() && pBeat->values[PF_H1] >= d.leadingH1)
            used.push_back(pBeat);
    d.used = static_cast<int>(used.size());

    std::vector<double> values(used.size());
    for (int f = 0; f < PF_COUNT; ++f) {
        for (size_t i = 0; i < used.size(); ++i)
            values[i] = used[i]->values[f];
        if (d.used >= MIN_DIAGRAM_BEATS)
            d.median[f] = MedianOf(values);
    }

    // The averaged beat: shapes foot to foot, stretched alike, point by point; none where the
    // figures are unknown.
    if (d.used < MIN_DIAGRAM_BEATS)
        return d;
    for (size_t i = 0; i < used.size(); ++i)
        values[i] = used[i]->values[PF_T];
    AveragedBeat& avg = d.averaged;
    avg.periodMs = MedianOf(values);
    avg.heights.assign(SHAPE_POINTS, 0.0);
    for (const MeasuredBeat* pBeat : used)
        for (int k = 0; k < SHAPE_POINTS && k < static_cast<int>(pBeat->shape.size()); ++k)
            avg.heights[static_cast<size_t>(k)] += pBeat->shape[static_cast<size_t>(k)];
    for (double& h : avg.heights)
        h /= static_cast<double>(used.size());
    // Measured as one beat of a steady train: what comes before its foot is its own end.
    const double fsAvg = (SHAPE_POINTS - 1) / (avg.periodMs / 1000);
    const int pad = static_cast<int>(std::ceil((std::max({params.dSmoothS, params.dSlopeS, params.dBendS}) + std::max(FOOT_LEVEL_S, UPSTROKE_S)) * fsAvg)) + 2;
    std::vector<double> train;
    for (int k = -pad; k < SHAPE_POINTS + pad; ++k) {
        const int wrapped = ((k % (SHAPE_POINTS - 1)) + (SHAPE_POINTS - 1)) % (SHAPE_POINTS - 1);
        train.push_back(k >= 0 && k < SHAPE_POINTS ? avg.heights[static_cast<size_t>(k)] : avg.heights[static_cast<size_t>(wrapped)]);
    }
    MeasuredBeat measured;
    avg.bPointsFound = MeasureBeat(train, fsAvg, pad, pad + SHAPE_POINTS - 1, measured, params) == BeatStatus::Valid;
    if (avg.bPointsFound)
        avg.points = measured.points;
    return d;
}

} // namespace analysis
