// The console dialog: construction from template 102, control binding, the message table,
// initialisation, the system menu, keys and every way of ending the console.
#include "sensor_dlg.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QContextMenuEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include "about_dlg.h"
#include "modal.h"
#include "port_settings_dlg.h"
#include "report_ctl.h"
#include "resource_ids.h"
#include "review_feature.h"
#include "signal_link.h"
#include "spin_button.h"

namespace {
constexpr int TIMER_ID = 1;

template <class T>
T* Bind(const CDialogLayout& layout, int nID)
{
    return qobject_cast<T*>(layout.GetDlgItem(nID));
}
} // namespace

CSensorDlg::CSensorDlg(QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      ISensorView(), CSensorLink(static_cast<ISensorView&>(*this)),
      m_hIcon(LoadIconResource(IDR_MAINFRAME))
{
    // Creating the window: the template's controls; the serial layer is the member m_comm.
    m_layout.Build(*this, SensorDialogTemplate());
    m_strCaption = windowTitle();
    m_stStatus = new QLabel(this);
    m_stStatus->setGeometry(m_layout.MapDialogRect(
        QRect(STATUS_LABEL_DLU[0], STATUS_LABEL_DLU[1], STATUS_LABEL_DLU[2], STATUS_LABEL_DLU[3])));
    m_stStatus->setTextFormat(Qt::PlainText);
    m_stStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
#ifndef _WIN32
    m_pSysMenu = new QMenu(this);
    QAction* pClose = m_pSysMenu->addAction(QStringLiteral("关闭(&C)"));
    pClose->setData(SC_CLOSE_CMD);
#endif
    m_bWindow = true;
    RouteMessages();
    OnInitDialog();
}

CSensorDlg::~CSensorDlg()
{
    // The device link (a base) and the members go before QDialog deletes the child widgets;
    // a child emitting on its way out must find no handler of this dialog connected.
    UnrouteMessages();
    // A console torn down without ending its modal run still gets its destroy handling.
    if (m_nDestroyCount == 0)
        OnDestroy();
}

void CSensorDlg::UnrouteMessages()
{
    m_comm.disconnect(this);
    m_timer1.disconnect(this);
    m_timerPressure.disconnect(this);
    for (QObject* pChild : findChildren<QObject*>())
        pChild->disconnect(this);
}

void CSensorDlg::DoDataExchange()
{
    m_spinVolumeGain = Bind<SpinButton>(m_layout, IDC_SPIN_VOLUME_GAIN);
    m_spinEcgGain = Bind<SpinButton>(m_layout, IDC_SPIN_ECG_GAIN);
    m_spinGain3 = Bind<SpinButton>(m_layout, IDC_SPIN_GAIN3);
    m_spinGain2 = Bind<SpinButton>(m_layout, IDC_SPIN_GAIN2);
    m_spinGain1 = Bind<SpinButton>(m_layout, IDC_SPIN_GAIN1);
    m_editVolumeGain = Bind<QLineEdit>(m_layout, IDC_EDIT_VOLUME_GAIN);
    m_editEcgGain = Bind<QLineEdit>(m_layout, IDC_EDIT_ECG_GAIN);
    m_editGain3 = Bind<QLineEdit>(m_layout, IDC_EDIT_GAIN3);
    m_editGain2 = Bind<QLineEdit>(m_layout, IDC_EDIT_GAIN2);
    m_editGain1 = Bind<QLineEdit>(m_layout, IDC_EDIT_GAIN1);
    m_editCoef1 = Bind<QLineEdit>(m_layout, IDC_EDIT_COEF1);
    m_editCoef2 = Bind<QLineEdit>(m_layout, IDC_EDIT_COEF2);
    m_editCoef3 = Bind<QLineEdit>(m_layout, IDC_EDIT_COEF3);
    m_framePressureArea = Bind<QFrame>(m_layout, IDC_FRAME_PRESSURE_AREA);
    m_framePressure3 = Bind<QFrame>(m_layout, IDC_FRAME_PRESSURE3);
    m_framePressure2 = Bind<QFrame>(m_layout, IDC_FRAME_PRESSURE2);
    m_framePressure1 = Bind<QFrame>(m_layout, IDC_FRAME_PRESSURE1);
    m_btnStop = Bind<QPushButton>(m_layout, IDC_BTN_STOP);
    m_btnStart = Bind<QPushButton>(m_layout, IDC_BTN_START);
    m_comboPort = Bind<QComboBox>(m_layout, IDC_COMBO_PORT);
    // 1006 binds to m_comm, which exists without a window.
}

// The message table: every message, control notification and serial event the console
// handles, each bound to its handler in one place. Handlers run inside Guard, so an error of
// the serial layer ends the handler and is shown in the stop-icon box, never reaching Qt.
void CSensorDlg::RouteMessages()
{
    auto button = [this](int nID, auto handler) {
        if (auto* pButton = qobject_cast<QPushButton*>(GetDlgItem(nID)))
            connect(pButton, &QPushButton::clicked, this, [this, handler] { Guard(handler); });
    };
    auto spin = [this](int nID, auto handler) {
        if (auto* pSpin = qobject_cast<SpinButton*>(GetDlgItem(nID)))
            connect(pSpin, &SpinButton::DeltaPos, this, [this, handler](int, int iDelta, int* pResult) {
                Guard([&] { *pResult = handler(iDelta); });
            });
    };

    // WM_SYSCOMMAND (the stand-in menu; on Windows nativeEvent delivers the native one)
    if (m_pSysMenu)
        connect(m_pSysMenu, &QMenu::triggered, this, [this](QAction* pAction) {
            Guard([&] { OnSysCommand(pAction->data().toUInt(), 0); });
        });
    // WM_PAINT: paintEvent; WM_QUERYDRAGICON, WM_SIZE, WM_CTLCOLOR: default processing only.
    button(IDC_BTN_OPEN, [this] { OnOpenDevice(); });
    button(IDC_BTN_START, [this] { OnStartObserve(); });
    button(IDC_BTN_STOP, [this] { OnStopObserve(); });
    button(IDC_BTN_EXIT, [this] { OnExit(); });
    // WM_DESTROY: done() and the destructor.
    connect(&m_timer1, &QTimer::timeout, this, [this] { Guard([&] { OnTimer(TIMER_ID); }); });
    connect(&m_timerPressure, &QTimer::timeout, this, [this] { Guard([&] { OnPressureRepaintTimer(); }); });
    spin(IDC_SPIN_GAIN1, [this](int iDelta) { return OnDeltaposSpinGain1(iDelta); });
    spin(IDC_SPIN_GAIN2, [this](int iDelta) { return OnDeltaposSpinGain2(iDelta); });
    spin(IDC_SPIN_GAIN3, [this](int iDelta) { return OnDeltaposSpinGain3(iDelta); });
    spin(IDC_SPIN_ECG_GAIN, [this](int iDelta) { return OnDeltaposSpinEcgGain(iDelta); });
    spin(IDC_SPIN_VOLUME_GAIN, [this](int iDelta) { return OnDeltaposSpinVolumeGain(iDelta); });
    button(IDC_BTN_CALIBRATE1, [this] { OnCalibrate1(); });
    button(IDC_BTN_CALIBRATE2, [this] { OnCalibrate2(); });
    button(IDC_BTN_CALIBRATE3, [this] { OnCalibrate3(); });
    button(IDC_BTN_ZERO1, [this] { OnZero1(); });
    button(IDC_BTN_ZERO2, [this] { OnZero2(); });
    button(IDC_BTN_ZERO3, [this] { OnZero3(); });
    connect(&m_comm, &CMSComm::OnComm, this, [this] { Guard([&] { OnCommEvent(); }); });
    connect(&m_comm, &CMSComm::PortLost, this, [this](const QString& strDescription) {
        Guard([&] { OnPortLost(strDescription); });
    });
}

void CSensorDlg::OnInitDialog()
{
    DoDataExchange();

    const QString strAbout = QString::fromUtf8(LoadResString(IDS_ABOUTBOX));
    if (!strAbout.isEmpty()) {
#ifdef _WIN32
        BuildNativeSystemMenu();
#else
        if (m_pSysMenu) {
            m_pSysMenu->addSeparator();
            m_pSysMenu->addAction(strAbout)->setData(static_cast<unsigned>(IDM_ABOUTBOX));
        }
#endif
    }
    AddSysCommand(IDM_RECORD, CRecordControl::tr("开始记录..."), [this] { m_record.OnCommand(); });

    AddSysCommand(IDM_PORT_SETTINGS, tr("端口设置..."), [this] { ShowPortSettings(*this); });
    TrackPortTip(*this);

    setWindowIcon(m_hIcon);  // large and small icon alike
    if (m_comboPort)
        m_comboPort->setCurrentIndex(0);
    SetStatusText(QString(), 0);

    // The waveform control takes frame 1005's place; the frame stays, only lending its rectangle.
    QRect rcWave = rect();
    if (QWidget* pFrame = GetDlgItem(IDC_FRAME_WAVE))
        rcWave = pFrame->geometry();
    m_waveChart.Create(this, rcWave, IDC_WAVECHART);
    // Samples arrive up to 1,219 times a second; the traces are painted at the display's pace.
    m_waveChart.SetPaintPeriod(WAVE_PAINT_PERIOD_US);
    m_waveChart.raise();
    m_layout.AddItem(IDC_WAVECHART, &m_waveChart);

    SetDlgItemInt(IDC_EDIT_GAIN1, m_nGainCh1);
    SetDlgItemInt(IDC_EDIT_GAIN2, m_nGainCh2);
    SetDlgItemInt(IDC_EDIT_GAIN3, m_nGainCh3);
    SetDlgItemInt(IDC_EDIT_ECG_GAIN, m_nGainEcg);
    SetDlgItemInt(IDC_EDIT_VOLUME_GAIN, m_nGainVolume);
    SetDlgItemInt(IDC_EDIT_COEF1, 100);
    SetDlgItemInt(IDC_EDIT_COEF2, 100);
    SetDlgItemInt(IDC_EDIT_COEF3, 100);

    if (m_spinGain1) m_spinGain1->SetRange(1, 5);
    if (m_spinGain2) m_spinGain2->SetRange(1, 5);
    if (m_spinGain3) m_spinGain3->SetRange(1, 5);
    if (m_spinEcgGain) m_spinEcgGain->SetRange(1, 5);
    if (m_spinVolumeGain) m_spinVolumeGain->SetRange(1, 8);

    InstallSignalLink(*this);
    InstallReview(*this);
    InstallReport(*this);

    m_timer1.start(TIMER_PERIOD_MS);
    m_timerPressure.setSingleShot(true);
    UpdateControlStates();

    // The readouts are painted over their frames, not by the frames themselves.
    for (QFrame* pFrame : {m_framePressure1, m_framePressure2, m_framePressure3})
        if (pFrame)
            pFrame->installEventFilter(this);

    if (QWidget* pFirst = GetDlgItem(IDC_BTN_OPEN))
        pFirst->setFocus(Qt::OtherFocusReason);
}

QWidget* CSensorDlg::GetDlgItem(int nID) const { return m_layout.GetDlgItem(nID); }

bool CSensorDlg::OnSysCommand(unsigned nID, qintptr /*lParam*/)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout(this);
        RunModal(dlgAbout);
        return true;
    }
    for (const SysCommand& cmd : m_sysCommands) {
        if ((nID & 0xFFF0) == cmd.nID) {
            const std::function<void()> handler = cmd.handler;  // the handler may add commands
            if (handler)
                handler();
            return true;
        }
    }
    DefaultSysCommand(nID);
    return false;
}

