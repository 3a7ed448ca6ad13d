// The simulated pulse's truth against its own model and stream: feet where --ptt puts them,
// periods the R waves' intervals, heights and static pressures the frames' own, the shape's
// knobs giving the ratios asked, the sweep's best pressure as reported after zero and calibrate,
// the amplitude following the hold-down pressure, and --truth written on the terminal's side.
#include <gtest/gtest.h>

#ifdef VELTRIN_HAVE_PTY_SIM
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "sensor_model.h"
#include "sensor_sim.h"

namespace {

using Words = std::array<uint16_t, proto::BLOCK_WORDS>;

struct SimRun {
    std::vector<Words> words;
    std::vector<double> rWaves;
    std::vector<PulseTruth> truth;
};

SimRun Simulate(CSensorModel& model, double rate, double seconds)
{
    SimRun r;
    model.m_gen.m_bTruth = true;
    model.m_gen.m_pRWaves = &r.rWaves;
    for (int i = 0; i < static_cast<int>(seconds * rate); ++i) {
        uint8_t frame[proto::DATA_FRAME_LEN];
        model.NextDataFrame(frame);
        Words w;
        for (int k = 0; k < proto::BLOCK_WORDS; ++k)
            w[static_cast<size_t>(k)] = proto::BlockWordAt(frame + proto::HEADER_LEN, k);
        r.words.push_back(w);
        for (const PulseTruth& t : model.m_gen.TakeTruth())
            r.truth.push_back(t);
    }
    return r;
}

double Median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

} // namespace

TEST(SimPulse, TruthFollowsTheModelAndTheStream)
{
    const double rate = 500;
    CSensorModel model(rate, 75, 7);
    const double ptt[3] = {80, 150, 260};
    model.ApplySignalOptions(ptt, -1);
    SimPulseOptions pulse;
    pulse.sweepS = 10;
    model.ApplyPulseOptions(pulse);
    const SimRun r = Simulate(model, rate, 24);
    ASSERT_GT(r.truth.size(), 70u);
    std::vector<std::pair<double, double>> byPressure[3];  // pressure, h1
    for (const PulseTruth& t : r.truth) {
        SCOPED_TRACE("beat " + std::to_string(t.beat) + " channel " + std::to_string(t.channel + 1));
        const int c = t.channel;
        const TrueBeat& f = t.fig;
        EXPECT_NEAR(f.foot - r.rWaves[t.beat], ptt[c] / 1000, 0.001);
        EXPECT_NEAR(f.t / 1000, r.rWaves[t.beat + 1] - r.rWaves[t.beat], 0.001);
        EXPECT_TRUE(0 < f.t1 && f.t1 < f.t3 && f.t3 < f.t4 && f.t4 < f.t) << f.t1 << ' ' << f.t3 << ' ' << f.t4;
        EXPECT_NEAR(f.t5, f.t - f.t4, 1e-9);
        // The frames of the beat: their pulse word's rise at the main peak over the line joining
        // the levels before its two feet (five-frame averages, which keep the noise to under a
        // count), and their static pressure word on average (the truth takes the hold-down's
        // wandering part as it was when the wave started; it moves some counts in a beat).
        const auto pulseAt = [&](size_t i) {
            double s = 0;
            for (size_t k = i - 2; k <= i + 2; ++k)
                s += r.words[k][static_cast<size_t>(2 * c + 1)];
            return s / 5;
        };
        const auto levelBefore = [&](double footS) {
            double low = 1e9;
            for (size_t i = static_cast<size_t>((footS - 0.08) * rate); i <= static_cast<size_t>(footS * rate); ++i)
                low = std::min(low, pulseAt(i));
            return low;
        };
        const size_t peak = static_cast<size_t>(std::lround((f.foot + f.t1 / 1000) * rate));
        const double level0 = levelBefore(f.foot), level1 = levelBefore(f.foot + f.t / 1000);
        EXPECT_NEAR(pulseAt(peak) - (level0 + (level1 - level0) * f.t1 / f.t), f.h1, 3);
        const size_t from = static_cast<size_t>(std::ceil(f.foot * rate));
        const size_t to = static_cast<size_t>(std::floor((f.foot + f.t / 1000) * rate));
        double sum = 0;
        for (size_t i = from; i < to; ++i)
            sum += r.words[i][static_cast<size_t>(2 * c)];
        EXPECT_NEAR(sum / static_cast<double>(to - from), t.pressure, 10);
        EXPECT_DOUBLE_EQ(t.bestPressure, CSignalGen::SWEEP_BEST[c]);
        EXPECT_NEAR(t.depth, (CSignalGen::SWEEP_BEST[c] - CSignalGen::SWEEP_LIGHT) / (CSignalGen::SWEEP_HEAVY - CSignalGen::SWEEP_LIGHT), 1e-9);
        byPressure[c].emplace_back(t.pressure, f.h1);
    }
    // The pulse is largest near the best pressure, and a fifth of that far from it.
    for (int c = 0; c < 3; ++c) {
        const auto largest = *std::max_element(byPressure[c].begin(), byPressure[c].end(),
                                               [](const auto& a, const auto& b) { return a.second < b.second; });
        EXPECT_NEAR(largest.first, CSignalGen::SWEEP_BEST[c], 250) << c;
        for (const auto& p : byPressure[c])
            if (std::fabs(p.first - CSignalGen::SWEEP_BEST[c]) > 4 * CSignalGen::PH_WIDTH) {
                EXPECT_LT(p.second, 0.25 * largest.second) << c;
            }
    }
}

