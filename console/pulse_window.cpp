#include "pulse_window.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "modal.h"
#include "platform.h"

using namespace analysis;

namespace {

constexpr int PLOT_WIDTH = 250;
constexpr int PLOT_HEIGHT = 130;
constexpr int TABLE_VISIBLE_ROWS = 14;
// Room around the plotted data, pixels: left, top, right, bottom.
constexpr int MARGIN[4] = {6, 16, 6, 16};

QRectF AreaOf(const QWidget& w)
{
    return QRectF(MARGIN[0], MARGIN[1], w.width() - MARGIN[0] - MARGIN[2], w.height() - MARGIN[1] - MARGIN[3]);
}

void PaintFrame(QPainter& p, const QWidget& w)
{
    p.fillRect(w.rect(), Qt::white);
    p.setPen(QPen(Qt::black, 1));
    p.drawRect(w.rect().adjusted(0, 0, -1, -1));
}

void PaintUnknown(QPainter& p, const QWidget& w)
{
    p.setPen(Qt::darkGray);
    p.drawText(w.rect(), Qt::AlignCenter, CPulseWindow::Unknown());
}

QString Fixed(double v, int decimals) { return QString::number(v, 'f', decimals); }

} // namespace

QPointF PlotPoint(const QRectF& data, const QRectF& pixels, double x, double y)
{
    const double fx = data.width() > 0 ? (x - data.left()) / data.width() : 0.5;
    const double fy = data.height() > 0 ? (y - data.top()) / data.height() : 0.5;
    return QPointF(pixels.left() + fx * pixels.width(), pixels.bottom() - fy * pixels.height());
}

// --- the averaged beat ----------------------------------------------------------------------

const QColor CBeatPlot::WAVE_COLOR(0, 64, 192);
const QColor CBeatPlot::MARK_COLOR(208, 0, 0);

CBeatPlot::CBeatPlot(QWidget* pParent) : QWidget(pParent)
{
    setMinimumSize(PLOT_WIDTH, PLOT_HEIGHT);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CBeatPlot::SetBeat(const AveragedBeat& beat)
{
    m_beat = beat;
    update();
}

QRectF CBeatPlot::PlotArea() const
{
    return AreaOf(*this);
}

QRectF CBeatPlot::DataRange() const
{
    double low = 0, high = 1;
    for (double h : m_beat.heights) {
        low = std::min(low, h);
        high = std::max(high, h);
    }
    // Room above the main peak for its label.
    return QRectF(0, low, std::max(m_beat.periodMs, 1.0), (high - low) * 1.1);
}

void CBeatPlot::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    PaintFrame(p, *this);
    if (m_beat.periodMs <= 0 || m_beat.heights.size() < 2) {
        PaintUnknown(p, *this);
        return;
    }
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF data = DataRange(), area = PlotArea();
    const auto at = [&](double ms, double h) { return PlotPoint(data, area, ms, h); };
    // The baseline: the line joining the feet.
    p.setPen(QPen(Qt::lightGray, 1));
    p.drawLine(at(0, 0), at(m_beat.periodMs, 0));
    QPainterPath wave;
    const double step = m_beat.periodMs / static_cast<double>(m_beat.heights.size() - 1);
    for (size_t k = 0; k < m_beat.heights.size(); ++k) {
        const QPointF pt = at(static_cast<double>(k) * step, m_beat.heights[k]);
        if (k == 0)
            wave.moveTo(pt);
        else
            wave.lineTo(pt);
    }
    p.setPen(QPen(WAVE_COLOR, 2));
    p.drawPath(wave);
    if (!m_beat.bPointsFound)
        return;

    const BeatPoints& b = m_beat.points;
    p.setRenderHint(QPainter::Antialiasing, false);  // marks in their own colour, pixel for pixel
    p.setPen(QPen(MARK_COLOR, 1, Qt::DashLine));
    QFont font = p.font();
    font.setPointSizeF(std::max(6.0, font.pointSizeF() - 1));
    p.setFont(font);
    const auto mark = [&](double ms, double from, double to, const QString& strLabel) {
        p.drawLine(at(ms, from), at(ms, to));
        p.drawText(at(ms, to) + QPointF(3, -3), strLabel);
    };
    mark(b.t1, 0, b.h1, QStringLiteral("h1"));
    mark(b.t3, 0, b.h3, QStringLiteral("h3"));
    mark(b.t4, 0, b.h4, QStringLiteral("h4"));
    if (b.hD > b.h4)
        mark(b.tD, b.h4, b.hD, QStringLiteral("h5"));
    const double level = 2.0 / 3 * b.h1;
    p.setPen(QPen(MARK_COLOR, 1));
    p.drawLine(at(b.w0, level), at(b.w1, level));
    p.drawText(at(b.w0, level) + QPointF(-11, 4), QStringLiteral("w"));
}

