#pragma once
// The console's session report: "生成报告..." on the system menu. It proposes the last recording
// of this run (or asks for a capture file), asks for the report's free-text fields and where to
// save it, makes the report on a worker thread behind a progress box, and opens it in the
// desktop's viewer. The report itself is in report/.
#include <QDialog>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>

#include "report_pdf.h"

class CSensorDlg;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressDialog;
class QThread;

// The fields a report carries besides the recording: name, age, sex and notes.
class CReportFieldsDlg : public QDialog {
    Q_OBJECT
public:
    explicit CReportFieldsDlg(QWidget* pParent = nullptr);
    report::ReportFields Fields() const;

    QLineEdit* m_editName = nullptr;
    QLineEdit* m_editAge = nullptr;
    QComboBox* m_comboSex = nullptr;
    QPlainTextEdit* m_editNotes = nullptr;
};

class CReportControl : public QObject {
    Q_OBJECT
public:
    explicit CReportControl(CSensorDlg& dlg);
    ~CReportControl() override;

    // The menu command: the capture, the fields and the file, then Start.
    void OnCommand();
    // Makes the report of strCapture into strOut on the worker, the pressures in the units the
    // console keeps; Finished tells the end.
    void Start(const QString& strCapture, const QString& strOut, const report::ReportFields& fields);
    bool IsRunning() const { return m_pThread != nullptr; }

    // The file proposed by the save dialog: veltrin-report-YYYYMMDD-HHMMSS.pdf in the documents folder.
    static QString ProposedPath();
    // What opens a finished report (the desktop's viewer unless replaced, e.g. by a test); false
    // when it could not. Returns the one it replaces.
    using Opener = std::function<bool(const QString& strPath)>;
    static Opener SetOpener(Opener opener);

    static constexpr int PROGRESS_PERIOD_MS = 100;
    static constexpr int PROGRESS_SHOWN_AFTER_MS = 400;  // quick reports show no progress box
    static constexpr int PROGRESS_STEPS = 1000;

signals:
    // The report is written (bOk) or failed or was cancelled; its boxes have been shown.
    void Finished(bool bOk);

private:
    void OnWorkerDone();
    QString AskForCapture();

    CSensorDlg& m_dlg;
    QThread* m_pThread = nullptr;
    QProgressDialog* m_pProgress = nullptr;
    QTimer m_progressTimer;
    std::atomic<int> m_nProgress{0};
    std::atomic<bool> m_bCancel{false};
    // The worker's result: written by it, read once it has ended.
    bool m_bOk = false;
    QString m_strError;
    QString m_strOut;
};

// Adds the command and its control to the console dialog.
CReportControl* InstallReport(CSensorDlg& dlg);
