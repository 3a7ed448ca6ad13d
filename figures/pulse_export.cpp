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

// A static pressure of channel c in its unit, with nCountDigits as in counts.
std::string Pressure(double counts, int c, int nCountDigits, const units::PressureUnits& u)
{
    return Number(u.ch[c].FromCounts(counts), u.ch[c].Digits(nCountDigits));
}

} // namespace

std::string BestPressureKey(int c, const units::ChannelUnit& unit)
{
    return "best_pressure_" + (unit.IsCounts() ? std::string() : unit.name + '_') + std::to_string(c + 1);
}

std::string PressureColumn(const units::PressureUnits& u)
{
    if (u.AllCounts())
        return "pressure";
    if (u.OneName())
        return "pressure_" + u.ch[0].name;
    std::string column = "pressure_";
    for (int c = 0; c < units::PRESSURE_CHANNELS; ++c)
        column += (c > 0 ? "|" : "") + u.ch[c].name;
    return column;
}

void PrintPulseStats(std::ostream& out, const CSignalAnalysis& analysis, uint64_t endUs, const units::PressureUnits& u)
{
    PulseDiagram diagrams[PULSE_CHANNELS];
    PressureCurve curves[PULSE_CHANNELS];
    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        diagrams[c] = analysis.PulseDiagramOf(c, endUs, 0);  // as CDecodeStats::Diagram
        curves[c] = analysis.PressureCurveOf(c);
    }
    for (int f : STATS_FIGURES)
        for (int c = 0; c < PULSE_CHANNELS; ++c)
            out << FigureInfo(f).key << '_' << c + 1 << '=' << Figure(diagrams[c].median[f], FigureInfo(f).decimals)
                << '\n';
    for (int c = 0; c < PULSE_CHANNELS; ++c)
        out << BestPressureKey(c, u.ch[c]) << '='
            << (curves[c].bestPressure ? Pressure(*curves[c].bestPressure, c, BEST_PRESSURE_DIGITS, u) : UNKNOWN) << '\n';
    for (int c = 0; c < PULSE_CHANNELS; ++c)
        out << "depth_" << c + 1 << '=' << Figure(curves[c].depth, DEPTH_DIGITS) << '\n';
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

bool WriteBeatsCsv(std::FILE* pFile, const CSignalAnalysis& analysis, uint64_t endUs, const units::PressureUnits& u)
{
    std::string line = "channel,start_s,status,in_median," + PressureColumn(u);
    for (int f = 0; f < PF_COUNT; ++f)
        line += std::string(",") + FigureInfo(f).key;
    line += '\n';
    std::fputs(line.c_str(), pFile);
    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        const double leading = analysis.PulseDiagramOf(c, endUs, 0).leadingH1;
        for (const MeasuredBeat& b : analysis.BeatsOf(c)) {
            line = std::to_string(c + 1) + ',' + Number(b.startUs / 1e6, 6) + ',' + StatusName(b.status) + ','
                 + (b.Valid() && b.values[PF_H1] >= leading ? "1" : "0") + ','
                 + Pressure(b.pressure, c, POINT_PRESSURE_DIGITS, u);
            for (int f = 0; f < PF_COUNT; ++f)
                line += ',' + (b.Valid() ? Number(b.values[f], FigureInfo(f).decimals + 1) : std::string());
            line += '\n';
            std::fputs(line.c_str(), pFile);
        }
    }
    return !std::ferror(pFile);
}

bool WritePressureCsv(std::FILE* pFile, const CSignalAnalysis& analysis, const units::PressureUnits& u)
{
    std::fputs(("channel,kind," + PressureColumn(u) + ",h1,beats,curve_h1\n").c_str(), pFile);
    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        const std::string ch = std::to_string(c + 1);
        for (const PressurePoint& p : analysis.PressurePointsOf(c)) {
            const std::string line = ch + ",point," + Pressure(p.pressure, c, POINT_PRESSURE_DIGITS, u) + ',' + Number(p.h1, 1) + ",,\n";
            std::fputs(line.c_str(), pFile);
        }
        const PressureCurve curve = analysis.PressureCurveOf(c);
        std::optional<double> top;
        for (const PressureBin& bin : curve.bins) {
            const std::string line = ch + ",bin," + Pressure(bin.Centre(), c, POINT_PRESSURE_DIGITS, u) + ','
                                   + (bin.medianH1 ? Number(*bin.medianH1, 1) : std::string()) + ','
                                   + std::to_string(bin.beats) + ','
                                   + (bin.curveH1 ? Number(*bin.curveH1, 1) : std::string()) + '\n';
            std::fputs(line.c_str(), pFile);
            if (bin.curveH1 && (!top || *bin.curveH1 > *top))
                top = bin.curveH1;
        }
        if (curve.bestPressure) {
            const std::string line = ch + ",best," + Pressure(*curve.bestPressure, c, POINT_PRESSURE_DIGITS, u) + ",,," + Number(top.value_or(0), 1) + '\n';
            std::fputs(line.c_str(), pFile);
        }
    }
    return !std::ferror(pFile);
}
