#pragma once
// Heart rate, pulse rates and pulse transit times from the data frames as they arrive. The
// sensor sends frames at a steady rate but the line delivers them in bursts, so the sample rate
// is measured from the arrival times (frames that arrived after the first burst, over the time
// since it) and each frame is a sample slot. Frames whose values cannot be used (failed check)
// and frames known to be lost keep their slots, filled in on a straight line once the next
// usable frame is in. Lost are the data frames destroyed on the line (their header hit) and the
// whole frames that bytes dropped by the receive ring would have held; bytes merely passed over
// (garbage on the line) take no slot.
// A pause of more than a second starts a new run: the detectors start afresh, and no interval
// is measured across the pause. Each pulse channel's beats are measured for its pulse diagram
// (pulse_diagram.h) and give the points of its pressure-amplitude curve (pressure_curve.h);
// a beat that holds a filled-in slot is rejected.
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "hrv.h"
#include "pressure_curve.h"
#include "pulse_diagram.h"
#include "pulse_foot.h"
#include "qrs_detector.h"

namespace analysis {

constexpr int PULSE_CHANNELS = 3;
constexpr double FIGURE_WINDOW_S = 10;   // figures are medians over this last stretch
constexpr int MIN_VALID_BEATS = 3;       // fewer valid beats in the window: unknown
constexpr double MIN_RATE_BPM = 30;      // rates outside these limits are unknown
constexpr double MAX_RATE_BPM = 220;
constexpr double MIN_SAMPLE_RATE_HZ = 50;  // slower streams are not analysed
constexpr uint64_t RUN_GAP_US = 1000000;   // a pause this long ends a run
constexpr double MAX_TRANSIT_S = 1.0;      // a pulse foot further than this after an R wave is not its own
constexpr size_t PH_MAX_POINTS = 20000;    // pressure-amplitude points kept per channel, the latest

struct SignalFigures {
    std::optional<double> heartRate;                  // beats a minute
    std::optional<double> pulseRate[PULSE_CHANNELS];  // beats a minute, per pulse channel
    std::optional<double> pttMs[PULSE_CHANNELS];      // R wave to pulse foot, milliseconds
};

class CSignalAnalysis {
public:
    // dKeepS: how much beat history to keep, seconds; 0 or less keeps all (whole-stream figures).
    explicit CSignalAnalysis(double dKeepS = FIGURE_WINDOW_S + 2);
    ~CSignalAnalysis();
    CSignalAnalysis(const CSignalAnalysis&) = delete;
    CSignalAnalysis& operator=(const CSignalAnalysis&) = delete;

    // A data frame's ECG and pulse waves, arrived at tUs (microseconds, any fixed origin), and
    // the pulse channels' static pressures (none: taken as 0).
    void AddFrame(uint64_t tUs, int ecg, const int pulse[PULSE_CHANNELS],
                  const int pressure[PULSE_CHANNELS] = nullptr);
    // A data frame whose values cannot be used (failed check): it keeps its slot in time.
    void AddUnusableFrame(uint64_t tUs);
    // Bytes dropped since the last frame (the receive ring overflowed): whole frames among them,
    // 21 bytes each, were lost.
    void NoteLostBytes(uint64_t qwBytes);
    // Bytes the decoder passed over since the last frame. Lost data only after a drop (the
    // remains of the frames it cut); otherwise garbage, or destroyed frames told apart by
    // NoteDestroyedFrames.
    void NoteSkippedBytes(uint64_t qwBytes);
    // Data frames destroyed on the line since the last frame (their header hit).
    void NoteDestroyedFrames(uint64_t qwFrames);
    // Forgets everything (the port was opened anew); the pressure-amplitude curves start again.
    void Reset();
    // The sample rate when it is known beforehand (a byte stream without times): slots are
    // placed by it instead of by the arrival times. 0 measures it again.
    void SetKnownRate(double fs) { m_dKnownRate = fs; }

