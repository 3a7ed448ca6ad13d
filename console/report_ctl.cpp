#include "report_ctl.h"

#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include "modal.h"
#include "resource_ids.h"
#include "sensor_dlg.h"
#include "units_settings.h"

namespace {

CReportControl::Opener& OpenerSlot()
{
    static CReportControl::Opener s_opener;
    return s_opener;
}

QString DocumentsFolder()
{
    const QString strDir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return strDir.isEmpty() ? QDir::homePath() : strDir;
}

} // namespace

CReportFieldsDlg::CReportFieldsDlg(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(tr("报告信息"));
    auto* pForm = new QFormLayout(this);
    m_editName = new QLineEdit(this);
    m_editAge = new QLineEdit(this);
    m_comboSex = new QComboBox(this);
    m_comboSex->setEditable(true);
    m_comboSex->addItems({QString(), tr("男"), tr("女")});
    m_editNotes = new QPlainTextEdit(this);
    m_editNotes->setTabChangesFocus(true);
    m_editNotes->setFixedHeight(m_editNotes->fontMetrics().lineSpacing() * 4 + 12);
    pForm->addRow(tr("姓名"), m_editName);
    pForm->addRow(tr("年龄"), m_editAge);
    pForm->addRow(tr("性别"), m_comboSex);
    pForm->addRow(tr("备注"), m_editNotes);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    pForm->addRow(pButtons);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

report::ReportFields CReportFieldsDlg::Fields() const
{
    report::ReportFields f;
    f.strName = m_editName->text().trimmed();
    f.strAge = m_editAge->text().trimmed();
    f.strSex = m_comboSex->currentText().trimmed();
    f.strNotes = m_editNotes->toPlainText().trimmed();
    return f;
}

CReportControl::CReportControl(CSensorDlg& dlg) : QObject(&dlg), m_dlg(dlg)
{
    setObjectName(QStringLiteral("report"));
    dlg.AddSysCommand(IDM_REPORT, tr("生成报告..."), [this] { OnCommand(); });
    m_progressTimer.setInterval(PROGRESS_PERIOD_MS);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        if (m_pProgress)
            m_pProgress->setValue(m_nProgress.load());
    });
}

CReportControl::~CReportControl()
{
    // The console ends while a report is being made: the summary stops at its next step and no
    // file is left, or the pages are written out first.
    if (m_pThread) {
        m_bCancel = true;
        m_pThread->wait();
        delete m_pThread;
    }
}

QString CReportControl::ProposedPath()
{
    const QString strName = QDateTime::currentDateTime().toString(QStringLiteral("'veltrin-report-'yyyyMMdd-HHmmss'.pdf'"));
    return QDir(DocumentsFolder()).filePath(strName);
}

CReportControl::Opener CReportControl::SetOpener(Opener opener)
{
    Opener prev = std::move(OpenerSlot());
    OpenerSlot() = std::move(opener);
    return prev;
}

QString CReportControl::AskForCapture()
{
    const QString strLast = m_dlg.m_record.LastRecording();
    if (!strLast.isEmpty() && QFileInfo(strLast).isFile()) {
        QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                        tr("为本次运行最近的记录生成报告？\n\n%1").arg(QDir::toNativeSeparators(strLast)),
                        QMessageBox::NoButton, &m_dlg);
        box.setTextFormat(Qt::PlainText);
        QPushButton* pUse = box.addButton(tr("使用此记录"), QMessageBox::AcceptRole);
        QPushButton* pOther = box.addButton(tr("选择其他记录..."), QMessageBox::ActionRole);
        box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(pUse);
        RunModal(box);
        if (box.clickedButton() == pUse)
            return strLast;
        if (box.clickedButton() != pOther)
            return QString();
    }
    QFileDialog dlg(&m_dlg, tr("选择记录文件"), strLast.isEmpty() ? DocumentsFolder() : QFileInfo(strLast).path(),
                    tr("记录文件 (*.vcap);;所有文件 (*)"));
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    if (RunModal(dlg) != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    return dlg.selectedFiles().first();
}

