// bench-analysis: what the link and signal analysis costs per data frame, fed the simulated
// sensor's frames at the line's full rate (1219 a second) as the console feeds it, and the share
// of one core that takes at that rate; the goal is under 1 %.
#include <algorithm>
#include <array>
#include <vector>

#include "bench_budget.h"
#include "link_monitor.h"
#include "sensor_model.h"

namespace {

constexpr double RATE = LINE_FRAMES_PER_S;
constexpr int SECONDS = 60;
constexpr double ANALYSIS_BUDGET_PERCENT = 1.0;
// The light and the window read the figures about six times a second.
constexpr double FIGURE_READS_PER_S = 6;

// A minute of the simulated sensor's frames, made once.
const std::vector<std::array<uint8_t, proto::BLOCK_LEN>>& Blocks()
{
    static const auto blocks = [] {
        std::vector<std::array<uint8_t, proto::BLOCK_LEN>> v(static_cast<size_t>(RATE * SECONDS));
        CSensorModel model(RATE, 72, 1);
        for (auto& b : v) {
            uint8_t frame[proto::DATA_FRAME_LEN];
            model.NextDataFrame(frame);
            std::copy(frame + proto::HEADER_LEN, frame + proto::DATA_FRAME_LEN, b.begin());
        }
        return v;
    }();
    return blocks;
}

// The whole monitor: link figures, R waves, three pulse channels' feet, as the console runs
// it; frames arrive in bursts of six (5 ms).
void BM_MonitorPerFrame(benchmark::State& state)
{
    const auto& blocks = Blocks();
    analysis::CLinkMonitor monitor;
    monitor.PortOpened(0);
    size_t i = 0;
    uint64_t t = 0;
    for (auto _ : state) {
        if (i % 6 == 0)
            t += 5000;
        monitor.DataFrame(t, blocks[i].data(), true);
        if (++i == blocks.size()) {
            state.PauseTiming();
            i = 0;
            t = 0;
            monitor.PortOpened(0);
            state.ResumeTiming();
        }
    }
    SetLineShare(state, 1, RATE, ANALYSIS_BUDGET_PERCENT);
}
BENCHMARK(BM_MonitorPerFrame);

// Reading the figures, as the light and the window do, after a minute of frames.
void BM_Figures(benchmark::State& state)
{
    const auto& blocks = Blocks();
    analysis::CLinkMonitor monitor;
    monitor.PortOpened(0);
    uint64_t t = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (i % 6 == 0)
            t += 5000;
        monitor.DataFrame(t, blocks[i].data(), true);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(monitor.Signal(t));
        benchmark::DoNotOptimize(monitor.Link(t));
    }
    SetLineShare(state, 1, FIGURE_READS_PER_S, ANALYSIS_BUDGET_PERCENT / 10);
}
BENCHMARK(BM_Figures);

} // namespace

int main(int argc, char** argv)
{
    return RunWithBudgets(argc, argv);
}
