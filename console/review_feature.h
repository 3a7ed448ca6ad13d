#pragma once
// The console's look back: the live review history, fed by the dialog's device link; the
// "波形回顾..." window and "添加标记..." on the system menu; and "单位设置...", whose units the
// review windows show.
#include <QObject>
#include <QPointer>
#include <QString>

#include "history_feed.h"
#include "history_store.h"

class CSensorDlg;
class CReviewWindow;
class CUnitSettings;

class CReviewFeature : public QObject {
    Q_OBJECT
public:
    // Lives as a child of dlg. unitSettings outlives it (a child of dlg made before it).
    CReviewFeature(CSensorDlg& dlg, CUnitSettings& unitSettings);
    ~CReviewFeature() override;

    // Opens (or raises) the live review window.
    void OpenWindow();
    // A marker at the newest sample: into the history and, while recording, the capture.
    void AddMarker(const QString& strText);
    // "添加标记...": asks for the marker's text, then adds it.
    void OnAddMarkerCommand();
    // "单位设置...".
    void OnUnitsCommand();

    const review::CHistoryStore& Store() const { return m_store; }
    review::CHistoryFeed& Feed() { return m_feed; }
    CReviewWindow* Window() const { return m_pWindow; }

private:
    CSensorDlg& m_dlg;
    CUnitSettings& m_unitSettings;
    review::CHistoryStore m_store;
    review::CHistoryFeed m_feed{m_store};
    CReviewWindow* m_pWindow = nullptr;  // made when first opened
};

// Adds the review history, its window and the markers and units commands to the dialog.
CReviewFeature* InstallReview(CSensorDlg& dlg);
