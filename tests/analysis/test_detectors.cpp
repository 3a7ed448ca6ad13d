// The R-wave detector and the pulse-foot finder on synthetic signals with known beats: every
// beat found where it is and nothing else, at every sample rate, through baseline wander, mains
// hum and noise; a missing beat leaves its gap empty and an ectopic beat is found as a beat.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "pulse_foot.h"
#include "qrs_detector.h"
#include "synthetic.h"

namespace {

constexpr double SECONDS = 30;
constexpr double SETTLE_S = 0.4;  // beats this early may go unseen while the filters settle

struct Match {
    int missed = 0;
    int extra = 0;
    double worstMs = 0;
};

// Pairs found positions (samples) with true times (seconds) within tolMs.
Match Compare(const std::vector<double>& foundPos, double fs, const std::vector<double>& truth, double tolMs)
{
    Match m;
    std::vector<bool> used(truth.size(), false);
    for (double pos : foundPos) {
        const double t = pos / fs;
        size_t best = truth.size();
        for (size_t i = 0; i < truth.size(); ++i)
            if (!used[i] && std::fabs(truth[i] - t) * 1000 <= tolMs
                && (best == truth.size() || std::fabs(truth[i] - t) < std::fabs(truth[best] - t)))
                best = i;
        if (best == truth.size()) {
            ++m.extra;
            continue;
        }
        used[best] = true;
        m.worstMs = std::max(m.worstMs, std::fabs(truth[best] - t) * 1000);
    }
    for (size_t i = 0; i < truth.size(); ++i)
        if (!used[i] && truth[i] > SETTLE_S && truth[i] < SECONDS - 1)
            ++m.missed;
    return m;
}

std::vector<double> DetectR(double fs, const std::vector<double>& x, std::vector<bool>* valid = nullptr)
{
    analysis::CQrsDetector det(fs);
    for (double v : x)
        det.Add(1000 * v);
    std::vector<double> pos;
    for (const auto& b : det.Found()) {
        pos.push_back(b.dPos);
        if (valid)
            valid->push_back(b.bValid);
    }
    return pos;
}

std::vector<double> DetectFeet(double fs, const std::vector<double>& x)
{
    analysis::CPulseFootFinder finder(fs);
    for (double v : x)
        finder.Add(500 * v);
    std::vector<double> pos;
    for (const auto& f : finder.Found())
        pos.push_back(f.dPos);
    return pos;
}

struct Condition {
    const char* name;
    synth::Extras extras;
};

} // namespace

TEST(QrsDetector, FindsEveryRWaveThroughWanderHumAndNoise)
{
    const Condition conditions[] = {
        {"clean", {}},
        {"wander", {1.0, 0, 0}},
        {"hum", {0, 0.2, 0}},
        {"noise", {0, 0, 0.05}},
        {"all", {0.5, 0.1, 0.03}},
    };
    for (double fs : {100.0, 250.0, 500.0, 1219.0}) {
        for (const Condition& c : conditions) {
            for (double bpm : {40.0, 72.0, 180.0}) {
                SCOPED_TRACE(std::string(c.name) + " fs " + std::to_string(fs) + " bpm " + std::to_string(bpm));
                const auto truth = synth::BeatTimes(bpm, SECONDS);
                std::vector<bool> valid;
                const auto found = DetectR(fs, synth::Render(fs, SECONDS, truth, synth::NormalBeat, c.extras), &valid);
                const Match m = Compare(found, fs, truth, std::max(4.0, 1000 / fs));
                EXPECT_EQ(m.missed, 0);
                EXPECT_EQ(m.extra, 0);
                EXPECT_LE(m.worstMs, std::max(4.0, 1000 / fs));
                EXPECT_EQ(std::count(valid.begin(), valid.end(), false), 0);
            }
        }
    }
}

TEST(QrsDetector, MissingBeatLeavesAGapAndAnEctopicBeatIsFound)
{
    const double fs = 500;
    auto normal = synth::BeatTimes(72, SECONDS);
    const double gapAt = normal[10];
    normal.erase(normal.begin() + 10);  // a dropped beat: nothing at all there
    // A premature ventricular beat 60 % into an interval, the next normal beat a little late.
    const double ectopic = normal[20] + 0.6 * (normal[21] - normal[20]);
    for (size_t i = 21; i < normal.size(); ++i)
        normal[i] += 0.15;
    const auto x = synth::Render(fs, SECONDS, normal, synth::NormalBeat, {0.3, 0.05, 0.02}, {ectopic});
    const auto found = DetectR(fs, x);

    const Match m = Compare(found, fs, normal, 4);
    EXPECT_EQ(m.missed, 0);
    EXPECT_EQ(m.extra, 1);  // the ectopic beat, checked next
    bool ectopicFound = false;
    for (double pos : found) {
        EXPECT_GT(std::fabs(pos / fs - gapAt), 0.2) << "a beat found in the gap";
        ectopicFound |= std::fabs(pos / fs - ectopic) < 0.02;
    }
    EXPECT_TRUE(ectopicFound);
}

TEST(PulseFootFinder, FindsEveryFootWhereTheTangentMeetsTheLevel)
{
    const Condition conditions[] = {
        {"clean", {}},
        {"noise", {0, 0, 0.01}},
        {"wander", {0.3, 0, 0}},
    };
    for (double fs : {100.0, 250.0, 500.0, 1219.0}) {
        for (const Condition& c : conditions) {
            for (double bpm : {40.0, 100.0, 180.0}) {
                SCOPED_TRACE(std::string(c.name) + " fs " + std::to_string(fs) + " bpm " + std::to_string(bpm));
                const auto truth = synth::BeatTimes(bpm, SECONDS);
                const auto found = DetectFeet(fs, synth::Render(fs, SECONDS, truth, synth::PulseBeat, c.extras));
                const double tol = std::max(3.0, 500 / fs);
                const Match m = Compare(found, fs, truth, tol);
                EXPECT_EQ(m.missed, 0);
                EXPECT_EQ(m.extra, 0);
                EXPECT_LE(m.worstMs, tol);
            }
        }
    }
}
