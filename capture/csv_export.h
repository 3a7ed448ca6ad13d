#pragma once
// CSV export: a header row, then one row per data frame whose check byte matches.
#include <cstdio>
#include <string>

#include "session_decoder.h"

namespace capture {

constexpr const char* CSV_HEADER = "sample,time_s,pressure1,pressure2,pressure3,pulse1,pulse2,pulse3,ecg,volume";

// Writes the rows to an open stream (not owned). `sample` numbers the data frames of the
// session from 0, bad checks included, so a gap in it shows where a frame was dropped;
// `time_s` is the time of the read that completed the frame, empty for a plain stream.
class CCsvExport : public ISessionListener {
public:
    explicit CCsvExport(std::FILE* pOut);
    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs) override;
private:
    std::FILE* m_pOut = nullptr;
    uint64_t m_qwSample = 0;
};

} // namespace capture