void CSensorDlg::AddSysCommand(unsigned nID, const QString& strText, std::function<void()> handler)
{
    // The same command added again replaces the earlier one, handler, text and item.
    for (auto it = m_sysCommands.begin(); it != m_sysCommands.end(); ++it) {
        if (it->nID != (nID & 0xFFF0))
            continue;
#ifdef _WIN32
        it->strText = strText;
        it->handler = std::move(handler);
        SetNativeSystemMenuText(*this, strText, it->nID);
        return;
#else
        delete it->pAction;
        m_sysCommands.erase(it);
        break;
#endif
    }
    SysCommand cmd;
    cmd.nID = nID & 0xFFF0;
    cmd.strText = strText;
    cmd.handler = std::move(handler);
#ifndef _WIN32
    if (m_pSysMenu) {
        // Above the separator that leads to About, so About stays the menu's last item.
        QAction* pBefore = nullptr;
        const QList<QAction*> actions = m_pSysMenu->actions();
        for (int i = 1; i < actions.size(); ++i)
            if (actions[i]->data().toUInt() == IDM_ABOUTBOX && actions[i - 1]->isSeparator())
                pBefore = actions[i - 1];
        cmd.pAction = new QAction(strText, m_pSysMenu);
        cmd.pAction->setData(cmd.nID);
        m_pSysMenu->insertAction(pBefore, cmd.pAction);
    }
#endif
    m_sysCommands.push_back(std::move(cmd));
#ifdef _WIN32
    BuildNativeSystemMenu();  // whole, so the command lands above About's separator
#endif
}

