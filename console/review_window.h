#pragma once
// The "波形回顾" window: the traces of the review history, the controls around them (follow,
// fit, markers, opening a capture, the channels shown) and the cursor readout. A window of its
// own, not modal. The console's window shows the live history and hides when closed; a window
// opened on a capture holds that capture's history and goes when closed.
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>

#include "capture_history.h"
#include "history_store.h"

class QCheckBox;
class QLabel;
class QPushButton;
class CReviewChart;
class CUnitSettings;

class CReviewWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int REFRESH_MS = 100;  // a following view moves on this often

    // The live history, fed by the console; not owned.
    CReviewWindow(const review::CHistoryStore& store, CUnitSettings& unitSettings, QWidget* pParent);
    // A capture's history, owned.
    CReviewWindow(review::CaptureHistory history, const QString& strPath, CUnitSettings& unitSettings,
                  QWidget* pParent);
    ~CReviewWindow() override;

    bool IsLive() const { return !m_pOwned; }
    // Shows the window (where it was last closed) and brings it to the front.
    void Open();
    CReviewChart* Chart() const { return m_pChart; }
    QPushButton* FollowButton() const { return m_pFollow; }
    QCheckBox* ChannelBox(int ch) const { return m_pShow[static_cast<size_t>(ch)]; }
    // The readout as shown: the summary line, and channel ch's value at cursor n (0: A, 1: B).
    QString CursorSummary() const;
    QString CursorValue(int ch, int n) const;

    // Opens the capture at strPath in a window of its own (nullptr with *pError when it cannot
    // be read).
    static CReviewWindow* OpenCapture(const QString& strPath, CUnitSettings& unitSettings, QWidget* pParent,
                                      QString* pError);
    // "打开记录...": asks for a capture and opens it.
    void OnOpenCapture();
    // The text of a new marker, asked for in a box owned by pOwner; false when cancelled.
    static bool AskMarkerText(QWidget* pOwner, QString* pText);

signals:
    // A marker at the newest sample with this text (live windows only).
    void MarkerRequested(const QString& strText);

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    void Build(const QString& strTitle);
    void UpdateReadout();
    void UpdateUnits();
    void OnAddMarker();

    const review::CHistoryStore& m_store;
    std::unique_ptr<review::CHistoryStore> m_pOwned;
    CUnitSettings& m_unitSettings;
    CReviewChart* m_pChart = nullptr;
    QPushButton* m_pFollow = nullptr;
    QPushButton* m_pFit = nullptr;
    QPushButton* m_pMarker = nullptr;
    QPushButton* m_pOpen = nullptr;
    QLabel* m_pInfo = nullptr;
    QLabel* m_pSummary = nullptr;
    std::array<QCheckBox*, review::CHANNELS> m_pShow{};
    std::array<QLabel*, review::CHANNELS> m_pRowName{};
    std::array<std::array<QLabel*, 2>, review::CHANNELS> m_pValue{};
    QTimer m_refresh;
    bool m_bHavePos = false;
    QPoint m_lastPos;
};
