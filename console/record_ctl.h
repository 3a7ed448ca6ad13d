#pragma once
// The console's recording: the "开始记录..." / "停止记录" command, the file dialog, the window
// title that shows the recording's time and size, and the messages when the file fails or is
// deleted while recording. The
// recording itself (a watcher of the device link writing a capture) is Qt-free, in capture/.
#include <QObject>
#include <QString>
#include <QTimer>

#include "recorder.h"

class CSensorDlg;

class CRecordControl : public QObject, private capture::IRecorderListener {
    Q_OBJECT
public:
    explicit CRecordControl(CSensorDlg& dlg);
    ~CRecordControl() override;

    // The menu command: asks for a file and starts, or stops a recording in progress.
    void OnCommand();
    // Starts recording into strPath (at once, or when the port opens). A file that cannot be
    // created is reported in a message box; returns false then.
    bool Start(const QString& strPath);
    void Stop();
    // A marker's text into the recording at this moment (nothing while none is made).
    void AddNote(const QString& strText);

    bool IsActive() const { return m_recorder.GetState() != capture::CCaptureRecorder::State::Idle; }
    // Whether a recording of this run failed (its file could not be created, written or saved
    // again after it was deleted): unattended runs end with an error then.
    bool HasFailed() const { return m_bFailed; }
    const capture::CCaptureRecorder& Recorder() const { return m_recorder; }
    // Brings the title up to date (the timer does this once a second).
    void UpdateTitle();

    // The file of the last recording of this run that has ended; empty while none has.
    const QString& LastRecording() const { return m_strLastRecording; }

    // The file proposed by the dialog: veltrin-YYYYMMDD-HHMMSS.vcap in the documents folder.
    static QString ProposedPath();
    // "00:12:34" and "4.1 MB", as the title shows them.
    static QString FormatElapsed(qint64 nUs);
    static QString FormatSize(quint64 nBytes);

    static constexpr int TITLE_PERIOD_MS = 1000;

private:
    void OnRecorderStateChanged() override;
    void OnRecordingStart(capture::CaptureHeader& header) override;
    void OnRecorderFailed(const std::string& strPath, int nSystemError, bool bCreating) override;
    void OnRecordingRescued(const std::string& strOldPath, const std::string& strNewPath, int nSystemError) override;
    void OnTick();
    void ShowFailure(const QString& strPath, int nSystemError, bool bCreating);

    CSensorDlg& m_dlg;
    capture::CCaptureRecorder m_recorder;
    QTimer m_timer;
    bool m_bClosing = false; // in the destructor: the dialog is no longer to be touched
    bool m_bFailed = false;
    bool m_bRecording = false;   // recording into its file, as last told
    QString m_strLastRecording;
};