void CReportControl::OnCommand()
{
    if (IsRunning()) {
        if (m_pProgress)
            m_pProgress->raise();
        return;
    }
    const QString strCapture = AskForCapture();
    if (strCapture.isEmpty())
        return;
    CReportFieldsDlg fieldsDlg(&m_dlg);
    if (RunModal(fieldsDlg) != QDialog::Accepted)
        return;
    const QString strProposed = ProposedPath();
    QFileDialog saveDlg(&m_dlg, tr("保存报告"), QFileInfo(strProposed).path(), tr("PDF 文件 (*.pdf);;所有文件 (*)"));
    saveDlg.setAcceptMode(QFileDialog::AcceptSave);
    saveDlg.setFileMode(QFileDialog::AnyFile);
    saveDlg.setDefaultSuffix(QStringLiteral("pdf"));
    saveDlg.selectFile(QFileInfo(strProposed).fileName());
    if (RunModal(saveDlg) != QDialog::Accepted || saveDlg.selectedFiles().isEmpty())
        return;
    Start(strCapture, saveDlg.selectedFiles().first(), fieldsDlg.Fields());
}

void CReportControl::Start(const QString& strCapture, const QString& strOut, const report::ReportFields& fields)
{
    if (IsRunning())
        return;
    m_bCancel = false;
    m_nProgress = 0;
    m_bOk = false;
    m_strError.clear();
    m_strOut = strOut;
    // The units as they are now, the worker's own copy.
    units::PressureUnits pressureUnits;
    if (const auto* pUnits = m_dlg.findChild<CUnitSettings*>())
        pressureUnits = pUnits->Units();
    // The console keeps running meanwhile: the work is on a thread of its own, and the box
    // shows only when it takes a while. It is not modal: a modal one runs the event loop inside
    // setValue, where the worker's end could delete it under its own feet (a second report
    // while one is being made only raises the box).
    m_pProgress = new QProgressDialog(tr("正在生成报告..."), tr("取消"), 0, PROGRESS_STEPS, &m_dlg);
    m_pProgress->setMinimumDuration(PROGRESS_SHOWN_AFTER_MS);
    m_pProgress->setAutoReset(false);
    m_pProgress->setAutoClose(false);
    m_pProgress->setValue(0);
    connect(m_pProgress, &QProgressDialog::canceled, this, [this] { m_bCancel = true; });
    m_pThread = QThread::create([this, strCapture, strOut, fields, pressureUnits] {
        m_bOk = report::WriteSessionReport(
            strCapture, strOut, fields, &m_strError,
            [this](double f) {
                m_nProgress = static_cast<int>(f * PROGRESS_STEPS);
                return !m_bCancel.load();
            },
            pressureUnits);
    });
    connect(m_pThread, &QThread::finished, this, &CReportControl::OnWorkerDone);
    m_progressTimer.start();
    m_pThread->start();
}

void CReportControl::OnWorkerDone()
{
    m_progressTimer.stop();
    m_pThread->wait();
    delete m_pThread;
    m_pThread = nullptr;
    m_pProgress->hide();
    m_pProgress->deleteLater();
    m_pProgress = nullptr;
    const bool bCancelled = m_bCancel.load();
    if (m_bOk) {
        const Opener& opener = OpenerSlot();
        const bool bOpened = opener ? opener(m_strOut) : QDesktopServices::openUrl(QUrl::fromLocalFile(m_strOut));
        if (!bOpened)
            ShowMessageBox(&m_dlg, tr("报告已保存到 %1。\n没有能打开它的查看程序，请另行打开。").arg(QDir::toNativeSeparators(m_strOut)),
                           QString(), QMessageBox::NoIcon);
    } else if (!bCancelled) {
        ShowMessageBox(&m_dlg, tr("无法生成报告：\n%1").arg(m_strError), QString(), QMessageBox::Critical);
    }
    emit Finished(m_bOk);
}

CReportControl* InstallReport(CSensorDlg& dlg)
{
    return new CReportControl(dlg);
}