void CSensorDlg::SetSysCommandText(unsigned nID, const QString& strText)
{
    for (SysCommand& cmd : m_sysCommands) {
        if (cmd.nID != (nID & 0xFFF0))
            continue;
        cmd.strText = strText;
        if (cmd.pAction)
            cmd.pAction->setText(strText);
#ifdef _WIN32
        SetNativeSystemMenuText(*this, strText, cmd.nID);
#endif
    }
}

void CSensorDlg::SetTitlePart(TitleSlot slot, const QString& strText)
{
    m_titleParts[slot] = strText;
    QString strTitle = m_strCaption;
    for (const QString& strPart : m_titleParts)
        if (!strPart.isEmpty())
            strTitle += QStringLiteral(" · ") + strPart;
    if (windowTitle() != strTitle)
        setWindowTitle(strTitle);
}

void CSensorDlg::DefaultSysCommand(unsigned nID)
{
    m_nLastDefaultSysCommand = nID;
    ++m_nDefaultSysCommands;
#ifndef _WIN32
    // The stand-in menu's own item; on Windows the system's default processing does this.
    if ((nID & 0xFFF0) == SC_CLOSE_CMD)
        close();
#endif
}

void CSensorDlg::contextMenuEvent(QContextMenuEvent* e)
{
    QWidget* pChild = childAt(e->pos());
    const bool bOnWave = pChild && (pChild == &m_waveChart || m_waveChart.isAncestorOf(pChild));
    if (!m_pSysMenu || bOnWave) {
        e->ignore();
        return;
    }
    m_pSysMenu->popup(e->globalPos());
    e->accept();
}

