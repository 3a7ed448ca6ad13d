#include "signal_link_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "platform.h"

namespace {

QString Count(uint64_t n) { return QString::number(static_cast<qulonglong>(n)); }

} // namespace

CSignalLinkWindow::CSignalLinkWindow(const analysis::CLinkMonitor& monitor, QWidget* pParent)
    : QWidget(pParent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_monitor(monitor)
{
    setWindowTitle(tr("信号与链路"));
    if (pParent)
        setFont(pParent->font());  // the console's dialog font, as in its own windows
    auto* pLayout = new QVBoxLayout(this);
    auto addGroup = [&](const QString& strTitle, const std::vector<QString>& names, std::vector<Row>& rows) {
        auto* pGroup = new QGroupBox(strTitle, this);
        auto* pGrid = new QGridLayout(pGroup);
        pGrid->setColumnStretch(0, 1);
        pGrid->setHorizontalSpacing(16);
        for (const QString& strName : names) {
            Row row;
            row.pName = new QLabel(strName, pGroup);
            row.pValue = new QLabel(Unknown(), pGroup);
            row.pValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            row.pValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
            const int r = static_cast<int>(rows.size());
            pGrid->addWidget(row.pName, r, 0);
            pGrid->addWidget(row.pValue, r, 1);
            rows.push_back(row);
        }
        pLayout->addWidget(pGroup);
    };
    std::vector<QString> linkNames;
    for (const auto& row : LinkRows(analysis::LinkFigures()))
        linkNames.push_back(row.first);
    addGroup(tr("链路"), linkNames, m_linkRows);
    addGroup(tr("信号"),
             {tr("心率"), tr("脉率（通道1）"), tr("脉率（通道2）"), tr("脉率（通道3）"),
              tr("脉搏传导时间（通道1）"), tr("脉搏传导时间（通道2）"), tr("脉搏传导时间（通道3）")},
             m_signalRows);
    setMinimumWidth(300);

    m_refresh.setInterval(REFRESH_MS);
    connect(&m_refresh, &QTimer::timeout, this, &CSignalLinkWindow::Refresh);
}

QString CSignalLinkWindow::Unknown()
{
    return tr("—");
}

std::vector<std::pair<QString, QString>> CSignalLinkWindow::LinkRows(const analysis::LinkFigures& fig)
{
    const QString strUnknown = Unknown();
    return {
        {tr("串口"), fig.bPortOpen ? tr("已打开") : tr("已关闭")},
        {tr("数据帧速率（最近1秒）"), tr("%1 帧/秒").arg(QString::number(fig.dFrameRate, 'f', 0))},
        {tr("数据帧速率（开始观测以来）"),
         fig.frameRateSinceObserving ? tr("%1 帧/秒").arg(QString::number(*fig.frameRateSinceObserving, 'f', 1))
                                     : strUnknown},
        {tr("数据帧"), Count(fig.qwFrames)},
        {tr("校验错误帧"), Count(fig.qwBadCheck)},
        {tr("重新同步跳过字节"), Count(fig.qwSkippedBytes)},
        {tr("缓冲区溢出丢弃字节"), Count(fig.qwRingDropped)},
        {tr("已发送命令"), Count(fig.qwCommandsSent)},
        {tr("重发命令"), Count(fig.qwCommandsResent)},
        {tr("三次未应答命令"), Count(fig.qwCommandsUnanswered)},
        {tr("距上一数据帧"),
         fig.sinceLastFrameS ? tr("%1 秒").arg(QString::number(*fig.sinceLastFrameS, 'f', 1)) : strUnknown},
    };
}

QStringList CSignalLinkWindow::LinkLines(const analysis::LinkFigures& fig)
{
    QStringList lines;
    for (const auto& row : LinkRows(fig))
        lines << tr("%1：%2").arg(row.first, row.second);
    return lines;
}

void CSignalLinkWindow::Refresh()
{
    const uint64_t now = m_monitor.Now();
    const auto linkRows = LinkRows(m_monitor.Link(now));
    for (size_t i = 0; i < linkRows.size() && i < m_linkRows.size(); ++i)
        m_linkRows[i].pValue->setText(linkRows[i].second);

    const analysis::SignalFigures sig = m_monitor.Signal(now);
    const auto rate = [](const std::optional<double>& v) {
        return v ? tr("%1 次/分").arg(QString::number(*v, 'f', 1)) : Unknown();
    };
    const auto transit = [](const std::optional<double>& v) {
        return v ? tr("%1 毫秒").arg(QString::number(*v, 'f', 0)) : Unknown();
    };
    std::vector<QString> values = {rate(sig.heartRate)};
    for (const auto& v : sig.pulseRate)
        values.push_back(rate(v));
    for (const auto& v : sig.pttMs)
        values.push_back(transit(v));
    for (size_t i = 0; i < values.size() && i < m_signalRows.size(); ++i)
        m_signalRows[i].pValue->setText(values[i]);
}

QString CSignalLinkWindow::ValueOf(const QString& strName) const
{
    for (const auto* pRows : {&m_linkRows, &m_signalRows})
        for (const Row& row : *pRows)
            if (row.pName->text() == strName)
                return row.pValue->text();
    return QString();
}

void CSignalLinkWindow::Open()
{
    if (m_lastPos)
        move(*m_lastPos);
    else if (parentWidget())
        move(parentWidget()->geometry().topLeft() + QPoint(60, 60));
    show();
    raise();
    activateWindow();
}

void CSignalLinkWindow::closeEvent(QCloseEvent* e)
{
    // Only hidden: the figures go on being gathered, and the next opening finds it here.
    m_lastPos = pos();
    e->accept();
}

void CSignalLinkWindow::showEvent(QShowEvent* e)
{
    Refresh();
    m_refresh.start();
    QWidget::showEvent(e);
}

void CSignalLinkWindow::hideEvent(QHideEvent* e)
{
    m_refresh.stop();
    QWidget::hideEvent(e);
}
