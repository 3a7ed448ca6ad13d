#pragma once
// The device side of the console: receive ring and decoding, channel feed, command issuing,
// port handling and the state they share. CSensorDlg derives from it, so these members and
// handlers are the dialog's own; everything the link needs from the window goes through
// ISensorView, so the link builds and tests with no window at all.
#include <QString>

#include <cstdint>
#include <exception>
#include <vector>

#include "byte_ring.h"
#include "frame_decoder.h"
#include "link_observer.h"
#include "mscomm.h"
#include "platform.h"

// Time thresholds of the device link (milliseconds).
constexpr uint32_t SEND_SPACING_MS = 100;     // minimum gap between two command frames
constexpr uint32_t PRESSURE_REPAINT_MS = 200; // pressure column repainted at most this often
constexpr uint32_t RESEND_AFTER_MS = 400;     // unanswered command sent again after this
constexpr uint32_t OPEN_PAUSE_MS = 500;       // pause after opening the port
constexpr uint32_t STATUS_HOLD_MS = 1500;     // status text held after blinking
constexpr int TIMER_PERIOD_MS = 50;           // console timer 1
constexpr int MAX_SEND_ATTEMPTS = 3;

// What the device link asks of the console window.
class ISensorView {
public:
    virtual ~ISensorView() = default;
    // Enables or disables the five gain spins (1019, 1020, 1021, 1034, 1035) as a whole.
    virtual void EnableGainSpins(bool bEnable) = 0;
    // Hands one sample per waveform channel to the waveform control.
    virtual void AddSamples(int ch0, int ch1, int ch2, int ch3, int ch4) = 0;
    // Whether the console window exists (false before creation and after destruction).
    virtual bool IsWindow() const = 0;
    // Invalidates the pressure column (the rectangle of hidden frame 1018) with erasing.
    virtual void InvalidatePressureArea() = 0;
    // Starts a single-shot timer that calls CSensorLink::OnPressureRepaintTimer after nDelayMs.
    // A view without timers leaves skipped values for its next paint.
    virtual void StartPressureRepaintTimer(uint32_t /*nDelayMs*/) {}
    // Selected index of port combo 1004, -1 when none is selected.
    virtual int GetPortSelection() const = 0;
    virtual void SetOpenButtonText(const QString& strText) = 0;  // button 1001
    virtual void SetDlgItemInt(int nID, int nValue) = 0;
    virtual QString GetDlgItemText(int nID) const = 0;
    // Modal message owned by the console: application name as caption, one OK, no icon.
    virtual void MessageBox(const QString& strText) = 0;
    // Modal stop-icon box for an error of the serial layer.
    virtual void ShowErrorBox(const QString& strText) = 0;
    // The status label m_stStatus.
    virtual void SetStatusLabelText(const QString& strText) = 0;
    virtual void ShowStatusLabel(bool bShow) = 0;
};

class CSensorLink : public IFrameSink {
public:
    explicit CSensorLink(ISensorView& view);
    ~CSensorLink() override;
    CSensorLink(const CSensorLink&) = delete;
    CSensorLink& operator=(const CSensorLink&) = delete;

    // --- receive side ----------------------------------------------------------------
    // Drains the serial layer (one OnComm event) into the ring and decodes every complete frame.
    void OnCommEvent();
    // Puts bytes taken out of the serial layer through the ring and the decoder, as one
    // OnComm event does.
    void ReceiveBytes(const uint8_t* pBytes, int nCount);
    // Splits a verified sample block into pressures and waveform samples.
    void FeedSampleBlock(const uint8_t* block, int nLength);
    // The single-shot repaint timer: repaints the pressure column if the feed skipped a repaint.
    void OnPressureRepaintTimer();

    // --- command issuing -------------------------------------------------------------
    bool SendCommand(uint8_t byCode, uint8_t byAddr, uint8_t byValue, bool bForce);
    static void TraceHex(const uint8_t* bytes, int nCount, const char* label);
    bool SetGainCh1(int nGain);
    bool SetGainCh2(int nGain);
    bool SetGainCh3(int nGain);
    bool SetGainEcg(int nGain);
    bool SetGainVolume(int nGain);
    // Spin notifications before the position changes; only the sign of iDelta counts.
    // Return 0: the spin may move.
    int OnDeltaposSpinGain1(int iDelta);
    int OnDeltaposSpinGain2(int iDelta);
    int OnDeltaposSpinGain3(int iDelta);
    int OnDeltaposSpinEcgGain(int iDelta);
    int OnDeltaposSpinVolumeGain(int iDelta);
    void OnCalibrate1();
    void OnCalibrate2();
    void OnCalibrate3();
    void OnZero1();
    void OnZero2();
    void OnZero3();
    // Timer 1 tick: re-send an unanswered command, advance the status blinking.
    void OnTimer(int nIDEvent);
    void SetStatusText(const QString& strText, int nBlink, const QString* pNext = nullptr);