// --- the pressure-amplitude curve -----------------------------------------------------------

const QColor CPressurePlot::POINT_COLOR(110, 110, 110);
const QColor CPressurePlot::CURVE_COLOR(0, 128, 64);
const QColor CPressurePlot::BEST_COLOR(208, 0, 0);

CPressurePlot::CPressurePlot(QWidget* pParent) : QWidget(pParent)
{
    setMinimumSize(PLOT_WIDTH, PLOT_HEIGHT);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CPressurePlot::SetCurve(const std::vector<PressurePoint>& points, const PressureCurve& curve)
{
    m_points = points;
    m_curve = curve;
    update();
}

void CPressurePlot::SetUnit(const units::ChannelUnit& unit)
{
    m_unit = unit;
    update();
}

QRectF CPressurePlot::PlotArea() const
{
    return AreaOf(*this);
}

QRectF CPressurePlot::DataRange() const
{
    double high = 1;
    for (const PressurePoint& pt : m_points)
        high = std::max(high, pt.h1);
    const double span = std::max(m_curve.highest - m_curve.lowest, 1.0);
    return QRectF(m_curve.lowest, 0, span, high * 1.1);
}

void CPressurePlot::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    PaintFrame(p, *this);
    if (m_points.empty()) {
        PaintUnknown(p, *this);
        return;
    }
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF data = DataRange(), area = PlotArea();
    p.setPen(Qt::NoPen);
    p.setBrush(POINT_COLOR);
    for (const PressurePoint& pt : m_points)
        p.drawEllipse(PlotPoint(data, area, pt.pressure, pt.h1), 1.5, 1.5);
    p.setBrush(Qt::NoBrush);
    // The curve, broken where a bin has too few beats.
    p.setPen(QPen(CURVE_COLOR, 2));
    std::optional<QPointF> last;
    for (const PressureBin& bin : m_curve.bins) {
        if (!bin.curveH1) {
            last.reset();
            continue;
        }
        const QPointF pt = PlotPoint(data, area, bin.Centre(), *bin.curveH1);
        if (last)
            p.drawLine(*last, pt);
        else
            p.drawPoint(pt);
        last = pt;
    }
    // The pressures in the unit, the highest with its name.
    const auto pressure = [this](double counts) { return Fixed(m_unit.FromCounts(counts), m_unit.Digits(0)); };
    p.setPen(Qt::black);
    p.drawText(QRectF(area.left(), area.bottom() + 1, area.width(), MARGIN[3]), Qt::AlignLeft | Qt::AlignVCenter,
               pressure(m_curve.lowest));
    p.drawText(QRectF(area.left(), area.bottom() + 1, area.width(), MARGIN[3]), Qt::AlignRight | Qt::AlignVCenter,
               m_unit.IsCounts() ? pressure(m_curve.highest)
                                 : pressure(m_curve.highest) + QLatin1Char(' ') + QString::fromStdString(m_unit.name));
    if (m_curve.bestPressure) {
        const QPointF top = PlotPoint(data, area, *m_curve.bestPressure, data.bottom());
        const QPointF foot = PlotPoint(data, area, *m_curve.bestPressure, 0);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(BEST_COLOR, 1, Qt::DashLine));
        p.drawLine(top, foot);
        p.setPen(BEST_COLOR);
        p.drawText(QRectF(top.x() - 40, 0, 80, MARGIN[1]), Qt::AlignCenter, pressure(*m_curve.bestPressure));
    }
}

// --- the window -------------------------------------------------------------------------------

