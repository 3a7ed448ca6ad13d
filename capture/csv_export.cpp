#include "csv_export.h"

#include <cinttypes>
#include <cmath>

namespace capture {

CCsvExport::CCsvExport(std::FILE* pOut, SampleClock clock) : m_pOut(pOut), m_clock(std::move(clock)), m_runs(this)
{
    std::fprintf(m_pOut, "%s\n", CSV_HEADER);
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

void CCsvExport::OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs)
{
    m_runs.OnDataFrame(block, checkOk, timeUs);
    const uint64_t nSample = m_qwSample++;
    if (!checkOk)
        return;
    char time[32] = "";
    if (timeUs != NO_TIME)
        std::snprintf(time, sizeof time, "%" PRId64 ".%06" PRId64, timeUs / 1000000, timeUs % 1000000);
    char clock[32] = "";
    if (m_clock.rate > 0) {
        double t = NAN;
        if (m_clock.runStartUs.empty())
            t = static_cast<double>(nSample) / m_clock.rate;
        else if (m_nRun >= 1 && static_cast<size_t>(m_nRun) <= m_clock.runStartUs.size())
            t = (m_clock.runStartUs[static_cast<size_t>(m_nRun - 1)]
                 + static_cast<double>(nSample - m_qwRunFirst) * 1e6 / m_clock.rate) / 1e6;
        if (std::isfinite(t))
            std::snprintf(clock, sizeof clock, "%.6f", t);
    }
    using namespace proto;
    std::fprintf(m_pOut, "%" PRIu64 ",%s,%u,%u,%u,%u,%u,%u,%u,%u,%s\n", nSample, time,
                 unsigned(BlockWordAt(block, WORD_STATIC1)), unsigned(BlockWordAt(block, WORD_STATIC2)),
                 unsigned(BlockWordAt(block, WORD_STATIC3)), unsigned(BlockWordAt(block, WORD_PULSE1)),
                 unsigned(BlockWordAt(block, WORD_PULSE2)), unsigned(BlockWordAt(block, WORD_PULSE3)),
                 unsigned(BlockWordAt(block, WORD_ECG)), unsigned(BlockWordAt(block, WORD_VOLUME)), clock);
}

} // namespace capture
