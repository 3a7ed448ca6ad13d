#include "decode_stats.h"

#include <cstdio>
#include <optional>
#include <string>

#include "pulse_export.h"

namespace {

std::string Figure(const std::optional<double>& v)
{
    if (!v)
        return "unknown";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", *v);
    return buf;
}

} // namespace

CDecodeStats::CDecodeStats(const capture::CSessionDecoder& decoder, double rateHz)
    : m_decoder(decoder), m_dRate(rateHz)
{
    if (m_dRate > 0)
        m_monitor.Analysis().SetKnownRate(m_dRate);
}

uint64_t CDecodeStats::TimeOf(int64_t timeUs) const
{
    // A plain stream's frames are placed one sample period apart.
    if (m_dRate > 0)
        return static_cast<uint64_t>(static_cast<double>(m_qwFrames) * 1e6 / m_dRate);
    return timeUs < 0 ? m_qwLastUs : static_cast<uint64_t>(timeUs);
}

void CDecodeStats::OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs)
{
    // Bytes passed over since the last frame: whole frames among them were lost.
    const uint64_t skipped = m_decoder.Stats().skipped;
    if (skipped > m_qwSkippedTold)
        m_monitor.BytesSkipped(skipped - m_qwSkippedTold);
    m_qwSkippedTold = skipped;
    m_qwLastUs = std::max(m_qwLastUs, TimeOf(timeUs));
    m_monitor.DataFrame(m_qwLastUs, block, checkOk);
    m_runs.OnDataFrame(block, checkOk, timeUs);
    ++m_qwFrames;
}

void CDecodeStats::OnStopAck(int64_t timeUs)
{
    m_runs.OnStopAck(timeUs);
}

void CDecodeStats::OnCommandSent(const capture::SentCommand&, int64_t timeUs)
{
    m_monitor.CommandSent(TimeOf(timeUs));
}

void CDecodeStats::Print(std::ostream& out)
{
    m_runs.Finish();
    const DecodeStats& st = m_decoder.Stats();
    const analysis::SignalFigures sig = m_monitor.Signal(m_qwLastUs, 0);
    std::optional<double> rate;
    if (m_dRate > 0)
        rate = m_dRate;
    else if (m_runs.MeasuredRate() > 0)
        rate = m_runs.MeasuredRate();
    out << "frames=" << m_qwFrames << '\n'
        << "frame_rate_hz=" << Figure(rate) << '\n'
        << "badcheck=" << st.badCheck << '\n'
        << "skipped_bytes=" << st.skipped << '\n'
        << "heart_rate_bpm=" << Figure(sig.heartRate) << '\n';
    for (int c = 0; c < analysis::PULSE_CHANNELS; ++c)
        out << "pulse_rate_bpm_" << c + 1 << '=' << Figure(sig.pulseRate[c]) << '\n';
    for (int c = 0; c < analysis::PULSE_CHANNELS; ++c)
        out << "ptt_ms_" << c + 1 << '=' << Figure(sig.pttMs[c]) << '\n';

    // The pulse diagram and the pressure-amplitude curve.
    PrintPulseStats(out, m_monitor.Analysis(), m_qwLastUs);
}
