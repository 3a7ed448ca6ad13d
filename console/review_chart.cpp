#include "review_chart.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

// Per channel: trace colour (pressures brown, pulse waves blue, ECG red, volume green).
const QColor TRACE_COLORS[review::CHANNELS] = {
    QColor(0x8B, 0x45, 0x13), QColor(0xA0, 0x52, 0x2D), QColor(0xCD, 0x85, 0x3F),
    QColor(0x1F, 0x4E, 0xC8), QColor(0x1F, 0x7E, 0xC8), QColor(0x1F, 0xA8, 0xC8),
    QColor(0xC8, 0x1F, 0x2E), QColor(0x2E, 0x8B, 0x3A)};
const QColor CURSOR_COLORS[CReviewChart::CURSORS] = {QColor(0xD0, 0x20, 0x90), QColor(0x20, 0x90, 0x90)};
const QColor MARKER_COLOR(0xE0, 0x80, 0x00);
const QColor GRID_COLOR(0xE4, 0xE4, 0xE4);
const QColor AXIS_COLOR(0x60, 0x60, 0x60);

constexpr double WHEEL_ZOOM = 0.8;      // time or amplitude zoom per wheel notch
constexpr double KEY_PAN = 0.1;         // share of the view a key moves it
constexpr int MAX_AMPLITUDE_TICKS = 4;  // per lane
constexpr int MAX_TIME_TICKS = 10;

bool IsPressure(int ch) { return ch < units::PRESSURE_CHANNELS; }

} // namespace

namespace reviewgeo {

double NiceStep(double span, int nMaxTicks)
{
    if (!(span > 0) || nMaxTicks < 1)
        return 1;
    const double raw = span / nMaxTicks;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * mag >= raw)
            return m * mag;
    return 10 * mag;
}

Lane LaneOf(int k, int n, int nTop, int nHeight)
{
    Lane lane;
    if (n <= 0)
        return lane;
    lane.top = nTop + nHeight * k / n;
    lane.height = nTop + nHeight * (k + 1) / n - lane.top;
    return lane;
}

double YOfValue(double v, double lo, double hi, const Lane& lane)
{
    // A pixel of room above and below, so that the extremes stay inside the lane.
    const double h = std::max(1, lane.height - 3);
    return lane.top + 1 + h - (v - lo) / (hi - lo) * h;
}

std::pair<double, double> FitRange(double lo, double hi)
{
    const double span = hi - lo;
    if (!(span > 0)) {
        const double pad = std::max(1.0, std::abs(lo) * 0.05);
        return {lo - pad, hi + pad};
    }
    return {lo - span * 0.05, hi + span * 0.05};
}

} // namespace reviewgeo

CReviewChart::CReviewChart(QWidget* pParent) : QWidget(pParent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 240);
    m_visible.fill(true);
    m_range.fill({0, 65535});
}

void CReviewChart::SetStore(const review::CHistoryStore* pStore)
{
    m_pStore = pStore;
    m_bFitted.fill(false);
    m_cursor.fill(std::nullopt);
    m_dSpan = 0;
    m_qwPaintedEnd = 0;
    Refresh();
    update();
}

void CReviewChart::SetUnits(const units::PressureUnits& u)
{
    m_units = u;
    update();
    emit CursorsChanged();  // the values are shown in the new units
}

void CReviewChart::SetChannelVisible(int ch, bool bVisible)
{
    m_visible[static_cast<size_t>(ch)] = bVisible;
    update();
}

double CReviewChart::DefaultSpan() const
{
    return DEFAULT_SPAN_S * (m_pStore ? m_pStore->SampleRate() : review::DEFAULT_RATE);
}

void CReviewChart::SetFollowing(bool bFollowing)
{
    if (m_bFollowing == bFollowing)
        return;
    m_bFollowing = bFollowing;
    if (m_bFollowing)
        FollowNewest();
    update();
    emit FollowingChanged(m_bFollowing);
}

void CReviewChart::FollowNewest()
{
    if (!m_pStore)
        return;
    m_dStart = static_cast<double>(m_pStore->End()) - m_dSpan;
    ClampView();
}

