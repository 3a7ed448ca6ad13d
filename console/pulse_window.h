#pragma once
// The "脉图分析" window: for each pulse channel, a column with the averaged beat of the last
// 10 s (its points h1, h3, h4, h5 and the width w marked), and the pressure-amplitude points with
// their curve and the best hold-down pressure marked; under them the pulse diagram's figures as
// a table, one column per channel, "—" where unknown. A window of its own, not modal, refreshed
// once a second while it is open; closing only hides it. "重新测量" starts the pressure-amplitude
// curves again, "复制" copies the table as tab-separated text, "保存图像..." saves the window as a
// PNG. Everything it shows comes from the signal analysis (pulse_diagram.h, pressure_curve.h);
// the static pressures (the best hold-down pressure, the curve's pressure axis) in the units set.
#include <QPoint>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <optional>
#include <vector>

#include "channel_units.h"
#include "signal_analysis.h"

class QPushButton;
class QTableWidget;

// Where a point of the data rectangle lands in the pixel rectangle (y grows upwards in data).
QPointF PlotPoint(const QRectF& data, const QRectF& pixels, double x, double y);

// The averaged beat of one channel with its points marked.
class CBeatPlot : public QWidget {
    Q_OBJECT
public:
    static const QColor WAVE_COLOR;
    static const QColor MARK_COLOR;

    explicit CBeatPlot(QWidget* pParent = nullptr);
    void SetBeat(const analysis::AveragedBeat& beat);
    // The rectangle the beat is drawn in and its data range (ms, counts).
    QRectF PlotArea() const;
    QRectF DataRange() const;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    analysis::AveragedBeat m_beat;
};

// The pressure-amplitude points of one channel, their binned curve and the best pressure.
class CPressurePlot : public QWidget {
    Q_OBJECT
public:
    static const QColor POINT_COLOR;
    static const QColor CURVE_COLOR;
    static const QColor BEST_COLOR;

    explicit CPressurePlot(QWidget* pParent = nullptr);
    void SetCurve(const std::vector<analysis::PressurePoint>& points, const analysis::PressureCurve& curve);
    // The unit of the pressure axis's labels; the data range stays in counts.
    void SetUnit(const units::ChannelUnit& unit);
    QRectF PlotArea() const;
    QRectF DataRange() const;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    std::vector<analysis::PressurePoint> m_points;
    analysis::PressureCurve m_curve;
    units::ChannelUnit m_unit;
};

class CPulseWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int REFRESH_MS = 1000;

    CPulseWindow(analysis::CSignalAnalysis& analysis, QWidget* pParent);

    // Shows the window (where it was last closed, within this run) and brings it to the front.
    void Open();
    // Reads the figures now.
    void Refresh();
    // Starts the pressure-amplitude curves again ("重新测量").
    void Restart();
    // The units of the static pressures shown; counts until told.
    void SetUnits(const units::PressureUnits& u);
    // The table as tab-separated text, a line per row, the header first ("复制").
    QString TableText() const;
    // The value shown for row strName (its label) and channel c (0..2), for tests.
    QString ValueOf(const QString& strName, int c) const;
    // Saves the window as a PNG; false when it cannot be written.
    bool SaveImage(const QString& strPath);

    CBeatPlot* BeatPlot(int c) const { return m_pBeat[c]; }
    CPressurePlot* PressurePlot(int c) const { return m_pPressure[c]; }

    static QString Unknown();
    static QString PositionText(analysis::PulsePosition position, analysis::PeakEnd end);

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    // One row of the table: its label and its text for each channel.
    struct Row {
        QString strName;
        QString values[analysis::PULSE_CHANNELS];
    };
    std::vector<Row> Rows(const analysis::PulseDiagram* diagrams, const analysis::PressureCurve* curves) const;
    void CopyTable();
    void AskAndSave();

    analysis::CSignalAnalysis& m_analysis;
    CBeatPlot* m_pBeat[analysis::PULSE_CHANNELS] = {};
    CPressurePlot* m_pPressure[analysis::PULSE_CHANNELS] = {};
    QTableWidget* m_pTable = nullptr;
    QPushButton* m_pRestart = nullptr;
    QPushButton* m_pCopy = nullptr;
    QPushButton* m_pSave = nullptr;
    QTimer m_refresh;
    std::optional<QPoint> m_lastPos;
    units::PressureUnits m_units;
};