CPulseWindow::CPulseWindow(CSignalAnalysis& analysis, QWidget* pParent)
    : QWidget(pParent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_analysis(analysis)
{
    setWindowTitle(tr("脉图分析"));
    if (pParent)
        setFont(pParent->font());  // the console's dialog font, as in its own windows
    auto* pLayout = new QVBoxLayout(this);
    auto* pColumns = new QHBoxLayout;
    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        auto* pGroup = new QGroupBox(tr("通道%1").arg(c + 1), this);
        auto* pColumn = new QVBoxLayout(pGroup);
        pColumn->addWidget(new QLabel(tr("平均脉搏波（最近10秒）"), pGroup));
        m_pBeat[c] = new CBeatPlot(pGroup);
        pColumn->addWidget(m_pBeat[c]);
        pColumn->addWidget(new QLabel(tr("压力-脉幅曲线"), pGroup));
        m_pPressure[c] = new CPressurePlot(pGroup);
        pColumn->addWidget(m_pPressure[c]);
        pColumns->addWidget(pGroup);
    }
    pLayout->addLayout(pColumns);

    const std::vector<Row> rows = Rows(nullptr, nullptr);
    m_pTable = new QTableWidget(static_cast<int>(rows.size()), PULSE_CHANNELS, this);
    QStringList headers;
    for (int c = 0; c < PULSE_CHANNELS; ++c)
        headers << tr("通道%1").arg(c + 1);
    m_pTable->setHorizontalHeaderLabels(headers);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        m_pTable->setVerticalHeaderItem(r, new QTableWidgetItem(rows[static_cast<size_t>(r)].strName));
        for (int c = 0; c < PULSE_CHANNELS; ++c) {
            auto* pItem = new QTableWidgetItem(Unknown());
            pItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            pItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            m_pTable->setItem(r, c, pItem);
        }
    }
    m_pTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setFixedHeight(m_pTable->horizontalHeader()->sizeHint().height()
                             + TABLE_VISIBLE_ROWS * m_pTable->verticalHeader()->defaultSectionSize() + 4);
    pLayout->addWidget(m_pTable);

    auto* pButtons = new QHBoxLayout;
    m_pRestart = new QPushButton(tr("重新测量"), this);
    m_pCopy = new QPushButton(tr("复制"), this);
    m_pSave = new QPushButton(tr("保存图像..."), this);
    for (QPushButton* pButton : {m_pRestart, m_pCopy, m_pSave}) {
        pButton->setAutoDefault(false);
        pButtons->addWidget(pButton);
    }
    pButtons->addStretch(1);
    pLayout->addLayout(pButtons);
    connect(m_pRestart, &QPushButton::clicked, this, &CPulseWindow::Restart);
    connect(m_pCopy, &QPushButton::clicked, this, &CPulseWindow::CopyTable);
    connect(m_pSave, &QPushButton::clicked, this, &CPulseWindow::AskAndSave);

    m_refresh.setInterval(REFRESH_MS);
    connect(&m_refresh, &QTimer::timeout, this, &CPulseWindow::Refresh);
}

QString CPulseWindow::Unknown()
{
    return tr("—");
}

QString CPulseWindow::PositionText(PulsePosition position, PeakEnd end)
{
    QString strText;
    switch (position) {
    case PulsePosition::Floating: strText = tr("浮"); break;
    case PulsePosition::Middle: strText = tr("中"); break;
    case PulsePosition::Deep: strText = tr("沉"); break;
    case PulsePosition::Unknown: return Unknown();
    }
    if (end == PeakEnd::Low)
        strText += tr("（峰在扫描低端）");
    else if (end == PeakEnd::High)
        strText += tr("（峰在扫描高端）");
    return strText;
}

std::vector<CPulseWindow::Row> CPulseWindow::Rows(const PulseDiagram* diagrams, const PressureCurve* curves) const
{
    struct Figure {
        int id;
        QString strName;
    };
    const Figure figures[] = {
        {PF_H1, tr("h1 主波幅度")},        {PF_H3_H1, tr("h3/h1 重搏前波")},   {PF_H4_H1, tr("h4/h1 降中峡")},
        {PF_H5_H1, tr("h5/h1 重搏波")},    {PF_T1, tr("t1 主波时间（毫秒）")}, {PF_T3, tr("t3 重搏前波时间（毫秒）")},
        {PF_T4, tr("t4 收缩期（毫秒）")},  {PF_T5, tr("t5 舒张期（毫秒）")},   {PF_T, tr("t 脉动周期（毫秒）")},
        {PF_W, tr("w 主波上1/3宽度（毫秒）")}, {PF_W_T, tr("w/t")},          {PF_T1_T, tr("t1/t")},
        {PF_T4_T5, tr("t4/t5")},           {PF_AS, tr("As 收缩期面积")},      {PF_AD, tr("Ad 舒张期面积")},
    };
    std::vector<Row> rows;
    for (const Figure& f : figures) {
        Row row;
        row.strName = f.strName;
        rows.push_back(row);
    }
    for (int h = 2; h <= HARMONICS; ++h) {
        Row row;
        row.strName = tr("谐波 C%1").arg(h);
        rows.push_back(row);
    }
    // The best hold-down pressure's unit in its label when the channels share one, else in its values.
    const bool bOneUnit = m_units.OneName();
    const QString strBest = bOneUnit && !m_units.AllCounts()
                              ? tr("最佳取法压力（%1）").arg(QString::fromStdString(m_units.ch[0].name))
                              : tr("最佳取法压力");
    const QString extra[] = {tr("搏数（计入/有效/剔除）"), strBest, tr("浮沉系数"), tr("脉位")};
    for (const QString& strName : extra) {
        Row row;
        row.strName = strName;
        rows.push_back(row);
    }
    if (!diagrams || !curves)
        return rows;

    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        const PulseDiagram& d = diagrams[c];
        const PressureCurve& curve = curves[c];
        size_t r = 0;
        const auto figure = [&](int id) {
            rows[r++].values[c] = d.median[id] ? Fixed(*d.median[id], FigureInfo(id).decimals) : Unknown();
        };
        for (const Figure& f : figures)
            figure(f.id);
        for (int h = 2; h <= HARMONICS; ++h)
            figure(PF_C2 + h - 2);
        rows[r++].values[c] = QStringLiteral("%1 / %2 / %3").arg(d.used).arg(d.beats).arg(d.rejected);
        const units::ChannelUnit& unit = m_units.ch[c];
        QString& strBestValue = rows[r++].values[c];
        strBestValue = curve.bestPressure ? Fixed(unit.FromCounts(*curve.bestPressure), unit.Digits(0)) : Unknown();
        if (curve.bestPressure && !bOneUnit)
            strBestValue += QLatin1Char(' ') + (unit.IsCounts() ? tr("计数") : QString::fromStdString(unit.name));
        rows[r++].values[c] = curve.depth ? Fixed(*curve.depth, 3) : Unknown();
        rows[r++].values[c] = PositionText(curve.position, curve.peakEnd);
    }
    return rows;
}

