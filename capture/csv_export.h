#pragma once
// CSV export: a header row, then one row per data frame whose check byte matches.
#include <cstdio>
#include <string>

#include "channel_units.h"
#include "session_decoder.h"

namespace capture {

constexpr const char* CSV_HEADER = "sample,time_s,pressure1,pressure2,pressure3,pulse1,pulse2,pulse3,ecg,volume";

// Writes the rows to an open stream (not owned). `sample` numbers the data frames of the
// session from 0, bad checks included, so a gap in it shows where a frame was dropped;
// `time_s` is the time of the read that completed the frame, empty for a plain stream.
// With units other than counts, a pressure column is named after its unit (pressure1_mmHg)
// and holds the count in it.
class CCsvExport : public ISessionListener {
public:
    explicit CCsvExport(std::FILE* pOut, const units::PressureUnits& pressureUnits = units::PressureUnits());
    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs) override;
private:
    std::FILE* m_pOut = nullptr;
    units::PressureUnits m_units;
    uint64_t m_qwSample = 0;
};

constexpr const char* NOTES_CSV_HEADER = "time_s,sample,text";

// The notes of a capture (its markers), one row each: the time of the note, the number of the
// newest data frame then (empty before the first), and the text, quoted as CSV quotes.
class CNotesCsv : public ISessionListener {
public:
    explicit CNotesCsv(std::FILE* pOut);
    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs) override;
    void OnNote(const std::string& text, int64_t timeUs) override;
private:
    std::FILE* m_pOut = nullptr;
    uint64_t m_qwFrames = 0;
};

// A CSV field: as it is, or quoted (quotes doubled) when it holds a comma, quote or line break.
std::string CsvField(const std::string& text);

} // namespace capture
