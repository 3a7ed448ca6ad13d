#include "signal_gen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double PI = 3.14159265358979323846;

double Gauss(double t, double mean, double sigma)
{
    const double z = (t - mean) / sigma;
    return std::exp(-0.5 * z * z);
}

constexpr double PULSE_PEAK_S = 0.10;    // the main wave's peak after the shape's start
constexpr double TIDAL_LATE_S = 0.25;    // the tidal and dicrotic components' centres, in the
constexpr double DICROTIC_LATE_S = 0.45; // paced time after the main peak
constexpr double RUNOFF_DECAY_S = 0.5;
constexpr double RISE_S = 0.035;          // the main wave's rise and fall (Gaussian widths)
constexpr double SYSTOLIC_FALL_S = 0.08;
constexpr double DEFAULT_TIDAL = PulseComponents().tidal;
constexpr double FALL_SHORTENING = 0.5;   // at no tidal wave the fall takes half as long
// The knobs' calibration stops when every ratio is this near, or after so many rounds.
constexpr double RATIO_TOLERANCE = 0.002;
constexpr int RATIO_ROUNDS = 40;
// The truth of a beat is worked out once the signal is this far past the next beat's start.
constexpr double TRUTH_AFTER_S = 0.3;
constexpr double BEAT_KEPT_S = 3.0;   // a beat's waves are summed this long after its R wave
constexpr double PRESSURE_STEP_S = 0.002;  // the true static pressure is averaged at this step

// Relative pulse amplitude per channel: three sites never press quite alike.
constexpr double CHANNEL_AMP[3] = {1.0, 0.88, 1.1};

} // namespace

