// bench-review: the review history and window at the line rate: appending a frame, one lane's
// column envelopes over ten seconds and over the whole ten minutes, and the window's traces
// painted as they are while following (ten seconds shown) and with all ten minutes shown.
#include <QApplication>
#include <QImage>
#include <QPainter>

#include "bench_budget.h"
#include "review_chart.h"
#include "history_store.h"
#include "pulse_synth.h"

namespace {

constexpr int kWidth = 1080;   // the review window's traces at its opening size
constexpr int kHeight = 560;
constexpr int kColumns = kWidth - CReviewChart::LEFT_MARGIN - CReviewChart::RIGHT_MARGIN;
constexpr double FOLLOW_PAINTS_PER_S = 1000.0 / 100;  // CReviewWindow::REFRESH_MS

// Budgets, as shares of one core.
constexpr double APPEND_BUDGET_PERCENT = 0.1;
constexpr double ENVELOPE_BUDGET_PERCENT = 0.2;   // one lane, at the following window's paints
constexpr double PAINT_BUDGET_PERCENT = 2.0;      // the whole window while following

void Fill(review::CHistoryStore& store, uint64_t n)
{
    int v[5];
    for (uint64_t i = 0; i < n; ++i) {
        SynthPulseSample(static_cast<int>(i % 100000), v);
        const uint16_t w[8] = {1200, 1800, 975, uint16_t(v[0]), uint16_t(v[1]), uint16_t(v[2]), uint16_t(v[3]), uint16_t(v[4])};
        store.Append(w);
    }
}

void BM_Append(benchmark::State& state)
{
    review::CHistoryStore store;
    const uint16_t w[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (auto _ : state)
        store.Append(w);
    SetLineShare(state, 1, LINE_FRAMES_PER_S, APPEND_BUDGET_PERCENT);
}

void BM_Envelope(benchmark::State& state, double dSeconds)
{
    review::CHistoryStore store;
    Fill(store, store.Capacity() + 1000);
    std::vector<review::ColumnEnvelope> env;
    const double span = dSeconds * LINE_FRAMES_PER_S;
    const double end = static_cast<double>(store.End());
    for (auto _ : state)
        store.Envelope(3, end - span, end, kColumns, env);
    state.counters["samples"] = span;
    SetLineShare(state, 1, FOLLOW_PAINTS_PER_S, ENVELOPE_BUDGET_PERCENT);
}

void BM_Paint(benchmark::State& state, double dSeconds)
{
    review::CHistoryStore store;
    store.SetSampleRate(LINE_FRAMES_PER_S);
    Fill(store, store.Capacity() + 1000);
    CReviewChart chart;
    chart.resize(kWidth, kHeight);
    chart.SetStore(&store);
    chart.SetView(static_cast<double>(store.End()) - dSeconds * LINE_FRAMES_PER_S, dSeconds * LINE_FRAMES_PER_S);
    chart.SetCursor(0, store.End() - 1000);
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state)
        chart.render(&image);
    SetLineShare(state, 1, FOLLOW_PAINTS_PER_S, PAINT_BUDGET_PERCENT);
}

BENCHMARK(BM_Append);
BENCHMARK_CAPTURE(BM_Envelope, 10_s, 10.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Envelope, 10_min, 600.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Paint, 10_s, 10.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Paint, 10_min, 600.0)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RunWithBudgets(argc, argv);
}
