#include "sensor_model.h"

#include <algorithm>
#include <ctime>

#include "platform.h"

using namespace proto;

namespace {

int PulseChannel(uint8_t address)   // 0..2, or -1
{
    return (address >= ADDR_CH1 && address <= ADDR_CH3) ? address - ADDR_CH1 : -1;
}

} // namespace

bool IsSensorAddress(uint8_t address)
{
    return address == ADDR_SENSOR || PulseChannel(address) >= 0
        || address == ADDR_ECG || address == ADDR_VOLUME;
}

std::vector<SimCommand> CCommandParser::Feed(const uint8_t* data, size_t n)
{
    std::vector<SimCommand> cmds;
    m_buf.insert(m_buf.end(), data, data + n);
    size_t pos = 0;
    while (pos < m_buf.size()) {
        const size_t avail = m_buf.size() - pos;
        const uint8_t* p = m_buf.data() + pos;
        // Check each header byte as soon as it is present, so garbage is passed over without
        // waiting for more input.
        bool bad = p[0] != SYNC;
        if (!bad && avail > 1) bad = !IsSensorAddress(p[1]);
        if (!bad && avail > 2) bad = p[2] != 1 && p[2] != 2;
        if (!bad && avail > 3) bad = !IsCommandCode(p[3]) || CommandHasValue(p[3]) != (p[2] == 2);
        if (bad) {
            ++pos;
            ++m_qwSkipped;
            continue;
        }
        if (avail < 4 || avail < static_cast<size_t>(3 + p[2]))
            break;
        SimCommand c;
        c.address = p[1];
        c.code = p[3];
        c.value = p[2] == 2 ? p[4] : 0;
        cmds.push_back(c);
        pos += 3 + p[2];
    }
    m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(pos));
    return cmds;
}

CSensorModel::CSensorModel(double rate, double bpm, uint64_t seed) : m_gen(rate, bpm, seed) {}

void CSensorModel::ApplySignalOptions(const double pttMs[3], double hrvMs)
{
    for (int ch = 0; ch < 3; ++ch)
        m_gen.m_dTransit[ch] = pttMs[ch] / 1000.0;
    m_gen.m_dHrvS = hrvMs < 0 ? -1 : hrvMs / 1000.0;
}

void CSensorModel::ApplyHrvModulation(double lfMs, double hfMs)
{
    m_gen.m_dHrvLfMs = lfMs;
    m_gen.m_dHrvHfMs = hfMs;
}

void CSensorModel::ApplyPulseOptions(const SimPulseOptions& opts)
{
    m_gen.m_dSweepS = std::max(0.0, opts.sweepS);
    double defaults[3] = {0, 0, 0};
    bool bHaveDefaults = false;
    for (int ch = 0; ch < 3; ++ch) {
        m_gen.m_dBestPressure[ch] = opts.bestPressure[ch];
        const double* asked[3] = {&opts.tidal[ch], &opts.notch[ch], &opts.dicrotic[ch]};
        if (*asked[0] < 0 && *asked[1] < 0 && *asked[2] < 0)
            continue;
        // Ratios not asked for keep what the default shape gives at this rate.
        if (!bHaveDefaults)
            bHaveDefaults = CPulseShape::Ratios(PulseComponents(), m_gen.Bpm(), defaults);
        double ratios[3];
        for (int k = 0; k < 3; ++k)
            ratios[k] = *asked[k] >= 0 ? *asked[k] : defaults[k];
        bool bSame = false;
        for (int prev = 0; prev < ch && !bSame; ++prev)
            if (opts.tidal[prev] == opts.tidal[ch] && opts.notch[prev] == opts.notch[ch] && opts.dicrotic[prev] == opts.dicrotic[ch]) {
                m_gen.SetPulseShape(ch, m_gen.Shape(prev).Components());
                bSame = true;
            }
        if (!bSame)
            m_gen.SetPulseShape(ch, CPulseShape::ForRatios(ratios, m_gen.Bpm()));
    }
}

void CSensorModel::AppendReply(std::vector<uint8_t>& out, uint8_t code, const uint8_t* payload, int n)
{
    // Byte 2 counts the bytes after it, as in the command frames; the console ignores it.
    out.insert(out.end(), {SYNC, INBOUND_ADDR, static_cast<uint8_t>(n + 1), code});
    out.insert(out.end(), payload, payload + n);
}

void CSensorModel::AppendAck(std::vector<uint8_t>& out, const SimCommand& cmd)
{
    // Settings are acknowledged with an information reply that echoes the command.
    const uint8_t info[4] = {cmd.address, cmd.code, cmd.value, 0};
    AppendReply(out, CODE_INFO, info, 4);
}

void CSensorModel::EnsureSample()
{
    if (!m_bHasSample) {
        uint16_t words[BLOCK_WORDS];
        m_gen.Next(words);
        m_bHasSample = true;
    }
}

bool CSensorModel::HandleCommand(const SimCommand& cmd, std::vector<uint8_t>& out)
{
    const int ch = PulseChannel(cmd.address);
    switch (cmd.code) {
    case CODE_START:
        if (cmd.address != ADDR_SENSOR)
            break;
        m_bStreaming = true;   // the data frames are the answer
        return true;
    case CODE_STOP:
        if (cmd.address != ADDR_SENSOR)
            break;
        m_bStreaming = false;
        AppendReply(out, CODE_STOP, nullptr, 0);
        return true;
    case CODE_ZERO:
        if (ch < 0)
            break;
        EnsureSample();
        m_gen.m_dZeroOffset[ch] = m_gen.RawStatic(ch);
        AppendAck(out, cmd);
        return true;
    case CODE_CALIBRATE:
        if (ch < 0 || cmd.value == 0)
            break;
        m_gen.m_nCalib[ch] = cmd.value;
        AppendAck(out, cmd);
        return true;
    case CODE_GAIN: {
        int amp = ch;
        if (cmd.address == ADDR_ECG) amp = AMP_ECG;
        if (cmd.address == ADDR_VOLUME) amp = AMP_VOLUME;
        const int maxGain = amp == AMP_VOLUME ? 8 : 5;
        if (amp < 0 || cmd.value < 1 || cmd.value > maxGain)
            break;
        m_gen.m_nGain[amp] = cmd.value;
        AppendAck(out, cmd);
        return true;
    }
    case CODE_INFO: {
        const uint8_t info[4] = {INFO_ID, INFO_CHANNELS, INFO_VERSION,
                                 static_cast<uint8_t>(m_bStreaming ? 1 : 0)};
        AppendReply(out, CODE_INFO, info, 4);
        return true;
    }
    case CODE_DATE: {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        ToLocalTime(now, tm);
        const int year = tm.tm_year + 1900;
        const uint8_t date[4] = {static_cast<uint8_t>(tm.tm_mday), static_cast<uint8_t>(tm.tm_mon + 1),
                                 static_cast<uint8_t>(year % 100), static_cast<uint8_t>(year / 100)};
        AppendReply(out, CODE_DATE, date, 4);
        return true;
    }
    default:
        break;
    }
    ++m_qwRejected;
    return false;
}

void CSensorModel::NextDataFrame(uint8_t frame[DATA_FRAME_LEN])
{
    uint16_t words[BLOCK_WORDS];
    m_gen.Next(words);
    m_bHasSample = true;
    frame[0] = SYNC;
    frame[1] = INBOUND_ADDR;
    frame[2] = static_cast<uint8_t>(BLOCK_LEN + 1);
    frame[3] = CODE_DATA;
    BuildSampleBlock(words, frame + HEADER_LEN);
}
