#pragma once
// The console: one modal dialog built from template 102. It owns the device link (its base
// CSensorLink holds the port, the ring and the device state), the waveform control and the
// three static-pressure readouts, and routes every message and notification to its handler.
#include <QDialog>
#include <QIcon>
#include <QTimer>

#include <functional>
#include <vector>

#include "dialog_layout.h"
#include "record_ctl.h"
#include "sensor_link.h"
#include "wave_chart.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class SpinButton;

// Field and text of the readouts as COLORREF values (0x00BBGGRR).
constexpr uint32_t READOUT_CLR_FIELD = 0x00800000;  // navy
constexpr uint32_t READOUT_CLR_TEXT = 0x00FFFFFF;   // white
constexpr int READOUT_FONT_HEIGHT = 28;             // character height in pixels
constexpr int READOUT_TEXT_TOP = 25;                // text top below the frame top, pixels

// Standard system command that closes a window (passed on to the default processing).
constexpr unsigned SC_CLOSE_CMD = 0xF060;

class CSensorDlg : public QDialog, public ISensorView, public CSensorLink {
    Q_OBJECT
public:
    explicit CSensorDlg(QWidget* pParent = nullptr);
    ~CSensorDlg() override;

    // The control with id nID (the waveform control is 100), nullptr when there is none.
    QWidget* GetDlgItem(int nID) const;
    void SetDlgItemText(int nID, const QString& strText);
    const CDialogLayout& Layout() const { return m_layout; }

    // System-menu command: 16..31 open the About box; anything else goes on to the default
    // processing. Returns true when handled here.
    bool OnSysCommand(unsigned nID, qintptr lParam);
    // The stand-in for the system menu where the platform gives none (right click on the
    // dialog's background); nullptr on Windows, where the native system menu is used.
    QMenu* SystemMenu() const { return m_pSysMenu; }
    // Adds a command beside About on the system menu (the stand-in menu elsewhere): nID a
    // multiple of 16 below 0xF000, handled by OnSysCommand through handler (run inside Guard).
    // Adding an nID again replaces the earlier command.
    void AddSysCommand(unsigned nID, const QString& strText, std::function<void()> handler);
    // Changes the text of a command added by AddSysCommand (e.g. start / stop).
    void SetSysCommandText(unsigned nID, const QString& strText);
    // The title is the template's caption followed by these parts, each after " · ", in slot
    // order (a replay's progress, then a recording's); an empty text removes its part.
    enum TitleSlot { TITLE_REPLAY, TITLE_RECORD, TITLE_SLOTS };
    void SetTitlePart(TitleSlot slot, const QString& strText);
    // Last system command passed on to the default processing, and how many were.
    unsigned m_nLastDefaultSysCommand = 0;
    int m_nDefaultSysCommands = 0;
    // Times the window-destroy handling ran (exactly once per dialog).
    int m_nDestroyCount = 0;

    // Button 1007: ends the console as a window destroy would.
    void OnExit();

    // --- ISensorView ----------------------------------------------------------------------
    void EnableGainSpins(bool bEnable) override;
    void AddSamples(int ch0, int ch1, int ch2, int ch3, int ch4) override;
    bool IsWindow() const override;
    void InvalidatePressureArea() override;
    void StartPressureRepaintTimer(uint32_t nDelayMs) override;
    int GetPortSelection() const override;
    void SetOpenButtonText(const QString& strText) override;
    void SetDlgItemInt(int nID, int nValue) override;
    QString GetDlgItemText(int nID) const override;
    void MessageBox(const QString& strText) override;
    void ShowErrorBox(const QString& strText) override;
    void SetStatusLabelText(const QString& strText) override;
    void ShowStatusLabel(bool bShow) override;

