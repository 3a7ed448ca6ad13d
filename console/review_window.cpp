#include "review_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

#include "modal.h"
#include "review_chart.h"
#include "units_settings.h"

CReviewWindow::CReviewWindow(const review::CHistoryStore& store, CUnitSettings& unitSettings, QWidget* pParent)
    : QWidget(pParent, Qt::Window), m_store(store), m_unitSettings(unitSettings)
{
    Build(tr("波形回顾"));
}

CReviewWindow::CReviewWindow(review::CaptureHistory history, const QString& strPath, CUnitSettings& unitSettings,
                             QWidget* pParent)
    : QWidget(pParent, Qt::Window), m_store(*history.pStore), m_pOwned(std::move(history.pStore)),
      m_unitSettings(unitSettings)
{
    setAttribute(Qt::WA_DeleteOnClose);
    Build(tr("波形回顾 · %1").arg(QFileInfo(strPath).fileName()));
    QString strInfo = tr("%1 个数据帧 · 采样率 %2 帧/秒")
                          .arg(history.qwFrames)
                          .arg(QString::number(m_store.SampleRate(), 'f', 1));
    if (history.qwFrames > m_store.End() - m_store.Begin())
        strInfo += tr(" · 只显示最后 %1 秒").arg(QString::number(m_store.TimeOf(double(m_store.End() - m_store.Begin())), 'f', 0));
    if (history.bTruncated)
        strInfo += tr(" · 记录不完整，读到最后一个完整的记录为止");
    m_pInfo->setText(strInfo);
    m_pChart->SetFollowing(false);
    m_pChart->SetView(0, m_store.SampleRate() * CReviewChart::DEFAULT_SPAN_S);
    m_pChart->FitAmplitudes();
}

CReviewWindow::~CReviewWindow()
{
    m_refresh.stop();
}

void CReviewWindow::Build(const QString& strTitle)
{
    setWindowTitle(strTitle);
    if (parentWidget())
        setFont(parentWidget()->font());
    auto* pLayout = new QVBoxLayout(this);

    auto* pBar = new QHBoxLayout;
    auto button = [&](const QString& strText) {
        auto* pButton = new QPushButton(strText, this);
        pButton->setFocusPolicy(Qt::NoFocus);  // keys belong to the traces
        pBar->addWidget(pButton);
        return pButton;
    };
    m_pFollow = button(tr("跟随"));
    m_pFollow->setCheckable(true);
    m_pFit = button(tr("适合"));
    m_pMarker = button(tr("添加标记..."));
    m_pOpen = button(tr("打开记录..."));
    pBar->addSpacing(12);
    for (int ch = 0; ch < review::CHANNELS; ++ch) {
        auto* pBox = new QCheckBox(CReviewChart::ChannelName(ch), this);
        pBox->setChecked(true);
        pBox->setFocusPolicy(Qt::NoFocus);
        pBar->addWidget(pBox);
        m_pShow[static_cast<size_t>(ch)] = pBox;
    }
    pBar->addStretch(1);
    pLayout->addLayout(pBar);

    m_pChart = new CReviewChart(this);
    m_pChart->SetStore(&m_store);
    pLayout->addWidget(m_pChart, 1);

    m_pInfo = new QLabel(this);
    m_pSummary = new QLabel(this);
    m_pSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pLayout->addWidget(m_pInfo);
    pLayout->addWidget(m_pSummary);
    auto* pGrid = new QGridLayout;
    pGrid->addWidget(new QLabel(tr("光标 A"), this), 0, 1);
    pGrid->addWidget(new QLabel(tr("光标 B"), this), 0, 2);
    for (int ch = 0; ch < review::CHANNELS; ++ch) {
        m_pRowName[static_cast<size_t>(ch)] = new QLabel(this);
        pGrid->addWidget(m_pRowName[static_cast<size_t>(ch)], ch + 1, 0);
        for (int n = 0; n < 2; ++n) {
            auto* pValue = new QLabel(this);
            pValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            pValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
            pGrid->addWidget(pValue, ch + 1, n + 1);
            m_pValue[static_cast<size_t>(ch)][static_cast<size_t>(n)] = pValue;
        }
    }
    pGrid->setColumnStretch(3, 1);
    pGrid->setHorizontalSpacing(24);
    pLayout->addLayout(pGrid);

    const bool bLive = IsLive();
    m_pMarker->setVisible(bLive);
    m_pFollow->setVisible(bLive);
    m_pFollow->setChecked(bLive);
    connect(m_pFollow, &QPushButton::clicked, this, [this](bool bChecked) { m_pChart->SetFollowing(bChecked); });
    connect(m_pChart, &CReviewChart::FollowingChanged, m_pFollow, &QPushButton::setChecked);
    connect(m_pFit, &QPushButton::clicked, m_pChart, &CReviewChart::FitAmplitudes);
    connect(m_pMarker, &QPushButton::clicked, this, &CReviewWindow::OnAddMarker);
    connect(m_pOpen, &QPushButton::clicked, this, &CReviewWindow::OnOpenCapture);
    for (int ch = 0; ch < review::CHANNELS; ++ch)
        connect(m_pShow[static_cast<size_t>(ch)], &QCheckBox::toggled, this,
                [this, ch](bool bOn) { m_pChart->SetChannelVisible(ch, bOn); });
    connect(m_pChart, &CReviewChart::CursorsChanged, this, &CReviewWindow::UpdateReadout);
    connect(m_pChart, &CReviewChart::MarkerKey, this, [this] {
        if (IsLive())
            emit MarkerRequested(QString());
    });
    connect(&m_unitSettings, &CUnitSettings::Changed, this, &CReviewWindow::UpdateUnits);
    m_refresh.setInterval(REFRESH_MS);
    connect(&m_refresh, &QTimer::timeout, this, [this] {
        m_pChart->Refresh();
        if (IsLive())
            m_pInfo->setText(m_store.RateMeasured()
                                 ? tr("采样率 %1 帧/秒").arg(QString::number(m_store.SampleRate(), 'f', 1))
                                 : tr("采样率未测得，暂按 %1 帧/秒").arg(QString::number(m_store.SampleRate(), 'f', 0)));
    });
    UpdateUnits();
    resize(1100, 760);
}

