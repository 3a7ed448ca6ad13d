#include "signal_link.h"

#include "link_light.h"
#include "platform.h"
#include "pulse_window.h"
#include "resource_ids.h"
#include "sensor_dlg.h"
#include "signal_link_window.h"
#include "units_settings.h"

CSignalLinkFeature::CSignalLinkFeature(CSensorDlg& dlg) : QObject(&dlg), m_dlg(dlg)
{
    setObjectName(QStringLiteral("signalLink"));
    // No matching RemoveObserver: this object goes with the dialog's children, after the
    // dialog's own link (and its list of watchers) is gone.
    dlg.AddObserver(&m_monitor);

    m_pLight = new CLinkLight(&dlg);
    m_pLight->setGeometry(dlg.Layout().MapDialogRect(
        QRect(LINK_LIGHT_DLU[0], LINK_LIGHT_DLU[1], LINK_LIGHT_DLU[2], LINK_LIGHT_DLU[3])));

    dlg.AddSysCommand(IDM_SIGNAL_LINK, tr("信号与链路..."), [this] { OpenWindow(); });
    dlg.AddSysCommand(IDM_PULSE_DIAGRAM, tr("脉图分析..."), [this] { OpenPulseWindow(); });

    connect(&m_lightTimer, &QTimer::timeout, this, &CSignalLinkFeature::RefreshLight);
    m_lightTimer.start(LIGHT_REFRESH_MS);
    RefreshLight();
}

void CSignalLinkFeature::OpenWindow()
{
    if (!m_pWindow)
        m_pWindow = new CSignalLinkWindow(m_monitor, &m_dlg);
    m_pWindow->Open();
}

void CSignalLinkFeature::OpenPulseWindow()
{
    if (!m_pPulseWindow) {
        m_pPulseWindow = new CPulseWindow(m_monitor.Analysis(), &m_dlg);
        // The units dialog's settings: the best hold-down pressure and the curve follow them.
        if (auto* pUnits = m_dlg.findChild<CUnitSettings*>()) {
            m_pPulseWindow->SetUnits(pUnits->Units());
            CPulseWindow* pWnd = m_pPulseWindow;
            connect(pUnits, &CUnitSettings::Changed, pWnd, [pWnd, pUnits] { pWnd->SetUnits(pUnits->Units()); });
        }
    }
    m_pPulseWindow->Open();
}

void CSignalLinkFeature::RefreshLight()
{
    const uint64_t now = m_monitor.Now();
    m_pLight->SetState(m_bCaptureEnded ? analysis::LinkLight::Closed : m_monitor.Light(now));
    const QString strTip = CSignalLinkWindow::LinkLines(m_monitor.Link(now)).join(QLatin1Char('\n'));
    if (m_pLight->toolTip() != strTip)
        m_pLight->setToolTip(strTip);
}

void CSignalLinkFeature::SetCaptureEnded(bool bEnded)
{
    if (m_bCaptureEnded == bEnded)
        return;
    m_bCaptureEnded = bEnded;
    RefreshLight();
}

CSignalLinkFeature* InstallSignalLink(CSensorDlg& dlg)
{
    return new CSignalLinkFeature(dlg);
}
