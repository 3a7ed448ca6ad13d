#pragma once
// sensor-decode --stats: the link figures, heart rate, pulse rates, pulse transit times and
// heart-rate variability of a whole decoded session, printed as name=value lines ("unknown"
// where a figure is unknown).
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "channel_units.h"
#include "data_runs.h"
#include "hrv.h"
#include "link_monitor.h"
#include "session_decoder.h"

class CDecodeStats : public capture::ISessionListener {
public:
    // rateHz: frames a second of a plain byte stream, whose frames have no times; 0 for a
    // capture, whose record times place the frames.
    CDecodeStats(const capture::CSessionDecoder& decoder, double rateHz);

    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs) override;
    void OnDestroyedFrame(int64_t timeUs) override;
    void OnStopAck(int64_t timeUs) override;
    void OnCommandSent(const capture::SentCommand& cmd, int64_t timeUs) override;

    // Prints frames=, frame_rate_hz=, badcheck=, skipped_bytes=, heart_rate_bpm=,
    // pulse_rate_bpm_1..3= and ptt_ms_1..3=, then the heart-rate variability nn_count=,
    // sdnn_ms=, rmssd_ms=, pnn50_pct=, lf_ms2=, hf_ms2= and lf_hf=, one a line, then the pulse
    // diagram's and pressure-amplitude curve's figures (pulse_export.h), the best hold-down
    // pressures in the units set.
    void Print(std::ostream& out);
    void SetPressureUnits(const units::PressureUnits& u) { m_units = u; }

    // The figures Print shows, for other presentations of the same session (the session
    // report): after the last frame, Finish, then these.
    void Finish() { m_runs.Finish(); }
    uint64_t Frames() const { return m_qwFrames; }
    std::optional<double> FrameRate() const;
    int DataRuns() const { return m_runs.Runs(); }
    analysis::SignalFigures Signal() const { return m_monitor.Signal(m_qwLastUs, 0); }
    // Heart-rate variability of the whole session and the NN intervals it is made of.
    std::vector<analysis::NnInterval> NnIntervals() const;
    analysis::HrvFigures Hrv() const { return analysis::HrvOf(NnIntervals()); }
    // Digits after the point: one for every figure but LF/HF, a ratio near 1, which gets two.
    static constexpr int LF_HF_DIGITS = 2;
    // A figure as Print writes it: nDigits after the point, or `unknown`.
    static std::string Format(const std::optional<double>& v, int nDigits = 1, const char* pszUnknown = "unknown");

    // The analysis of the whole session, and the time of its last frame (microseconds).
    const analysis::CSignalAnalysis& Analysis() const { return m_monitor.Analysis(); }
    uint64_t EndUs() const { return m_qwLastUs; }
    // The pulse diagram of pulse channel c (0..2) over every beat of the session, and its
    // pressure-amplitude curve, as Print gives them.
    analysis::PulseDiagram Diagram(int c) const { return Analysis().PulseDiagramOf(c, m_qwLastUs, 0); }
    analysis::PressureCurve Curve(int c) const { return Analysis().PressureCurveOf(c); }

private:
    uint64_t TimeOf(int64_t timeUs) const;
    // Tells the monitor of bytes passed over since the last time.
    void TellSkipped();

    const capture::CSessionDecoder& m_decoder;
    double m_dRate;
    capture::CRunTracker m_runs;
    analysis::CLinkMonitor m_monitor{0};  // every beat kept: the figures are for the whole session
    uint64_t m_qwFrames = 0;
    uint64_t m_qwDestroyed = 0;     // data frames destroyed on the line: no values, but a place in time
    uint64_t m_qwSkippedTold = 0;
    uint64_t m_qwLastUs = 0;
    units::PressureUnits m_units;
};
