#include "diag_run.h"

#include <QDialog>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <cstdio>

#include "resource_ids.h"
#include "sensor_dlg.h"

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr int DIAG_REPORT_MS = 1000;         // report rewritten this often
constexpr int DIAG_DRIVE_MS = 200;           // the unattended operator looks this often
constexpr uint64_t DIAG_RESTART_US = 1500000;  // Start clicked again when no data came by then
constexpr uint64_t DIAG_STOP_AGAIN_US = 500000;
constexpr uint64_t DIAG_QUIET_US = 300000;   // line silent this long: everything sent is in
constexpr uint64_t DIAG_END_LIMIT_US = 5000000;

#ifndef _WIN32
// Self-pipe: the signal handler only writes a byte; the event loop does the rest.
int g_endPipe[2] = {-1, -1};

extern "C" void OnEndSignal(int)
{
    const char c = 1;
    if (::write(g_endPipe[1], &c, 1) < 0) {
        // The pipe holds a pending byte already: the end is on its way.
    }
}
#endif

// Whether the device of port n is there to be opened, so that no failed open is ever shown.
bool DeviceReady(int nPort)
{
    const QString strPath = CMSComm::PortDevicePath(nPort);
#ifdef _WIN32
    return !QSerialPortInfo(strPath).isNull();
#else
    return QFileInfo::exists(strPath);
#endif
}

QString Millis(uint64_t qwMicros)
{
    return QString::number(double(qwMicros) / 1000.0, 'f', 1);
}

} // namespace

void CPaintGapMeter::OnSample(uint64_t qwMicros)
{
    if (!m_bWaiting) {
        m_bWaiting = true;
        m_qwWaitFrom = qwMicros;
    }
}

void CPaintGapMeter::OnPaint(uint64_t qwMicros)
{
    ++m_qwPaints;
    if (!m_bWaiting)
        return;
    m_bWaiting = false;
    const uint64_t qwWait = qwMicros >= m_qwWaitFrom ? qwMicros - m_qwWaitFrom : 0;
    m_qwMaxMicros = std::max(m_qwMaxMicros, qwWait);
    m_qwRecentMaxMicros = std::max(m_qwRecentMaxMicros, qwWait);
}

uint64_t CPaintGapMeter::TakeRecentMaxMicros()
{
    const uint64_t qw = m_qwRecentMaxMicros;
    m_qwRecentMaxMicros = 0;
    return qw;
}

CDiagRun::CDiagRun(CSensorDlg& dlg, bool bAutoObserve, const QString& strReport)
    : m_dlg(dlg), m_strReport(strReport), m_bAutoObserve(bAutoObserve)
{
    m_qwStartMicros = Platform().GetMicroseconds();
    m_dlg.AddObserver(this);
    m_dlg.m_waveChart.installEventFilter(this);
    if (!m_strReport.isEmpty()) {
        connect(&m_reportTimer, &QTimer::timeout, this, [this] { WriteReport(); });
        m_reportTimer.start(DIAG_REPORT_MS);
    }
    if (!m_bAutoObserve)
        return;
    m_pHook = std::make_unique<ScopedModalHook>([this](QDialog& box) { return AnswerBox(box); });
    connect(&m_driveTimer, &QTimer::timeout, this, [this] { Drive(); });
    m_driveTimer.start(DIAG_DRIVE_MS);
    QTimer::singleShot(0, this, [this] { Drive(); });
#ifndef _WIN32
    if (g_endPipe[0] >= 0 || ::pipe(g_endPipe) == 0) {
        for (int fd : g_endPipe) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        m_pSignalNotifier = new QSocketNotifier(g_endPipe[0], QSocketNotifier::Read, this);
        connect(m_pSignalNotifier, &QSocketNotifier::activated, this, [this] {
            char buf[16];
            while (::read(g_endPipe[0], buf, sizeof buf) > 0) {}
            BeginEnd();
        });
        std::signal(SIGTERM, OnEndSignal);
        std::signal(SIGINT, OnEndSignal);
    }
#endif
}

CDiagRun::~CDiagRun()
{
#ifndef _WIN32
    if (m_pSignalNotifier) {
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
    }
#endif
    m_dlg.m_waveChart.removeEventFilter(this);
    m_dlg.RemoveObserver(this);
    if (!m_strReport.isEmpty())
        WriteReport();
}

