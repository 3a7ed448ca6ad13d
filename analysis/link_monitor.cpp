#include "link_monitor.h"

#include "platform.h"
#include "protocol.h"

namespace analysis {

namespace {

// Time from `then` to `now`; 0 if a clock was set back.
uint64_t Elapsed(uint64_t now, uint64_t then) { return now > then ? now - then : 0; }

// Frames this close to the first of a stretch came with it in one burst.
constexpr uint64_t BURST_US = 2000;

} // namespace

CLinkMonitor::CLinkMonitor(double dKeepS) : m_signal(dKeepS) {}

uint64_t CLinkMonitor::Now() const
{
    const uint64_t us = Platform().GetMicroseconds();
    return m_dTimeScale == 1 ? us : static_cast<uint64_t>(static_cast<double>(us) * m_dTimeScale);
}

void CLinkMonitor::PortOpened(uint64_t tUs)
{
    m_bOpen = true;
    m_qwOpenUs = tUs;
    m_counts = LinkFigures();
    m_qwAttempts = 0;
    m_bHaveFrame = false;
    m_bHaveBad = false;
    m_bUnanswered = false;
    m_recent.clear();
    m_bObserving = false;
    m_bObservingEnded = false;
    m_signal.Reset();
}

void CLinkMonitor::PortClosed(uint64_t /*tUs*/)
{
    m_bOpen = false;
}

void CLinkMonitor::DataFrame(uint64_t tUs, const uint8_t block[17], bool bCheckOk)
{
    ++m_counts.qwFrames;
    m_bHaveFrame = true;
    m_qwLastFrameUs = tUs;
    m_bUnanswered = false;  // a data frame answers any command
    if (!m_bObserving) {
        m_bObserving = true;
        m_bObservingEnded = false;
        m_qwObserveStartUs = tUs;
        m_qwObserveFrames = 0;
    } else if (Elapsed(tUs, m_qwObserveStartUs) > BURST_US) {
        ++m_qwObserveFrames;
    }
    if (!m_recent.empty() && m_recent.back().first == tUs)
        ++m_recent.back().second;
    else
        m_recent.emplace_back(tUs, 1);
    while (!m_recent.empty() && Elapsed(tUs, m_recent.front().first) >= FRAME_RATE_WINDOW_US)
        m_recent.pop_front();

    if (!bCheckOk) {
        ++m_counts.qwBadCheck;
        m_bHaveBad = true;
        m_qwLastBadUs = tUs;
        m_signal.AddUnusableFrame(tUs);
        return;
    }
    const int pulse[PULSE_CHANNELS] = {proto::BlockWordAt(block, proto::WORD_PULSE1),
                                       proto::BlockWordAt(block, proto::WORD_PULSE2),
                                       proto::BlockWordAt(block, proto::WORD_PULSE3)};
    const int pressure[PULSE_CHANNELS] = {proto::BlockWordAt(block, proto::WORD_STATIC1),
                                          proto::BlockWordAt(block, proto::WORD_STATIC2),
                                          proto::BlockWordAt(block, proto::WORD_STATIC3)};
    m_signal.AddFrame(tUs, proto::BlockWordAt(block, proto::WORD_ECG), pulse, pressure);
}

void CLinkMonitor::BytesSkipped(uint64_t qwCount)
{
    m_counts.qwSkippedBytes += qwCount;
    m_signal.NoteSkippedBytes(qwCount);
}

void CLinkMonitor::FramesDestroyed(uint64_t qwCount)
{
    m_signal.NoteDestroyedFrames(qwCount);
}

void CLinkMonitor::RingOverflow(uint64_t qwCount)
{
    m_counts.qwRingDropped += qwCount;
    m_signal.NoteLostBytes(qwCount);
}

void CLinkMonitor::CommandSent(uint64_t /*tUs*/)
{
    ++m_qwAttempts;
    m_bUnanswered = false;
}

void CLinkMonitor::CommandResent()
{
    ++m_counts.qwCommandsResent;
}

void CLinkMonitor::CommandUnanswered()
{
    ++m_counts.qwCommandsUnanswered;
    m_bUnanswered = true;
}

void CLinkMonitor::StopAck(uint64_t tUs)
{
    if (!m_bObserving)
        return;
    m_bObserving = false;
    m_bObservingEnded = true;
    m_qwObserveEndUs = tUs;
}

LinkFigures CLinkMonitor::Link(uint64_t nowUs) const
{
    LinkFigures fig = m_counts;
    fig.bPortOpen = m_bOpen;
    fig.qwCommandsSent = m_qwAttempts >= m_counts.qwCommandsResent ? m_qwAttempts - m_counts.qwCommandsResent : 0;
    uint64_t recent = 0;
    for (const auto& entry : m_recent)
        if (nowUs >= entry.first && nowUs - entry.first < FRAME_RATE_WINDOW_US)
            recent += entry.second;
    fig.dFrameRate = static_cast<double>(recent) * 1e6 / FRAME_RATE_WINDOW_US;
    if (m_bOpen && nowUs > m_qwOpenUs)
        fig.frameRateSinceOpen = static_cast<double>(m_counts.qwFrames) * 1e6 / static_cast<double>(nowUs - m_qwOpenUs);
    if (m_bObserving || m_bObservingEnded) {
        const uint64_t span = Elapsed(m_bObserving ? nowUs : m_qwObserveEndUs, m_qwObserveStartUs);
        if (span > 0)
            fig.frameRateSinceObserving = static_cast<double>(m_qwObserveFrames) * 1e6 / static_cast<double>(span);
    }
    if (m_bHaveFrame && nowUs >= m_qwLastFrameUs)
        fig.sinceLastFrameS = static_cast<double>(nowUs - m_qwLastFrameUs) / 1e6;
    return fig;
}

LinkLight CLinkMonitor::Light(uint64_t nowUs) const
{
    if (!m_bOpen)
        return LinkLight::Closed;
    if (m_bHaveBad && Elapsed(nowUs, m_qwLastBadUs) < LIGHT_BAD_US)
        return LinkLight::BadCheck;
    if (m_bUnanswered)
        return LinkLight::Stalled;
    const uint64_t since = Elapsed(nowUs, m_bHaveFrame ? m_qwLastFrameUs : m_qwOpenUs);
    if (m_bHaveFrame && since < LIGHT_FRESH_US)
        return LinkLight::Receiving;
    if (since >= LIGHT_STALL_US)
        return LinkLight::Stalled;
    return LinkLight::Quiet;
}

void CLinkMonitor::OnPortOpened(int, const std::string&, const std::string&) { PortOpened(Now()); }
void CLinkMonitor::OnPortClosed() { PortClosed(Now()); }
void CLinkMonitor::OnBytesSent(const uint8_t*, int) { CommandSent(Now()); }
void CLinkMonitor::OnRingOverflow(int nDropped) { RingOverflow(nDropped > 0 ? static_cast<uint64_t>(nDropped) : 0); }
void CLinkMonitor::OnDataFrame(const uint8_t block[17], bool checkOk) { DataFrame(Now(), block, checkOk); }
void CLinkMonitor::OnBytesSkipped(int nCount) { BytesSkipped(nCount > 0 ? static_cast<uint64_t>(nCount) : 0); }
void CLinkMonitor::OnFramesDestroyed(int nCount) { FramesDestroyed(nCount > 0 ? static_cast<uint64_t>(nCount) : 0); }
void CLinkMonitor::OnCommandResent() { CommandResent(); }
void CLinkMonitor::OnCommandUnanswered() { CommandUnanswered(); }
void CLinkMonitor::OnStopAck() { StopAck(Now()); }

} // namespace analysis