void CPulseWindow::Refresh()
{
    const uint64_t now = Platform().GetMicroseconds();
    PulseDiagram diagrams[PULSE_CHANNELS];
    PressureCurve curves[PULSE_CHANNELS];
    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        diagrams[c] = m_analysis.PulseDiagramOf(c, now);
        curves[c] = m_analysis.PressureCurveOf(c);
        m_pBeat[c]->SetBeat(diagrams[c].averaged);
        m_pPressure[c]->SetCurve(m_analysis.PressurePointsOf(c), curves[c]);
    }
    const std::vector<Row> rows = Rows(diagrams, curves);
    for (int r = 0; r < static_cast<int>(rows.size()) && r < m_pTable->rowCount(); ++r) {
        m_pTable->verticalHeaderItem(r)->setText(rows[static_cast<size_t>(r)].strName);
        for (int c = 0; c < PULSE_CHANNELS; ++c)
            m_pTable->item(r, c)->setText(rows[static_cast<size_t>(r)].values[c]);
    }
}

void CPulseWindow::Restart()
{
    m_analysis.RestartPressureCurves();
    Refresh();
}

void CPulseWindow::SetUnits(const units::PressureUnits& u)
{
    m_units = u;
    for (int c = 0; c < PULSE_CHANNELS; ++c)
        m_pPressure[c]->SetUnit(u.ch[c]);
    Refresh();
}

QString CPulseWindow::TableText() const
{
    QStringList lines;
    QStringList header{QString()};
    for (int c = 0; c < m_pTable->columnCount(); ++c)
        header << m_pTable->horizontalHeaderItem(c)->text();
    lines << header.join(QLatin1Char('\t'));
    for (int r = 0; r < m_pTable->rowCount(); ++r) {
        QStringList cells{m_pTable->verticalHeaderItem(r)->text()};
        for (int c = 0; c < m_pTable->columnCount(); ++c)
            cells << m_pTable->item(r, c)->text();
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString CPulseWindow::ValueOf(const QString& strName, int c) const
{
    for (int r = 0; r < m_pTable->rowCount(); ++r)
        if (m_pTable->verticalHeaderItem(r)->text() == strName && c >= 0 && c < m_pTable->columnCount())
            return m_pTable->item(r, c)->text();
    return QString();
}

void CPulseWindow::CopyTable()
{
    QApplication::clipboard()->setText(TableText());
}

bool CPulseWindow::SaveImage(const QString& strPath)
{
    return grab().save(strPath, "PNG");
}

void CPulseWindow::AskAndSave()
{
    QString strDir = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    QFileDialog dlg(this, tr("保存图像"), strDir, tr("PNG 图像 (*.png)"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setDefaultSuffix(QStringLiteral("png"));
    dlg.selectFile(QStringLiteral("veltrin-pulse.png"));
    if (RunModal(dlg) != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    const QString strPath = dlg.selectedFiles().first();
    if (!SaveImage(strPath))
        ShowMessageBox(this, tr("无法写入图像文件 %1。").arg(strPath), QString(), QMessageBox::Critical);
}

void CPulseWindow::Open()
{
    if (m_lastPos)
        move(*m_lastPos);
    else if (parentWidget())
        move(parentWidget()->geometry().topLeft() + QPoint(80, 40));
    show();
    raise();
    activateWindow();
}

void CPulseWindow::closeEvent(QCloseEvent* e)
{
    // Only hidden: the beats go on being measured, and the next opening finds it here.
    m_lastPos = pos();
    e->accept();
}

void CPulseWindow::showEvent(QShowEvent* e)
{
    Refresh();
    m_refresh.start();
    QWidget::showEvent(e);
}

void CPulseWindow::hideEvent(QHideEvent* e)
{
    m_refresh.stop();
    QWidget::hideEvent(e);
}
