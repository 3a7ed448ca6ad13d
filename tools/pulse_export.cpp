#include "pulse_export.h"

#include <optional>
#include <string>

using namespace analysis;

namespace {

constexpr const char* UNKNOWN = "unknown";

std::string Number(double v, int decimals)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string Figure(const std::optional<double>& v, int decimals)
{
    return v ? Number(*v, decimals) : std::string(UNKNOWN);
}

// The figures --stats gives, in its order.
constexpr int STATS_FIGURES[] = {PF_H1, PF_H3_H1, PF_H4_H1, PF_H5_H1, PF_T1, PF_T4, PF_T5, PF_T, PF_W, PF_W_T,
                                 PF_C2, PF_C3, PF_C4, PF_C5, PF_C6, PF_C7, PF_C8, PF_C9, PF_C10};

} // namespace

void PrintPulseStats(std::ostream& out, const CSignalAnalysis& analysis, uint64_t endUs)
{
    PulseDiagram diagrams[PULSE_CHANNELS];
    PressureCurve curves[PULSE_CHANNELS];
    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        diagrams[c] = analysis.PulseDiagramOf(c, endUs, 0);
        curves[c] = analysis.PressureCurveOf(c);
    }
    for (int f : STATS_FIGURES)
        for (int c = 0; c < PULSE_CHANNELS; ++c)
            out << FigureInfo(f).key << '_' << c + 1 << '=' << Figure(diagrams[c].median[f], FigureInfo(f).decimals)
                << '\n';
    for (int c = 0; c < PULSE_CHANNELS; ++c)
        out << "best_pressure_" << c + 1 << '=' << Figure(curves[c].bestPressure, 0) << '\n';
    for (int c = 0; c < PULSE_CHANNELS; ++c)
        out << "depth_" << c + 1 << '=' << Figure(curves[c].depth, 3) << '\n';
    for (int c = 0; c < PULSE_CHANNELS; ++c)
        out << "position_" << c + 1 << '=' << PositionName(curves[c].position) << '\n';
    for (int c = 0; c < PULSE_CHANNELS; ++c)
        out << "peak_end_" << c + 1 << '='
            << (curves[c].position == PulsePosition::Unknown ? UNKNOWN : PeakEndName(curves[c].peakEnd)) << '\n';
    for (int c = 0; c < PULSE_CHANNELS; ++c)
        out << "beats_" << c + 1 << '=' << diagrams[c].beats << '\n';
    for (int c = 0; c < PULSE_CHANNELS; ++c)
        out << "beats_rejected_" << c + 1 << '=' << diagrams[c].rejected << '\n';
}

bool WriteBeatsCsv(std::FILE* pFile, const CSignalAnalysis& analysis, uint64_t endUs)
{
    std::string line = "channel,start_s,status,in_median,pressure";
    for (int f = 0; f < PF_COUNT; ++f)
        line += std::string(",") + FigureInfo(f).key;
    line += '\n';
    std::fputs(line.c_str(), pFile);
    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        const double leading = analysis.PulseDiagramOf(c, endUs, 0).leadingH1;
        for (const MeasuredBeat& b : analysis.BeatsOf(c)) {
            line = std::to_string(c + 1) + ',' + Number(b.startUs / 1e6, 6) + ',' + StatusName(b.status) + ','
                 + (b.Valid() && b.values[PF_H1] >= leading ? "1" : "0") + ',' + Number(b.pressure, 1);
            for (int f = 0; f < PF_COUNT; ++f)
                line += ',' + (b.Valid() ? Number(b.values[f], FigureInfo(f).decimals + 1) : std::string());
            line += '\n';
            std::fputs(line.c_str(), pFile);
        }
    }
    return !std::ferror(pFile);
}

bool WritePressureCsv(std::FILE* pFile, const CSignalAnalysis& analysis)
{
    std::fputs("channel,kind,pressure,h1,beats,curve_h1\n", pFile);
    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        const std::string ch = std::to_string(c + 1);
        for (const PressurePoint& p : analysis.PressurePointsOf(c)) {
            const std::string line = ch + ",point," + Number(p.pressure, 1) + ',' + Number(p.h1, 1) + ",,\n";
            std::fputs(line.c_str(), pFile);
        }
        const PressureCurve curve = analysis.PressureCurveOf(c);
        std::optional<double> top;
        for (const PressureBin& bin : curve.bins) {
            const std::string line = ch + ",bin," + Number(bin.Centre(), 1) + ','
                                   + (bin.medianH1 ? Number(*bin.medianH1, 1) : std::string()) + ','
                                   + std::to_string(bin.beats) + ','
                                   + (bin.curveH1 ? Number(*bin.curveH1, 1) : std::string()) + '\n';
            std::fputs(line.c_str(), pFile);
            if (bin.curveH1 && (!top || *bin.curveH1 > *top))
                top = bin.curveH1;
        }
        if (curve.bestPressure) {
            const std::string line = ch + ",best," + Number(*curve.bestPressure, 1) + ",,," + Number(top.value_or(0), 1) + '\n';
            std::fputs(line.c_str(), pFile);
        }
    }
    return !std::ferror(pFile);
}
