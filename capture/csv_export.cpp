#include "csv_export.h"

#include <cinttypes>

namespace capture {

CCsvExport::CCsvExport(std::FILE* pOut) : m_pOut(pOut)
{
    std::fprintf(m_pOut, "%s\n", CSV_HEADER);
}

void CCsvExport::OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs)
{
    const uint64_t nSample = m_qwSample++;
    if (!checkOk)
        return;
    char time[32] = "";
    if (timeUs != NO_TIME)
        std::snprintf(time, sizeof time, "%" PRId64 ".%06" PRId64, timeUs / 1000000, timeUs % 1000000);
    using namespace proto;
    std::fprintf(m_pOut, "%" PRIu64 ",%s,%u,%u,%u,%u,%u,%u,%u,%u\n", nSample, time,
                 unsigned(BlockWordAt(block, WORD_STATIC1)), unsigned(BlockWordAt(block, WORD_STATIC2)),
                 unsigned(BlockWordAt(block, WORD_STATIC3)), unsigned(BlockWordAt(block, WORD_PULSE1)),
                 unsigned(BlockWordAt(block, WORD_PULSE2)), unsigned(BlockWordAt(block, WORD_PULSE3)),
                 unsigned(BlockWordAt(block, WORD_ECG)), unsigned(BlockWordAt(block, WORD_VOLUME)));
}

} // namespace capture