void CReviewWindow::UpdateUnits()
{
    m_pChart->SetUnits(m_unitSettings.Units());
    for (int ch = 0; ch < review::CHANNELS; ++ch)
        m_pRowName[static_cast<size_t>(ch)]->setText(m_pChart->ChannelTitle(ch));
    UpdateReadout();
}

QString CReviewWindow::CursorSummary() const
{
    return m_pSummary->text();
}

QString CReviewWindow::CursorValue(int ch, int n) const
{
    return m_pValue[static_cast<size_t>(ch)][static_cast<size_t>(n)]->text();
}

void CReviewWindow::UpdateReadout()
{
    const auto a = m_pChart->Cursor(0), b = m_pChart->Cursor(1);
    auto at = [this](uint64_t i) { return tr("%1 秒").arg(QString::number(m_store.TimeOf(double(i)), 'f', 3)); };
    QStringList parts;
    if (a)
        parts << tr("A %1").arg(at(*a));
    if (b)
        parts << tr("B %1").arg(at(*b));
    if (a && b) {
        const double dt = std::abs(m_store.TimeOf(double(*b)) - m_store.TimeOf(double(*a)));
        parts << tr("Δt %1 秒").arg(QString::number(dt, 'f', 3));
        if (dt > 0)
            parts << tr("%1 次/分").arg(QString::number(60 / dt, 'f', 1));
    }
    const QString strHint = IsLive() ? tr("单击放光标 A，右击或 Shift+单击放光标 B；空格键冻结或跟随，M 键加标记")
                                     : tr("单击放光标 A，右击或 Shift+单击放光标 B");
    m_pSummary->setText(parts.isEmpty() ? strHint : parts.join(QStringLiteral(" · ")));
    for (int ch = 0; ch < review::CHANNELS; ++ch)
        for (int n = 0; n < 2; ++n) {
            const auto c = m_pChart->Cursor(n);
            m_pValue[static_cast<size_t>(ch)][static_cast<size_t>(n)]->setText(c ? m_pChart->ValueText(ch, *c) : QString());
        }
}

bool CReviewWindow::AskMarkerText(QWidget* pOwner, QString* pText)
{
    QInputDialog dlg(pOwner);
    dlg.setWindowTitle(tr("添加标记"));
    dlg.setLabelText(tr("标记的说明（可以不填）："));
    if (RunModal(dlg) != QDialog::Accepted)
        return false;
    *pText = dlg.textValue().trimmed();
    return true;
}

void CReviewWindow::OnAddMarker()
{
    QString strText;
    if (AskMarkerText(this, &strText))
        emit MarkerRequested(strText);
}

CReviewWindow* CReviewWindow::OpenCapture(const QString& strPath, CUnitSettings& unitSettings, QWidget* pParent,
                                          QString* pError)
{
    review::CaptureHistory history;
    std::string strError;
    if (!review::LoadCaptureHistory(QFile::encodeName(strPath).toStdString(), history, &strError)) {
        if (pError)
            *pError = QString::fromLocal8Bit(strError.c_str());
        return nullptr;
    }
    auto* pWnd = new CReviewWindow(std::move(history), strPath, unitSettings, pParent);
    pWnd->Open();
    return pWnd;
}

void CReviewWindow::OnOpenCapture()
{
    QFileDialog dlg(this, tr("打开记录"), QString(), tr("记录文件 (*.vcap);;所有文件 (*)"));
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    if (RunModal(dlg) != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    QString strError;
    if (!OpenCapture(dlg.selectedFiles().first(), m_unitSettings, parentWidget(), &strError))
        ShowMessageBox(this, tr("无法打开记录：%1").arg(strError), QString(), QMessageBox::Warning);
}

void CReviewWindow::Open()
{
    if (m_bHavePos)
        move(m_lastPos);
    else if (parentWidget())
        move(parentWidget()->geometry().topLeft() + QPoint(40, 40));
    show();
    raise();
    activateWindow();
    m_pChart->setFocus();
}

void CReviewWindow::closeEvent(QCloseEvent* e)
{
    m_lastPos = pos();
    m_bHavePos = true;
    e->accept();
}

void CReviewWindow::showEvent(QShowEvent* e)
{
    m_pChart->Refresh();
    if (IsLive())
        m_refresh.start();
    QWidget::showEvent(e);
}

void CReviewWindow::hideEvent(QHideEvent* e)
{
    m_refresh.stop();
    QWidget::hideEvent(e);
}
