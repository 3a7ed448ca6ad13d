// bench-wavechart: the waveform control at the console's size (890 x 507), offscreen: appending
// one frame's samples, a full paint with a full store (with and without the column envelope),
// and the paced repaint path (one display period's samples, then the paint of what they
// collected) against a paint per frame, in both display modes.
#include <QApplication>
#include <QImage>
#include <QPainter>

#include <memory>

#include "bench_budget.h"
#include "platform.h"
#include "pulse_synth.h"
#include "resource_ids.h"
#include "wave_chart.h"

namespace {

constexpr int kWidth = 890;
constexpr int kHeight = 507;
// Whole microseconds between frames, and whole frames in a display period, at the line rate.
constexpr uint32_t FRAME_US = static_cast<uint32_t>(1e6 / LINE_FRAMES_PER_S);
constexpr int FRAMES_PER_PERIOD = static_cast<int>(LINE_FRAMES_PER_S / DISPLAY_PAINTS_PER_S);
static_assert(FRAME_US == 820 && FRAMES_PER_PERIOD == 20,
              "the line or display rate changed: check the frame time, the period and the budgets below");

// Budgets, as shares of one core at the line rate.
constexpr double ADD_BUDGET_PERCENT = 0.1;
constexpr double FULL_PAINT_BUDGET_PERCENT = 2.0;
constexpr double PACED_PAGE_FLIP_BUDGET_PERCENT = 1.0;
constexpr double PACED_SCROLLING_BUDGET_PERCENT = 2.5;

// The pacing reads the clock through the platform seam; here it advances by one frame's time
// per sample, as at the line rate, however fast the benchmark runs.
class FrameClock : public FakePlatform {
public:
    void NextFrame() { m_qwMicroExtra += FRAME_US; }
};

struct Setup {
    FrameClock clock;
    ScopedPlatform scoped{clock};
    CWaveChart chart;
    int n = 0;

    Setup(bool bScroll, int nZoomX, bool bPaced)
    {
        chart.Create(nullptr, QRect(0, 0, kWidth, kHeight), IDC_WAVECHART);
        chart.m_nZoomX = nZoomX;
        chart.UpdateCapacity();
        if (bPaced)
            chart.SetPaintPeriod(WAVE_PAINT_PERIOD_US);
        if (bScroll)
            chart.OnScrolling();
        QCoreApplication::processEvents();
    }
    void Add()
    {
        int v[5];
        SynthPulseSample(n++, v);
        chart.AddSamples(v[0], v[1], v[2], v[3], v[4]);
        clock.NextFrame();
    }
};

void BM_AddSamples(benchmark::State& state, bool bScroll)
{
    Setup s(bScroll, 60, true);
    for (auto _ : state)
        s.Add();
    SetLineShare(state, 1, LINE_FRAMES_PER_S, ADD_BUDGET_PERCENT);
}

void BM_FullPaint(benchmark::State& state, int nZoomX, bool bEnvelope)
{
    Setup s(true, nZoomX, false);
    s.chart.m_bEnvelope = bEnvelope;
    // Past the first wrap, so the ring is drawn in two parts.
    while (s.n < s.chart.m_nCapacity + s.chart.m_nCapacity / 3)
        s.Add();
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter dc(&image);
        s.chart.Paint(dc, image.rect());
    }
    state.counters["samples"] = s.chart.m_nCapacity;
    SetLineShare(state, 1, DISPLAY_PAINTS_PER_S, FULL_PAINT_BUDGET_PERCENT);
}

void BM_PacedPeriod(benchmark::State& state, bool bScroll)
{
    Setup s(bScroll, 60, true);
    for (auto _ : state) {
        for (int i = 0; i < FRAMES_PER_PERIOD; ++i)
            s.Add();
        s.chart.FlushPaintRequests();
        QCoreApplication::processEvents();  // the paint, through the window system's path
    }
    SetLineShare(state, FRAMES_PER_PERIOD, LINE_FRAMES_PER_S,
                 bScroll ? PACED_SCROLLING_BUDGET_PERCENT : PACED_PAGE_FLIP_BUDGET_PERCENT);
}

// The same work without pacing, as the console did before: a paint for every serial event.
void BM_PaintPerFrame(benchmark::State& state, bool bScroll)
{
    Setup s(bScroll, 60, false);
    for (auto _ : state) {
        s.Add();
        QCoreApplication::processEvents();
    }
    SetLineShare(state, 1, LINE_FRAMES_PER_S,
                 bScroll ? PACED_SCROLLING_BUDGET_PERCENT : PACED_PAGE_FLIP_BUDGET_PERCENT);
}

BENCHMARK_CAPTURE(BM_AddSamples, page_flip, false);
BENCHMARK_CAPTURE(BM_AddSamples, scrolling, true);
BENCHMARK_CAPTURE(BM_FullPaint, 1483_samples, 60, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_FullPaint, 5933_samples, 15, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_FullPaint, 6800_samples, 10, true)->Unit(benchmark::kMicrosecond);
// The same without the column envelope: every sample a point of the polyline.
BENCHMARK_CAPTURE(BM_FullPaint, 5933_samples_every_point, 15, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_FullPaint, 6800_samples_every_point, 10, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PacedPeriod, page_flip, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PacedPeriod, scrolling, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PaintPerFrame, page_flip, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PaintPerFrame, scrolling, true)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RunWithBudgets(argc, argv);
}
