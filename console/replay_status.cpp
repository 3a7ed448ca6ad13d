#include "replay_status.h"

#include <QFileInfo>

#include "review_feature.h"
#include "sensor_dlg.h"
#include "signal_link.h"

CReplayStatus::CReplayStatus(CSensorDlg& dlg, const QString& strFile, double dSpeed, ProgressFn progress)
    : QObject(&dlg), m_dlg(dlg), m_strFileName(QFileInfo(strFile).fileName()), m_dSpeed(dSpeed),
      m_progress(std::move(progress))
{
    if (auto* pLink = dlg.findChild<CSignalLinkFeature*>())
        pLink->Monitor().SetTimeScale(dSpeed);
    if (auto* pReview = dlg.findChild<CReviewFeature*>())
        pReview->Feed().SetTimeScale(dSpeed);
    connect(&m_timer, &QTimer::timeout, this, &CReplayStatus::Refresh);
    m_timer.start(REFRESH_MS);
    Refresh();
}

QString CReplayStatus::FormatTime(int64_t us)
{
    const int64_t s = std::max<int64_t>(0, us) / 1000000;
    const QString strMinSec = QStringLiteral("%1:%2").arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
    return s >= 3600 ? QStringLiteral("%1:%2").arg(s / 3600).arg(strMinSec) : strMinSec;
}

QString CReplayStatus::TitleText(const QString& strFileName, const ReplayProgress& progress, double dSpeed)
{
    QString strText = tr("回放 %1 · %2 / %3 · ×%4")
                          .arg(strFileName, FormatTime(progress.positionUs), FormatTime(progress.durationUs),
                               QString::number(dSpeed, 'g', 3));
    if (progress.ended)
        strText += tr(" · 回放结束");
    return strText;
}

void CReplayStatus::Refresh()
{
    const ReplayProgress progress = m_progress();
    m_dlg.SetTitlePart(CSensorDlg::TITLE_REPLAY, TitleText(m_strFileName, progress, m_dSpeed));
    if (auto* pLink = m_dlg.findChild<CSignalLinkFeature*>())
        pLink->SetCaptureEnded(progress.ended);
}