TEST(SimPulse, KnobsGiveTheRatiosAsked)
{
    struct Case {
        double bpm;
        double ratios[3][3];  // per channel: h3/h1, h4/h1, h5/h1
    };
    const Case cases[] = {
        {60, {{0.7, 0.3, 0.15}, {0.6, 0.2, 0.25}, {0.8, 0.45, 0.25}}},
        {150, {{0.7, 0.2, 0.1}, {0.6, 0.25, 0.1}, {0.75, 0.35, 0.2}}},
    };
    for (const Case& k : cases) {
        CSensorModel model(500, k.bpm, 3);
        SimPulseOptions pulse;
        for (int c = 0; c < 3; ++c) {
            pulse.tidal[c] = k.ratios[c][0];
            pulse.notch[c] = k.ratios[c][1];
            pulse.dicrotic[c] = k.ratios[c][2];
        }
        model.ApplyPulseOptions(pulse);
        const SimRun r = Simulate(model, 500, 15);
        for (int c = 0; c < 3; ++c) {
            std::vector<double> got[3];
            for (const PulseTruth& t : r.truth)
                if (t.channel == c) {
                    got[0].push_back(t.fig.h3 / t.fig.h1);
                    got[1].push_back(t.fig.h4 / t.fig.h1);
                    got[2].push_back(t.fig.h5 / t.fig.h1);
                }
            for (int q = 0; q < 3; ++q)
                EXPECT_NEAR(Median(got[q]), k.ratios[c][q], 0.02) << k.bpm << "/min channel " << c + 1 << " ratio " << q;
        }
    }
}

TEST(SimPulse, BestPressureAsReportedAfterZeroAndCalibrate)
{
    CSensorModel model(250, 70, 2);
    SimPulseOptions pulse;
    pulse.sweepS = 20;
    pulse.bestPressure[0] = 1000;
    model.ApplyPulseOptions(pulse);
    std::vector<uint8_t> reply;
    ASSERT_TRUE(model.HandleCommand(SimCommand{proto::ADDR_CH1, proto::CODE_ZERO, 0}, reply));
    ASSERT_TRUE(model.HandleCommand(SimCommand{proto::ADDR_CH2, proto::CODE_CALIBRATE, 150}, reply));
    const double zero = model.m_gen.m_dZeroOffset[0];
    const SimRun r = Simulate(model, 250, 6);
    ASSERT_FALSE(r.truth.empty());
    for (const PulseTruth& t : r.truth) {
        if (t.channel == 0) {
            EXPECT_NEAR(t.bestPressure, 1000 - zero, 1e-9);
        } else if (t.channel == 1) {
            EXPECT_NEAR(t.bestPressure, CSignalGen::SWEEP_BEST[1] * 1.5, 1e-9);
        }
    }
    // The hold-down itself starts light and is heavy a sweep's time later.
    EXPECT_NEAR(r.words[0][2], CSignalGen::SWEEP_LIGHT * 1.5, 80);
}

#ifdef VELTRIN_HAVE_PTY_SIM
TEST(SimPulse, TruthFileFromTheSimulatedSensor)
{
    const std::string path = ::testing::TempDir() + "truth-" + std::to_string(::getpid()) + ".csv";
    SensorSimOptions opts;
    opts.rate = 1000;
    opts.bpm = 100;
    opts.truthPath = path;
    SensorSim sim(opts);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    const int fd = ::open(sim.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const uint8_t start[4] = {proto::SYNC, proto::ADDR_SENSOR, 1, proto::CODE_START};
    ASSERT_EQ(::write(fd, start, sizeof start), 4);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2200);
    uint8_t buf[4096];
    while (std::chrono::steady_clock::now() < until) {
        while (::read(fd, buf, sizeof buf) > 0) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    sim.Stop();
    ::close(fd);
    std::ifstream in(path);
    std::string header, line;
    ASSERT_TRUE(std::getline(in, header));
    EXPECT_EQ(header + '\n', TruthCsvHeader());
    int rows = 0;
    while (std::getline(in, line)) {
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), std::count(header.begin(), header.end(), ',')) << line;
        ++rows;
    }
    EXPECT_GE(rows, 6);  // two beats or more on each channel
    std::remove(path.c_str());
}
#endif
