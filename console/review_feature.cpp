#include "review_feature.h"

#include "modal.h"
#include "resource_ids.h"
#include "review_window.h"
#include "sensor_dlg.h"
#include "units_dlg.h"
#include "units_settings.h"

CReviewFeature::CReviewFeature(CSensorDlg& dlg, CUnitSettings& unitSettings)
    : QObject(&dlg), m_dlg(dlg), m_unitSettings(unitSettings)
{
    setObjectName(QStringLiteral("review"));
    dlg.AddObserver(&m_feed);
    dlg.AddSysCommand(IDM_REVIEW, tr("波形回顾..."), [this] { OpenWindow(); });
    dlg.AddSysCommand(IDM_ADD_MARKER, tr("添加标记..."), [this] { OnAddMarkerCommand(); });
    dlg.AddSysCommand(IDM_UNITS, tr("单位设置..."), [this] { OnUnitsCommand(); });
}

// No matching RemoveObserver: this object goes with the dialog's children, after the dialog's
// own link (and its list of watchers) is gone.
CReviewFeature::~CReviewFeature() = default;

void CReviewFeature::OpenWindow()
{
    if (!m_pWindow) {
        m_pWindow = new CReviewWindow(m_store, m_unitSettings, &m_dlg);
        connect(m_pWindow, &CReviewWindow::MarkerRequested, this, &CReviewFeature::AddMarker);
    }
    m_pWindow->Open();
}

void CReviewFeature::AddMarker(const QString& strText)
{
    const uint64_t index = m_store.End() > 0 ? m_store.End() - 1 : 0;
    m_store.AddMarker(index, strText.toStdString());
    m_dlg.m_record.AddNote(strText);
    if (m_pWindow)
        m_pWindow->update();
}

void CReviewFeature::OnAddMarkerCommand()
{
    QString strText;
    if (CReviewWindow::AskMarkerText(&m_dlg, &strText))
        AddMarker(strText);
}

void CReviewFeature::OnUnitsCommand()
{
    CUnitsDlg box(m_unitSettings.Units(), &m_dlg);
    if (RunModal(box) != QDialog::Accepted)
        return;
    QString strError;
    if (!m_unitSettings.Set(box.Units(), &strError))
        ShowMessageBox(&m_dlg, tr("无法保存单位设置：%1 不可写。").arg(strError), QString(), QMessageBox::Critical);
}

CReviewFeature* InstallReview(CSensorDlg& dlg)
{
    auto* pUnits = new CUnitSettings(&dlg);
    pUnits->setObjectName(QStringLiteral("unitSettings"));
    return new CReviewFeature(dlg, *pUnits);
}
