// bench-pulse: what the pulse diagram costs at the line's full rate (1219 frames a second) for
// all three pulse channels, on the simulated sensor sweeping its hold-down: cutting the samples
// into beats and measuring each (the goal: under 2 % of one core), and the readings the window
// and the report take (the window once a second).
#include <algorithm>
#include <array>
#include <vector>

#include "bench_budget.h"
#include "link_monitor.h"
#include "pulse_diagram.h"
#include "pulse_foot.h"
#include "sensor_model.h"

namespace {

constexpr double RATE = LINE_FRAMES_PER_S;
constexpr int SECONDS = 60;
constexpr double DIAGRAM_BUDGET_PERCENT = 2.0;
constexpr double READINGS_PER_S = 1;   // the window's refresh
constexpr double READING_BUDGET_PERCENT = 0.1;

struct Stream {
    std::vector<std::array<uint8_t, proto::BLOCK_LEN>> blocks;
    std::vector<std::array<double, 3>> pulse, pressure;
    // Per channel, the feet the foot finder reports, with the sample after which it does.
    std::vector<std::pair<size_t, analysis::CPulseFootFinder::Foot>> feet[3];
};

// A minute of the simulated sensor sweeping its hold-down over 20 s, made once, with the feet
// found on it.
const Stream& Simulated()
{
    static const Stream s = [] {
        Stream st;
        CSensorModel model(RATE, 72, 1);
        SimPulseOptions pulse;
        pulse.sweepS = 20;
        model.ApplyPulseOptions(pulse);
        analysis::CPulseFootFinder finders[3] = {analysis::CPulseFootFinder(RATE), analysis::CPulseFootFinder(RATE),
                                                 analysis::CPulseFootFinder(RATE)};
        for (size_t i = 0; i < static_cast<size_t>(RATE * SECONDS); ++i) {
            uint8_t frame[proto::DATA_FRAME_LEN];
            model.NextDataFrame(frame);
            std::array<uint8_t, proto::BLOCK_LEN> block;
            std::copy(frame + proto::HEADER_LEN, frame + proto::DATA_FRAME_LEN, block.begin());
            st.blocks.push_back(block);
            std::array<double, 3> p, q;
            for (int c = 0; c < 3; ++c) {
                p[c] = proto::BlockWordAt(block.data(), 2 * c + 1);
                q[c] = proto::BlockWordAt(block.data(), 2 * c);
                finders[c].Add(p[c]);
                for (const auto& f : finders[c].Found())
                    st.feet[c].emplace_back(i, f);
                finders[c].Found().clear();
            }
            st.pulse.push_back(p);
            st.pressure.push_back(q);
        }
        return st;
    }();
    return s;
}

// The three channels' beat meters, fed every sample and every foot as the analysis feeds them.
void BM_PulseDiagramPerFrame(benchmark::State& state)
{
    const Stream& s = Simulated();
    std::vector<analysis::CBeatMeter> meters(3, analysis::CBeatMeter(RATE));
    size_t i = 0, next[3] = {0, 0, 0};
    size_t beats = 0;
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c) {
            meters[static_cast<size_t>(c)].Add(s.pulse[i][static_cast<size_t>(c)], s.pressure[i][static_cast<size_t>(c)], false);
            for (; next[c] < s.feet[c].size() && s.feet[c][next[c]].first == i; ++next[c])
                meters[static_cast<size_t>(c)].Foot(s.feet[c][next[c]].second.dPos, s.feet[c][next[c]].second.bValid);
            beats += meters[static_cast<size_t>(c)].Found().size();
            meters[static_cast<size_t>(c)].Found().clear();
        }
        if (++i == s.pulse.size()) {
            state.PauseTiming();
            i = 0;
            std::fill(std::begin(next), std::end(next), 0);
            meters.assign(3, analysis::CBeatMeter(RATE));
            state.ResumeTiming();
        }
    }
    benchmark::DoNotOptimize(beats);
    SetLineShare(state, 1, RATE, DIAGRAM_BUDGET_PERCENT);
}
BENCHMARK(BM_PulseDiagramPerFrame);

// One refresh of the window: each channel's diagram of the last 10 s, its pressure-amplitude
// points and curve, after a minute of frames.
void BM_PulseReadings(benchmark::State& state)
{
    const Stream& s = Simulated();
    analysis::CLinkMonitor monitor;
    monitor.PortOpened(0);
    uint64_t t = 0;
    for (size_t i = 0; i < s.blocks.size(); ++i) {
        if (i % 6 == 0)
            t += 5000;
        monitor.DataFrame(t, s.blocks[i].data(), true);
    }
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c) {
            benchmark::DoNotOptimize(monitor.Analysis().PulseDiagramOf(c, t));
            benchmark::DoNotOptimize(monitor.Analysis().PressurePointsOf(c));
            benchmark::DoNotOptimize(monitor.Analysis().PressureCurveOf(c));
        }
    }
    SetLineShare(state, 1, READINGS_PER_S, READING_BUDGET_PERCENT);
}
BENCHMARK(BM_PulseReadings);

} // namespace

int main(int argc, char** argv)
{
    return RunWithBudgets(argc, argv);
}
