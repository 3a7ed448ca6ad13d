#pragma once
// CSV export: a header row, then one row per data frame whose check byte matches.
#include <cstdio>
#include <string>
#include <vector>

#include "channel_units.h"
#include "data_runs.h"
#include "session_decoder.h"

namespace capture {

constexpr const char* CSV_HEADER =
    "sample,time_s,pressure1,pressure2,pressure3,pulse1,pulse2,pulse3,ecg,volume,t_s";

// The sample clock of a session: the frame rate and where each data run starts on it
// (CRunTracker::RunStartsUs); without starts, sample numbers from 0 at the rate.
struct SampleClock {
    double rate = 0;                 // frames a second; 0: no clock
    std::vector<double> runStartUs;  // one a run, in order
};

// Writes the rows to an open stream (not owned). `sample` numbers the data frames of the
// session from 0, bad checks and destroyed frames included, so a gap in it shows where a
// frame was dropped; `time_s` is the time of the read that completed the frame, empty for a
// plain stream; `t_s` is the frame's time on the sample clock: its run's start plus its place
// in the run at the clock's rate (empty without a clock). With units other than counts, a
// pressure column is named after its unit (pressure1_mmHg) and holds the count in it.
class CCsvExport : public ISessionListener, private IRunListener {
public:
    explicit CCsvExport(std::FILE* pOut, const units::PressureUnits& pressureUnits = units::PressureUnits(),
                        SampleClock clock = SampleClock());
    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs) override;
    void OnDestroyedFrame(int64_t timeUs) override;
    void OnStopAck(int64_t timeUs) override;
private:
    void OnRunStart(int nRun, int64_t timeUs) override;
    // The frame's t_s, or empty.
    std::string SampleTime(uint64_t nSample) const;

    std::FILE* m_pOut = nullptr;
    units::PressureUnits m_units;
    SampleClock m_clock;
    CRunTracker m_runs;
    uint64_t m_qwSample = 0;
    uint64_t m_qwRunFirst = 0;  // sample number of the current run's first frame
    int m_nRun = 0;
};

constexpr const char* NOTES_CSV_HEADER = "time_s,sample,text";

// The notes of a capture (its markers), one row each: the time of the note, the number of the
// newest data frame then (empty before the first; numbered as the CSV's `sample`), and the
// text, quoted as CSV quotes.
class CNotesCsv : public ISessionListener {
public:
    explicit CNotesCsv(std::FILE* pOut);
    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs) override;
    void OnDestroyedFrame(int64_t timeUs) override;
    void OnNote(const std::string& text, int64_t timeUs) override;
private:
    std::FILE* m_pOut = nullptr;
    uint64_t m_qwFrames = 0;
};

// A CSV field: as it is, or quoted (quotes doubled) when it holds a comma, quote or line break.
std::string CsvField(const std::string& text);

} // namespace capture
