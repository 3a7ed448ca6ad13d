#include "csv_export.h"

#include <cinttypes>
#include <cmath>

namespace capture {

namespace {

std::string FormatTime(int64_t timeUs)
{
    char time[32] = "";
    if (timeUs != NO_TIME)
        std::snprintf(time, sizeof time, "%" PRId64 ".%06" PRId64, timeUs / 1000000, timeUs % 1000000);
    return time;
}

} // namespace

CCsvExport::CCsvExport(std::FILE* pOut, const units::PressureUnits& pressureUnits, SampleClock clock)
    : m_pOut(pOut), m_units(pressureUnits), m_clock(std::move(clock)), m_runs(this)
{
    if (m_units.AllCounts()) {
        std::fprintf(m_pOut, "%s\n", CSV_HEADER);
        return;
    }
    std::string header = "sample,time_s";
    for (int c = 0; c < units::PRESSURE_CHANNELS; ++c)
        header += ",pressure" + std::to_string(c + 1) + (m_units.ch[c].IsCounts() ? "" : "_" + m_units.ch[c].name);
    std::fprintf(m_pOut, "%s,pulse1,pulse2,pulse3,ecg,volume,t_s\n", header.c_str());
}

void CCsvExport::OnRunStart(int nRun, int64_t /*timeUs*/)
{
    m_nRun = nRun;
    m_qwRunFirst = m_qwSample;
}

void CCsvExport::OnDestroyedFrame(int64_t timeUs)
{
    m_runs.OnDestroyedFrame(timeUs);
    ++m_qwSample;
}

void CCsvExport::OnStopAck(int64_t timeUs)
{
    m_runs.OnStopAck(timeUs);
}

std::string CCsvExport::SampleTime(uint64_t nSample) const
{
    if (m_clock.rate <= 0)
        return std::string();
    double t = NAN;
    if (m_clock.runStartUs.empty())
        t = static_cast<double>(nSample) / m_clock.rate;
    else if (m_nRun >= 1 && static_cast<size_t>(m_nRun) <= m_clock.runStartUs.size())
        t = (m_clock.runStartUs[static_cast<size_t>(m_nRun - 1)]
             + static_cast<double>(nSample - m_qwRunFirst) * 1e6 / m_clock.rate) / 1e6;
    if (!std::isfinite(t))
        return std::string();
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", t);
    return text;
}

void CCsvExport::OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs)
{
    m_runs.OnDataFrame(block, checkOk, timeUs);
    const uint64_t nSample = m_qwSample++;
    if (!checkOk)
        return;
    const std::string time = FormatTime(timeUs);
    const std::string clock = SampleTime(nSample);
    using namespace proto;
    if (!m_units.AllCounts()) {
        const int words[units::PRESSURE_CHANNELS] = {WORD_STATIC1, WORD_STATIC2, WORD_STATIC3};
        std::string pressures;
        for (int c = 0; c < units::PRESSURE_CHANNELS; ++c)
            pressures += "," + units::FormatValue(m_units.ch[c].FromCounts(BlockWordAt(block, words[c])));
        std::fprintf(m_pOut, "%" PRIu64 ",%s%s,%u,%u,%u,%u,%u,%s\n", nSample, time.c_str(), pressures.c_str(),
                     unsigned(BlockWordAt(block, WORD_PULSE1)), unsigned(BlockWordAt(block, WORD_PULSE2)),
                     unsigned(BlockWordAt(block, WORD_PULSE3)), unsigned(BlockWordAt(block, WORD_ECG)),
                     unsigned(BlockWordAt(block, WORD_VOLUME)), clock.c_str());
        return;
    }
    std::fprintf(m_pOut, "%" PRIu64 ",%s,%u,%u,%u,%u,%u,%u,%u,%u,%s\n", nSample, time.c_str(),
                 unsigned(BlockWordAt(block, WORD_STATIC1)), unsigned(BlockWordAt(block, WORD_STATIC2)),
                 unsigned(BlockWordAt(block, WORD_STATIC3)), unsigned(BlockWordAt(block, WORD_PULSE1)),
                 unsigned(BlockWordAt(block, WORD_PULSE2)), unsigned(BlockWordAt(block, WORD_PULSE3)),
                 unsigned(BlockWordAt(block, WORD_ECG)), unsigned(BlockWordAt(block, WORD_VOLUME)), clock.c_str());
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

CNotesCsv::CNotesCsv(std::FILE* pOut) : m_pOut(pOut)
{
    std::fprintf(m_pOut, "%s\n", NOTES_CSV_HEADER);
}

void CNotesCsv::OnDataFrame(const uint8_t*, bool, int64_t)
{
    ++m_qwFrames;
}

void CNotesCsv::OnDestroyedFrame(int64_t)
{
    ++m_qwFrames;
}

void CNotesCsv::OnNote(const std::string& text, int64_t timeUs)
{
    const std::string sample = m_qwFrames > 0 ? std::to_string(m_qwFrames - 1) : std::string();
    std::fprintf(m_pOut, "%s,%s,%s\n", FormatTime(timeUs).c_str(), sample.c_str(), CsvField(text).c_str());
}

} // namespace capture