void CReviewChart::ClampView()
{
    if (!m_pStore)
        return;
    const double begin = static_cast<double>(m_pStore->Begin());
    const double end = static_cast<double>(m_pStore->End());
    const double most = std::max<double>(static_cast<double>(m_pStore->Capacity()), MIN_SPAN_SAMPLES);
    m_dSpan = std::clamp(m_dSpan, static_cast<double>(MIN_SPAN_SAMPLES), most);
    // Never past the newest sample; while the history is shorter than the view, it starts at
    // the left edge.
    m_dStart = std::max(begin, std::min(m_dStart, end - m_dSpan));
}

void CReviewChart::Refresh()
{
    if (!m_pStore)
        return;
    if (m_dSpan <= 0 && !m_pStore->Empty()) {
        m_dSpan = DefaultSpan();
        m_dStart = 0;
    }
    const uint64_t end = m_pStore->End();
    if (end == m_qwPaintedEnd)
        return;
    if (m_bFollowing) {
        FollowNewest();
        emit ViewChanged();
    }
    // A channel never fitted gets its range from the first data it shows.
    bool bFirst = false;
    for (int ch : ShownChannels())
        bFirst = bFirst || !m_bFitted[static_cast<size_t>(ch)];
    if (bFirst)
        FitAmplitudes();
    update();
}

void CReviewChart::SetView(double dStart, double dSpan)
{
    m_dStart = dStart;
    m_dSpan = dSpan;
    ClampView();
    if (m_bFollowing) {
        m_bFollowing = false;
        emit FollowingChanged(false);
    }
    update();
    emit ViewChanged();
}

void CReviewChart::ZoomTime(double dFactor, double x)
{
    const double anchor = m_bFollowing ? m_dStart + m_dSpan : IndexOfX(x);
    const double newSpan = m_dSpan * dFactor;
    const double newStart = anchor - (anchor - m_dStart) * dFactor;
    if (m_bFollowing) {
        m_dSpan = newSpan;
        FollowNewest();
        update();
        emit ViewChanged();
        return;
    }
    SetView(newStart, newSpan);
}

void CReviewChart::PanTime(double dSamples)
{
    SetView(m_dStart + dSamples, m_dSpan);
}

void CReviewChart::ZoomAmplitude(double dFactor)
{
    for (int ch : ShownChannels()) {
        auto& r = m_range[static_cast<size_t>(ch)];
        const double mid = (r.first + r.second) / 2;
        const double half = std::max((r.second - r.first) / 2 * dFactor, 0.5);
        r = {mid - half, mid + half};
    }
    update();
}

void CReviewChart::PanAmplitude(double dFraction)
{
    for (int ch : ShownChannels()) {
        auto& r = m_range[static_cast<size_t>(ch)];
        const double d = (r.second - r.first) * dFraction;
        r = {r.first + d, r.second + d};
    }
    update();
}

void CReviewChart::FitAmplitudes()
{
    if (!m_pStore || m_pStore->Empty())
        return;
    const uint64_t a = static_cast<uint64_t>(std::max(0.0, std::floor(m_dStart)));
    const uint64_t b = static_cast<uint64_t>(std::max(0.0, std::ceil(m_dStart + m_dSpan)));
    for (int ch : ShownChannels()) {
        const auto mm = m_pStore->Range(ch, a, b);
        m_range[static_cast<size_t>(ch)] = reviewgeo::FitRange(mm.first, mm.second);
        m_bFitted[static_cast<size_t>(ch)] = true;
    }
    update();
}

void CReviewChart::SetCursor(int n, std::optional<uint64_t> index)
{
    if (m_pStore && index)
        index = std::clamp<uint64_t>(*index, m_pStore->Begin(), m_pStore->End() > 0 ? m_pStore->End() - 1 : 0);
    m_cursor[static_cast<size_t>(n)] = index;
    update();
    emit CursorsChanged();
}

QRect CReviewChart::PlotRect() const
{
    return QRect(LEFT_MARGIN, TOP_MARGIN, std::max(1, width() - LEFT_MARGIN - RIGHT_MARGIN),
                 std::max(1, height() - TOP_MARGIN - BOTTOM_MARGIN));
}

