// The accuracy goals on the simulated sensor's own stream (its model, faults and decoder run
// in-process, frames arriving in bursts as over the line): at 250, 500 and 1219 frames a second
// and 40 to 180 beats a minute, the heart and pulse rates are within 1 a minute of the
// simulator's own beats and the transit times within 10 ms of --ptt; with one frame in twenty
// corrupted and garbage ahead of one in twenty, within 2 a minute and 15 ms.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "sim_stream.h"

namespace {

constexpr double WARM_UP_S = 12;   // the window fills and the detectors settle
constexpr int CHECKS = 12;         // figures read this often, ...
constexpr double CHECK_EVERY_S = 1.3;  // ... this far apart

void ExpectWithin(SimStreamOptions o, double tolBpm, double tolMs)
{
    CSimStream s(o);
    s.RunFor(WARM_UP_S);
    for (int k = 0; k < CHECKS; ++k) {
        s.RunFor(CHECK_EVERY_S);
        const analysis::SignalFigures f = s.Monitor().Signal(s.NowUs());
        ASSERT_TRUE(f.heartRate) << "check " << k;
        EXPECT_NEAR(*f.heartRate, s.TrueRate(-1), tolBpm) << "check " << k;
        for (int c = 0; c < 3; ++c) {
            ASSERT_TRUE(f.pulseRate[c]) << "channel " << c + 1 << " check " << k;
            ASSERT_TRUE(f.pttMs[c]) << "channel " << c + 1 << " check " << k;
            EXPECT_NEAR(*f.pulseRate[c], s.TrueRate(c), tolBpm) << "channel " << c + 1 << " check " << k;
            EXPECT_NEAR(*f.pttMs[c], o.pttMs[c], tolMs) << "channel " << c + 1 << " check " << k;
        }
    }
}

} // namespace

TEST(SimGoals, CleanStream)
{
    for (double rate : {250.0, 500.0, 1219.0})
        for (double bpm : {40.0, 72.0, 120.0, 180.0}) {
            SCOPED_TRACE("rate " + std::to_string(rate) + " bpm " + std::to_string(bpm));
            SimStreamOptions o;
            o.rate = rate;
            o.bpm = bpm;
            ExpectWithin(o, 1, 10);
        }
}

TEST(SimGoals, CorruptFramesAndGarbage)
{
    for (double rate : {250.0, 500.0, 1219.0})
        for (double bpm : {40.0, 72.0, 120.0, 180.0}) {
            SCOPED_TRACE("rate " + std::to_string(rate) + " bpm " + std::to_string(bpm));
            SimStreamOptions o;
            o.rate = rate;
            o.bpm = bpm;
            o.corrupt = 0.05;
            o.garbage = 0.05;
            o.seed = 3;
            ExpectWithin(o, 2, 15);
        }
}

TEST(SimGoals, TransitTimesPerChannelAndMoreVariation)
{
    SimStreamOptions o;
    o.rate = 500;
    o.bpm = 90;
    o.pttMs[0] = 80;
    o.pttMs[1] = 180;
    o.pttMs[2] = 260;
    o.hrvMs = 40;
    ExpectWithin(o, 1, 10);
}
