#pragma once
// The simulated sensor's signals: three radial pulse waves, an ECG, a volume wave and three
// slowly drifting static pressures, one sample of all eight words per call. Time is the sample
// index divided by the sample rate, so a given seed always gives the same stream.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "protocol.h"
#include "pulse_truth.h"

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

// Heights of the pulse wave's later components against its main (percussion) wave, the knobs of
// its shape. The defaults look like a healthy radial pulse.
struct PulseComponents {
    double tidal = 0.30;     // the tidal (late systolic) wave
    double runoff = 0.25;    // the diastolic run-off the dicrotic notch sits on
    double dicrotic = 0.28;  // the dicrotic wave after the notch
};

// One radial pulse wave from its start: a steep main wave, the tidal wave, the dicrotic wave
// after the notch, and the diastolic run-off that carries into the next beat; 1.0 at the main
// peak. After that peak, time runs 1 / pace times faster: a short beat ends sooner, as the
// ejection and the notch come earlier at fast heart rates; the upstroke never changes.
class CPulseShape {
public:
    explicit CPulseShape(const PulseComponents& components = PulseComponents());
    double operator()(double tau, double pace = 1.0) const;
    // Where its foot lies after its start, by the intersecting-tangent rule.
    double FootOffset() const { return m_dFootOffset; }
    const PulseComponents& Components() const { return m_c; }
    // When the tidal and the dicrotic component peak after the start, at a pace.
    static double TidalTau(double pace);
    static double DicroticTau(double pace);
    // The pulse diagram's h3/h1, h4/h1 and h5/h1 of a steady train at bpm; false when a point
    // of the diagram is missing.
    static bool Ratios(const PulseComponents& c, double bpm, double out[3]);
    // The components whose steady train at bpm comes nearest to the ratios asked.
    static PulseComponents ForRatios(const double ratios[3], double bpm);

private:
    double Raw(double tau, double pace) const;

    PulseComponents m_c;
    double m_dPeak = 1;
    double m_dFootOffset = 0;
};

// One beat's true pulse diagram on one channel, in counts and ms (see pulse_truth.h).
struct PulseTruth {
    uint64_t beat = 0;        // beats numbered from 0
    int channel = 0;          // 0..2
    TrueBeat fig;             // heights scaled to counts
    double pressure = 0;      // the channel's static pressure averaged over the beat, as reported
    double bestPressure = 0;  // the pressure-amplitude model's best pressure, as reported
    double depth = -1;        // with a sweep: where that lies in the sweep's range, 0..1
};

// The true pulse diagrams as CSV (sensor-sim --truth): the header line and one beat's line.
std::string TruthCsvHeader();
std::string TruthCsvLine(const PulseTruth& t);

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
    // The pressure-amplitude model: a channel's pulse amplitude at hold-down pressure P (raw
    // counts) is PH_FLOOR + (1 - PH_FLOOR) exp(-(P - best)^2 / (2 PH_WIDTH^2)).
    static constexpr double PH_WIDTH = 700.0;
    static constexpr double PH_FLOOR = 0.2;
    // A sweep takes every channel's hold-down from light to heavy and back; its best pressures
    // default to a floating, a middle and a deep pulse.
    static constexpr double SWEEP_LIGHT = 200.0;
    static constexpr double SWEEP_HEAVY = 3200.0;
    static constexpr double SWEEP_BEST[3] = {800.0, 1700.0, 2600.0};

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
    // Best hold-down pressure per pulse channel, raw counts; negative: the channel's resting
    // hold-down, or SWEEP_BEST with a sweep.
    double m_dBestPressure[3] = {-1, -1, -1};
    // Seconds from a light to a heavy hold-down (and as long back); 0: no sweep.
    double m_dSweepS = 0;
    // Keep what the truth needs (before the first sample); TakeTruth() then hands it out.
    bool m_bTruth = false;

    // The shape of pulse channel ch's waves; before the first sample.
    void SetPulseShape(int ch, const PulseComponents& c);
    const CPulseShape& Shape(int ch) const { return m_shape[ch]; }
    // The best pressure in force for channel ch, raw counts.
    double BestPressure(int ch) const;
    // The true pulse diagrams of the beats complete by now, every channel, in order.
    std::vector<PulseTruth> TakeTruth();

    // Computes the next sample of all eight words.
    void Next(uint16_t words[proto::BLOCK_WORDS]);

    // Uncalibrated static pressure of pulse channel ch (0..2) at the last sample.
    double RawStatic(int ch) const { return m_dLastRawStatic[ch]; }
    double Bpm() const { return m_dBpm; }
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
        uint64_t n = 0;      // beat number
        double r = 0;        // R-wave time
        double amp = 1;      // beat-to-beat amplitude factor
        double period = 1;   // interval to the next beat
        double chAmp[3] = {-1, -1, -1};  // pressure-amplitude factor, fixed when the wave starts
        double walk[3] = {0, 0, 0};      // the hold-down's wandering part then
    };
    void ScheduleUntil(double t);
    double ShapeStart(const Beat& b, int ch) const { return b.r + m_dTransit[ch] - m_shape[ch].FootOffset(); }
    static double Pace(const Beat& b);
    // The hold-down pressure without its wandering part and noise, raw counts.
    double HoldLevel(int ch, double t) const;
    double Amplitude(int ch, double holdDown) const;
    // The noise-free pulse wave of channel ch over the beats kept for the truth.
    double CleanWave(int ch, double t) const;
    bool Truth(const Beat& b, const Beat& next, int ch, PulseTruth& out) const;
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
    double m_dHoldDown[3] = {0, 0, 0};   // at the last sample, without noise and pulse ripple
    CPulseShape m_shape[3];
    uint64_t m_qwBeats = 0;               // beats scheduled
    std::deque<Beat> m_history;           // beats kept for the truth
    uint64_t m_qwTruthNext[3] = {0, 0, 0};
    double m_dRespPhase = 0;
    double m_dVariationScale = 1;   // from m_dHrvS, fixed at the first beat
};
