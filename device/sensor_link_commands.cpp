// Command issuing: the rate-limited send with its pending-command bookkeeping, the gain,
// zero and calibrate actions, the re-send and status blinking of the 50 ms timer, and the
// hex trace of every frame sent.
#include "sensor_link.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "protocol.h"
#include "resource_ids.h"

namespace {

constexpr int TRACE_PIECE_LEN = 256;
constexpr int GAIN_MIN = 1;
constexpr int GAIN_MAX = 5;
constexpr int VOLUME_GAIN_MAX = 8;
constexpr int COEF_MIN = 1;
constexpr int COEF_MAX = 255;

// One gain spin: the unit it commands, its upper bound, where the gain lives and is shown.
struct GainRow {
    uint8_t byAddr;
    int nMax;
    int CSensorLink::*pGain;
    int nEditId;
};

const GainRow g_gainCh1{proto::ADDR_CH1, GAIN_MAX, &CSensorLink::m_nGainCh1, IDC_EDIT_GAIN1};
const GainRow g_gainCh2{proto::ADDR_CH2, GAIN_MAX, &CSensorLink::m_nGainCh2, IDC_EDIT_GAIN2};
const GainRow g_gainCh3{proto::ADDR_CH3, GAIN_MAX, &CSensorLink::m_nGainCh3, IDC_EDIT_GAIN3};
const GainRow g_gainEcg{proto::ADDR_ECG, GAIN_MAX, &CSensorLink::m_nGainEcg, IDC_EDIT_ECG_GAIN};
const GainRow g_gainVolume{proto::ADDR_VOLUME, VOLUME_GAIN_MAX, &CSensorLink::m_nGainVolume,
                           IDC_EDIT_VOLUME_GAIN};

// The gain member changes, and the edit shows it, only once the frame went out.
bool SetGain(CSensorLink& link, ISensorView& view, const GainRow& row, int nGain)
{
    if (nGain < GAIN_MIN || nGain > row.nMax)
        return false;
    const bool bSent = link.SendCommand(proto::CODE_GAIN, row.byAddr, static_cast<uint8_t>(nGain), false);
    if (bSent) {
        link.*row.pGain = nGain;
        view.SetDlgItemInt(row.nEditId, nGain);
    }
    return bSent;
}

// Only the step's sign counts; the spin's own position is never read.
int StepGain(CSensorLink& link, ISensorView& view, const GainRow& row, int iDelta)
{
    const int nGain = link.*row.pGain;
    SetGain(link, view, row, iDelta > 0 ? nGain + 1 : nGain - 1);
    return 0;
}

// The edit's whole text as a signed decimal; anything else counts as 0.
int ReadCoefficient(const QString& strText)
{
    bool bOk = false;
    const int nValue = strText.trimmed().toInt(&bOk, 10);
    return bOk ? nValue : 0;
}

} // namespace

bool CSensorLink::SendCommand(uint8_t byCode, uint8_t byAddr, uint8_t byValue, bool bForce)
{
    if (!bForce && TickDiff(Platform().GetTickCount(), m_dwLastSendTick) < SEND_SPACING_MS)
        return false;
    ++m_nSendCount;  // counted before the port check, so re-sending to a closed port ends
    if (!m_comm.GetPortOpen())
        return false;
    m_byPendingCode = byCode;
    m_bGaveUpAnnounced = false;
    m_byPendingAddr = byAddr;
    m_byPendingValue = byValue;
    uint8_t frame[proto::MAX_COMMAND_LEN];
    const int nLen = proto::BuildCommandFrame(byCode, byAddr, byValue, frame);
    m_dwLastSendTick = Platform().GetTickCount();
    m_comm.SetOutput(QByteArray(reinterpret_cast<const char*>(frame), nLen));
    Notify([&](ILinkObserver& o) { o.OnBytesSent(frame, nLen); });
    TraceHex(frame, nLen, "Send Data:");
    return true;
}

void CSensorLink::TraceHex(const uint8_t* bytes, int nCount, const char* label)
{
    static const char kDigits[] = "0123456789ABCDEF";
    if (nCount < 0 || nCount > (INT_MAX - 2) / 3 || (nCount > 0 && !bytes))
        return;
    const int nTextLen = 3 * nCount;
    std::unique_ptr<char[]> text(new (std::nothrow) char[nTextLen + 2]);
    if (!text)
        return;
    for (int i = 0; i < nCount; ++i) {
        text[3 * i] = kDigits[bytes[i] >> 4];
        text[3 * i + 1] = kDigits[bytes[i] & 0x0F];
        text[3 * i + 2] = ' ';
    }
    text[nTextLen] = '\0';

    IPlatform& platform = Platform();
    if (label)
        platform.OutputDebugStringA(label);
    int nDone = 0;
    char piece[TRACE_PIECE_LEN + 1];
    while (nTextLen - nDone > TRACE_PIECE_LEN) {
        std::memcpy(piece, text.get() + nDone, TRACE_PIECE_LEN);
        piece[TRACE_PIECE_LEN] = '\0';
        platform.OutputDebugStringA(piece);
        nDone += TRACE_PIECE_LEN;
    }
    platform.OutputDebugStringA(text.get() + nDone);
    platform.OutputDebugStringA("\n");
}

