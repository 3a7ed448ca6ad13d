#pragma once
// Unattended runs and a running report of the console's own counters, for the soak tool and
// for anyone measuring the console at the line rate (--auto-observe, --diag-report).
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

#include "link_observer.h"
#include "modal.h"

class CSensorDlg;
class QDialog;
class QSocketNotifier;

// How long samples wait for the waveform control's paints. Pure: times come in microseconds.
// With data flowing, the longest wait is the longest gap between two paints.
class CPaintGapMeter {
public:
    // A sample reached the control; only the first one after a paint starts a wait.
    void OnSample(uint64_t qwMicros);
    // The control painted: a running wait ends here.
    void OnPaint(uint64_t qwMicros);
    // Starts a new recent window (the longest wait since the previous call is returned).
    uint64_t TakeRecentMaxMicros();

    uint64_t m_qwPaints = 0;
    uint64_t m_qwMaxMicros = 0;     // longest wait of the whole run
    uint64_t m_qwRecentMaxMicros = 0;

private:
    bool m_bWaiting = false;
    uint64_t m_qwWaitFrom = 0;
};

// Counters of a diagnostic run, as written to the report.
struct DiagCounters {
    uint64_t qwDataFrames = 0;      // data frames decoded, bad checks included
    uint64_t qwBadChecks = 0;
    uint64_t qwGoodSinceOpen = 0;   // data frames with a good check since the port last opened
    uint64_t qwBytes = 0;           // bytes taken out of the serial layer
    int nPortOpens = 0;
    int nBoxes = 0;                 // message boxes shown
    int nLossBoxes = 0;             // of them, the report of a lost device
};

// Runs the button's own click path, handlers and all, as an operator's click would.
void ClickButton(CSensorDlg& dlg, int nID);

// An unattended run answers boxes itself: their text (a dialog's title) goes to the error output.
void PrintBoxText(const QDialog& box);

class CDiagRun : public QObject, public ILinkObserver {
public:
    // bAutoObserve: open COM1 and observe by itself, open and observe again after the device
    // was lost (once its path exists again), answer every box at once (its text goes to
    // standard error) and end gracefully on SIGTERM or SIGINT. strReport: file rewritten once
    // a second and at the end with "key=value" lines; empty for none.
    CDiagRun(CSensorDlg& dlg, bool bAutoObserve, const QString& strReport);
    ~CDiagRun() override;
    CDiagRun(const CDiagRun&) = delete;
    CDiagRun& operator=(const CDiagRun&) = delete;

    // Writes the report now; false when the file cannot be written.
    bool WriteReport();
    const DiagCounters& Counters() const { return m_counters; }
    const CPaintGapMeter& Paints() const { return m_paints; }

    // ILinkObserver
    void OnPortOpened(int nPort, const std::string& strPath, const std::string& strSettings) override;
    void OnPortClosed() override;
    void OnBytesReceived(const uint8_t* pBytes, int nCount) override;
    void OnDataFrame(const uint8_t block[17], bool checkOk) override;

protected:
    bool eventFilter(QObject* pWatched, QEvent* e) override;

private:
    int AnswerBox(QDialog& box);
    void Drive();
    void BeginEnd();
    void DriveEnd();

    CSensorDlg& m_dlg;
    QString m_strReport;
    bool m_bAutoObserve = false;
    DiagCounters m_counters;
    CPaintGapMeter m_paints;
    uint64_t m_qwStartMicros = 0;
    uint64_t m_qwLastByteMicros = 0;
    uint64_t m_qwStartClickMicros = 0;  // when Start was last clicked
    uint64_t m_qwEndMicros = 0;         // when the graceful end began; 0 while running
    uint64_t m_qwReports = 0;
    bool m_bClosing = false;            // a port closing is being handled (this event only)
    QTimer m_reportTimer;
    QTimer m_driveTimer;
    std::unique_ptr<ScopedModalHook> m_pHook;
    QSocketNotifier* m_pSignalNotifier = nullptr;
};