std::vector<int> CReviewChart::ShownChannels() const
{
    std::vector<int> shown;
    for (int ch = 0; ch < review::CHANNELS; ++ch)
        if (m_visible[static_cast<size_t>(ch)])
            shown.push_back(ch);
    return shown;
}

reviewgeo::Lane CReviewChart::LaneOfChannel(int ch) const
{
    const std::vector<int> shown = ShownChannels();
    const auto it = std::find(shown.begin(), shown.end(), ch);
    if (it == shown.end())
        return {};
    const QRect plot = PlotRect();
    return reviewgeo::LaneOf(static_cast<int>(it - shown.begin()), static_cast<int>(shown.size()), plot.top(),
                             plot.height());
}

double CReviewChart::XOfIndex(double index) const
{
    const QRect plot = PlotRect();
    return plot.left() + (index - m_dStart) / std::max(m_dSpan, 1.0) * plot.width();
}

double CReviewChart::IndexOfX(double x) const
{
    const QRect plot = PlotRect();
    return m_dStart + (x - plot.left()) / plot.width() * std::max(m_dSpan, 1.0);
}

double CReviewChart::YOfCounts(int ch, double counts) const
{
    const auto& r = m_range[static_cast<size_t>(ch)];
    return reviewgeo::YOfValue(counts, r.first, r.second, LaneOfChannel(ch));
}

double CReviewChart::ToUnit(int ch, double counts) const
{
    return IsPressure(ch) ? m_units.ch[ch].FromCounts(counts) : counts;
}

QString CReviewChart::ValueText(int ch, uint64_t index) const
{
    if (!m_pStore || index < m_pStore->Begin() || index >= m_pStore->End() || m_pStore->Missing(index))
        return tr("—");
    return QString::fromStdString(units::FormatValue(ToUnit(ch, m_pStore->Value(ch, index))));
}

QString CReviewChart::ChannelName(int ch)
{
    switch (ch) {
    case 0: return tr("静压1");
    case 1: return tr("静压2");
    case 2: return tr("静压3");
    case 3: return tr("脉搏波1");
    case 4: return tr("脉搏波2");
    case 5: return tr("脉搏波3");
    case 6: return tr("心电");
    default: return tr("容积波");
    }
}

QString CReviewChart::ChannelTitle(int ch) const
{
    if (IsPressure(ch) && !m_units.ch[ch].IsCounts())
        return tr("%1 (%2)").arg(ChannelName(ch), QString::fromStdString(m_units.ch[ch].name));
    return ChannelName(ch);
}

void CReviewChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QRect plot = PlotRect();
    if (m_pStore)
        m_qwPaintedEnd = m_pStore->End();
    // Grid and traces go into an image of the plot first: the traces are written pixel by
    // pixel, far cheaper than thousands of line strokes, and the image is copied in one go.
    if (m_layer.size() != plot.size())
        m_layer = QImage(plot.size(), QImage::Format_RGB32);
    m_layer.fill(Qt::white);
    {
        QPainter lp(&m_layer);
        lp.translate(-plot.topLeft());
        PaintTimeGrid(lp, plot);
        for (int ch : ShownChannels())
            PaintLaneGrid(lp, ch, LaneOfChannel(ch), plot);
    }
    for (int ch : ShownChannels())
        PaintTrace(ch, LaneOfChannel(ch), plot);
    p.drawImage(plot.topLeft(), m_layer);
    for (int ch : ShownChannels())
        PaintLaneLabels(p, ch, LaneOfChannel(ch), plot);
    PaintTimeAxis(p, plot);
    PaintMarkersAndCursors(p, plot);
    p.setPen(AXIS_COLOR);
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    if (!m_pStore || m_pStore->Empty())
        p.drawText(plot, Qt::AlignCenter, tr("尚无数据"));
}

double CReviewChart::AmplitudeStep(int ch, const reviewgeo::Lane& lane) const
{
    const auto range = m_range[static_cast<size_t>(ch)];
    return reviewgeo::NiceStep(ToUnit(ch, range.second) - ToUnit(ch, range.first),
                               std::clamp(lane.height / 18, 2, MAX_AMPLITUDE_TICKS));
}

