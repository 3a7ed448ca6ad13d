#pragma once
// The console's view of the link and the signal: the link light in the "设备" group, and the
// "信号与链路" and "脉图分析" windows on the system menu, all fed by one link monitor that
// watches the dialog's device link.
#include <QObject>
#include <QTimer>

#include "link_monitor.h"

class CSensorDlg;
class CLinkLight;
class CSignalLinkWindow;
class CPulseWindow;

class CSignalLinkFeature : public QObject {
    Q_OBJECT
public:
    static constexpr int LIGHT_REFRESH_MS = 200;

    // Lives as a child of dlg; dlg's device link outlives no part of it that the link calls.
    explicit CSignalLinkFeature(CSensorDlg& dlg);

    // Opens (or raises) the window.
    void OpenWindow();
    // Opens (or raises) the pulse diagram window.
    void OpenPulseWindow();
    // Sets the light's colour and tooltip from the figures now.
    void RefreshLight();

    // A replay's capture has played to its end: the light shows grey, as for a closed port,
    // until it plays again.
    void SetCaptureEnded(bool bEnded);

    const analysis::CLinkMonitor& Monitor() const { return m_monitor; }
    analysis::CLinkMonitor& Monitor() { return m_monitor; }
    CLinkLight* Light() const { return m_pLight; }
    CSignalLinkWindow* Window() const { return m_pWindow; }
    CPulseWindow* PulseWindow() const { return m_pPulseWindow; }

private:
    CSensorDlg& m_dlg;
    analysis::CLinkMonitor m_monitor;
    CLinkLight* m_pLight = nullptr;
    CSignalLinkWindow* m_pWindow = nullptr;  // made when first opened
    CPulseWindow* m_pPulseWindow = nullptr;  // made when first opened
    QTimer m_lightTimer;
    bool m_bCaptureEnded = false;
};

// Adds the light, the window's menu command and the monitor to the console dialog.
CSignalLinkFeature* InstallSignalLink(CSensorDlg& dlg);
