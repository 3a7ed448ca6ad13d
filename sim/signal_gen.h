#pragma once
// The simulated sensor's signals: three radial pulse waves, an ECG, a volume wave and three
// slowly drifting static pressures, one sample of all eight words per call. Time is the sample
// index divided by the sample rate, so a given seed always gives the same stream.
#include <cstdint>
#include <deque>

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
    // Pulse foot lags the R wave of its beat by this transit time (channel 2; the others
    // differ by a few milliseconds, as sites along an artery would).
    static constexpr double PULSE_TRANSIT_S = 0.150;
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

    // Computes the next sample of all eight words.
    void Next(uint16_t words[proto::BLOCK_WORDS]);

    // Uncalibrated static pressure of pulse channel ch (0..2) at the last sample.
    double RawStatic(int ch) const { return m_dLastRawStatic[ch]; }
    // Seconds of signal time of the last sample produced.
    double Time() const { return static_cast<double>(m_qwSample - 1) / m_dRate; }
    double PulseTransit(int ch) const { return PULSE_TRANSIT_S + (ch - 1) * 0.006; }

    // Shapes of one beat, time in seconds from the beat's reference point; for tests too.
    static double PulseShape(double tau);   // from the pulse foot; 1.0 at the systolic peak
    static double EcgShape(double tau);     // from the R wave; 1.0 at the R peak

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
};