template <class F>
void CReviewChart::ForEachAmplitudeTick(int ch, const reviewgeo::Lane& lane, F&& f) const
{
    const auto range = m_range[static_cast<size_t>(ch)];
    const double uLo = ToUnit(ch, range.first), uHi = ToUnit(ch, range.second);
    const double step = AmplitudeStep(ch, lane);
    const int nHalf = fontMetrics().height() / 2;
    for (double u = std::ceil(uLo / step) * step; u <= uHi; u += step) {
        const double counts = IsPressure(ch) ? u * m_units.ch[ch].scale : u;
        const int y = static_cast<int>(std::lround(reviewgeo::YOfValue(counts, range.first, range.second, lane)));
        if (y >= lane.top + nHalf && y <= lane.top + lane.height - nHalf)
            f(std::abs(u) < step * 1e-9 ? 0.0 : u, y);
    }
}

void CReviewChart::PaintLaneGrid(QPainter& p, int ch, const reviewgeo::Lane& lane, const QRect& plot)
{
    p.setPen(GRID_COLOR);
    ForEachAmplitudeTick(ch, lane, [&](double, int y) { p.drawLine(plot.left() + 1, y, plot.right() - 1, y); });
    if (lane.top > plot.top()) {
        p.setPen(AXIS_COLOR);
        p.drawLine(plot.left(), lane.top, plot.right(), lane.top);
    }
}

