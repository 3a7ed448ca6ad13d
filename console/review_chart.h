#pragma once
// The traces of the review window: one lane per shown channel, each with its name and an
// amplitude axis, under one time axis in seconds on the sample clock; markers as labelled
// vertical lines and two measuring cursors. Drawn from the history's per-column envelopes, so
// a paint costs the same whether the view spans a second or ten minutes.
#include <QImage>
#include <QWidget>

#include <array>
#include <optional>
#include <vector>

#include "channel_units.h"
#include "history_store.h"

// Pure geometry of the review chart, callable without a widget.
namespace reviewgeo {

// A tick step of 1, 2 or 5 times a power of ten giving at most nMaxTicks ticks over span.
double NiceStep(double span, int nMaxTicks);
// Lane k of n (top to bottom) in a plot of the given top and height: its top and height.
struct Lane {
    int top = 0;
    int height = 0;
};
Lane LaneOf(int k, int n, int nTop, int nHeight);
// Pixel of a value in a lane showing [lo, hi] from bottom to top.
double YOfValue(double v, double lo, double hi, const Lane& lane);
// The amplitude range that shows [lo, hi] with a margin; a flat trace gets a band of its own.
std::pair<double, double> FitRange(double lo, double hi);

} // namespace reviewgeo

class CReviewChart : public QWidget {
    Q_OBJECT
public:
    static constexpr int CURSORS = 2;
    static constexpr double DEFAULT_SPAN_S = 10;
    static constexpr int MIN_SPAN_SAMPLES = 10;
    // Margins around the plot, pixels: the amplitude labels left, marker labels above, the
    // time axis below.
    static constexpr int LEFT_MARGIN = 64;
    static constexpr int TOP_MARGIN = 16;
    static constexpr int BOTTOM_MARGIN = 22;
    static constexpr int RIGHT_MARGIN = 8;

    explicit CReviewChart(QWidget* pParent = nullptr);

    void SetStore(const review::CHistoryStore* pStore);
    const review::CHistoryStore* Store() const { return m_pStore; }
    void SetUnits(const units::PressureUnits& u);
    const units::PressureUnits& Units() const { return m_units; }
    void SetChannelVisible(int ch, bool bVisible);
    bool ChannelVisible(int ch) const { return m_visible[static_cast<size_t>(ch)]; }

    // Following: the view's right edge stays on the newest sample as data comes.
    bool Following() const { return m_bFollowing; }
    void SetFollowing(bool bFollowing);
    // New data: a following view moves on. Repaints only when something changed.
    void Refresh();

    // The view: sample numbers [ViewStart(), ViewStart() + ViewSpan()).
    double ViewStart() const { return m_dStart; }
    double ViewSpan() const { return m_dSpan; }
    // Shows [dStart, dStart + dSpan) and stops following (clamped to the history).
    void SetView(double dStart, double dSpan);
    // Zooms time by dFactor (< 1 shows less) keeping the sample under pixel x in place; a
    // following view keeps its right edge.
    void ZoomTime(double dFactor, double x);
    void PanTime(double dSamples);
    // Every shown lane's amplitude range scaled by dFactor about its middle, or moved by a
    // fraction of it.
    void ZoomAmplitude(double dFactor);
    void PanAmplitude(double dFraction);
    // Each shown channel's range fitted to what the view shows.
    void FitAmplitudes();
    std::pair<double, double> AmplitudeRange(int ch) const { return m_range[static_cast<size_t>(ch)]; }

    std::optional<uint64_t> Cursor(int n) const { return m_cursor[static_cast<size_t>(n)]; }
    void SetCursor(int n, std::optional<uint64_t> index);

    // Geometry of the current size.
    QRect PlotRect() const;
    std::vector<int> ShownChannels() const;
    reviewgeo::Lane LaneOfChannel(int ch) const;
    double XOfIndex(double index) const;
    double IndexOfX(double x) const;
    double YOfCounts(int ch, double counts) const;

    // The channel's value in its unit ("1234", "98.72"), "—" for a missing sample.
    QString ValueText(int ch, uint64_t index) const;
    // "静压1", ..., and with the unit where it is not counts: "静压1 (mmHg)".
    static QString ChannelName(int ch);
    QString ChannelTitle(int ch) const;

signals:
    void FollowingChanged(bool bFollowing);
    void CursorsChanged();
    void ViewChanged();
    // The marker key (M) was pressed.
    void MarkerKey();

protected:
    void paintEvent(QPaintEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

private:
    void ClampView();
    void FollowNewest();
    double DefaultSpan() const;
    double ToUnit(int ch, double counts) const;
    double AmplitudeStep(int ch, const reviewgeo::Lane& lane) const;
    // f(value in the channel's unit, pixel row) for each amplitude tick that fits the lane.
    template <class F>
    void ForEachAmplitudeTick(int ch, const reviewgeo::Lane& lane, F&& f) const;
    // f(seconds, pixel column) for each time tick of the view.
    template <class F>
    void ForEachTimeTick(const QRect& plot, F&& f) const;
    void PaintTimeGrid(QPainter& p, const QRect& plot);
    void PaintLaneGrid(QPainter& p, int ch, const reviewgeo::Lane& lane, const QRect& plot);
    void PaintTrace(int ch, const reviewgeo::Lane& lane, const QRect& plot);
    void PaintLaneLabels(QPainter& p, int ch, const reviewgeo::Lane& lane, const QRect& plot);
    void PaintTimeAxis(QPainter& p, const QRect& plot);
    void PaintMarkersAndCursors(QPainter& p, const QRect& plot);

    const review::CHistoryStore* m_pStore = nullptr;
    units::PressureUnits m_units;
    std::array<bool, review::CHANNELS> m_visible{};
    std::array<std::pair<double, double>, review::CHANNELS> m_range{};
    std::array<bool, review::CHANNELS> m_bFitted{};  // a range was fitted to data once
    std::array<std::optional<uint64_t>, CURSORS> m_cursor{};
    bool m_bFollowing = true;
    double m_dStart = 0;
    double m_dSpan = 0;               // 0: not set yet, the default span on first data
    uint64_t m_qwPaintedEnd = 0;      // the history's end when last painted
    int m_nDragCursor = -1;           // the cursor the mouse moves
    std::vector<review::ColumnEnvelope> m_envelope;  // reused between paints
    QImage m_layer;                   // the plot's grid and traces, reused between paints
};
