#pragma once
// The session report's geometry and number texts as small pure functions, so the drawing is a
// function of the summary and the tests can check the layout without reading a PDF. Lengths
// are in tenths of a millimetre: the report's writer runs at REPORT_DPI, where that is one
// device unit.
#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session_summary.h"

namespace report {

constexpr int REPORT_DPI = 254;
constexpr double PAGE_W = 2100;   // A4 portrait
constexpr double PAGE_H = 2970;
constexpr double MARGIN = 160;
constexpr double FOOTER_H = 60;   // the footer line at the bottom of each page
constexpr int REPORT_PAGES = 2;

// The printable area above the footer.
QRectF ContentRect();

// A figure as sensor-decode --stats prints it (the same digits), or "—" when it is unknown.
QString FigureText(const std::optional<double>& v, int nDigits = 1);
// Whole seconds as "m:ss" or "h:mm:ss".
QString DurationText(double dSeconds);
// The header's ISO 8601 start as "2025-03-01 09:30:00 (UTC+01:00)"; other text as it is.
QString StartText(const std::string& strIso);

// Page 2, top to bottom: for each channel the averaged beat and the pressure-amplitude curve
// side by side in a row of three, then the heart rate over the session, then the strip.
struct PageTwoLayout {
    QRectF beat[analysis::PULSE_CHANNELS];
    QRectF curve[analysis::PULSE_CHANNELS];
    QRectF heartRate;
    QRectF strip;
};
PageTwoLayout LayoutPageTwo();
// Band k (0..STRIP_TRACES-1) of the strip's rectangle, one per trace, top to bottom.
QRectF StripLane(const QRectF& strip, int k);

// A tick spacing of 1, 2 or 5 times a power of ten that puts at most nMaxTicks ticks on
// [lo, hi]; 1 for an empty or reversed range.
double TickStep(double lo, double hi, int nMaxTicks);
// The values' lowest and highest, widened about their middle to at least dMinSpan (a flat line
// is drawn in the middle of its band, not as a wall).
std::pair<double, double> ValueRange(const std::vector<double>& values, double dMinSpan);
// The median y of the points in each window of dWindowS along x (windows without points left
// out), placed at the window's middle: the heart rate's course without the beat-to-beat swing.
std::vector<Point> WindowMedians(const std::vector<Point>& points, double dWindowS);
// (x, y) in rect r for x over [x0, x1] left to right and y over [y0, y1] bottom to top.
QPointF MapPoint(const QRectF& r, double x, double x0, double x1, double y, double y0, double y1);

} // namespace report
