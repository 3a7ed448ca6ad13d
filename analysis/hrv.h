#pragma once
// Heart-rate variability of a whole recording from its R waves: the normal-to-normal (NN)
// intervals, their time-domain measures (SDNN, RMSSD, pNN50) and the power of the tachogram in
// the low- and high-frequency bands (LF, HF, LF/HF). The methods and their references are in
// docs/hrv.md. Plain C++, no Qt.
#include <cstddef>
#include <optional>
#include <vector>

namespace analysis {

// An R wave as the analysis found it.
struct BeatTime {
    double tS = 0;        // seconds, on the session's clock
    int run = 0;          // data run it belongs to: no interval spans two runs
    bool valid = false;   // stood clear of the noise
};

// One NN interval, placed at the R wave that ends it.
struct NnInterval {
    double tS = 0;        // the ending R wave, seconds
    double ms = 0;        // the interval, milliseconds
    bool bFollows = false;  // starts at the R wave that ended the previous NN interval
};

// Rejection rule: an interval is dropped when it lies more than HRV_MAX_DEVIATION from the
// median of the HRV_MEDIAN_SPAN intervals on each side of it (and itself), and the intervals
// sharing a beat with a dropped one are dropped too (one of its beats is ectopic or misplaced).
constexpr double HRV_MAX_DEVIATION = 0.20;
constexpr int HRV_MEDIAN_SPAN = 5;
constexpr double HRV_MIN_INTERVAL_S = 60.0 / 220;  // rates outside 30..220 a minute are no heart beats
constexpr double HRV_MAX_INTERVAL_S = 60.0 / 30;
// Least length of NN intervals (their sum) for the time-domain measures, and of one unbroken
// stretch of them for the band powers. Five minutes is the standard short-term length.
constexpr double HRV_TIME_DOMAIN_MIN_S = 60;
constexpr double HRV_SPECTRAL_MIN_S = 120;
constexpr double HRV_STANDARD_SHORT_S = 300;
// Successive NN intervals differing by more than this count towards pNN50.
constexpr double HRV_NN50_MS = 50;
// Spectrum: the tachogram through a cubic spline, sampled evenly at HRV_RESAMPLE_HZ; a stretch
// ends where no NN interval comes for HRV_MAX_BRIDGE_S; Welch's method over Hann-windowed,
// linearly detrended segments of at most HRV_MAX_SEGMENT_S overlapping by half.
constexpr double HRV_RESAMPLE_HZ = 4;
constexpr double HRV_MAX_BRIDGE_S = 10;
constexpr double HRV_MAX_SEGMENT_S = 256;
constexpr double HRV_LF_LOW_HZ = 0.04;
constexpr double HRV_LF_HIGH_HZ = 0.15;   // = HF low edge; a bin belongs to the band it starts
constexpr double HRV_HF_HIGH_HZ = 0.40;

struct HrvFigures {
    size_t nnCount = 0;
    double nnTotalS = 0;                // sum of the NN intervals
    std::optional<double> sdnnMs;       // each none below its least length
    std::optional<double> rmssdMs;
    std::optional<double> pnn50Pct;
    std::optional<double> lfMs2;
    std::optional<double> hfMs2;
    std::optional<double> lfHf;         // none also when HF is zero
};

struct BandPowers {
    double lfMs2 = 0;
    double hfMs2 = 0;
    double spanS = 0;   // length of the stretch they were measured over
};

// The NN intervals among R waves in time order, by the rule above.
std::vector<NnInterval> NnIntervals(const std::vector<BeatTime>& beats);
// LF and HF power over the longest unbroken stretch of the intervals; none when it is shorter
// than HRV_SPECTRAL_MIN_S.
std::optional<BandPowers> BandPowersOf(const std::vector<NnInterval>& nn);
// Every figure, each known only when there is enough of the recording for it.
HrvFigures HrvOf(const std::vector<NnInterval>& nn);

} // namespace analysis