void CReviewChart::PaintLaneLabels(QPainter& p, int ch, const reviewgeo::Lane& lane, const QRect& plot)
{
    const QFontMetrics fm(font());
    p.setPen(AXIS_COLOR);
    ForEachAmplitudeTick(ch, lane, [&](double u, int y) {
        p.drawLine(plot.left() - 4, y, plot.left(), y);
        p.drawText(QRect(0, y - fm.height() / 2, plot.left() - 6, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                   QString::fromStdString(units::FormatValue(u)));
    });
    const QString strTitle = ChannelTitle(ch);
    const QRect rcTitle(plot.left() + 4, lane.top + 2, fm.horizontalAdvance(strTitle) + 4, fm.height());
    p.fillRect(rcTitle, QColor(255, 255, 255, 200));
    p.setPen(TRACE_COLORS[ch]);
    p.drawText(rcTitle, Qt::AlignCenter, strTitle);
}

void CReviewChart::PaintTrace(int ch, const reviewgeo::Lane& lane, const QRect& plot)
{
    if (!m_pStore || m_pStore->Empty() || lane.height <= 1)
        return;
    // In the layer's coordinates: the plot's top left is (0, 0); the lane's top line is its border.
    const int top = lane.top - plot.top() + 1, bottom = lane.top - plot.top() + lane.height - 1;
    const double perColumn = m_dSpan / plot.width();
    if (perColumn < 1.5) {
        // Few samples: a line through each of them.
        QPainter lp(&m_layer);
        lp.translate(-plot.topLeft());
        lp.setClipRect(QRect(plot.left(), lane.top + 1, plot.width(), lane.height - 1));
        lp.setPen(QPen(TRACE_COLORS[ch], 1));
        const uint64_t a = static_cast<uint64_t>(std::max(static_cast<double>(m_pStore->Begin()), std::floor(m_dStart)));
        const uint64_t b = std::min(m_pStore->End(), static_cast<uint64_t>(std::max(0.0, std::ceil(m_dStart + m_dSpan) + 1)));
        const auto range = m_range[static_cast<size_t>(ch)];
        QVector<QPointF> pts;
        for (uint64_t i = a; i < b; ++i)
            pts.push_back(QPointF(XOfIndex(static_cast<double>(i)),
                                  reviewgeo::YOfValue(m_pStore->Value(ch, i), range.first, range.second, lane)));
        if (pts.size() == 1)
            lp.drawPoint(pts.front());
        else
            lp.drawPolyline(pts.data(), static_cast<int>(pts.size()));
        return;
    }
    // Many samples a column: one vertical stroke per column over its range, reaching to where
    // the column before it ended, so that the trace stays joined.
    m_pStore->Envelope(ch, m_dStart, m_dStart + m_dSpan, plot.width(), m_envelope);
    const QRgb color = TRACE_COLORS[ch].rgb();
    const auto range = m_range[static_cast<size_t>(ch)];
    const int yOffset = plot.top();
    auto yOf = [&](uint16_t v) { return static_cast<int>(reviewgeo::YOfValue(v, range.first, range.second, lane)); };
    bool bHavePrev = false;
    int yPrev = 0;
    for (int k = 0; k < plot.width(); ++k) {
        const review::ColumnEnvelope& e = m_envelope[static_cast<size_t>(k)];
        if (!e.any)
            continue;
        int y0 = yOf(e.max) - yOffset;
        int y1 = yOf(e.min) - yOffset;
        if (bHavePrev) {
            y0 = std::min(y0, yPrev);
            y1 = std::max(y1, yPrev);
        }
        yPrev = yOf(e.last) - yOffset;
        bHavePrev = true;
        y0 = std::max(y0, top);
        y1 = std::min(y1, bottom - 1);
        for (int y = y0; y <= y1; ++y)
            reinterpret_cast<QRgb*>(m_layer.scanLine(y))[k] = color;
    }
}

void CReviewChart::PaintTimeGrid(QPainter& p, const QRect& plot)
{
    p.setPen(GRID_COLOR);
    ForEachTimeTick(plot, [&](double, int x) { p.drawLine(x, plot.top() + 1, x, plot.bottom() - 1); });
}

template <class F>
void CReviewChart::ForEachTimeTick(const QRect& plot, F&& f) const
{
    const double rate = m_pStore ? m_pStore->SampleRate() : review::DEFAULT_RATE;
    const double t0 = m_dStart / rate, t1 = (m_dStart + std::max(m_dSpan, 1.0)) / rate;
    const double step = reviewgeo::NiceStep(t1 - t0, std::clamp(plot.width() / 90, 1, MAX_TIME_TICKS));
    for (double t = std::ceil(t0 / step) * step; t <= t1; t += step)
        f(t, static_cast<int>(std::lround(XOfIndex(t * rate))));
}

void CReviewChart::PaintTimeAxis(QPainter& p, const QRect& plot)
{
    const double rate = m_pStore ? m_pStore->SampleRate() : review::DEFAULT_RATE;
    const double step = reviewgeo::NiceStep(std::max(m_dSpan, 1.0) / rate, std::clamp(plot.width() / 90, 1, MAX_TIME_TICKS));
    const int nDecimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    const QFontMetrics fm(font());
    p.setPen(AXIS_COLOR);
    ForEachTimeTick(plot, [&](double t, int x) {
        p.drawLine(x, plot.bottom(), x, plot.bottom() + 4);
        p.drawText(QRect(x - 60, plot.bottom() + 4, 120, fm.height()), Qt::AlignHCenter | Qt::AlignTop,
                   QString::number(t, 'f', nDecimals));
    });
    p.drawText(QRect(0, plot.bottom() + 4, plot.left() - 6, fm.height()), Qt::AlignRight | Qt::AlignTop, tr("秒"));
}

void CReviewChart::PaintMarkersAndCursors(QPainter& p, const QRect& plot)
{
    if (!m_pStore)
        return;
    const QFontMetrics fm(font());
    const double first = m_dStart, last = m_dStart + m_dSpan;
    for (const review::Marker& m : m_pStore->Markers()) {
        const double i = static_cast<double>(m.index);
        if (i < first || i > last)
            continue;
        const int x = static_cast<int>(std::lround(XOfIndex(i)));
        p.setPen(QPen(MARKER_COLOR, 1, Qt::DashLine));
        p.drawLine(x, plot.top(), x, plot.bottom());
        p.setPen(MARKER_COLOR);
        const QString text = m.text.empty() ? tr("标记") : QString::fromStdString(m.text);
        p.drawText(QRect(x + 2, 0, 300, TOP_MARGIN), Qt::AlignLeft | Qt::AlignVCenter, fm.elidedText(text, Qt::ElideRight, 300));
    }
    for (int n = 0; n < CURSORS; ++n) {
        const auto& c = m_cursor[static_cast<size_t>(n)];
        if (!c || static_cast<double>(*c) < first || static_cast<double>(*c) > last)
            continue;
        const int x = static_cast<int>(std::lround(XOfIndex(static_cast<double>(*c))));
        p.setPen(QPen(CURSOR_COLORS[n], 1));
        p.drawLine(x, plot.top(), x, plot.bottom());
        p.drawText(QRect(x - 20, plot.bottom() - fm.height() - 2, 40, fm.height()), Qt::AlignCenter,
                   n == 0 ? QStringLiteral("A") : QStringLiteral("B"));
    }
}

void CReviewChart::wheelEvent(QWheelEvent* e)
{
    const QPoint delta = e->angleDelta();
    const double notches = delta.y() / 120.0;
    if (delta.x() != 0 && delta.y() == 0) {
        PanTime(-delta.x() / 120.0 * KEY_PAN * m_dSpan);
    } else if (e->modifiers() & Qt::ShiftModifier) {
        PanTime(-notches * KEY_PAN * m_dSpan);
    } else if (e->modifiers() & Qt::ControlModifier) {
        ZoomAmplitude(std::pow(WHEEL_ZOOM, notches));
    } else {
        ZoomTime(std::pow(WHEEL_ZOOM, notches), e->position().x());
    }
    e->accept();
}

void CReviewChart::keyPressEvent(QKeyEvent* e)
{
    const bool bShift = e->modifiers() & Qt::ShiftModifier;
    switch (e->key()) {
    case Qt::Key_Space: SetFollowing(!m_bFollowing); break;
    case Qt::Key_Left: PanTime(-(bShift ? 1.0 : KEY_PAN) * m_dSpan); break;
    case Qt::Key_Right: PanTime((bShift ? 1.0 : KEY_PAN) * m_dSpan); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: ZoomTime(WHEEL_ZOOM, PlotRect().center().x()); break;
    case Qt::Key_Minus: ZoomTime(1 / WHEEL_ZOOM, PlotRect().center().x()); break;
    case Qt::Key_Up:
        if (bShift)
            PanAmplitude(-KEY_PAN);
        else
            ZoomAmplitude(WHEEL_ZOOM);
        break;
    case Qt::Key_Down:
        if (bShift)
            PanAmplitude(KEY_PAN);
        else
            ZoomAmplitude(1 / WHEEL_ZOOM);
        break;
    case Qt::Key_Home:
        if (m_pStore)
            SetView(static_cast<double>(m_pStore->Begin()), m_dSpan);
        break;
    case Qt::Key_End: SetFollowing(true); break;
    case Qt::Key_F: FitAmplitudes(); break;
    case Qt::Key_M: emit MarkerKey(); break;
    case Qt::Key_Escape:
        if (!m_cursor[0] && !m_cursor[1]) {
            QWidget::keyPressEvent(e);
            return;
        }
        SetCursor(0, std::nullopt);
        SetCursor(1, std::nullopt);
        break;
    default: QWidget::keyPressEvent(e); return;
    }
    e->accept();
}

void CReviewChart::mousePressEvent(QMouseEvent* e)
{
    if (!m_pStore || m_pStore->Empty() || !PlotRect().contains(e->position().toPoint())) {
        QWidget::mousePressEvent(e);
        return;
    }
    const bool bSecond = e->button() == Qt::RightButton ||
                         (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ShiftModifier));
    if (e->button() != Qt::LeftButton && e->button() != Qt::RightButton)
        return;
    m_nDragCursor = bSecond ? 1 : 0;
    SetCursor(m_nDragCursor, static_cast<uint64_t>(std::max(0.0, std::round(IndexOfX(e->position().x())))));
    e->accept();
}

void CReviewChart::mouseMoveEvent(QMouseEvent* e)
{
    if (m_nDragCursor < 0 || !(e->buttons() & (Qt::LeftButton | Qt::RightButton)))
        return;
    SetCursor(m_nDragCursor, static_cast<uint64_t>(std::max(0.0, std::round(IndexOfX(e->position().x())))));
}
