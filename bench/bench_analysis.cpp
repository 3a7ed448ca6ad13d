// bench-analysis: what the link and signal analysis costs per data frame, fed the simulated
// sensor's frames at 1219 a second as the console feeds it, and the share of one core that
// takes at that rate (counter core_pct; the goal is under 1 %).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <vector>

#include "link_monitor.h"
#include "sensor_model.h"

namespace {

constexpr double RATE = 1219;
constexpr int SECONDS = 60;

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

void SetCorePercent(benchmark::State& state)
{
    // Processor time per frame times the frames a second the sensor sends, in percent of one
    // core (an inverted rate, which Google Benchmark prints with a seconds suffix).
    state.counters["core_pct"] = benchmark::Counter(1.0 / (100.0 * RATE), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
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
    SetCorePercent(state);
}
BENCHMARK(BM_MonitorPerFrame);

// Reading the figures, as the window and the light do (a few times a second).
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
}
BENCHMARK(BM_Figures);

} // namespace

BENCHMARK_MAIN();
