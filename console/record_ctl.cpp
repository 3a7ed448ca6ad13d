#include "record_ctl.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QStandardPaths>

#include <algorithm>
#include <cstring>

#include "modal.h"
#include "resource_ids.h"
#include "sensor_dlg.h"

CRecordControl::CRecordControl(CSensorDlg& dlg) : m_dlg(dlg), m_recorder(this, "Veltrin")
{
    m_dlg.AddObserver(&m_recorder);
    m_timer.setInterval(TITLE_PERIOD_MS);
    connect(&m_timer, &QTimer::timeout, this, &CRecordControl::OnTick);
}

CRecordControl::~CRecordControl()
{
    // The console ends: the recording ends with it, every byte written out. The dialog is
    // partly gone by now, so nothing is shown.
    m_bClosing = true;
    m_recorder.Stop();
    m_dlg.RemoveObserver(&m_recorder);
}

QString CRecordControl::ProposedPath()
{
    QString strDir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (strDir.isEmpty())
        strDir = QDir::homePath();
    const QString strName = QDateTime::currentDateTime().toString(QStringLiteral("'veltrin-'yyyyMMdd-HHmmss")) +
                            QString::fromLatin1(capture::FILE_EXTENSION);
    return QDir(strDir).filePath(strName);
}

QString CRecordControl::FormatElapsed(qint64 nUs)
{
    const qint64 nSec = nUs / 1000000;
    return QStringLiteral("%1:%2:%3")
        .arg(nSec / 3600, 2, 10, QLatin1Char('0'))
        .arg(nSec / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(nSec % 60, 2, 10, QLatin1Char('0'));
}

QString CRecordControl::FormatSize(quint64 nBytes)
{
    if (nBytes < 1000)
        return tr("%1 B").arg(nBytes);
    if (nBytes < 1000000)
        return tr("%1 KB").arg(nBytes / 1e3, 0, 'f', 1);
    if (nBytes < 1000000000)
        return tr("%1 MB").arg(nBytes / 1e6, 0, 'f', 1);
    return tr("%1 GB").arg(nBytes / 1e9, 0, 'f', 1);
}

void CRecordControl::OnCommand()
{
    if (IsActive()) {
        Stop();
        return;
    }
    const QString strProposed = ProposedPath();
    QFileDialog dlg(&m_dlg, tr("开始记录"), QFileInfo(strProposed).path(), tr("记录文件 (*.vcap);;所有文件 (*)"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setDefaultSuffix(QStringLiteral("vcap"));
    dlg.selectFile(QFileInfo(strProposed).fileName());
    if (RunModal(dlg) != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    Start(dlg.selectedFiles().first());
}

bool CRecordControl::Start(const QString& strPath)
{
    int nError = 0;
    if (m_recorder.Start(QFile::encodeName(strPath).toStdString(), &nError))
        return true;
    ShowFailure(strPath, nError, true);
    return false;
}

void CRecordControl::Stop()
{
    const std::string strPath = m_recorder.Path();
    const bool bWasRecording = m_recorder.GetState() == capture::CCaptureRecorder::State::Recording;
    int nError = 0;
    if (!m_recorder.Stop(&nError) && bWasRecording)
        ShowFailure(QFile::decodeName(strPath.c_str()), nError, false);
}

void CRecordControl::AddNote(const QString& strText)
{
    m_recorder.AddNote(strText.toStdString());
}

void CRecordControl::OnRecordingStart(capture::CaptureHeader& header)
{
    // The gains the console holds and the coefficient fields as typed: what the next commands
    // would send.
    capture::SettingsAtStart& s = header.atStart;
    s.known = true;
    const int gains[capture::START_GAINS] = {m_dlg.m_nGainCh1, m_dlg.m_nGainCh2, m_dlg.m_nGainCh3, m_dlg.m_nGainEcg,
                                            m_dlg.m_nGainVolume};
    std::copy(std::begin(gains), std::end(gains), s.gains);
    const int coefficientIds[capture::START_COEFFICIENTS] = {IDC_EDIT_COEF1, IDC_EDIT_COEF2, IDC_EDIT_COEF3};
    for (int c = 0; c < capture::START_COEFFICIENTS; ++c)
        s.coefficients[c] = m_dlg.GetDlgItemText(coefficientIds[c]).toStdString();
}

void CRecordControl::UpdateTitle()
{
    using State = capture::CCaptureRecorder::State;
    switch (m_recorder.GetState()) {
    case State::Idle:
        m_dlg.SetTitlePart(CSensorDlg::TITLE_RECORD, QString());
        return;
    case State::Waiting:
        m_dlg.SetTitlePart(CSensorDlg::TITLE_RECORD, tr("记录 等待串口打开"));
        return;
    case State::Recording:
        m_dlg.SetTitlePart(CSensorDlg::TITLE_RECORD, tr("记录 %1 · %2").arg(FormatElapsed(m_recorder.ElapsedUs()),
                                                                            FormatSize(m_recorder.BytesWritten())));
        return;
    }
}

void CRecordControl::OnTick()
{
    m_recorder.Tick();
    UpdateTitle();
}

void CRecordControl::OnRecorderStateChanged()
{
    const bool bRecording = m_recorder.GetState() == capture::CCaptureRecorder::State::Recording;
    if (m_bRecording && !bRecording)
        m_strLastRecording = QFile::decodeName(m_recorder.Path().c_str());
    m_bRecording = bRecording;
    if (m_bClosing)
        return;
    const bool bActive = IsActive();
    m_dlg.SetSysCommandText(IDM_RECORD, bActive ? tr("停止记录") : tr("开始记录..."));
    if (bActive)
        m_timer.start();
    else
        m_timer.stop();
    UpdateTitle();
}

void CRecordControl::OnRecorderFailed(const std::string& strPath, int nSystemError, bool bCreating)
{
    if (m_bClosing)
        return;
    // Called inside the link's notifications: the box waits for the event loop.
    const QString strFile = QFile::decodeName(strPath.c_str());
    QTimer::singleShot(0, this, [this, strFile, nSystemError, bCreating] { ShowFailure(strFile, nSystemError, bCreating); });
}

void CRecordControl::OnRecordingRescued(const std::string& strOldPath, const std::string& strNewPath, int nSystemError)
{
    if (m_bClosing)
        return;
    const QString strOld = QDir::toNativeSeparators(QFile::decodeName(strOldPath.c_str()));
    QString strText;
    if (strNewPath.empty()) {
        m_bFailed = true;
        strText = tr("记录文件 %1 在记录过程中被删除或替换，已记录的内容无法另存：%2\n记录仍在继续，每秒重试一次。")
                      .arg(strOld, QString::fromLocal8Bit(std::strerror(nSystemError)));
    } else {
        const QString strNew = QDir::toNativeSeparators(QFile::decodeName(strNewPath.c_str()));
        strText = tr("记录文件 %1 在记录过程中被删除或替换。\n已记录的内容已保存到 %2，记录继续写入该文件。").arg(strOld, strNew);
    }
    // Out of the timer's call: the box waits for the event loop, as the failures do.
    QTimer::singleShot(0, this, [this, strText] { ShowMessageBox(&m_dlg, strText, QString(), QMessageBox::Warning); });
}

void CRecordControl::ShowFailure(const QString& strPath, int nSystemError, bool bCreating)
{
    m_bFailed = true;
    const QString strReason = QString::fromLocal8Bit(std::strerror(nSystemError));
    const QString strText = bCreating ? tr("无法创建记录文件 %1：%2").arg(QDir::toNativeSeparators(strPath), strReason)
                                      : tr("无法写入记录文件 %1：%2\n记录已停止。").arg(QDir::toNativeSeparators(strPath), strReason);
    ShowMessageBox(&m_dlg, strText, QString(), QMessageBox::Warning);
}