uint64_t CSimRandom::Next()
{
    uint64_t z = (m_qwState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double CSimRandom::Uniform()
{
    return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0);
}

CPulseShape::CPulseShape(const PulseComponents& components) : m_c(components)
{
    double m = 0;
    for (int i = 0; i < 400; ++i)
        m = std::max(m, Raw(i * 0.001, 1.0));
    m_dPeak = m > 0 ? m : 1;
    // The tangent at the steepest point of the upstroke, back to the level where the slope has
    // fallen to a tenth of the steepest: the intersecting-tangent foot.
    constexpr double step = 1e-5;
    const auto slopeAt = [this](double tau) { return ((*this)(tau + step) - (*this)(tau - step)) / (2 * step); };
    double bestSlope = 0, bestTau = 0;
    for (double tau = step; tau < 0.1; tau += step) {
        const double slope = slopeAt(tau);
        if (slope > bestSlope) {
            bestSlope = slope;
            bestTau = tau;
        }
    }
    double onset = bestTau;
    while (onset > 0 && slopeAt(onset) > CSignalGen::FOOT_ONSET_FRACTION * bestSlope)
        onset -= step;
    // The shape rises all the way from its onset, so the onset is also its lowest point.
    m_dFootOffset = bestTau - ((*this)(bestTau) - (*this)(onset)) / bestSlope;
}

double CPulseShape::Raw(double tau, double pace) const
{
    if (tau < 0)
        return 0;
    const double late = tau < PULSE_PEAK_S ? tau : PULSE_PEAK_S + (tau - PULSE_PEAK_S) / pace;
    // A weak tidal wave comes with a main wave that falls away sooner, as in a young, supple
    // artery; the default falls as it always has.
    const double fall = SYSTOLIC_FALL_S * (1 - FALL_SHORTENING * std::max(0.0, 1 - m_c.tidal / DEFAULT_TIDAL));
    // The upstroke starts from nothing, without a step.
    static const double start = Gauss(0, PULSE_PEAK_S, RISE_S);
    const double systolic = tau < PULSE_PEAK_S ? (Gauss(tau, PULSE_PEAK_S, RISE_S) - start) / (1 - start)
                                               : Gauss(late, PULSE_PEAK_S, fall);
    const double tidal = m_c.tidal * Gauss(late, TIDAL_LATE_S, 0.06);
    const double dicrotic = m_c.dicrotic * Gauss(late, DICROTIC_LATE_S, 0.055);
    const double rise = tau > 0.12 ? 1.0 : 0.5 - 0.5 * std::cos(PI * tau / 0.12);
    const double runoff = m_c.runoff * rise * std::exp(-late / RUNOFF_DECAY_S);
    return systolic + tidal + dicrotic + runoff;
}

double CPulseShape::operator()(double tau, double pace) const
{
    return Raw(tau, std::clamp(pace, CSignalGen::MIN_PULSE_PACE, 1.0)) / m_dPeak;
}

double CPulseShape::TidalTau(double pace)
{
    return PULSE_PEAK_S + (TIDAL_LATE_S - PULSE_PEAK_S) * std::clamp(pace, CSignalGen::MIN_PULSE_PACE, 1.0);
}

double CPulseShape::DicroticTau(double pace)
{
    return PULSE_PEAK_S + (DICROTIC_LATE_S - PULSE_PEAK_S) * std::clamp(pace, CSignalGen::MIN_PULSE_PACE, 1.0);
}

bool CPulseShape::Ratios(const PulseComponents& c, double bpm, double out[3])
{
    const CPulseShape shape(c);
    const double period = 60 / bpm;
    const double pace = period / CSignalGen::PULSE_PACE_PERIOD_S;
    // A steady train whose earlier beats carry into the one measured.
    const auto wave = [&](double t) {
        double v = 0;
        for (int j = -8; j <= 2; ++j)
            v += shape(t - j * period, pace);
        return v;
    };
    TrueBeat b;
    if (!MeasureTrueBeat(wave, 0, period, TidalTau(pace), DicroticTau(pace), CSignalGen::FOOT_ONSET_FRACTION, b))
        return false;
    out[0] = b.h3 / b.h1;
    out[1] = b.h4 / b.h1;
    out[2] = b.h5 / b.h1;
    return true;
}

PulseComponents CPulseShape::ForRatios(const double ratios[3], double bpm)
{
    // Each component moves mostly its own ratio: step each by what its ratio still lacks, and
    // by less after a step that lost a point of the diagram.
    PulseComponents good;
    double got[3];
    if (!Ratios(good, bpm, got))
        return good;
    double gain = 1;
    for (int round = 0; round < RATIO_ROUNDS; ++round) {
        const double miss[3] = {ratios[0] - got[0], ratios[1] - got[1], ratios[2] - got[2]};
        if (std::max({std::fabs(miss[0]), std::fabs(miss[1]), std::fabs(miss[2])}) < RATIO_TOLERANCE)
            break;
        PulseComponents c = good;
        c.tidal = std::clamp(c.tidal + gain * miss[0], 0.0, 2.0);
        c.runoff = std::clamp(c.runoff + gain * miss[1], 0.0, 2.0);
        c.dicrotic = std::clamp(c.dicrotic + gain * miss[2], 0.0, 2.0);
        double next[3];
        if (Ratios(c, bpm, next)) {
            good = c;
            std::copy(next, next + 3, got);
            gain = std::min(1.0, gain * 2);
        } else {
            gain /= 2;
        }
    }
    return good;
}

double CSignalGen::PulseShape(double tau, double pace)
{
    static const CPulseShape shape;
    return shape(tau, pace);
}

double CSignalGen::PulseFootOffset()
{
    static const double offset = CPulseShape().FootOffset();
    return offset;
}

double CSignalGen::EcgShape(double tau)
{
    if (tau < -0.3 || tau > 0.45)
        return 0;
    return 0.12 * Gauss(tau, -0.17, 0.022)     // P
         - 0.10 * Gauss(tau, -0.028, 0.008)    // Q
         + 1.00 * Gauss(tau, 0.0, 0.009)       // R
         - 0.22 * Gauss(tau, 0.030, 0.009)     // S
         + 0.28 * Gauss(tau, 0.24, 0.045);     // T
}

CSignalGen::CSignalGen(double sampleRate, double bpm, uint64_t seed)
    : m_dRate(sampleRate > 0 ? sampleRate : 500), m_dBpm(std::clamp(bpm, 20.0, 250.0)), m_rng(seed)
{
    for (int ch = 0; ch < 3; ++ch) {
        m_dStaticPhase[ch] = m_rng.Uniform(0, 2 * PI);
        m_dStaticLevel[ch] += m_rng.Uniform(-40, 40);
    }
    m_dRespPhase = m_rng.Uniform(0, 2 * PI);
    for (int ch = 0; ch < 3; ++ch)
        m_dHoldDown[ch] = HoldLevel(ch, 0);
}

void CSignalGen::SetPulseShape(int ch, const PulseComponents& c)
{
    m_shape[ch] = CPulseShape(c);
}

double CSignalGen::Pace(const Beat& b)
{
    return b.period / PULSE_PACE_PERIOD_S;
}

double CSignalGen::BestPressure(int ch) const
{
    if (m_dBestPressure[ch] >= 0)
        return m_dBestPressure[ch];
    return m_dSweepS > 0 ? SWEEP_BEST[ch] : m_dStaticLevel[ch];
}

double CSignalGen::HoldLevel(int ch, double t) const
{
    double level = m_dStaticLevel[ch];
    if (m_dSweepS > 0) {
        // Light to heavy over the sweep's time, then as long back.
        const double phase = std::fmod(t, 2 * m_dSweepS) / m_dSweepS;
        level = SWEEP_LIGHT + (SWEEP_HEAVY - SWEEP_LIGHT) * (phase < 1 ? phase : 2 - phase);
    }
    // Slow swings of the hand.
    return level + 30 * std::sin(2 * PI * t / 41.0 + m_dStaticPhase[ch])
                 + 12 * std::sin(2 * PI * t / 13.7 + 2 * m_dStaticPhase[ch]);
}

double CSignalGen::Amplitude(int ch, double holdDown) const
{
    const double z = (holdDown - BestPressure(ch)) / PH_WIDTH;
    return PH_FLOOR + (1 - PH_FLOOR) * std::exp(-0.5 * z * z);
}

uint16_t CSignalGen::Clamp16(double v)
{
    return static_cast<uint16_t>(std::lround(std::clamp(v, 0.0, 65535.0)));
}

void CSignalGen::ScheduleUntil(double t)
{
    if (m_beats.empty()) {
        // Standard deviation of the natural variation, relative to the mean interval: the
        // breathing sine's is amplitude / sqrt(2), the even spread's half-width / sqrt(3).
        const double naturalSd = std::sqrt(RESP_ARRHYTHMIA * RESP_ARRHYTHMIA / 2 + RR_JITTER * RR_JITTER / 3);
        m_dVariationScale = m_dHrvS < 0 ? 1.0 : m_dHrvS / (naturalSd * 60.0 / m_dBpm);
        Beat first;
        first.n = m_qwBeats++;
        first.r = 0.3;
        first.period = 60.0 / m_dBpm;
        m_beats.push_back(first);
        if (m_bTruth)
            m_history.push_back(first);
        if (m_pRWaves)
            m_pRWaves->push_back(0.3);
    }
    // Keep the next beat known ahead, since its P wave starts before its R wave.
    while (m_beats.back().r < t + 0.5) {
        const Beat& last = m_beats.back();
        Beat b;
        b.n = m_qwBeats++;
        b.r = last.r + last.period;
        b.amp = 1.0 + m_rng.Uniform(-0.04, 0.04);
        // Heart rate follows breathing a little (sinus arrhythmia) plus some irregularity.
        const double resp = std::sin(m_dRespPhase + 2 * PI * 0.25 * (b.r - t));
        const double variation = RESP_ARRHYTHMIA * resp + m_rng.Uniform(-RR_JITTER, RR_JITTER);
        b.period = 60.0 / m_dBpm * (1.0 + std::clamp(m_dVariationScale * variation, -0.5, 0.5));
        if (m_dHrvLfMs >= 0 && m_dHrvHfMs >= 0) {
            const double mean = 60.0 / m_dBpm;
            const double swing = (m_dHrvLfMs * std::sin(2 * PI * HRV_LF_HZ * b.r)
                                + m_dHrvHfMs * std::sin(2 * PI * HRV_HF_HZ * b.r)) / 1000;
            b.period = mean + std::clamp(swing, -0.5 * mean, 0.5 * mean);
        }
        m_beats.push_back(b);
        if (m_bTruth)
            m_history.push_back(b);
        if (m_pRWaves)
            m_pRWaves->push_back(b.r);
    }
    while (m_beats.size() > 2 && m_beats.front().r < t - BEAT_KEPT_S)
        m_beats.pop_front();
}

void CSignalGen::Next(uint16_t words[proto::BLOCK_WORDS])
{
    const double t = static_cast<double>(m_qwSample++) / m_dRate;
    ScheduleUntil(t);
    m_dRespPhase += 2 * PI * 0.25 / m_dRate;
    if (m_dRespPhase > 2 * PI)
        m_dRespPhase -= 2 * PI;
    const double resp = std::sin(m_dRespPhase);

    double pulse[3] = {0, 0, 0};
    double ecg = 0;
    double volumePulse = 0;
    for (Beat& b : m_beats) {
        const double pace = Pace(b);
        for (int ch = 0; ch < 3; ++ch) {
            const double tau = t - ShapeStart(b, ch);
            if (tau < 0)
                continue;
            if (b.chAmp[ch] < 0) {
                // The amplitude follows the hold-down pressure as the wave starts.
                b.chAmp[ch] = Amplitude(ch, m_dHoldDown[ch]);
                b.walk[ch] = m_dStaticWalk[ch];
                if (m_bTruth && !m_history.empty() && b.n >= m_history.front().n && b.n - m_history.front().n < m_history.size()) {
                    m_history[b.n - m_history.front().n].chAmp[ch] = b.chAmp[ch];
                    m_history[b.n - m_history.front().n].walk[ch] = b.walk[ch];
                }
            }
            pulse[ch] += b.amp * b.chAmp[ch] * m_shape[ch](tau, pace);
        }
        ecg += b.amp * EcgShape(t - b.r);
        volumePulse += b.amp * PulseShape(t - b.r - 0.20, pace);
    }

    for (int ch = 0; ch < 3; ++ch) {
        // Static pressure: a distinct hold-down level per channel (or the sweep), slow swings,
        // a wandering component and a faint ripple of the pulse it sits on.
        m_dStaticWalk[ch] = m_dStaticWalk[ch] * 0.9995 + m_rng.Uniform(-0.4, 0.4);
        m_dHoldDown[ch] = HoldLevel(ch, t) + m_dStaticWalk[ch];
        const double raw = m_dHoldDown[ch] + 6 * pulse[ch] + Noise(1.5);
        m_dLastRawStatic[ch] = raw;
        const double reported = (raw - m_dZeroOffset[ch]) * m_nCalib[ch] / 100.0;

        const double wave = PULSE_BASELINE
            + m_nGain[ch] * PULSE_COUNTS_PER_GAIN * CHANNEL_AMP[ch] * pulse[ch] + Noise(2);
        words[2 * ch] = Clamp16(reported);
        words[2 * ch + 1] = Clamp16(wave);
    }
    words[proto::WORD_ECG] = Clamp16(ECG_BASELINE + 8 * resp
        + m_nGain[AMP_ECG] * ECG_COUNTS_PER_GAIN * ecg + Noise(2));
    words[proto::WORD_VOLUME] = Clamp16(VOLUME_BASELINE
        + m_nGain[AMP_VOLUME] * (16 * resp + 15 * volumePulse) + Noise(1.5));
}

double CSignalGen::CleanWave(int ch, double t) const
{
    double v = 0;
    for (const Beat& b : m_history) {
        const double tau = t - ShapeStart(b, ch);
        // As in the stream, a beat counts until three seconds after its R wave.
        if (tau >= 0 && t - b.r < BEAT_KEPT_S && b.chAmp[ch] > 0)
            v += b.amp * b.chAmp[ch] * m_shape[ch](tau, Pace(b));
    }
    return v;
}

bool CSignalGen::Truth(const Beat& b, const Beat& next, int ch, PulseTruth& out) const
{
    const auto wave = [this, ch](double t) { return CleanWave(ch, t); };
    const double start = ShapeStart(b, ch);
    TrueBeat fig;
    if (!MeasureTrueBeat(wave, start, ShapeStart(next, ch), start + CPulseShape::TidalTau(Pace(b)),
                         start + CPulseShape::DicroticTau(Pace(b)), FOOT_ONSET_FRACTION, fig))
        return false;
    const double counts = m_nGain[ch] * PULSE_COUNTS_PER_GAIN * CHANNEL_AMP[ch];
    fig.h1 *= counts;
    fig.h3 *= counts;
    fig.h4 *= counts;
    fig.h5 *= counts;
    out.beat = b.n;
    out.channel = ch;
    out.fig = fig;
    // The static pressure as reported, its noise left out, averaged over the beat.
    const auto reported = [&](double raw) { return (raw - m_dZeroOffset[ch]) * m_nCalib[ch] / 100.0; };
    const double period = fig.t / 1000;
    const int steps = std::max(1, static_cast<int>(period / PRESSURE_STEP_S));
    double sum = 0;
    for (int i = 0; i < steps; ++i) {
        const double t = fig.foot + period * i / steps;
        sum += HoldLevel(ch, t) + b.walk[ch] + 6 * CleanWave(ch, t);
    }
    out.pressure = reported(sum / steps);
    out.bestPressure = reported(BestPressure(ch));
    out.depth = m_dSweepS > 0 ? (BestPressure(ch) - SWEEP_LIGHT) / (SWEEP_HEAVY - SWEEP_LIGHT) : -1;
    return true;
}

std::vector<PulseTruth> CSignalGen::TakeTruth()
{
    std::vector<PulseTruth> out;
    if (!m_bTruth || m_history.empty())
        return out;
    const double now = Time();
    const uint64_t first = m_history.front().n;
    for (int ch = 0; ch < 3; ++ch) {
        // A beat is done once the next one's wave has risen and its amplitude is fixed.
        for (;;) {
            const uint64_t k = std::max(m_qwTruthNext[ch], first);
            if (k + 1 - first >= m_history.size())
                break;
            const Beat& b = m_history[k - first];
            const Beat& next = m_history[k + 1 - first];
            if (next.chAmp[ch] < 0 || now < ShapeStart(next, ch) + TRUTH_AFTER_S)
                break;
            PulseTruth row;
            if (Truth(b, next, ch, row))
                out.push_back(row);
            m_qwTruthNext[ch] = k + 1;
        }
    }
    std::sort(out.begin(), out.end(), [](const PulseTruth& a, const PulseTruth& b) {
        return a.beat != b.beat ? a.beat < b.beat : a.channel < b.channel;
    });
    // The earlier beats' run-off still reaches a few beats on.
    const uint64_t done = std::min({m_qwTruthNext[0], m_qwTruthNext[1], m_qwTruthNext[2]});
    while (m_history.size() > 2 && m_history.front().n + 8 < done)
        m_history.pop_front();
    return out;
}

std::string TruthCsvHeader()
{
    std::string h = "beat,channel,foot_s,t_ms,t1_ms,t3_ms,t4_ms,t5_ms,w_ms,h1,h3,h4,h5,h3_h1,h4_h1,h5_h1";
    for (int k = 2; k <= 10; ++k)
        h += ",c" + std::to_string(k);
    return h + ",tidal_peak,notch_minimum,pressure,best_pressure,depth\n";
}

std::string TruthCsvLine(const PulseTruth& t)
{
    const TrueBeat& f = t.fig;
    char buf[512];
    int n = std::snprintf(buf, sizeof buf, "%llu,%d,%.4f,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f,%.4f,%.4f,%.4f",
                          static_cast<unsigned long long>(t.beat), t.channel + 1, f.foot, f.t, f.t1, f.t3, f.t4, f.t5, f.w,
                          f.h1, f.h3, f.h4, f.h5, f.h3 / f.h1, f.h4 / f.h1, f.h5 / f.h1);
    for (int k = 2; k <= 10; ++k)
        n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ",%.4f", f.c[k]);
    n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ",%d,%d,%.1f,%.1f,", f.bTidalPeak ? 1 : 0,
                       f.bNotchMinimum ? 1 : 0, t.pressure, t.bestPressure);
    if (t.depth >= 0)
        n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "%.4f", t.depth);
    return std::string(buf, static_cast<size_t>(n)) + "\n";
}
