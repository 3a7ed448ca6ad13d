#include "session_decoder.h"

#include <algorithm>
#include <cstdio>

namespace capture {

namespace {

// "pulse 1", "ECG", ... for gain; "channel 1" ... for zero and calibrate.
std::string UnitName(uint8_t address, bool bGain)
{
    if (address >= proto::ADDR_CH1 && address <= proto::ADDR_CH3)
        return (bGain ? "pulse " : "channel ") + std::to_string(address - proto::ADDR_CH1 + 1);
    if (address == proto::ADDR_ECG)
        return "ECG";
    if (address == proto::ADDR_VOLUME)
        return "volume";
    if (address == proto::ADDR_SENSOR)
        return "sensor";
    char hex[16];
    std::snprintf(hex, sizeof hex, "unit 0x%02X", address);
    return hex;
}

} // namespace

std::string DescribeCommand(const SentCommand& cmd)
{
    const std::string value = std::to_string(cmd.value);
    switch (cmd.code) {
    case proto::CODE_START:
        return cmd.address == proto::ADDR_SENSOR ? "start" : "start (" + UnitName(cmd.address, false) + ")";
    case proto::CODE_STOP:
        return cmd.address == proto::ADDR_SENSOR ? "stop" : "stop (" + UnitName(cmd.address, false) + ")";
    case proto::CODE_INFO:
        return "information request";
    case proto::CODE_DATE:
        return "date request";
    case proto::CODE_ZERO:
        return "zero " + UnitName(cmd.address, false);
    case proto::CODE_CALIBRATE:
        return "calibrate " + UnitName(cmd.address, false) + " = " + value;
    case proto::CODE_GAIN:
        return "gain " + UnitName(cmd.address, true) + " = " + value;
    default: {
        char hex[32];
        std::snprintf(hex, sizeof hex, "command 0x%02X to 0x%02X", cmd.code, cmd.address);
        return hex;
    }
    }
}

std::vector<SentCommand> CSentCommandParser::Feed(const uint8_t* pData, size_t n)
{
    std::vector<SentCommand> cmds;
    m_buf.insert(m_buf.end(), pData, pData + n);
    size_t pos = 0;
    while (pos < m_buf.size()) {
        const size_t avail = m_buf.size() - pos;
        const uint8_t* p = m_buf.data() + pos;
        bool bad = p[0] != proto::SYNC;
        if (!bad && avail > 2)
            bad = p[2] != 1 && p[2] != 2;
        if (!bad && avail > 3)
            bad = !proto::IsCommandCode(p[3]);
        if (bad) {
            ++pos;
            continue;
        }
        if (avail < 4 || avail < static_cast<size_t>(3 + p[2]))
            break;
        SentCommand c;
        c.address = p[1];
        c.code = p[3];
        c.hasValue = p[2] == 2;
        c.value = c.hasValue ? p[4] : 0;
        cmds.push_back(c);
        pos += 3 + p[2];
    }
    m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(pos));
    return cmds;
}

CSessionDecoder::CSessionDecoder() = default;

void CSessionDecoder::Received(const uint8_t* pData, size_t n, int64_t timeUs)
{
    m_nTimeUs = timeUs;
    for (size_t done = 0; done < n;) {
        const size_t piece = std::min(n - done, MAX_RING_PIECE);
        m_ring.Append(pData + done, static_cast<int>(piece));
        DecodeFrames(m_ring, *this, &m_stats);
        done += piece;
    }
    AnnounceDestroyed();
}

void CSessionDecoder::AnnounceDestroyed()
{
    for (; m_qwDestroyedTold < m_stats.destroyed; ++m_qwDestroyedTold)
        for (ISessionListener* p : m_listeners)
            p->OnDestroyedFrame(m_nTimeUs);
}

void CSessionDecoder::Sent(const uint8_t* pData, size_t n, int64_t timeUs)
{
    for (const SentCommand& cmd : m_commands.Feed(pData, n))
        for (ISessionListener* p : m_listeners)
            p->OnCommandSent(cmd, timeUs);
}

void CSessionDecoder::Note(const std::string& text, int64_t timeUs)
{
    for (ISessionListener* p : m_listeners)
        p->OnNote(text, timeUs);
}

void CSessionDecoder::OnInfoReply(const uint8_t info[4])
{
    AnnounceDestroyed();
    for (ISessionListener* p : m_listeners)
        p->OnInfoReply(info, m_nTimeUs);
}

void CSessionDecoder::OnDataFrame(const uint8_t block[17], bool checkOk)
{
    AnnounceDestroyed();
    for (ISessionListener* p : m_listeners)
        p->OnDataFrame(block, checkOk, m_nTimeUs);
}

void CSessionDecoder::OnStopAck()
{
    AnnounceDestroyed();
    for (ISessionListener* p : m_listeners)
        p->OnStopAck(m_nTimeUs);
}

void CSessionDecoder::OnDateReply(const uint8_t date[4])
{
    AnnounceDestroyed();
    for (ISessionListener* p : m_listeners)
        p->OnDateReply(date, m_nTimeUs);
}

} // namespace capture