void CSensorDlg::keyPressEvent(QKeyEvent* e)
{
    const bool bPlain = e->modifiers() == Qt::NoModifier ||
                        (e->key() == Qt::Key_Enter && e->modifiers() == Qt::KeypadModifier);
    if (bPlain && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
        // Enter presses the push button that has the focus; anywhere else it ends the console.
        if (auto* pButton = qobject_cast<QPushButton*>(focusWidget())) {
            if (pButton->isEnabled())
                pButton->click();
        } else if (ConfirmQuitWhileRecording()) {
            accept();
        }
        e->accept();
        return;
    }
    if (e->matches(QKeySequence::Cancel) && !ConfirmQuitWhileRecording()) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);  // Esc: reject()
}

bool CSensorDlg::ConfirmQuitWhileRecording()
{
    // Enter and Esc are easily pressed by mistake (Enter in a coefficient edit ends the
    // console); a running recording would end with them unasked.
    if (m_record.Recorder().GetState() != capture::CCaptureRecorder::State::Recording)
        return true;
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), tr("正在记录。停止记录并退出吗？"),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    return RunModal(box) == QMessageBox::Yes;
}

void CSensorDlg::OnExit()
{
    done(QDialog::Rejected);
}

void CSensorDlg::done(int r)
{
    if (m_nDestroyCount == 0)
        OnDestroy();
    QDialog::done(r);
}

void CSensorDlg::OnDestroy()
{
    ++m_nDestroyCount;
    Guard([&] { CSensorLink::OnDestroy(); });
    m_timer1.stop();
    m_timerPressure.stop();
    m_bWindow = false;
}