bool CDiagRun::WriteReport()
{
    if (m_strReport.isEmpty())
        return false;
    const uint64_t qwNow = Platform().GetMicroseconds();
    const DiagCounters& c = m_counters;
    QString s;
    s += QStringLiteral("report=%1\n").arg(++m_qwReports);
    s += QStringLiteral("elapsed_ms=%1\n").arg((qwNow - m_qwStartMicros) / 1000);
    s += QStringLiteral("port_opens=%1\n").arg(c.nPortOpens);
    s += QStringLiteral("observing=%1\n").arg(m_dlg.m_bObserving);
    s += QStringLiteral("bytes=%1\n").arg(c.qwBytes);
    s += QStringLiteral("data_frames=%1\n").arg(c.qwDataFrames);
    s += QStringLiteral("bad_checks=%1\n").arg(c.qwBadChecks);
    s += QStringLiteral("good_since_open=%1\n").arg(c.qwGoodSinceOpen);
    s += QStringLiteral("skipped_bytes=%1\n").arg(m_dlg.m_decodeStats.skipped);
    s += QStringLiteral("ring_dropped=%1\n").arg(m_dlg.m_qwRingDropped);
    s += QStringLiteral("wave_paints=%1\n").arg(m_paints.m_qwPaints);
    s += QStringLiteral("wave_gap_max_ms=%1\n").arg(Millis(m_paints.m_qwMaxMicros));
    s += QStringLiteral("wave_gap_recent_ms=%1\n").arg(Millis(m_paints.TakeRecentMaxMicros()));
    s += QStringLiteral("wave_moved_paints=%1\n").arg(m_dlg.m_waveChart.MovedPicturePaints());
    s += QStringLiteral("wave_trace_requests=%1\n").arg(m_dlg.m_waveChart.TraceRequests());
    s += QStringLiteral("wave_trace_area_permille=%1\n").arg(m_dlg.m_waveChart.TraceAreaPerMille());
    s += QStringLiteral("boxes=%1\n").arg(c.nBoxes);
    s += QStringLiteral("loss_boxes=%1\n").arg(c.nLossBoxes);
    // Written aside and renamed, so a reader never sees half a report; never synced to disk,
    // as a flush to a busy disk would hold up the console it measures.
    const QString strTemp = m_strReport + QStringLiteral(".tmp");
    QFile file(strTemp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    const QByteArray bytes = s.toUtf8();
    const bool bWritten = file.write(bytes) == bytes.size();
    file.close();
#ifdef _WIN32
    QFile::remove(m_strReport);  // rename does not replace a file there
#endif
    return bWritten && std::rename(QFile::encodeName(strTemp).constData(),
                                   QFile::encodeName(m_strReport).constData()) == 0;
}

void CDiagRun::OnPortOpened(int, const std::string&, const std::string&)
{
    ++m_counters.nPortOpens;
    m_counters.qwGoodSinceOpen = 0;
}

void CDiagRun::OnPortClosed()
{
    // A box shown while this closing is handled (before the event loop turns) reports it.
    m_bClosing = true;
    QTimer::singleShot(0, this, [this] { m_bClosing = false; });
}

void CDiagRun::OnBytesReceived(const uint8_t*, int nCount)
{
    m_counters.qwBytes += uint64_t(nCount);
    m_qwLastByteMicros = Platform().GetMicroseconds();
}

void CDiagRun::OnDataFrame(const uint8_t*, bool checkOk)
{
    ++m_counters.qwDataFrames;
    if (!checkOk) {
        ++m_counters.qwBadChecks;
        return;
    }
    ++m_counters.qwGoodSinceOpen;
    m_paints.OnSample(Platform().GetMicroseconds());
}

bool CDiagRun::eventFilter(QObject* pWatched, QEvent* e)
{
    if (pWatched == &m_dlg.m_waveChart && e->type() == QEvent::Paint)
        m_paints.OnPaint(Platform().GetMicroseconds());
    return QObject::eventFilter(pWatched, e);
}

void ClickButton(CSensorDlg& dlg, int nID)
{
    if (auto* pButton = qobject_cast<QPushButton*>(dlg.GetDlgItem(nID)))
        pButton->click();
}

void PrintBoxText(const QDialog& box)
{
    const auto* pBox = qobject_cast<const QMessageBox*>(&box);
    std::fprintf(stderr, "%s\n", qPrintable(pBox ? pBox->text() : box.windowTitle()));
}

int CDiagRun::AnswerBox(QDialog& box)
{
    if (&box == &m_dlg)
        return box.exec();
    const auto* pBox = qobject_cast<QMessageBox*>(&box);
    ++m_counters.nBoxes;
    if (m_bClosing && pBox && pBox->icon() == QMessageBox::Critical)
        ++m_counters.nLossBoxes;
    PrintBoxText(box);
    return QMessageBox::Ok;
}

void CDiagRun::Drive()
{
    if (m_qwEndMicros != 0) {
        DriveEnd();
        return;
    }
    const uint64_t qwNow = Platform().GetMicroseconds();
    if (!m_dlg.m_comm.GetPortOpen()) {
        if (!DeviceReady(1))
            return;
        ClickButton(m_dlg, IDC_BTN_OPEN);
        if (!m_dlg.m_comm.GetPortOpen())
            return;
        ClickButton(m_dlg, IDC_BTN_START);
        m_qwStartClickMicros = Platform().GetMicroseconds();
    } else if (!m_dlg.m_bObserving && qwNow - m_qwStartClickMicros > DIAG_RESTART_US) {
        ClickButton(m_dlg, IDC_BTN_START);
        m_qwStartClickMicros = qwNow;
    }
}

void CDiagRun::BeginEnd()
{
    if (m_qwEndMicros != 0)
        return;
    m_qwEndMicros = Platform().GetMicroseconds();
    m_qwStartClickMicros = m_qwEndMicros;  // doubles as the time of the last Stop click
    if (m_dlg.m_bObserving)
        ClickButton(m_dlg, IDC_BTN_STOP);
    m_driveTimer.start(DIAG_DRIVE_MS / 2);
}

void CDiagRun::DriveEnd()
{
    // Stop the stream and wait for the line to fall silent, so that every frame the sensor sent
    // before it stopped has been counted when the report is written for the last time.
    const uint64_t qwNow = Platform().GetMicroseconds();
    if (m_dlg.m_bObserving && m_dlg.m_comm.GetPortOpen() && qwNow - m_qwStartClickMicros > DIAG_STOP_AGAIN_US) {
        ClickButton(m_dlg, IDC_BTN_STOP);
        m_qwStartClickMicros = qwNow;
    }
    const bool bQuiet = qwNow - m_qwLastByteMicros > DIAG_QUIET_US;
    if ((bQuiet && (!m_dlg.m_bObserving || !m_dlg.m_comm.GetPortOpen()))
        || qwNow - m_qwEndMicros > DIAG_END_LIMIT_US) {
        m_driveTimer.stop();
        WriteReport();
        m_dlg.done(QDialog::Rejected);
    }
}
