#pragma once
// The console on a replayed capture says so: the title names the capture, where the replay is,
// how long it lasts and its speed, and "回放结束" once it has played out, when the link light
// turns grey as well. The link figures and the review history run on the capture's own clock
// (the platform's time times the speed), so a replay at any speed shows the recorded rates.
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

#include "sensor_sim.h"

class CSensorDlg;

class CReplayStatus : public QObject {
    Q_OBJECT
public:
    static constexpr int REFRESH_MS = 250;
    using ProgressFn = std::function<ReplayProgress()>;

    // Lives as a child of dlg; progress is asked from the replaying sensor.
    CReplayStatus(CSensorDlg& dlg, const QString& strFile, double dSpeed, ProgressFn progress);

    // Title and light from the progress now.
    void Refresh();

    // "回放 session.vcap · 00:12 / 01:03 · ×4", with " · 回放结束" once it has ended.
    static QString TitleText(const QString& strFileName, const ReplayProgress& progress, double dSpeed);
    // Minutes and seconds, hours in front when there are any: "00:12", "1:02:03".
    static QString FormatTime(int64_t us);

private:
    CSensorDlg& m_dlg;
    QString m_strFileName;
    double m_dSpeed;
    ProgressFn m_progress;
    QTimer m_timer;
};
