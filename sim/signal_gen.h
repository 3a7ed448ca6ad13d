#pragma once
// The simulated sensor's signals: three radial pulse waves, an ECG, a volume wave and three
// slowly drifting static pressures, one sample of all eight words per call. Time is the sample
// index divided by the sample rate, so a given seed always gives the same stream.
#include <cstdint>
#include <deque>
#include <vector>

#include "protocol.h"

// Small deterministic generator (splitmix64); the same sequence on every platform.
class CSimRandom {
public:
    explicit CSimRandom(uint64_t seed = 1) : m_qwState(seed) {}
    uint64_t Next();
    // Uniform in [0, 1).
    double Uniform();
    // Uniform in [lo, hi).
    double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
    // True with probability p.
    bool Chance(double p) { return p > 0 && Uniform() < p; }
private:
    uint64_t m_qwState = 1;
};

// Index of each amplifier in gain arrays: pulse channels 1..3, ECG, volume.
enum SimAmp { AMP_CH1 = 0, AMP_CH2 = 1, AMP_CH3 = 2, AMP_ECG = 3, AMP_VOLUME = 4, AMP_COUNT = 5 };

class CSignalGen {
public:
    // Default time from the R wave of a beat to the foot of its pulse wave, every channel.
    static constexpr double PULSE_TRANSIT_S = 0.150;
    // Beats shorter than this have their pulse waves' late part (after the systolic peak)
    // compressed in proportion, down to MIN_PULSE_PACE, so that a wave has ended before the
    // next upstroke, as in a real fast pulse.
    static constexpr double PULSE_PACE_PERIOD_S = 0.75;
    static constexpr double MIN_PULSE_PACE = 0.4;
    static constexpr double FOOT_ONSET_FRACTION = 0.1;
    // Beat-to-beat variation of the R-R interval when none is set: breathing (sinus
    // arrhythmia, amplitude 3.5 %) and an even spread of +-2 %, both relative to the mean.
    static constexpr double RESP_ARRHYTHMIA = 0.035;
    static constexpr double RR_JITTER = 0.02;
    // Frequencies of a known heart-rate modulation (m_dHrvLfMs, m_dHrvHfMs): a Mayer wave of the
    // blood pressure in the low band and breathing at 15 a minute in the high band.
    static constexpr double HRV_LF_HZ = 0.1;
    static constexpr double HRV_HF_HZ = 0.25;
    // Counts per gain step at the peak of a pulse wave, channel 2 (others scale 0.9 / 1.1).
    static constexpr double PULSE_COUNTS_PER_GAIN = 130.0;
    static constexpr double PULSE_BASELINE = 60.0;
    static constexpr double ECG_BASELINE = 650.0;
    static constexpr double ECG_COUNTS_PER_GAIN = 90.0;   // R-wave height per gain step
    static constexpr double VOLUME_BASELINE = 150.0;

    CSignalGen(double sampleRate, double bpm, uint64_t seed);

    // Current gain (1..5 for the pulse channels and ECG, 1..8 for the volume wave).
    int m_nGain[AMP_COUNT] = {3, 3, 3, 3, 4};
    // Raw static pressure subtracted by "zero", per pulse channel.
    double m_dZeroOffset[3] = {0, 0, 0};
    // Calibration coefficient in percent, per pulse channel.
    int m_nCalib[3] = {100, 100, 100};
    // R wave to pulse foot, seconds, per pulse channel. The foot is where the tangent at the
    // steepest point of the upstroke meets the level the upstroke starts from (where its slope
    // is down to FOOT_ONSET_FRACTION of the steepest), as a pulse analysis finds it, not where
    // the beat's shape begins (PulseFootOffset() earlier).
    double m_dTransit[3] = {PULSE_TRANSIT_S, PULSE_TRANSIT_S, PULSE_TRANSIT_S};
    // Standard deviation of the R-R interval in seconds, set before the first sample; negative:
    // the natural variation (RESP_ARRHYTHMIA and RR_JITTER). Either way the breathing and random
    // parts keep their mix.
    double m_dHrvS = -1;
    // A known modulation instead, set before the first sample when both are 0 or more: each R-R
    // interval is the mean plus m_dHrvLfMs * sin(2 pi HRV_LF_HZ t) plus m_dHrvHfMs * sin(2 pi
    // HRV_HF_HZ t), t its first R wave, with no random part; the band powers are then the
    // amplitudes squared over two.
    double m_dHrvLfMs = -1;
    double m_dHrvHfMs = -1;
    // When set, the time of every R wave scheduled is appended (ground truth for tests).
    std::vector<double>* m_pRWaves = nullptr;

    // Computes the next sample of all eight words.
    void Next(uint16_t words[proto::BLOCK_WORDS]);

    // Uncalibrated static pressure of pulse channel ch (0..2) at the last sample.
    double RawStatic(int ch) const { return m_dLastRawStatic[ch]; }
    // Seconds of signal time of the last sample produced.
    double Time() const { return static_cast<double>(m_qwSample - 1) / m_dRate; }

    // Shapes of one beat, time in seconds from the beat's reference point; for tests too.
    // From the start of the pulse wave, 1.0 at the systolic peak; a pace below 1 shortens the
    // part after the peak (PULSE_PACE_PERIOD_S).
    static double PulseShape(double tau, double pace = 1.0);
    static double EcgShape(double tau);     // from the R wave; 1.0 at the R peak
    // Where PulseShape's foot lies after its start, by the intersecting-tangent rule.
    static double PulseFootOffset();

private:
    struct Beat {
        double r = 0;        // R-wave time
        double amp = 1;      // beat-to-beat amplitude factor
        double period = 1;   // interval to the next beat
    };
    void ScheduleUntil(double t);
    double Noise(double counts) { return m_rng.Uniform(-counts, counts); }
    static uint16_t Clamp16(double v);

    double m_dRate = 500;
    double m_dBpm = 72;
    uint64_t m_qwSample = 0;
    CSimRandom m_rng;
    std::deque<Beat> m_beats;
    double m_dStaticLevel[3] = {1200, 1750, 950};
    double m_dStaticPhase[3] = {0, 0, 0};
    double m_dStaticWalk[3] = {0, 0, 0};
    double m_dLastRawStatic[3] = {0, 0, 0};
    double m_dRespPhase = 0;
    double m_dVariationScale = 1;   // from m_dHrvS, fixed at the first beat
};
