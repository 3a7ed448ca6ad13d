#pragma once
// sensor-decode --stats: the link figures, heart rate, pulse rates and pulse transit times of a
// whole decoded session, printed as name=value lines ("unknown" where a figure is unknown).
#include <cstdint>
#include <ostream>

#include "data_runs.h"
#include "link_monitor.h"
#include "session_decoder.h"

class CDecodeStats : public capture::ISessionListener {
public:
    // rateHz: frames a second of a plain byte stream, whose frames have no times; 0 for a
    // capture, whose record times place the frames.
    CDecodeStats(const capture::CSessionDecoder& decoder, double rateHz);

    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs) override;
    void OnStopAck(int64_t timeUs) override;
    void OnCommandSent(const capture::SentCommand& cmd, int64_t timeUs) override;

    // Prints frames=, frame_rate_hz=, badcheck=, skipped_bytes=, heart_rate_bpm=,
    // pulse_rate_bpm_1..3= and ptt_ms_1..3=, one a line, then the pulse diagram's and
    // pressure-amplitude curve's figures (pulse_export.h).
    void Print(std::ostream& out);

    // The analysis of the whole session, and the time of its last frame (microseconds).
    const analysis::CSignalAnalysis& Analysis() const { return m_monitor.Analysis(); }
    uint64_t EndUs() const { return m_qwLastUs; }

private:
    uint64_t TimeOf(int64_t timeUs) const;

    const capture::CSessionDecoder& m_decoder;
    double m_dRate;
    capture::CRunTracker m_runs;
    analysis::CLinkMonitor m_monitor{0};  // every beat kept: the figures are for the whole session
    uint64_t m_qwFrames = 0;
    uint64_t m_qwSkippedTold = 0;
    uint64_t m_qwLastUs = 0;
};
