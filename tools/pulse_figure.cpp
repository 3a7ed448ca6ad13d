// The pictures of the pulse analysis, made from the project's own parts:
//   pulse-figure --diagram -o pulse-diagram.png   one beat of the simulated pulse, measured by
//                                                  the analysis, with every figure labelled
//   pulse-figure --window -o pulse-window.png     the "脉图分析" window on a minute of the
//                                                  simulated sensor sweeping its hold-down
#include <QApplication>
#include <QCommandLineParser>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "link_monitor.h"
#include "platform.h"
#include "pulse_diagram.h"
#include "pulse_window.h"
#include "sensor_model.h"

namespace {

constexpr double FIGURE_RATE = 1000;   // samples a second of the drawn beat
constexpr double FIGURE_BPM = 72;

// A steady train of the simulated pulse at FIGURE_BPM; beat 0's shape starts at 0.
double Train(double t)
{
    static const CPulseShape shape;
    const double period = 60 / FIGURE_BPM;
    double v = 0;
    for (int j = -8; j <= 2; ++j)
        v += shape(t - j * period, period / CSignalGen::PULSE_PACE_PERIOD_S);
    return v;
}

int Diagram(const QString& strOut)
{
    // Beat 0 measured as the analysis measures it, its feet placed by its own rule.
    const double period = 60 / FIGURE_BPM;
    const double from = -0.3;
    std::vector<double> x;
    for (double t = from; t < period + 0.3; t += 1 / FIGURE_RATE)
        x.push_back(1000 * Train(t));
    const double foot = CPulseShape().FootOffset();
    analysis::MeasuredBeat beat;
    if (analysis::MeasureBeat(x, FIGURE_RATE, (foot - from) * FIGURE_RATE, (period + foot - from) * FIGURE_RATE, beat)
        != analysis::BeatStatus::Valid) {
        std::fprintf(stderr, "pulse-figure: the beat could not be measured\n");
        return 1;
    }
    const double f0 = from + beat.startPos / FIGURE_RATE;  // its foot, seconds
    const double* v = beat.values;
    const analysis::BeatPoints& pts = beat.points;

    const int W = 900, H = 520;
    QImage image(W, H, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"), 11);
    p.setFont(font);
    // Data: ms from the foot -60 .. t + 60; heights above the baseline -0.15 h1 .. 1.15 h1.
    const QRectF area(70, 40, W - 120, H - 170);
    const double msFrom = -60, msTo = v[analysis::PF_T] + 60;
    const double hFrom = -0.12 * pts.h1, hTo = 1.12 * pts.h1;
    const auto X = [&](double ms) { return area.left() + (ms - msFrom) / (msTo - msFrom) * area.width(); };
    const auto Y = [&](double h) { return area.bottom() - (h - hFrom) / (hTo - hFrom) * area.height(); };
    // The wave above its baseline, the line joining the feet at the levels their tangents meet
    // (the wave's value at a foot less the beat's height there).
    QPainterPath wave;
    {
        const double period0 = v[analysis::PF_T];
        const double y0 = 1000 * Train(f0) - beat.shape.front();
        const double y1 = 1000 * Train(f0 + period0 / 1000) - beat.shape.back();
        bool first = true;
        for (double ms = msFrom; ms <= msTo; ms += 1) {
            const double b = y0 + (y1 - y0) * ms / period0;
            const QPointF pt(X(ms), Y(1000 * Train(f0 + ms / 1000) - b));
            if (first)
                wave.moveTo(pt);
            else
                wave.lineTo(pt);
            first = false;
        }
    }
    // The areas before and after the notch.
    QPainterPath as, ad;
    as.moveTo(X(0), Y(0));
    ad.moveTo(X(pts.t4), Y(0));
    for (int k = 0; k < analysis::SHAPE_POINTS; ++k) {
        const double ms = v[analysis::PF_T] * k / (analysis::SHAPE_POINTS - 1);
        (ms <= pts.t4 ? as : ad).lineTo(X(ms), Y(beat.shape[static_cast<size_t>(k)]));
    }
    as.lineTo(X(pts.t4), Y(pts.h4));
    as.lineTo(X(pts.t4), Y(0));
    ad.lineTo(X(v[analysis::PF_T]), Y(0));
    p.fillPath(as, QColor(220, 232, 255));
    p.fillPath(ad, QColor(255, 236, 214));
    p.setPen(QColor(60, 90, 160));
    p.drawText(QPointF(X(pts.t1 + 60), Y(0.12 * pts.h1)), QStringLiteral("As"));
    p.setPen(QColor(170, 100, 30));
    p.drawText(QPointF(X(pts.t4 + 140), Y(0.06 * pts.h1)), QStringLiteral("Ad"));

    p.setPen(QPen(Qt::gray, 1, Qt::DashLine));
    p.drawLine(QPointF(X(msFrom), Y(0)), QPointF(X(msTo), Y(0)));
    p.setPen(Qt::gray);
    p.drawText(QPointF(X(pts.t4 + 60), Y(0) + 18), QStringLiteral("baseline: the feet joined"));
    p.setPen(QPen(QColor(0, 64, 192), 2.5));
    p.drawPath(wave);

    const QColor mark(200, 0, 0);
    const auto height = [&](double ms, double from, double to, const QString& strLabel, double below = 0) {
        p.setPen(QPen(mark, 1.5));
        p.drawLine(QPointF(X(ms), Y(from)), QPointF(X(ms), Y(to)));
        p.setBrush(mark);
        p.drawEllipse(QPointF(X(ms), Y(to)), 3.5, 3.5);
        p.setBrush(Qt::NoBrush);
        p.drawText(QPointF(X(ms) + 6, Y(to) - 6 + below), strLabel);
    };
    height(pts.t1, 0, pts.h1, QStringLiteral("h1 main wave"));
    height(pts.t3, 0, pts.h3, pts.bTidalPeak ? QStringLiteral("h3 tidal wave") : QStringLiteral("h3 tidal (shoulder)"));
    height(pts.t4, 0, pts.h4, QStringLiteral("h4 notch"), 26);
    height(pts.tD, pts.h4, pts.hD, QStringLiteral("h5"));
    p.setPen(QPen(mark, 1.5));
    p.drawLine(QPointF(X(pts.w0), Y(2.0 / 3 * pts.h1)), QPointF(X(pts.w1), Y(2.0 / 3 * pts.h1)));
    p.drawText(QPointF(X(pts.w1) + 6, Y(2.0 / 3 * pts.h1) + 4), QStringLiteral("w at 2/3 h1"));

    // Times under the plot, each from the foot (t5 from the notch).
    const auto span = [&](double a, double b, int row, const QString& strLabel) {
        const double y = area.bottom() + 24 + row * 24;
        p.setPen(QPen(Qt::black, 1));
        p.drawLine(QPointF(X(a), y), QPointF(X(b), y));
        p.drawLine(QPointF(X(a), y - 5), QPointF(X(a), y + 5));
        p.drawLine(QPointF(X(b), y - 5), QPointF(X(b), y + 5));
        p.drawText(QPointF(X(b) + 6, y + 5), strLabel);
    };
    span(0, pts.t1, 0, QStringLiteral("t1"));
    span(0, pts.t3, 1, QStringLiteral("t3"));
    span(0, pts.t4, 2, QStringLiteral("t4 (systole)"));
    span(pts.t4, v[analysis::PF_T], 3, QStringLiteral("t5 (diastole)"));
    span(0, v[analysis::PF_T], 4, QStringLiteral("t (period)"));
    p.setPen(Qt::black);
    p.drawText(QPointF(X(0) - 14, Y(0) + 18), QStringLiteral("foot"));
    p.drawText(QPointF(X(v[analysis::PF_T]) - 14, Y(0) + 18), QStringLiteral("foot"));
    p.drawText(QRectF(0, 6, W, 24), Qt::AlignCenter,
               QStringLiteral("One beat of the simulated radial pulse (%1 a minute), measured by the analysis").arg(FIGURE_BPM));
    p.end();
    if (!image.save(strOut, "PNG")) {
        std::fprintf(stderr, "pulse-figure: cannot write %s\n", qPrintable(strOut));
        return 1;
    }
    return 0;
}

int Window(const QString& strOut, double seconds, double sweepS, double rate)
{
    // The simulated sensor's frames, arriving in 5 ms bursts, through a link monitor.
    FakePlatform platform;
    ScopedPlatform scoped(platform);
    analysis::CLinkMonitor monitor;
    monitor.PortOpened(0);
    CSensorModel model(rate, FIGURE_BPM, 1);
    SimPulseOptions pulse;
    pulse.sweepS = sweepS;
    model.ApplyPulseOptions(pulse);
    uint64_t frames = 0;
    for (uint64_t us = 5000; us <= static_cast<uint64_t>(seconds * 1e6); us += 5000) {
        for (; frames < static_cast<uint64_t>(static_cast<double>(us) / 1e6 * rate); ++frames) {
            uint8_t frame[proto::DATA_FRAME_LEN];
            model.NextDataFrame(frame);
            monitor.DataFrame(us, frame + proto::HEADER_LEN, true);
        }
        platform.m_dwTick = static_cast<uint32_t>(us / 1000);
    }
    CPulseWindow window(monitor.Analysis(), nullptr);
    window.Refresh();
    window.adjustSize();
    if (!window.SaveImage(strOut)) {
        std::fprintf(stderr, "pulse-figure: cannot write %s\n", qPrintable(strOut));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Draws the pulse analysis's pictures from the project's own parts.");
    parser.addHelpOption();
    const QCommandLineOption optOut({"o", "output"}, "PNG file to write.", "file", "pulse.png");
    const QCommandLineOption optDiagram("diagram", "One beat with the pulse diagram's figures labelled.");
    const QCommandLineOption optWindow("window", "The pulse diagram window on the simulated sensor.");
    const QCommandLineOption optSeconds("seconds", "Seconds of the simulated sensor (--window).", "s", "66");
    const QCommandLineOption optSweep("sweep", "Its sweep from light to heavy, seconds (--window).", "s", "20");
    const QCommandLineOption optRate("rate", "Its data frames a second (--window).", "n", "500");
    parser.addOptions({optOut, optDiagram, optWindow, optSeconds, optSweep, optRate});
    parser.process(app);
    if (parser.isSet(optDiagram) == parser.isSet(optWindow)) {
        std::fprintf(stderr, "pulse-figure: give --diagram or --window\n");
        return 2;
    }
    if (parser.isSet(optDiagram))
        return Diagram(parser.value(optOut));
    return Window(parser.value(optOut), parser.value(optSeconds).toDouble(), parser.value(optSweep).toDouble(),
                  parser.value(optRate).toDouble());
}
