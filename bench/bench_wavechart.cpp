// Paint time of the waveform control at the console's waveform size (890 x 507), into an
// offscreen image: full repaints with a full store in both modes, and the 8-pixel strip that
// page-flip mode repaints per sample.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "pulse_synth.h"
#include "resource_ids.h"
#include "wave_chart.h"

namespace {

constexpr int kWidth = 890;
constexpr int kHeight = 507;

struct Result {
    double dMedianMs;
    double dMinMs;
};

// Times nRuns paints of rcUpdate, each onto the same image, and reports median and minimum.
Result TimePaint(CWaveChart& chart, QImage& image, const QRect& rcUpdate, int nRuns)
{
    std::vector<double> times;
    times.reserve(nRuns);
    for (int i = 0; i < nRuns + 5; ++i) {
        QElapsedTimer t;
        t.start();
        QPainter dc(&image);
        dc.setClipRect(rcUpdate);
        chart.Paint(dc, rcUpdate);
        dc.end();
        const double ms = double(t.nsecsElapsed()) / 1e6;
        if (i >= 5) // warm-up runs discarded
            times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    return { times[times.size() / 2], times.front() };
}

void Fill(CWaveChart& chart, int nSamples)
{
    for (int n = 0; n < nSamples; ++n) {
        int v[5];
        SynthPulseSample(n, v);
        chart.AddSamples(v[0], v[1], v[2], v[3], v[4]);
    }
}

void Run(int nZoomX, bool bScroll, int nRuns)
{
    CWaveChart chart;
    chart.Create(nullptr, QRect(0, 0, kWidth, kHeight), IDC_WAVECHART);
    chart.m_nZoomX = nZoomX;
    chart.UpdateCapacity();
    if (bScroll)
        chart.OnScrolling();
    // Scrolling mode: past the first wrap, so the ring is drawn in two parts.
    Fill(chart, bScroll ? chart.m_nCapacity + chart.m_nCapacity / 3 : chart.m_nCapacity);

    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    const Result full = TimePaint(chart, image, image.rect(), nRuns);
    std::printf("%-10s X %3d%%  %5d samples  full repaint  median %7.3f ms  min %7.3f ms  "
                "-> %6.0f repaints/s\n",
                bScroll ? "scrolling" : "page-flip", nZoomX, chart.m_nCapacity, full.dMedianMs,
                full.dMinMs, 1000.0 / full.dMedianMs);
    if (!bScroll) {
        // The strip one appended sample asks for, in the middle of the page.
        const int p = nZoomX * (chart.m_nCapacity / 2) / 100;
        const Result strip = TimePaint(chart, image, QRect(p - 4, 0, 8, kHeight), nRuns);
        std::printf("%-10s X %3d%%  %5d samples  8-px strip    median %7.3f ms  min %7.3f ms  "
                    "-> %6.0f repaints/s\n",
                    "page-flip", nZoomX, chart.m_nCapacity, strip.dMedianMs, strip.dMinMs,
                    1000.0 / strip.dMedianMs);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int nRuns = 300;
    std::printf("waveform control %dx%d, %d paints per case (single thread)\n", kWidth, kHeight,
                nRuns);
    for (int zx : { 60, 10 }) {
        Run(zx, false, nRuns);
        Run(zx, true, nRuns);
    }
    return 0;
}
