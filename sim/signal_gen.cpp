#include "signal_gen.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double PI = 3.14159265358979323846;

double Gauss(double t, double mean, double sigma)
{
    const double z = (t - mean) / sigma;
    return std::exp(-0.5 * z * z);
}

// Radial pulse before normalisation: a steep systolic wave, a late-systolic (reflected) shoulder,
// the dicrotic wave after the notch, and the diastolic run-off that carries into the next beat.
// After the systolic peak, time runs `1 / pace` times faster: a short beat ends sooner, as the
// ejection and the dicrotic notch come earlier at fast heart rates. The upstroke never changes.
double RawPulse(double tau, double pace)
{
    if (tau < 0)
        return 0;
    constexpr double PEAK = 0.10;
    const double late = tau < PEAK ? tau : PEAK + (tau - PEAK) / pace;
    const double systolic = tau < PEAK ? Gauss(tau, PEAK, 0.035) : Gauss(late, PEAK, 0.08);
    const double tidal = 0.30 * Gauss(late, 0.25, 0.06);
    const double dicrotic = 0.28 * Gauss(late, 0.45, 0.055);
    const double rise = tau > 0.12 ? 1.0 : 0.5 - 0.5 * std::cos(PI * tau / 0.12);
    const double runoff = 0.25 * rise * std::exp(-late / 0.5);
    return systolic + tidal + dicrotic + runoff;
}

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

double CSignalGen::PulseShape(double tau, double pace)
{
    static const double peak = [] {
        double m = 0;
        for (int i = 0; i < 400; ++i)
            m = std::max(m, RawPulse(i * 0.001, 1.0));
        return m;
    }();
    return RawPulse(tau, std::clamp(pace, MIN_PULSE_PACE, 1.0)) / peak;
}

double CSignalGen::PulseFootOffset()
{
    static const double offset = [] {
        // The tangent at the steepest point of the upstroke, back to the level where the slope
        // has fallen to a tenth of the steepest: the intersecting-tangent foot.
        constexpr double step = 1e-5;
        const auto slopeAt = [](double tau) { return (PulseShape(tau + step) - PulseShape(tau - step)) / (2 * step); };
        double bestSlope = 0, bestTau = 0;
        for (double tau = step; tau < 0.1; tau += step) {
            const double slope = slopeAt(tau);
            if (slope > bestSlope) {
                bestSlope = slope;
                bestTau = tau;
            }
        }
        double onset = bestTau;
        while (onset > 0 && slopeAt(onset) > FOOT_ONSET_FRACTION * bestSlope)
            onset -= step;
        // The shape rises all the way from its onset, so the onset is also its lowest point.
        return bestTau - (PulseShape(bestTau) - PulseShape(onset)) / bestSlope;
    }();
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
        m_beats.push_back(Beat{0.3, 1.0, 60.0 / m_dBpm});
        if (m_pRWaves)
            m_pRWaves->push_back(0.3);
    }
    // Keep the next beat known ahead, since its P wave starts before its R wave.
    while (m_beats.back().r < t + 0.5) {
        const Beat& last = m_beats.back();
        Beat b;
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
        if (m_pRWaves)
            m_pRWaves->push_back(b.r);
    }
    while (m_beats.size() > 2 && m_beats.front().r < t - 3.0)
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
    const double footOffset = PulseFootOffset();
    for (const Beat& b : m_beats) {
        const double pace = b.period / PULSE_PACE_PERIOD_S;
        for (int ch = 0; ch < 3; ++ch)
            pulse[ch] += b.amp * PulseShape(t - b.r - (m_dTransit[ch] - footOffset), pace);
        ecg += b.amp * EcgShape(t - b.r);
        volumePulse += b.amp * PulseShape(t - b.r - 0.20, pace);
    }

    for (int ch = 0; ch < 3; ++ch) {
        // Static pressure: a distinct hold-down level per channel, slow swings, a wandering
        // component and a faint ripple of the pulse it sits on.
        const double slow = 30 * std::sin(2 * PI * t / 41.0 + m_dStaticPhase[ch])
                          + 12 * std::sin(2 * PI * t / 13.7 + 2 * m_dStaticPhase[ch]);
        m_dStaticWalk[ch] = m_dStaticWalk[ch] * 0.9995 + m_rng.Uniform(-0.4, 0.4);
        const double raw = m_dStaticLevel[ch] + slow + m_dStaticWalk[ch] + 6 * pulse[ch] + Noise(1.5);
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