    // Figures over the beats of the last dWindowS seconds up to nowUs; dWindowS <= 0: every
    // beat kept.
    SignalFigures Figures(uint64_t nowUs, double dWindowS = FIGURE_WINDOW_S) const;
    // Sample rate of the current run, 0 until measured.
    double SampleRate() const;
    // Time of the latest R wave found, and of the latest foot of pulse channel c (microseconds);
    // nothing found yet: none.
    std::optional<double> LastRWaveUs() const;
    std::optional<double> LastFootUs(int c) const;
    // Slots filled in for frames known to be lost, in total.
    uint64_t LostSlots() const { return m_qwLostSlots; }
    // The R waves kept (every one found when dKeepS <= 0), in order, in seconds on the clock
    // of the frames' times; for the heart-rate variability of a whole recording.
    std::vector<BeatTime> RWaves() const;

    // --- pulse diagram and pressure-amplitude curve, pulse channel c (0..2) ------------------
    // The pulse diagram over the beats of the last dWindowS seconds up to nowUs; dWindowS <= 0:
    // every beat kept.
    PulseDiagram PulseDiagramOf(int c, uint64_t nowUs, double dWindowS = FIGURE_WINDOW_S) const;
    // Every beat kept, oldest first, with its time.
    std::vector<MeasuredBeat> BeatsOf(int c) const;
    // The points of the pressure-amplitude curve since it last started, oldest first, and the
    // curve they give.
    std::vector<PressurePoint> PressurePointsOf(int c) const;
    PressureCurve PressureCurveOf(int c) const;
    // Starts the pressure-amplitude curves of all channels again.
    void RestartPressureCurves();

private:
    struct Sample {
        double ecg = 0;
        double pulse[PULSE_CHANNELS] = {0, 0, 0};
        double pressure[PULSE_CHANNELS] = {0, 0, 0};
        bool bMissing = false;  // filled in for a frame that could not be used or was lost
    };
    // Slot s of run `id` lies at t0 + (s - s0) / fs seconds.
    struct RunClock {
        int id = 0;
        double t0Us = 0;
        double s0 = 0;
        double fs = 0;
    };
    struct Mark {
        int run = 0;
        double pos = 0;   // slot, fractional
        bool valid = false;
    };
    struct Beat {
        int run = 0;
        double fs = 0;      // the sample rate it was measured at
        MeasuredBeat beat;  // startPos: slot of its foot
    };
    struct Detectors;

    void AddSlot(uint64_t tUs, const Sample* pSample);
    void StartRun(uint64_t tUs);
    void Hand(const Sample& s);
    void Configure(double fs);
    void Collect();
    void Prune();
    const RunClock* ClockOf(int run) const;
    double TimeUs(const Mark& m) const;
    std::optional<double> RateOf(const std::deque<Mark>& marks, double cutUs, double nowUs) const;
    // The beat with its time, and its durations by the run's rate as measured now.
    MeasuredBeat Timed(const Beat& b) const;

    double m_dKeepS;
    double m_dKnownRate = 0;
    // The current run's clock.
    bool m_bInRun = false;
    int m_nRun = 0;
    uint64_t m_qwFirstUs = 0;
    uint64_t m_qwLastUs = 0;
    uint64_t m_qwSlots = 0;        // slots of the run so far
    uint64_t m_qwFed = 0;          // slots handed on; the rest wait for values
    uint64_t m_qwFirstBurst = 0;   // slots that came with the first burst
    uint64_t m_qwLostBytes = 0;    // dropped, and passed over after a drop, since the last frame
    uint64_t m_qwDestroyed = 0;    // destroyed frames since the last frame, before any drop
    uint64_t m_qwLostSlots = 0;
    bool m_bUnsupported = false;   // too slow to analyse
    Sample m_last;
    bool m_bHaveLast = false;
    std::vector<Sample> m_warmUp;  // slots held until the rate is known
    std::unique_ptr<Detectors> m_pDet;
    double m_dDetFs = 0;
    uint64_t m_qwDetBase = 0;      // slot at which the detectors started

    std::deque<RunClock> m_clocks;
    std::deque<Mark> m_rWaves;
    std::deque<Mark> m_feet[PULSE_CHANNELS];
    std::deque<Beat> m_beats[PULSE_CHANNELS];
    std::deque<PressurePoint> m_pressurePoints[PULSE_CHANNELS];
};

} // namespace analysis
