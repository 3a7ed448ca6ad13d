#pragma once
// The pressure-amplitude curve of one pulse channel: each valid beat is a point (the channel's
// static pressure averaged over the beat, its main-wave height h1); binned over the pressure
// range the points cover, the curve's peak is the best hold-down pressure, and where that lies
// in the range, the depth coefficient, tells a floating pulse from a deep one. Definitions and
// references: docs/pulse-analysis.md. Plain C++, sensor counts throughout.
#include <optional>
#include <vector>

namespace analysis {

constexpr int PH_BINS = 16;               // bins across the pressure range covered
constexpr int PH_MIN_BIN_BEATS = 3;       // a bin with fewer beats is left out
constexpr double PH_MIN_SPAN = 200;       // a narrower pressure range is no sweep: unknown
constexpr int PH_SIDE_BINS = 3;           // bins wanted on both sides of the peak ...
constexpr int PH_END_RANGE_BINS = 6;      // ... or this many in all when the peak is at an end
constexpr double PH_FLOATING_BELOW = 1.0 / 3;  // depth coefficient limits of the positions
constexpr double PH_DEEP_ABOVE = 2.0 / 3;

struct PressurePoint {
    double pressure = 0;  // static pressure averaged over the beat, counts
    double h1 = 0;        // main-wave height, counts
};

enum class PulsePosition { Unknown, Floating, Middle, Deep };
// Where the curve's peak lies when it lies at an end of the range swept.
enum class PeakEnd { None, Low, High };

struct PressureBin {
    double from = 0, to = 0;        // pressure range of the bin
    int beats = 0;
    std::optional<double> medianH1;  // none: fewer than PH_MIN_BIN_BEATS beats
    std::optional<double> curveH1;   // the smoothed curve at the bin's centre
    double Centre() const { return (from + to) / 2; }
};

struct PressureCurve {
    int points = 0;
    double lowest = 0, highest = 0;   // pressure range covered by the points
    std::vector<PressureBin> bins;    // PH_BINS across [lowest, highest]; empty without points
    std::optional<double> bestPressure;
    std::optional<double> depth;      // (best - lowest) / (highest - lowest), 0..1
    PulsePosition position = PulsePosition::Unknown;
    PeakEnd peakEnd = PeakEnd::None;
};

PressureCurve FitPressureCurve(const std::vector<PressurePoint>& points);

// "floating", "middle", "deep" or "unknown", as sensor-decode prints them.
const char* PositionName(PulsePosition position);
// "low", "high" or "none".
const char* PeakEndName(PeakEnd end);

} // namespace analysis
