#include "pressure_curve.h"

#include <algorithm>
#include <cmath>

#include "dsp.h"

namespace analysis {

PressureCurve FitPressureCurve(const std::vector<PressurePoint>& points)
{
    PressureCurve curve;
    curve.points = static_cast<int>(points.size());
    if (points.empty())
        return curve;
    const auto range = std::minmax_element(points.begin(), points.end(),
                                           [](const PressurePoint& a, const PressurePoint& b) { return a.pressure < b.pressure; });
    curve.lowest = range.first->pressure;
    curve.highest = range.second->pressure;
    const double span = curve.highest - curve.lowest;
    if (!(span > 0))
        return curve;

    const double width = span / PH_BINS;
    std::vector<std::vector<double>> heights(PH_BINS);
    for (const PressurePoint& p : points)
        heights[static_cast<size_t>(std::min(PH_BINS - 1, static_cast<int>((p.pressure - curve.lowest) / width)))].push_back(p.h1);
    curve.bins.resize(PH_BINS);
    for (int k = 0; k < PH_BINS; ++k) {
        PressureBin& bin = curve.bins[static_cast<size_t>(k)];
        bin.from = curve.lowest + k * width;
        bin.to = bin.from + width;
        bin.beats = static_cast<int>(heights[static_cast<size_t>(k)].size());
        if (bin.beats >= PH_MIN_BIN_BEATS)
            bin.medianH1 = MedianOf(heights[static_cast<size_t>(k)]);
    }
    // Smoothed by weights 1, 2, 1 over the bins that have a median.
    for (int k = 0; k < PH_BINS; ++k) {
        if (!curve.bins[static_cast<size_t>(k)].medianH1)
            continue;
        double sum = 2 * *curve.bins[static_cast<size_t>(k)].medianH1, weight = 2;
        for (int j : {k - 1, k + 1})
            if (j >= 0 && j < PH_BINS && curve.bins[static_cast<size_t>(j)].medianH1) {
                sum += *curve.bins[static_cast<size_t>(j)].medianH1;
                weight += 1;
            }
        curve.bins[static_cast<size_t>(k)].curveH1 = sum / weight;
    }

    int peak = -1, below = 0, above = 0, valid = 0;
    for (int k = 0; k < PH_BINS; ++k) {
        const auto& c = curve.bins[static_cast<size_t>(k)].curveH1;
        if (!c)
            continue;
        ++valid;
        if (peak < 0 || *c > *curve.bins[static_cast<size_t>(peak)].curveH1)
            peak = k;
    }
    if (peak < 0)
        return curve;
    for (int k = 0; k < PH_BINS; ++k) {
        if (!curve.bins[static_cast<size_t>(k)].curveH1)
            continue;
        below += k < peak ? 1 : 0;
        above += k > peak ? 1 : 0;
    }

    // The one place that says a narrow range is no sweep.
    if (span < PH_MIN_SPAN)
        return curve;
    const PressureBin& top = curve.bins[static_cast<size_t>(peak)];
    double best = top.Centre();
    if (below >= PH_SIDE_BINS && above >= PH_SIDE_BINS) {
        const auto& l = curve.bins[static_cast<size_t>(peak - 1)].curveH1;
        const auto& r = curve.bins[static_cast<size_t>(peak + 1)].curveH1;
        if (l && r) {
            const double den = *l - 2 * *top.curveH1 + *r;
            if (den < 0)
                best += std::clamp((*l - *r) / (2 * den), -0.5, 0.5) * width;
        }
    } else if ((below == 0 || above == 0) && valid >= PH_END_RANGE_BINS) {
        curve.peakEnd = below == 0 ? PeakEnd::Low : PeakEnd::High;
    } else {
        return curve;
    }
    curve.bestPressure = best;
    curve.depth = std::clamp((best - curve.lowest) / span, 0.0, 1.0);
    curve.position = *curve.depth < PH_FLOATING_BELOW ? PulsePosition::Floating
                   : *curve.depth > PH_DEEP_ABOVE      ? PulsePosition::Deep
                                                       : PulsePosition::Middle;
    return curve;
}

const char* PositionName(PulsePosition position)
{
    switch (position) {
    case PulsePosition::Floating: return "floating";
    case PulsePosition::Middle: return "middle";
    case PulsePosition::Deep: return "deep";
    case PulsePosition::Unknown: break;
    }
    return "unknown";
}

const char* PeakEndName(PeakEnd end)
{
    switch (end) {
    case PeakEnd::Low: return "low";
    case PeakEnd::High: return "high";
    case PeakEnd::None: break;
    }
    return "none";
}

} // namespace analysis
