#include "report_layout.h"

#include <algorithm>
#include <cmath>

#include "decode_stats.h"
#include "dsp.h"

namespace report {

namespace {

constexpr double HEADING_H = 70;   // a section's heading above its boxes
constexpr double GAP = 40;
constexpr double SMALL_BOX_H = 380;
constexpr double HEART_RATE_H = 420;
constexpr double LANE_GAP = 12;

} // namespace

QRectF ContentRect()
{
    return QRectF(MARGIN, MARGIN, PAGE_W - 2 * MARGIN, PAGE_H - 2 * MARGIN - FOOTER_H);
}

QString FigureText(const std::optional<double>& v, int nDigits)
{
    return QString::fromStdString(CDecodeStats::Format(v, nDigits, "\u2014"));
}

QString DurationText(double dSeconds)
{
    const long long n = std::llround(std::max(0.0, dSeconds));
    if (n < 3600)
        return QStringLiteral("%1:%2").arg(n / 60).arg(n % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3").arg(n / 3600).arg(n / 60 % 60, 2, 10, QLatin1Char('0')).arg(n % 60, 2, 10, QLatin1Char('0'));
}

QString StartText(const std::string& strIso)
{
    // 2025-03-01T09:30:00.125+01:00: the date, the time to the second, the offset.
    const QString s = QString::fromStdString(strIso);
    if (s.size() < 19 || s[10] != QLatin1Char('T'))
        return s;
    QString strText = s.left(10) + QLatin1Char(' ') + s.mid(11, 8);
    const int nOffset = std::max(s.lastIndexOf(QLatin1Char('+')), s.lastIndexOf(QLatin1Char('-')));
    if (nOffset > 18)
        strText += QStringLiteral(" (UTC%1)").arg(s.mid(nOffset));
    else if (s.endsWith(QLatin1Char('Z')))
        strText += QStringLiteral(" (UTC)");
    return strText;
}

PageTwoLayout LayoutPageTwo()
{
    const QRectF c = ContentRect();
    const int n = analysis::PULSE_CHANNELS;
    const double w = (c.width() - (n - 1) * GAP) / n;
    PageTwoLayout l;
    double y = c.top() + HEADING_H;
    for (int k = 0; k < n; ++k) {
        l.beat[k] = QRectF(c.left() + k * (w + GAP), y, w, SMALL_BOX_H);
        l.curve[k] = QRectF(c.left() + k * (w + GAP), y + SMALL_BOX_H + GAP, w, SMALL_BOX_H);
    }
    y += 2 * SMALL_BOX_H + 2 * GAP + HEADING_H;
    l.heartRate = QRectF(c.left(), y, c.width(), HEART_RATE_H);
    y += HEART_RATE_H + GAP + HEADING_H;
    l.strip = QRectF(c.left(), y, c.width(), c.bottom() - y);
    return l;
}

QRectF StripLane(const QRectF& strip, int k)
{
    const double h = (strip.height() - (STRIP_TRACES - 1) * LANE_GAP) / STRIP_TRACES;
    return QRectF(strip.left(), strip.top() + k * (h + LANE_GAP), strip.width(), h);
}

double TickStep(double lo, double hi, int nMaxTicks)
{
    const double span = hi - lo;
    if (!(span > 0) || nMaxTicks < 1)
        return 1;
    const double raw = span / nMaxTicks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw)
            return m * power;
    return 10 * power;
}

std::pair<double, double> ValueRange(const std::vector<double>& values, double dMinSpan)
{
    if (values.empty())
        return {0, dMinSpan};
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    if (*hi - *lo >= dMinSpan)
        return {*lo, *hi};
    const double mid = (*lo + *hi) / 2;
    return {mid - dMinSpan / 2, mid + dMinSpan / 2};
}

std::vector<Point> WindowMedians(const std::vector<Point>& points, double dWindowS)
{
    std::vector<Point> out;
    std::vector<double> window;
    for (size_t i = 0; i < points.size();) {
        const double start = std::floor(points[i].x / dWindowS) * dWindowS;
        window.clear();
        for (; i < points.size() && points[i].x < start + dWindowS; ++i)
            window.push_back(points[i].y);
        out.push_back(Point{start + dWindowS / 2, analysis::MedianOf(window)});
    }
    return out;
}

QPointF MapPoint(const QRectF& r, double x, double x0, double x1, double y, double y0, double y1)
{
    const double fx = x1 > x0 ? (x - x0) / (x1 - x0) : 0.5;
    const double fy = y1 > y0 ? (y - y0) / (y1 - y0) : 0.5;
    return QPointF(r.left() + fx * r.width(), r.bottom() - fy * r.height());
}

} // namespace report
