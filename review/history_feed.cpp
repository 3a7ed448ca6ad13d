#include "history_feed.h"

#include "platform.h"

namespace review {

void CHistoryFeed::OnDataFrame(const uint8_t block[17], bool checkOk)
{
    DataFrame(static_cast<uint64_t>(static_cast<double>(Platform().GetMicroseconds()) * m_dScale), block, checkOk);
}

void CHistoryFeed::OnFramesDestroyed(int nCount)
{
    // Frames whose header was hit on the line: their samples are missing, their places kept.
    for (int i = 0; i < nCount; ++i)
        m_store.AppendMissing();
    if (m_bInRun && nCount > 0)
        m_qwAfterBurst += static_cast<uint64_t>(nCount);
}

void CHistoryFeed::DataFrame(uint64_t tUs, const uint8_t block[17], bool bCheckOk)
{
    if (bCheckOk)
        m_store.AppendBlock(block);
    else
        m_store.AppendMissing();

    if (!m_bInRun || tUs < m_qwLastUs || tUs - m_qwLastUs >= FEED_RUN_GAP_US) {
        m_bInRun = true;
        m_qwFirstUs = m_qwLastUs = tUs;
        m_qwAfterBurst = 0;
        return;
    }
    m_qwLastUs = tUs;
    if (tUs - m_qwFirstUs > FEED_BURST_US)
        ++m_qwAfterBurst;
    const uint64_t span = tUs - m_qwFirstUs;
    if (span >= RATE_WARM_UP_US) {
        m_store.SetSampleRate(static_cast<double>(m_qwAfterBurst) * 1e6 / static_cast<double>(span));
        m_store.SetRateMeasured(true);
    }
}

} // namespace review
