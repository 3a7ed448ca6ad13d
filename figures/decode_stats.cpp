#include "decode_stats.h"

#include <cstdio>
#include <optional>
#include <string>

#include "pulse_export.h"

namespace {

std::string Figure(const std::optional<double>& v)
{
    return CDecodeStats::Format(v);
}

} // namespace

std::string CDecodeStats::Format(const std::optional<double>& v, int nDigits, const char* pszUnknown)
{
    if (!v)
        return pszUnknown;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", nDigits, *v);
    return buf;
}

CDecodeStats::CDecodeStats(const capture::CSessionDecoder& decoder, double rateHz)
    : m_decoder(decoder), m_dRate(rateHz)
{
    if (m_dRate > 0)
        m_monitor.Analysis().SetKnownRate(m_dRate);
}

uint64_t CDecodeStats::TimeOf(int64_t timeUs) const
{
    // A plain stream's frames are placed one sample period apart, destroyed ones included.
    if (m_dRate > 0)
        return static_cast<uint64_t>(static_cast<double>(m_qwFrames + m_qwDestroyed) * 1e6 / m_dRate);
    return timeUs < 0 ? m_qwLastUs : static_cast<uint64_t>(timeUs);
}

void CDecodeStats::TellSkipped()
{
    const uint64_t skipped = m_decoder.Stats().skipped;
    if (skipped > m_qwSkippedTold)
        m_monitor.BytesSkipped(skipped - m_qwSkippedTold);
    m_qwSkippedTold = skipped;
}

void CDecodeStats::OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs)
{
    TellSkipped();
    m_qwLastUs = std::max(m_qwLastUs, TimeOf(timeUs));
    m_monitor.DataFrame(m_qwLastUs, block, checkOk);
    m_runs.OnDataFrame(block, checkOk, timeUs);
    ++m_qwFrames;
}

void CDecodeStats::OnDestroyedFrame(int64_t timeUs)
{
    // Told after the bytes it was made of, which the monitor has heard of with the next frame.
    TellSkipped();
    m_monitor.FramesDestroyed(1);
    m_runs.OnDestroyedFrame(timeUs);
    ++m_qwDestroyed;
}

void CDecodeStats::OnStopAck(int64_t timeUs)
{
    m_runs.OnStopAck(timeUs);
}

void CDecodeStats::OnCommandSent(const capture::SentCommand&, int64_t timeUs)
{
    m_monitor.CommandSent(TimeOf(timeUs));
}

std::optional<double> CDecodeStats::FrameRate() const
{
    if (m_dRate > 0)
        return m_dRate;
    if (m_runs.MeasuredRate() > 0)
        return m_runs.MeasuredRate();
    return std::nullopt;
}

void CDecodeStats::Print(std::ostream& out)
{
    Finish();
    const DecodeStats& st = m_decoder.Stats();
    const analysis::SignalFigures sig = Signal();
    const std::optional<double> rate = FrameRate();
    out << "frames=" << m_qwFrames << '\n'
        << "frame_rate_hz=" << Figure(rate) << '\n'
        << "badcheck=" << st.badCheck << '\n'
        << "skipped_bytes=" << st.skipped << '\n'
        << "heart_rate_bpm=" << Figure(sig.heartRate) << '\n';
    for (int c = 0; c < analysis::PULSE_CHANNELS; ++c)
        out << "pulse_rate_bpm_" << c + 1 << '=' << Figure(sig.pulseRate[c]) << '\n';
    for (int c = 0; c < analysis::PULSE_CHANNELS; ++c)
        out << "ptt_ms_" << c + 1 << '=' << Figure(sig.pttMs[c]) << '\n';

    // Heart-rate variability of the whole session.
    const analysis::HrvFigures hrv = Hrv();
    out << "nn_count=" << hrv.nnCount << '\n'
        << "sdnn_ms=" << Figure(hrv.sdnnMs) << '\n'
        << "rmssd_ms=" << Figure(hrv.rmssdMs) << '\n'
        << "pnn50_pct=" << Figure(hrv.pnn50Pct) << '\n'
        << "lf_ms2=" << Figure(hrv.lfMs2) << '\n'
        << "hf_ms2=" << Figure(hrv.hfMs2) << '\n'
        << "lf_hf=" << Format(hrv.lfHf, LF_HF_DIGITS) << '\n';

    // The pulse diagram and the pressure-amplitude curve.
    PrintPulseStats(out, m_monitor.Analysis(), m_qwLastUs, m_units);
}

std::vector<analysis::NnInterval> CDecodeStats::NnIntervals() const
{
    return analysis::NnIntervals(m_monitor.Analysis().RWaves());
}
