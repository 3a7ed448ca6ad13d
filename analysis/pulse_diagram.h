#pragma once
// The pulse diagram of one pulse channel: every beat from one pulse foot to the next is measured
// above the straight line joining its two feet (main wave h1/t1, tidal wave h3/t3, dicrotic notch
// h4/t4, dicrotic wave h5, diastole t5, period t, width w of the main wave's upper third, the
// areas As/Ad before and after the notch, harmonics C2..C10 relative to the first), and the
// beats of a stretch are summed up as medians and as one averaged beat. Definitions and
// references: docs/pulse-analysis.md. Plain C++; heights in sensor counts, times in ms.
#include <cstddef>
#include <optional>
#include <vector>

#include "dsp.h"

namespace analysis {

constexpr double BEAT_MIN_BPM = 30;       // a beat whose period lies outside these is rejected
constexpr double BEAT_MAX_BPM = 220;
constexpr double LEADING_SHARE = 0.8;     // medians take the beats whose h1 is at least this
                                          // share of the largest
constexpr int MIN_DIAGRAM_BEATS = 3;      // fewer beats in a stretch: its figures are unknown
// A beat is rejected for missing samples (filled in for frames that failed their check or were
// lost) when a run of them lasts longer than this, which the smoothing would no longer bridge,
// or when they are more than this share of the beat.
constexpr double MAX_MISSING_RUN_S = 0.012;
constexpr double MAX_MISSING_SHARE = 0.2;
constexpr int HARMONICS = 10;             // C1..C10
constexpr int SHAPE_POINTS = 200;         // a beat's shape kept for the averaged beat

// The figures of one beat. Times in ms, heights in counts, areas in counts x seconds.
enum PulseFigure : int {
    PF_T, PF_T1, PF_T3, PF_T4, PF_T5, PF_W,
    PF_H1, PF_H3, PF_H4, PF_H5,
    PF_AS, PF_AD,
    PF_H3_H1, PF_H4_H1, PF_H5_H1, PF_W_T, PF_T1_T, PF_T4_T5,
    PF_C2, PF_C3, PF_C4, PF_C5, PF_C6, PF_C7, PF_C8, PF_C9, PF_C10,
    PF_COUNT
};

struct PulseFigureInfo {
    const char* key;   // column and field name: "t_ms", "h3_h1", "c2" ...
    int decimals;      // as printed
};
const PulseFigureInfo& FigureInfo(int figure);

// Why a beat was left out.
enum class BeatStatus {
    Valid,
    Rate,      // its period lies outside BEAT_MIN_BPM..BEAT_MAX_BPM
    NoPoint,   // a point of the diagram cannot be found
    Missing,   // it holds too many missing samples (MAX_MISSING_RUN_S, MAX_MISSING_SHARE)
    WeakFoot,  // a foot does not stand clear of the noise
};
// "ok", "rate", "point", "missing", "foot".
const char* StatusName(BeatStatus status);

// The points of a beat as drawn: ms from its foot, counts above its baseline.
struct BeatPoints {
    double t1 = 0, h1 = 0;    // main peak
    double t3 = 0, h3 = 0;    // tidal wave: its peak, or the shoulder where it has none
    double t4 = 0, h4 = 0;    // dicrotic notch
    double tD = 0, hD = 0;    // top of the dicrotic wave (the notch itself where there is no rise)
    double w0 = 0, w1 = 0;    // where the main wave crosses two thirds of h1
    bool bTidalPeak = false;  // the tidal wave has a maximum of its own
    bool bNotchMinimum = false;  // the notch is a minimum
};

struct MeasuredBeat {
    BeatStatus status = BeatStatus::NoPoint;
    double startPos = 0;      // its foot, in samples from the first one the meter was fed
    double startUs = 0;       // its foot in time, filled in by the signal analysis
    double pressure = 0;      // static pressure of the channel averaged over the beat, counts
    double values[PF_COUNT] = {};  // valid beats only
    BeatPoints points;
    std::vector<float> shape;  // height above the baseline at SHAPE_POINTS even steps, foot to foot

    bool Valid() const { return status == BeatStatus::Valid; }
};

// Lengths of the smoothing, in seconds, so that the figures agree at every sample rate.
struct DiagramParams {
    double dSmoothS = 0.024;   // Savitzky-Golay smoothing of the wave (cubic)
    double dSlopeS = 0.050;    // ... of its first derivative (cubic)
    double dBendS = 0.050;     // ... of its second derivative (quadratic)
};

// Measures one beat of x (sampled at fs) between its feet near positions f0 < f1 (fractional
// sample indices of x), which it places again by their tangents; x should reach 100 ms beyond
// both for the smoothing and the upstrokes. Fills in everything but pressure and startUs
// (startPos: the first foot as placed, in x's indices); returns out.status.
BeatStatus MeasureBeat(const std::vector<double>& x, double fs, double f0, double f1, MeasuredBeat& out,
                       const DiagramParams& params = DiagramParams());

// Cuts one channel's samples into beats at the feet found on it and measures each.
class CBeatMeter {
public:
    explicit CBeatMeter(double fs, const DiagramParams& params = DiagramParams());

    // The next sample: the pulse wave, the channel's static pressure, and whether the sample
    // is missing (filled in for a frame that failed its check or was lost).
    void Add(double x, double pressure, bool bMissing);
    // A foot found at pos (samples from the first one fed), after its sample was added.
    void Foot(double pos, bool bValid);
    // Beats measured since the last clear, oldest first.
    std::vector<MeasuredBeat>& Found() { return m_found; }

private:
    struct Slot {
        double x = 0;
        double pressure = 0;
        bool bMissing = false;
    };
    const Slot& At(long long k) const { return m_ring[static_cast<size_t>(k) % m_ring.size()]; }

    DiagramParams m_p;
    double m_dFs;
    std::vector<Slot> m_ring;  // the latest samples; sample k lies at k % size
    long long m_nFed = 0;
    bool m_bHaveFoot = false;
    double m_dLastFoot = 0;
    bool m_bLastValid = false;
    std::vector<double> m_scratch;
    std::vector<MeasuredBeat> m_found;
};

// The averaged beat of a stretch: the beats in the medians, each stretched to the median period
// and averaged point by point, measured like any beat.
struct AveragedBeat {
    double periodMs = 0;          // 0: no beat to average
    std::vector<double> heights;  // SHAPE_POINTS even steps over periodMs, counts above baseline
    BeatPoints points;
    bool bPointsFound = false;
};

// A channel's pulse diagram over a stretch of beats.
struct PulseDiagram {
    int beats = 0;         // valid beats
    int rejected = 0;      // beats left out (BeatStatus other than Valid)
    int used = 0;          // valid beats whose h1 is at least LEADING_SHARE of the largest
    double leadingH1 = 0;  // that limit, counts
    std::optional<double> median[PF_COUNT];  // unknown with fewer than MIN_DIAGRAM_BEATS used
    AveragedBeat averaged;
};

PulseDiagram SummariseBeats(const std::vector<const MeasuredBeat*>& beats,
                            const DiagramParams& params = DiagramParams());

} // namespace analysis