    // --- port handling ---------------------------------------------------------------
    bool OpenPort(int nPort);
    void ClosePort();
    void UpdateControlStates();
    void OnOpenDevice();
    void OnStartObserve();
    void OnStopObserve();
    // The link's share of the window-destroy handling: stop an observing sensor.
    void OnDestroy();
    // The open port disappeared (device unplugged): close as the open/close button would and
    // tell the operator once.
    void OnPortLost(const QString& strDescription);

    // Runs a handler so that a refusal of the serial layer ends it and is shown afterwards in
    // the stop-icon box; nothing escapes into the event loop.
    template <class F>
    void Guard(F&& handler) noexcept;

    // --- watchers --------------------------------------------------------------------
    // Watchers see the traffic in the order the link does; the link does not own them. A
    // watcher may be removed from inside one of its own calls.
    void AddObserver(ILinkObserver* pObserver);
    void RemoveObserver(ILinkObserver* pObserver);

    // --- state (the dialog's members) -------------------------------------------------
    CMSComm m_comm;
    int m_bObserving = 0;
    int m_nSendCount = 0;
    uint8_t m_byPendingCode = 0;
    uint8_t m_byPendingAddr = 0;
    uint8_t m_byPendingValue = 0;
    uint32_t m_dwLastSendTick = 0;
    uint8_t m_byDeviceInfo[5] = {0, 0, 0, 0, 0};
    int m_nGainCh1 = 3;
    int m_nGainCh2 = 3;
    int m_nGainCh3 = 3;
    int m_nGainEcg = 3;
    int m_nGainVolume = 4;
    uint8_t m_byDeviceDate[4] = {0, 0, 0, 0};
    int m_nBlinkCount = 0;
    uint32_t m_dwBlinkDoneTick = 0;
    QString m_strStatusNext;
    QString m_strDeviceDate;
    CByteRing m_ring;
    int m_nStaticPressure1 = 0;
    int m_nStaticPressure2 = 0;
    int m_nStaticPressure3 = 0;
    uint32_t m_dwLastPaintTick = 0;
    bool m_bPressureRepaintOwed = false;  // values arrived that the readouts do not show yet
    bool m_bPressureTimerArmed = false;   // the single-shot repaint timer is running
    DecodeStats m_decodeStats;      // decoder totals since the link was made
    uint64_t m_qwRingDropped = 0;   // bytes the ring dropped on overflow, in total

protected:
    // IFrameSink: what each recognised frame does to the console.
    void OnInfoReply(const uint8_t info[4]) override;
    void OnDataFrame(const uint8_t block[17], bool checkOk) override;
    void OnStopAck() override;
    void OnDateReply(const uint8_t date[4]) override;
    // Every recognised frame answers the pending command.
    void Acknowledge();
    // Tells the watchers once that the port they saw open is closed.
    void AnnouncePortClosed();
    // Tells the watchers about bytes the decoder passed over, and the destroyed data frames among
    // them, since it last did.
    void AnnounceSkipped();
    template <class F>
    void Notify(F&& call);

    ISensorView& m_view;

private:
    std::vector<ILinkObserver*> m_observers;  // removed ones leave a null slot
    bool m_bPortAnnounced = false;            // watchers were told the port opened
    uint64_t m_qwSkippedAnnounced = 0;        // m_decodeStats.skipped the watchers know of
    uint64_t m_qwDestroyedAnnounced = 0;      // m_decodeStats.destroyed the watchers know of
    bool m_bGaveUpAnnounced = false;          // watchers were told the pending command is unanswered
};

template <class F>
void CSensorLink::Notify(F&& call)
{
    // By index: a watcher removed during the loop leaves its slot null instead of moving others.
    for (size_t i = 0; i < m_observers.size(); ++i)
        if (ILinkObserver* pObserver = m_observers[i])
            call(*pObserver);
}

template <class F>
void CSensorLink::Guard(F&& handler) noexcept
{
    QString strError;
    bool bFailed = false;
    try {
        handler();
    } catch (const CommError& e) {
        strError = e.Description();
        bFailed = true;
    } catch (const std::exception& e) {
        strError = QString::fromLocal8Bit(e.what());
        bFailed = true;
    } catch (...) {
        bFailed = true;
    }
    if (!bFailed)
        return;
    if (strError.isEmpty())
        strError = QStringLiteral("内部应用程序出错。");
    try {
        m_view.ShowErrorBox(strError);
    } catch (...) {
    }
}
