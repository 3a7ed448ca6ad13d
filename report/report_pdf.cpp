#include "report_pdf.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "decode_stats.h"
#include "pulse_export.h"
#include "report_layout.h"
#include "veltrin_version.h"

namespace report {

namespace {

// Latin letters and digits from a plain sans-serif face, the Chinese from a Song (Ming) face:
// the ones Debian packages for the console first, then what Windows and other desktops have.
const QStringList REPORT_FACES = {QStringLiteral("DejaVu Sans"), QStringLiteral("AR PL UMing CN"),
                                  QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                                  QStringLiteral("Noto Sans CJK SC")};
constexpr double TITLE_PT = 20;
constexpr double HEADING_PT = 11;
constexpr double BODY_PT = 9;
constexpr double SMALL_PT = 7.5;
constexpr double ROW_H = 52;          // a line of body text, tenths of a millimetre
constexpr double HEADING_ROW_H = 70;
constexpr double LABEL_W = 270;       // the label of a label-value pair
const QColor INK(0x20, 0x20, 0x20);
const QColor PALE(0x70, 0x70, 0x70);
const QColor RULE(0xB0, 0xB0, 0xB0);
const QColor GRID(0xE2, 0xE2, 0xE2);
const QColor TRACE(0x10, 0x30, 0x80);
const QColor TRACE_LIGHT(0x9A, 0xB0, 0xD8);
const QColor MARK(0xB0, 0x20, 0x20);  // points of the averaged beat, the best hold-down pressure
constexpr double CURVE_HEADROOM = 0.15;
constexpr double GAP_STEPS = 1.5;     // a step this many times the usual one is a gap
constexpr double CURVE_MIN_SPAN = 1;   // counts: a flat curve is drawn flat, with a scale one can read
constexpr double BOX_RIGHT_ROOM = 20;  // between a box's plotting area and its right edge
constexpr double MARK_REACH = 0.04;   // a dip is looked for this share of the x range either side
constexpr double PROGRESS_OF_SUMMARY = 0.95;  // the pages take the rest

QString Program()
{
    return QStringLiteral("Veltrin %1").arg(QLatin1String(VELTRIN_VERSION));
}

QFont Font(double pt, bool bBold = false)
{
    QFont f;
    f.setFamilies(REPORT_FACES);
    f.setPointSizeF(pt);
    f.setBold(bBold);
    return f;
}

// Draws a section's heading with a rule under it at y and moves y below it.
void Heading(QPainter& p, double& y, const QString& strText)
{
    const QRectF c = ContentRect();
    p.setFont(Font(HEADING_PT, true));
    p.setPen(INK);
    p.drawText(QRectF(c.left(), y, c.width(), HEADING_ROW_H - 10), Qt::AlignLeft | Qt::AlignBottom, strText);
    p.setPen(QPen(RULE, 3));
    p.drawLine(QPointF(c.left(), y + HEADING_ROW_H - 4), QPointF(c.right(), y + HEADING_ROW_H - 4));
    y += HEADING_ROW_H + 12;
}

// Label-value pairs in columns, row by row from y; y moves below them. shares: each column's
// part of the width. An empty value is a line to write on.
void Pairs(QPainter& p, double& y, const QList<QPair<QString, QString>>& pairs, const std::vector<double>& shares)
{
    const QRectF c = ContentRect();
    const int nColumns = static_cast<int>(shares.size());
    p.setFont(Font(BODY_PT));
    const QFontMetricsF fm(p.font(), p.device());
    std::vector<double> left(nColumns, c.left()), width(nColumns, 0), labelW(nColumns, LABEL_W);
    for (int k = 0; k < nColumns; ++k) {
        width[k] = c.width() * shares[k];
        if (k > 0)
            left[k] = left[k - 1] + width[k - 1];
    }
    // Each column's labels fit the longest of them (translations differ in length).
    for (int i = 0; i < pairs.size(); ++i)
        labelW[i % nColumns] = std::max(labelW[i % nColumns], fm.horizontalAdvance(pairs[i].first) + 25);
    for (int i = 0; i < pairs.size(); ++i) {
        const int k = i % nColumns;
        const double lw = std::min(labelW[k], width[k] * 0.6);
        const double top = y + (i / nColumns) * ROW_H;
        const QRectF label(left[k], top, lw, ROW_H);
        const QRectF value(left[k] + lw, top, width[k] - lw - 30, ROW_H);
        p.setPen(PALE);
        p.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, pairs[i].first);
        p.setPen(INK);
        if (pairs[i].second.isEmpty()) {
            p.setPen(QPen(PALE, 2));
            p.drawLine(QPointF(value.left(), value.bottom() - 8), QPointF(value.right(), value.bottom() - 8));
        } else {
            p.drawText(value, Qt::AlignLeft | Qt::AlignVCenter, pairs[i].second);
        }
    }
    y += ((pairs.size() + nColumns - 1) / nColumns) * ROW_H + 20;
}

const std::vector<double> TWO_COLUMNS = {0.6, 0.4};
const std::vector<double> THREE_COLUMNS = {1.0 / 3, 1.0 / 3, 1.0 / 3};

// A table: a header row, then rows; the first column is the widest.
void Table(QPainter& p, double& y, const QStringList& header, const QList<QStringList>& rows)
{
    const QRectF c = ContentRect();
    const int nCols = header.size();
    const double first = c.width() * 0.34;
    const double w = (c.width() - first) / (nCols - 1);
    auto cell = [&](int k, double top) {
        return k == 0 ? QRectF(c.left(), top, first, ROW_H) : QRectF(c.left() + first + (k - 1) * w, top, w, ROW_H);
    };
    p.setFont(Font(BODY_PT, true));
    p.setPen(INK);
    for (int k = 1; k < nCols; ++k)
        p.drawText(cell(k, y), Qt::AlignCenter, header[k]);
    y += ROW_H;
    p.setFont(Font(BODY_PT));
    for (int r = 0; r < rows.size(); ++r) {
        if (r % 2 == 0)
            p.fillRect(QRectF(c.left(), y, c.width(), ROW_H), QColor(0xF4, 0xF4, 0xF4));
        for (int k = 0; k < nCols && k < rows[r].size(); ++k) {
            p.setPen(k == 0 ? PALE : INK);
            p.drawText(cell(k, y).adjusted(k == 0 ? 10 : 0, 0, 0, 0), (k == 0 ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter,
                       rows[r][k]);
        }
        y += ROW_H;
    }
    y += 20;
}

// A frame with a title at its top left; returns the plotting area inside.
QRectF Box(QPainter& p, const QRectF& box, const QString& strTitle)
{
    p.setPen(QPen(RULE, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(box);
    p.setFont(Font(SMALL_PT));
    p.setPen(PALE);
    p.drawText(box.adjusted(12, 6, -12, 0), Qt::AlignLeft | Qt::AlignTop, strTitle);
    return box.adjusted(80, 60, -BOX_RIGHT_ROOM, -50);
}

void Unknown(QPainter& p, const QRectF& area)
{
    p.setFont(Font(HEADING_PT));
    p.setPen(PALE);
    p.drawText(area, Qt::AlignCenter, QStringLiteral("\u2014"));
}

// Tick values of step over [lo, hi], as texts with the digits the step needs.
std::vector<std::pair<double, QString>> Ticks(double lo, double hi, double step)
{
    std::vector<std::pair<double, QString>> ticks;
    const int nDigits = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
    for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + step * 1e-9; k += 1)
        ticks.emplace_back(k * step, QString::number(k * step, 'f', nDigits));
    return ticks;
}

// Points as a line over their own range (x and y) with a scale on both axes, marks labelled
// where given and a dashed upright line at atX; "—" when there are none.
void Curve(QPainter& p, const QRectF& area, const std::vector<Point>& points,
           const std::vector<std::pair<std::string, Point>>& marks = {}, const std::optional<double>& atX = {})
{
    if (points.size() < 2) {
        Unknown(p, area);
        return;
    }
    std::vector<double> xs, ys;
    for (const Point& pt : points) {
        xs.push_back(pt.x);
        ys.push_back(pt.y);
    }
    const auto [x0, x1] = ValueRange(xs, 1e-9);
    auto [y0, y1] = ValueRange(ys, CURVE_MIN_SPAN);
    y1 += (y1 - y0) * CURVE_HEADROOM;  // room for the labels of the marks at the top
    p.setFont(Font(SMALL_PT));
    const QFontMetricsF fm(p.font(), p.device());
    for (const auto& [v, strText] : Ticks(x0, x1, TickStep(x0, x1, 5))) {
        const QPointF a = MapPoint(area, v, x0, x1, y0, y0, y1);
        p.setPen(QPen(GRID, 2));
        p.drawLine(a, QPointF(a.x(), area.top()));
        p.setPen(PALE);
        // Under its tick, but no further right than the box's margin allows.
        const double w = fm.horizontalAdvance(strText) + 4;
        p.drawText(QRectF(std::min(a.x() - w / 2, area.right() + BOX_RIGHT_ROOM - 8 - w), area.bottom() + 4, w, 40),
                   Qt::AlignCenter, strText);
    }
    for (const auto& [v, strText] : Ticks(y0, y1, TickStep(y0, y1, 3))) {
        const QPointF a = MapPoint(area, x0, x0, x1, v, y0, y1);
        p.setPen(QPen(GRID, 2));
        p.drawLine(a, QPointF(area.right(), a.y()));
        p.setPen(PALE);
        p.drawText(QRectF(area.left() - 80, a.y() - 25, 72, 50), Qt::AlignRight | Qt::AlignVCenter, strText);
    }
    if (atX) {
        p.setPen(QPen(MARK, 3, Qt::DashLine));
        p.drawLine(MapPoint(area, *atX, x0, x1, y0, y0, y1), MapPoint(area, *atX, x0, x1, y1, y0, y1));
    }
    // Points come at even steps; where one is missing (a bin of the curve with too few beats),
    // the line breaks rather than bridge the gap.
    double step = x1 - x0;
    for (size_t i = 1; i < points.size(); ++i)
        if (points[i].x > points[i - 1].x)
            step = std::min(step, points[i].x - points[i - 1].x);
    p.setPen(QPen(TRACE, 3, Qt::SolidLine, Qt::RoundCap));
    QPolygonF line;
    const auto flush = [&] {
        if (line.size() == 1) {  // a piece of one point still shows
            p.setBrush(TRACE);
            p.drawEllipse(line.first(), 5, 5);
            p.setBrush(Qt::NoBrush);
        } else {
            p.drawPolyline(line);
        }
        line.clear();
    };
    for (size_t i = 0; i < points.size(); ++i) {
        if (i > 0 && points[i].x - points[i - 1].x > GAP_STEPS * step)
            flush();
        line << MapPoint(area, points[i].x, x0, x1, points[i].y, y0, y1);
    }
    flush();
    // A mark's label goes above it, or below where the line dips there (the notch), clear of the
    // marks on the wave's rises either side.
    const auto dips = [&](const Point& m) {
        const double reach = (x1 - x0) * MARK_REACH;
        bool bLeft = false, bRight = false;
        for (const Point& pt : points) {
            if (std::abs(pt.x - m.x) > reach || std::abs(pt.x - m.x) < reach / 2)
                continue;
            (pt.x < m.x ? bLeft : bRight) = pt.y > m.y;
        }
        return bLeft && bRight;
    };
    for (const auto& mark : marks) {
        const QPointF at = MapPoint(area, mark.second.x, x0, x1, mark.second.y, y0, y1);
        p.setPen(Qt::NoPen);
        p.setBrush(MARK);
        p.drawEllipse(at, 8, 8);
        p.setPen(MARK);
        p.drawText(at + (dips(mark.second) ? QPointF(-10, 40) : QPointF(12, -10)), QString::fromStdString(mark.first));
    }
    p.setBrush(Qt::NoBrush);
}

} // namespace

CSessionReport::CSessionReport(const SessionSummary& summary, const ReportFields& fields)
    : m_summary(summary), m_fields(fields)
{
}

QString CSessionReport::Title()
{
    return tr("脉象检测报告");
}

QString CSessionReport::HrvNote() const
{
    return tr("短时心率变异性的标准记录长度为 5 分钟。SDNN、RMSSD、pNN50 需要至少 60 秒的正常心搏间期（NN），"
              "LF、HF 与 LF/HF 需要至少 120 秒不间断的 NN 间期，不足时显示“—”。本记录的 NN 间期共 %1 秒。")
        .arg(m_summary.hrv.nnTotalS, 0, 'f', 0);
}

void CSessionReport::PaintPage(QPainter& p, int nPage) const
{
    p.setRenderHint(QPainter::Antialiasing);
    if (nPage == 0)
        PaintPageOne(p);
    else
        PaintPageTwo(p);
    PaintFooter(p, nPage);
}

void CSessionReport::PaintPageOne(QPainter& p) const
{
    const QRectF c = ContentRect();
    const SessionSummary& s = m_summary;
    double y = c.top();
    p.setFont(Font(TITLE_PT, true));
    p.setPen(INK);
    p.drawText(QRectF(c.left(), y, c.width(), 110), Qt::AlignCenter, Title());
    y += 110;
    p.setFont(Font(SMALL_PT));
    p.setPen(PALE);
    p.drawText(QRectF(c.left(), y, c.width(), 50), Qt::AlignCenter,
               tr("由 %1 于 %2 根据记录 %3 生成")
                   .arg(Program(), QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                        QString::fromStdString(s.strCaptureName)));
    y += 70;

    Heading(p, y, tr("受检者"));
    Pairs(p, y, {{tr("姓名"), m_fields.strName}, {tr("年龄"), m_fields.strAge}, {tr("性别"), m_fields.strSex}}, THREE_COLUMNS);
    {
        // The notes: their text, or two lines to write on.
        p.setFont(Font(BODY_PT));
        p.setPen(PALE);
        p.drawText(QRectF(c.left(), y, LABEL_W, ROW_H), Qt::AlignLeft | Qt::AlignVCenter, tr("备注"));
        const QRectF notes(c.left() + LABEL_W, y, c.width() - LABEL_W - 30, 2 * ROW_H);
        if (m_fields.strNotes.trimmed().isEmpty()) {
            p.setPen(QPen(PALE, 2));
            for (int k = 1; k <= 2; ++k)
                p.drawLine(QPointF(notes.left(), notes.top() + k * ROW_H - 8), QPointF(notes.right(), notes.top() + k * ROW_H - 8));
        } else {
            p.setPen(INK);
            p.drawText(notes.adjusted(0, 10, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_fields.strNotes);
        }
        y += 2 * ROW_H + 20;
    }

    Heading(p, y, tr("记录"));
    QString strPort = s.nPort > 0 ? QStringLiteral("COM%1").arg(s.nPort) : QString();
    for (const std::string& part : {s.strPortPath, s.strSettings})
        if (!part.empty())
            strPort += (strPort.isEmpty() ? QString() : QStringLiteral("  ")) + QString::fromStdString(part);
    QString strInfo = QStringLiteral("\u2014");
    if (s.deviceInfo)
        strInfo = QStringLiteral("%1, %2, %3, %4").arg((*s.deviceInfo)[0]).arg((*s.deviceInfo)[1]).arg((*s.deviceInfo)[2]).arg((*s.deviceInfo)[3]);
    auto orDash = [](const QString& str) { return str.isEmpty() ? QStringLiteral("\u2014") : str; };
    Pairs(p, y,
          {{tr("开始时间"), orDash(StartText(s.strStart))},
           {tr("时长"), DurationText(s.durationS)},
           {tr("端口"), orDash(strPort)},
           {tr("设备信息"), strInfo},
           {tr("记录程序"), orDash(QString::fromStdString(s.strWriter))},
           {tr("报告程序"), Program()}},
          TWO_COLUMNS);

    Heading(p, y, tr("摘要"));
    Pairs(p, y, {{tr("心率（次/分）"), FigureText(s.signal.heartRate)}}, TWO_COLUMNS);
    QList<QStringList> rows;
    auto perChannel = [&](const QString& strLabel, auto value) {
        QStringList row{strLabel};
        for (int ch = 0; ch < analysis::PULSE_CHANNELS; ++ch)
            row << value(ch);
        rows << row;
    };
    perChannel(tr("脉率（次/分）"), [&](int ch) { return FigureText(s.signal.pulseRate[ch]); });
    perChannel(tr("脉搏传导时间（毫秒）"), [&](int ch) { return FigureText(s.signal.pttMs[ch]); });
    // The pulse reading of each channel, each figure with the digits --stats gives it; the
    // best hold-down pressure in the units, named in the label when the channels share one.
    const units::PressureUnits& u = s.pressureUnits;
    const bool bOneUnit = u.OneName();
    perChannel(bOneUnit && !u.AllCounts() ? tr("最佳取脉压力（%1）").arg(QString::fromStdString(u.ch[0].name)) : tr("最佳取脉压力"),
               [&](int ch) {
                   const QString strValue = FigureText(s.pulse[ch].bestPressure, u.ch[ch].Digits(BEST_PRESSURE_DIGITS));
                   return bOneUnit || !s.pulse[ch].bestPressure ? strValue : strValue + QLatin1Char(' ') + UnitName(u.ch[ch]);
               });
    perChannel(tr("脉位"), [&](int ch) { return PositionText(s.pulse[ch]); });
    using namespace analysis;
    const auto figure = [&](const QString& strLabel, std::optional<double> PulseReading::*pField, int nFigure) {
        perChannel(strLabel, [&](int ch) { return FigureText(s.pulse[ch].*pField, FigureInfo(nFigure).decimals); });
    };
    figure(QStringLiteral("h1"), &PulseReading::h1, PF_H1);
    figure(QStringLiteral("h3/h1"), &PulseReading::h3h1, PF_H3_H1);
    figure(QStringLiteral("h4/h1"), &PulseReading::h4h1, PF_H4_H1);
    figure(QStringLiteral("h5/h1"), &PulseReading::h5h1, PF_H5_H1);
    figure(tr("t1（毫秒）"), &PulseReading::t1Ms, PF_T1);
    figure(tr("t4（毫秒）"), &PulseReading::t4Ms, PF_T4);
    figure(tr("t5（毫秒）"), &PulseReading::t5Ms, PF_T5);
    figure(QStringLiteral("w/t"), &PulseReading::wt, PF_W_T);
    Table(p, y, {QString(), tr("通道 1"), tr("通道 2"), tr("通道 3")}, rows);

    Heading(p, y, tr("心率变异性"));
    Pairs(p, y,
          {{tr("NN 间期数"), QString::number(s.hrv.nnCount)},
           {tr("SDNN（毫秒）"), FigureText(s.hrv.sdnnMs)},
           {tr("RMSSD（毫秒）"), FigureText(s.hrv.rmssdMs)},
           {tr("pNN50（%）"), FigureText(s.hrv.pnn50Pct)},
           {tr("LF（毫秒²）"), FigureText(s.hrv.lfMs2)},
           {tr("HF（毫秒²）"), FigureText(s.hrv.hfMs2)},
           {tr("LF/HF"), FigureText(s.hrv.lfHf, CDecodeStats::LF_HF_DIGITS)}},
          THREE_COLUMNS);
    p.setFont(Font(SMALL_PT));
    p.setPen(PALE);
    const QRectF note(c.left(), y, c.width(), 2 * ROW_H);
    p.drawText(note, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, HrvNote());
    y += 2 * ROW_H;

    Heading(p, y, tr("链路质量"));
    Pairs(p, y,
          {{tr("数据帧"), QString::number(s.qwFrames)},
           {tr("帧率（帧/秒）"), FigureText(s.frameRateHz)},
           {tr("校验错误"), QString::number(s.qwBadCheck)},
           {tr("跳过的字节"), QString::number(s.qwSkippedBytes)},
           {tr("数据中断"), QString::number(std::max(0, s.nDataRuns - 1))}},
          THREE_COLUMNS);
}

void CSessionReport::PaintPageTwo(QPainter& p) const
{
    const PageTwoLayout l = LayoutPageTwo();
    double y = l.beat[0].top() - HEADING_ROW_H - 12;
    Heading(p, y, tr("脉图"));
    PaintPulseReadings(p);
    y = l.heartRate.top() - HEADING_ROW_H - 12;
    Heading(p, y, tr("心率趋势"));
    PaintHeartRate(p, l.heartRate);
    y = l.strip.top() - HEADING_ROW_H - 12;
    QString strStrip = tr("10 秒波形");
    if (!m_summary.strip.samples.empty())
        strStrip += QLatin1Char(' ') + (m_summary.strip.bClean ? tr("（自记录第 %1 起，最平稳的一段）") : tr("（自记录第 %1 起；没有无误的 10 秒，取最好的一段）"))
                                           .arg(DurationText(m_summary.strip.startS));
    Heading(p, y, strStrip);
    PaintStrip(p, l.strip);
}

void CSessionReport::PaintPulseReadings(QPainter& p) const
{
    // The averaged beat and the pressure-amplitude curve of each channel, the best hold-down
    // pressure marked on the curve.
    const PageTwoLayout l = LayoutPageTwo();
    for (int ch = 0; ch < analysis::PULSE_CHANNELS; ++ch) {
        const PulseReading& r = m_summary.pulse[ch];
        Curve(p, Box(p, l.beat[ch], tr("平均脉搏波 · 通道 %1（毫秒，计数）").arg(ch + 1)), r.averagedBeat, r.beatMarks);
        Curve(p, Box(p, l.curve[ch], tr("压力-幅度曲线 · 通道 %1（%2，计数）").arg(ch + 1).arg(UnitName(m_summary.pressureUnits.ch[ch]))),
              r.pressureAmplitude, {}, r.bestPressure);
    }
}

QString CSessionReport::UnitName(const units::ChannelUnit& unit)
{
    return unit.IsCounts() ? tr("计数") : QString::fromStdString(unit.name);
}

QString CSessionReport::PositionText(const PulseReading& r)
{
    QString strText = r.position == "floating" ? tr("浮") : r.position == "middle" ? tr("中") : r.position == "deep" ? tr("沉") : QString();
    if (strText.isEmpty())
        return QStringLiteral("\u2014");
    if (r.peakEnd == "low")
        strText += tr("（峰在扫描低端）");
    else if (r.peakEnd == "high")
        strText += tr("（峰在扫描高端）");
    return strText;
}

void CSessionReport::PaintHeartRate(QPainter& p, const QRectF& box) const
{
    const QRectF area = Box(p, box, tr("心率（次/分）：浅色逐搏，深色为每 10 秒的中位数；横轴为分钟"));
    const std::vector<Point>& hr = m_summary.heartRate;
    if (hr.size() < 2) {
        Unknown(p, area);
        return;
    }
    std::vector<double> bpm;
    for (const Point& pt : hr)
        bpm.push_back(pt.y);
    const auto [lo, hi] = ValueRange(bpm, 10);
    const double x1 = std::max(m_summary.durationS, hr.back().x) / 60;
    // Grid and tick labels.
    p.setFont(Font(SMALL_PT));
    const double yStep = TickStep(lo, hi, 4);
    for (double v = std::ceil(lo / yStep) * yStep; v <= hi; v += yStep) {
        const QPointF a = MapPoint(area, 0, 0, x1, v, lo, hi);
        p.setPen(QPen(GRID, 2));
        p.drawLine(a, QPointF(area.right(), a.y()));
        p.setPen(PALE);
        p.drawText(QRectF(box.left(), a.y() - 25, 70, 50), Qt::AlignRight | Qt::AlignVCenter, QString::number(v));
    }
    const double xStep = TickStep(0, x1, 10);
    for (double m = 0; m <= x1 + 1e-9; m += xStep) {
        const QPointF a = MapPoint(area, m, 0, x1, lo, lo, hi);
        p.setPen(PALE);
        p.drawText(QRectF(a.x() - 60, area.bottom() + 5, 120, 40), Qt::AlignCenter, QString::number(m));
    }
    // Beat by beat in a light line, the medians over the live figures' window over it; both
    // broken where no NN interval came for a while.
    auto plot = [&](const std::vector<Point>& points, const QPen& pen, double dBreakS) {
        p.setPen(pen);
        QPolygonF line;
        for (size_t i = 0; i < points.size(); ++i) {
            if (i > 0 && points[i].x - points[i - 1].x > dBreakS) {
                p.drawPolyline(line);
                line.clear();
            }
            line << MapPoint(area, points[i].x / 60, 0, x1, points[i].y, lo, hi);
        }
        p.drawPolyline(line);
    };
    plot(hr, QPen(TRACE_LIGHT, 2), analysis::HRV_MAX_BRIDGE_S);
    plot(WindowMedians(hr, analysis::FIGURE_WINDOW_S), QPen(TRACE, 5), analysis::FIGURE_WINDOW_S + analysis::HRV_MAX_BRIDGE_S);
}

void CSessionReport::PaintStrip(QPainter& p, const QRectF& box) const
{
    const TraceStrip& strip = m_summary.strip;
    const QString names[STRIP_TRACES] = {tr("脉搏波 1"), tr("脉搏波 2"), tr("脉搏波 3"), tr("心电"), tr("容积波")};
    constexpr double LABEL_W = 170;
    constexpr double MIN_SPAN = 20;  // counts: a flat trace is drawn as a flat line
    const QRectF plot = box.adjusted(LABEL_W, 0, 0, -40);
    // A grid line every second over all five lanes, the seconds under them.
    p.setFont(Font(SMALL_PT));
    for (int s = 0; s <= static_cast<int>(STRIP_S); ++s) {
        const double x = plot.left() + plot.width() * s / STRIP_S;
        p.setPen(QPen(GRID, 2));
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(PALE);
        p.drawText(QRectF(x - 60, plot.bottom() + 2, 120, 38), Qt::AlignCenter, tr("%1 秒").arg(s));
    }
    for (int k = 0; k < STRIP_TRACES; ++k) {
        const QRectF lane = StripLane(plot, k);
        p.setPen(QPen(RULE, 2));
        p.drawRect(lane);
        p.setPen(INK);
        p.drawText(QRectF(box.left(), lane.top(), LABEL_W - 15, lane.height()), Qt::AlignRight | Qt::AlignVCenter, names[k]);
        if (strip.samples.size() < 2 || strip.rateHz <= 0) {
            Unknown(p, lane);
            continue;
        }
        std::vector<double> v;
        v.reserve(strip.samples.size());
        for (const auto& s : strip.samples)
            v.push_back(s[k]);
        const auto [lo, hi] = ValueRange(v, MIN_SPAN);
        const QRectF inner = lane.adjusted(0, 8, 0, -8);
        QPolygonF line;
        for (size_t i = 0; i < v.size(); ++i)
            line << MapPoint(inner, static_cast<double>(i) / strip.rateHz, 0, STRIP_S, v[i], lo, hi);
        p.setPen(QPen(TRACE, 2.5));
        p.drawPolyline(line);
    }
}

void CSessionReport::PaintFooter(QPainter& p, int nPage) const
{
    const QRectF c = ContentRect();
    const QRectF footer(c.left(), PAGE_H - MARGIN - FOOTER_H + 20, c.width(), FOOTER_H - 20);
    p.setPen(QPen(RULE, 2));
    p.drawLine(footer.topLeft(), footer.topRight());
    p.setFont(Font(SMALL_PT));
    p.setPen(PALE);
    p.drawText(footer, Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("%1 · %2 · %3").arg(Title(), Program(), QString::fromStdString(m_summary.strCaptureName)));
    p.drawText(footer, Qt::AlignRight | Qt::AlignVCenter, tr("第 %1 页，共 %2 页").arg(nPage + 1).arg(REPORT_PAGES));
}

bool WriteSessionReport(const QString& strCapture, const QString& strOut, const ReportFields& fields, QString* pError,
                        const ProgressFn& progress, const units::PressureUnits& pressureUnits)
{
    auto fail = [pError](const QString& strWhy) {
        if (pError)
            *pError = strWhy;
        return false;
    };
    const QFileInfo out(strOut);
    if (strOut.isEmpty())
        return fail(QStringLiteral("no file name given for the report"));
    if (out.isDir())
        return fail(QStringLiteral("cannot write %1: it is a folder").arg(strOut));
    // Renaming over the capture would destroy it.
    if (out.exists() && out.canonicalFilePath() == QFileInfo(strCapture).canonicalFilePath())
        return fail(QStringLiteral("cannot write %1: it is the capture itself").arg(strOut));

    SessionSummary summary;
    std::string strError;
    const ProgressFn scaled = [&progress](double f) { return !progress || progress(f * PROGRESS_OF_SUMMARY); };
    if (!BuildSessionSummary(QFile::encodeName(strCapture).toStdString(), summary, strError, scaled, pressureUnits))
        return fail(QString::fromStdString(strError));

    const QString strPart = strOut + QStringLiteral(".part");
    QFile part(strPart);
    if (QFileInfo::exists(strPart) || QFileInfo(strPart).isSymLink())
        return fail(QStringLiteral("cannot write %1: %2 is in the way (left by an earlier run?); remove it first").arg(strOut, strPart));
    if (!part.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return fail(QStringLiteral("cannot write %1: %2").arg(strOut, part.errorString()));
    auto discard = [&](const QString& strWhy) {
        part.close();
        part.remove();
        return fail(strWhy);
    };
    {
        QPdfWriter writer(&part);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageOrientation(QPageLayout::Portrait);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(REPORT_DPI);
        writer.setTitle(CSessionReport::Title());
        writer.setCreator(Program());
        QPainter painter;
        if (!painter.begin(&writer))
            return discard(QStringLiteral("cannot write %1: the PDF writer did not start").arg(strOut));
        const CSessionReport report(summary, fields);
        for (int nPage = 0; nPage < REPORT_PAGES; ++nPage) {
            if (nPage > 0)
                writer.newPage();
            report.PaintPage(painter, nPage);
        }
        painter.end();
    }
    if (!part.flush() || part.error() != QFileDevice::NoError)
        return discard(QStringLiteral("cannot write %1: %2").arg(strOut, part.errorString()));
    part.close();
#ifdef _WIN32
    QFile::remove(strOut);  // rename does not replace a file there
#endif
    if (std::rename(QFile::encodeName(strPart).constData(), QFile::encodeName(strOut).constData()) != 0)
        return discard(QStringLiteral("cannot write %1: %2").arg(strOut, QString::fromLocal8Bit(std::strerror(errno))));
    if (progress)
        progress(1);
    return true;
}

} // namespace report
