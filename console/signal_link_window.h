#pragma once
// The "信号与链路" window: the link figures, the heart rate, the pulse rates and the pulse
// transit times, "—" where unknown. A window of its own, not modal, refreshed once a second
// while it is open; closing only hides it, and it opens again where it was closed.
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <optional>
#include <vector>

#include "link_monitor.h"

class QLabel;

class CSignalLinkWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int REFRESH_MS = 1000;

    CSignalLinkWindow(const analysis::CLinkMonitor& monitor, QWidget* pParent);

    // Shows the window (where it was last closed, within this run) and brings it to the front.
    void Open();
    // Reads the figures now.
    void Refresh();
    // The value shown in the row named strName (the row's label text), for tests.
    QString ValueOf(const QString& strName) const;

    // The link figures as "name: value" lines, also the link light's tooltip.
    static QStringList LinkLines(const analysis::LinkFigures& fig);
    static QString Unknown();

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    struct Row {
        QLabel* pName = nullptr;
        QLabel* pValue = nullptr;
    };
    static std::vector<std::pair<QString, QString>> LinkRows(const analysis::LinkFigures& fig);

    const analysis::CLinkMonitor& m_monitor;
    std::vector<Row> m_linkRows;
    std::vector<Row> m_signalRows;
    QTimer m_refresh;
    std::optional<QPoint> m_lastPos;  // where it was closed
};