    // --- member controls, bound by id in DoDataExchange -------------------------------------
    SpinButton* m_spinVolumeGain = nullptr;  // 1035
    SpinButton* m_spinEcgGain = nullptr;     // 1034
    SpinButton* m_spinGain3 = nullptr;       // 1021
    SpinButton* m_spinGain2 = nullptr;       // 1020
    SpinButton* m_spinGain1 = nullptr;       // 1019
    QLineEdit* m_editVolumeGain = nullptr;   // 1033
    QLineEdit* m_editEcgGain = nullptr;      // 1032
    QLineEdit* m_editGain3 = nullptr;        // 1024
    QLineEdit* m_editGain2 = nullptr;        // 1023
    QLineEdit* m_editGain1 = nullptr;        // 1022
    QLineEdit* m_editCoef1 = nullptr;        // 1036
    QLineEdit* m_editCoef2 = nullptr;        // 1039
    QLineEdit* m_editCoef3 = nullptr;        // 1042
    QFrame* m_framePressureArea = nullptr;   // 1018, hidden
    QFrame* m_framePressure3 = nullptr;      // 1014
    QFrame* m_framePressure2 = nullptr;      // 1013
    QFrame* m_framePressure1 = nullptr;      // 1012
    QLabel* m_stStatus = nullptr;            // status text, no template control
    QPushButton* m_btnStop = nullptr;        // 1003
    QPushButton* m_btnStart = nullptr;       // 1002
    QComboBox* m_comboPort = nullptr;        // 1004
    // m_comm (1006) is the device link's serial layer.
    QIcon m_hIcon;
    CWaveChart m_waveChart;                  // child 100 over frame 1005
    CRecordControl m_record{*this};          // recording the session into a capture

    // Every way out of the console ends here; the destroy handling runs before the modal run ends.
    void done(int r) override;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    bool eventFilter(QObject* pWatched, QEvent* e) override;
#ifdef _WIN32
    bool nativeEvent(const QByteArray& eventType, void* pMessage, qintptr* pResult) override;
    bool event(QEvent* e) override;
#endif

private:
    void DoDataExchange();
    void RouteMessages();
    // Cuts every connection that calls into the dialog, so nothing reaches a handler while
    // the dialog's parts are being destroyed.
    void UnrouteMessages();
    void OnInitDialog();
    // The dialog's share of the window-destroy handling, run once whichever way the console ends.
    void OnDestroy();
    void DefaultSysCommand(unsigned nID);
    // Before Enter or Esc ends the console: true at once unless a recording runs, else the
    // operator's answer to whether to stop it and quit.
    bool ConfirmQuitWhileRecording();
    void PaintReadout(QFrame& frame, int nValue, const char* pszFormat);
#ifdef _WIN32
    // Puts the added commands and About on the native system menu of the window as it is now;
    // a window created later, or created anew, gets them from event().
    void BuildNativeSystemMenu();
    WId m_hSysMenuWnd = 0;  // the native window whose system menu carries them
#endif

    struct SysCommand {
        unsigned nID = 0;
        QString strText;
        std::function<void()> handler;
        QAction* pAction = nullptr;  // its item on the stand-in menu
    };

    CDialogLayout m_layout;
    QString m_strCaption;                  // the template's caption
    QString m_titleParts[TITLE_SLOTS];
    QMenu* m_pSysMenu = nullptr;
    std::vector<SysCommand> m_sysCommands;
    QTimer m_timer1;              // timer 1, 50 ms
    QTimer m_timerPressure;       // single shot: the pressure column's deferred repaint
    bool m_bWindow = false;       // from creation until the window-destroy handling
};

// Appends an item to the native system menu (Windows), after a separator when bSeparator.
bool AppendToNativeSystemMenu(QWidget& wnd, const QString& strItem, unsigned nCommand, bool bSeparator = true);
// Changes the text of an item of the native system menu (Windows).
bool SetNativeSystemMenuText(QWidget& wnd, const QString& strItem, unsigned nCommand);

// The dialog's stand-in rectangle for the status label, in dialog units: inside group "设备",
// under the start and stop buttons, where the template leaves room.
constexpr int STATUS_LABEL_DLU[4] = {558, 417, 104, 9};