bool CSensorLink::SetGainCh1(int nGain) { return SetGain(*this, m_view, g_gainCh1, nGain); }
bool CSensorLink::SetGainCh2(int nGain) { return SetGain(*this, m_view, g_gainCh2, nGain); }
bool CSensorLink::SetGainCh3(int nGain) { return SetGain(*this, m_view, g_gainCh3, nGain); }
bool CSensorLink::SetGainEcg(int nGain) { return SetGain(*this, m_view, g_gainEcg, nGain); }
bool CSensorLink::SetGainVolume(int nGain) { return SetGain(*this, m_view, g_gainVolume, nGain); }

int CSensorLink::OnDeltaposSpinGain1(int iDelta) { return StepGain(*this, m_view, g_gainCh1, iDelta); }
int CSensorLink::OnDeltaposSpinGain2(int iDelta) { return StepGain(*this, m_view, g_gainCh2, iDelta); }
int CSensorLink::OnDeltaposSpinGain3(int iDelta) { return StepGain(*this, m_view, g_gainCh3, iDelta); }
int CSensorLink::OnDeltaposSpinEcgGain(int iDelta) { return StepGain(*this, m_view, g_gainEcg, iDelta); }
int CSensorLink::OnDeltaposSpinVolumeGain(int iDelta)
{
    return StepGain(*this, m_view, g_gainVolume, iDelta);
}

namespace {

void Calibrate(CSensorLink& link, ISensorView& view, int nEditId, uint8_t byAddr)
{
    const int nCoef = ReadCoefficient(view.GetDlgItemText(nEditId));
    if (nCoef < COEF_MIN || nCoef > COEF_MAX) {
        view.MessageBox(QStringLiteral("请输入正确的标定系数：(1-255)"));
        return;
    }
    link.SendCommand(proto::CODE_CALIBRATE, byAddr, static_cast<uint8_t>(nCoef), false);
}

} // namespace

void CSensorLink::OnCalibrate1() { Calibrate(*this, m_view, IDC_EDIT_COEF1, proto::ADDR_CH1); }
void CSensorLink::OnCalibrate2() { Calibrate(*this, m_view, IDC_EDIT_COEF2, proto::ADDR_CH2); }
void CSensorLink::OnCalibrate3() { Calibrate(*this, m_view, IDC_EDIT_COEF3, proto::ADDR_CH3); }

void CSensorLink::OnZero1() { SendCommand(proto::CODE_ZERO, proto::ADDR_CH1, 0, false); }
void CSensorLink::OnZero2() { SendCommand(proto::CODE_ZERO, proto::ADDR_CH2, 0, false); }
void CSensorLink::OnZero3() { SendCommand(proto::CODE_ZERO, proto::ADDR_CH3, 0, false); }

void CSensorLink::OnTimer(int /*nIDEvent*/)
{
    if (m_byPendingCode != 0 && TickDiff(Platform().GetTickCount(), m_dwLastSendTick) > RESEND_AFTER_MS) {
        if (m_nSendCount < MAX_SEND_ATTEMPTS) {
            if (SendCommand(m_byPendingCode, m_byPendingAddr, m_byPendingValue, false))
                Notify([](ILinkObserver& o) { o.OnCommandResent(); });
        } else if (!m_bGaveUpAnnounced) {
            m_bGaveUpAnnounced = true;
            Notify([](ILinkObserver& o) { o.OnCommandUnanswered(); });
        }
    }

    if (m_nBlinkCount > 0) {
        m_view.ShowStatusLabel(m_nBlinkCount % 2 != 0);
        if (--m_nBlinkCount == 0) {
            m_dwBlinkDoneTick = Platform().GetTickCount();
            m_nBlinkCount = -1;
        }
    } else if (m_nBlinkCount == -1
               && TickDiff(Platform().GetTickCount(), m_dwBlinkDoneTick) > STATUS_HOLD_MS) {
        m_view.SetStatusLabelText(m_strStatusNext);
        m_nBlinkCount = 0;
    }
}

void CSensorLink::SetStatusText(const QString& strText, int nBlink, const QString* pNext)
{
    m_view.SetStatusLabelText(strText);
    // A text set while a blink had hidden the label would otherwise never be seen.
    m_view.ShowStatusLabel(true);
    m_nBlinkCount = nBlink;
    if (nBlink == 0)
        m_strStatusNext.clear();
    else
        m_strStatusNext = pNext ? *pNext : strText;
}
